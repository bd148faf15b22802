#pragma once

#include "geo/OverwriteQuestion.h"

#include <QString>

// What a download run tells and asks the user. The window answers with message boxes, the
// window-less entry with fixed answers, and tests as they like. It also answers the
// calibration writers' question about replacing a file.
class RunQuestions : public OverwriteQuestion {
public:
    // A box with a caption of its own and only an OK button; returns when closed.
    virtual void notice(const QString& caption, const QString& text) = 0;
    // A simple message with an OK button (a calibration file that was not written).
    virtual void message(const QString& text) = 0;
    // An error that ends a step of the run (the BMP, a folder that takes no file).
    virtual void error(const QString& text) = 0;
    // Whether to go on with the tiles of an unfinished run of the same job; true for OK.
    virtual bool confirmResume(const QString& caption, const QString& text) = 0;
};
