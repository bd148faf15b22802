#pragma once

#include <QString>

// What a download run asks the user. The window answers with message boxes; tests
// answer on their own.
class RunQuestions {
public:
    virtual ~RunQuestions() = default;
    // A box with a caption of its own and only an OK button; returns when closed.
    virtual void notice(const QString& caption, const QString& text) = 0;
    // A box with a caption of its own, OK and Cancel; true for OK.
    virtual bool confirmOverwrite(const QString& caption, const QString& text) = 0;
};
