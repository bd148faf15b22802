#pragma once

#include <QString>

// The question "file exists, overwrite?". The window asks it with a message box (the
// caption, the text, OK and Cancel with OK the default, no icon); tests answer it.
class OverwriteQuestion {
public:
    virtual ~OverwriteQuestion() = default;
    // True to go on and replace the file.
    virtual bool confirmOverwrite(const QString& caption, const QString& text) = 0;
};
