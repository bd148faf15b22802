#pragma once

#include "run/RunQuestions.h"

class Dialogs;

// Answers the questions of a run and of the calibration writers with the window's
// message boxes.
class RunAnswers : public RunQuestions {
public:
    explicit RunAnswers(Dialogs& dialogs) : m_dialogs(dialogs) {}
    MissingFolder missingFolder(const QString& folder, const QString& current) override;
    bool confirmOverwrite(const QString& caption, const QString& text) override;
    void message(const QString& text) override;
    void error(const QString& text) override;
    bool confirmResume(const QString& caption, const QString& text) override;

private:
    Dialogs& m_dialogs;
};
