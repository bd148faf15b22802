#pragma once

#include "tests/support/TestFiles.h"
#include "ui/Dialogs.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// Records every box the program would show and answers the questions as told.
class FakeDialogs : public Dialogs {
public:
    struct Shown {
        QString kind; // "message", "error", "notice", "okCancel", "choice",
                      // "chooseFolder", "chooseFile"
        QString caption;
        QString text;
    };

    void message(const QString& text) override { shown.push_back({"message", {}, text}); }
    void error(const QString& text) override { shown.push_back({"error", {}, text}); }
    void notice(const QString& caption, const QString& text) override {
        shown.push_back({"notice", caption, text});
    }
    bool okCancel(const QString& caption, const QString& text) override {
        shown.push_back({"okCancel", caption, text});
        return okAnswer;
    }
    int choice(const QString& caption, const QString& text, const QStringList& buttons) override {
        shown.push_back({"choice", caption, text});
        choiceButtons = buttons;
        return choiceAnswer;
    }
    std::optional<QString> chooseFolder(const QString& prompt) override {
        shown.push_back({"chooseFolder", {}, prompt});
        return folderAnswer;
    }
    std::optional<QString> chooseFile(const QString& caption, const QString& filter) override {
        shown.push_back({"chooseFile", caption, filter});
        return fileAnswer;
    }

    // The texts of the boxes of one kind, in order.
    QStringList texts(const QString& kind) const {
        QStringList out;
        for (const Shown& s : shown) {
            if (s.kind == kind) {
                out << s.text;
            }
        }
        return out;
    }

    std::vector<Shown> shown;
    bool okAnswer = true;
    int choiceAnswer = 0;      // the first button
    QStringList choiceButtons; // of the latest choice
    std::optional<QString> folderAnswer;
    std::optional<QString> fileAnswer;
};
