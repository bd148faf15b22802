#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

struct FetchLimits;

// The program's options: help, version, --batch and --settings FILE.
class CommandLine {
public:
    CommandLine();

    // Reads the arguments (the program's own name first); false, with errorText(), for an
    // unknown option, a missing value, an argument that is no option, or --settings
    // without --batch.
    bool parse(const QStringList& arguments);
    QString errorText() const { return m_error; }

    bool batch() const;
    bool helpOrVersion() const;
    // The settings file of --batch: --settings, or Morvel.ini in the current directory.
    QString settingsPath() const;

    // Shows the help (with the toolkit's own options for --help-all) or the version and
    // ends the process with status 0. Needs the application object.
    [[noreturn]] void showHelpOrVersion();

private:
    QCommandLineParser m_parser;
    QCommandLineOption m_batch;
    QCommandLineOption m_settings;
    QStringList m_arguments;
    QString m_error;
};

// Says on standard error why the arguments were refused and where the options are
// described; returns the exit status for it.
int ArgumentsRefused(const CommandLine& line);

// What the program says when its windows are asked for and there is no display, with the
// status it then ends with.
QString NoDisplayText(const QString& program);
constexpr int kNoDisplay = 1;

// Whether the arguments ask for something that needs no window: --batch, help or
// version. Decided from argv before any application object exists, since the windows'
// one needs a display.
bool NeedsNoWindow(int argc, const char* const* argv);

// The window-less program: help, version or --batch, on a core application object; also
// the answer to arguments that are wrong, or that ask for the windows, when there is no
// display. Returns the exit status.
int RunWithoutWindow(int argc, char** argv);
// The same with other time limits for --batch's fetches, as tests shorten them.
int RunWithoutWindow(int argc, char** argv, const FetchLimits& limits);
