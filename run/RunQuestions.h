#pragma once

#include "geo/OverwriteQuestion.h"

#include <QString>

// What a download run tells and asks the user. The window answers with message boxes, the
// window-less entry with fixed answers, and tests as they like. It also answers the
// calibration writers' question about replacing a file.
class RunQuestions : public OverwriteQuestion {
public:
    // What to do about a destination folder that does not exist.
    enum class MissingFolder {
        Create,     // make it, and its parents
        UseCurrent, // write into the current directory instead
        Cancel,     // no run: nothing is asked for nor written
    };
    // `folder` as the job has it, and the current directory, with the platform's separators.
    virtual MissingFolder missingFolder(const QString& folder, const QString& current) = 0;
    // A simple message with an OK button (a calibration file that was not written).
    virtual void message(const QString& text) = 0;
    // An error that ends a step of the run (the BMP, a folder that takes no file).
    virtual void error(const QString& text) = 0;
    // Whether to go on with the tiles of an unfinished run of the same job; true for OK.
    virtual bool confirmResume(const QString& caption, const QString& text) = 0;
};
