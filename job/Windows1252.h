#pragma once

#include <QByteArray>
#include <QString>

// The single-byte code page of the GPS programs' files on Windows.

// The byte of a character in Windows-1252, or nothing when the page has no such character.
bool ToWindows1252Byte(char32_t c, char* byte);

// The text in Windows-1252; a character the page cannot hold becomes "?" (one per
// character, also outside the basic plane).
QByteArray ToWindows1252(const QString& text);
