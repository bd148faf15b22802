#pragma once

#include "ui/Dialogs.h"

#include <QStringList>

#include <cstdio>

// No box may stop a bench: anything shown is printed, questions are answered OK and a choice
// with its first button.
class PrintedDialogs : public Dialogs {
public:
    void message(const QString& text) override { print(QStringLiteral("message"), text); }
    void error(const QString& text) override { print(QStringLiteral("error"), text); }
    void notice(const QString& caption, const QString& text) override { print(caption, text); }
    bool okCancel(const QString& caption, const QString& text) override {
        print(caption, text);
        return true;
    }
    int choice(const QString& caption, const QString& text, const QStringList&) override {
        print(caption, text);
        return 0;
    }

private:
    static void print(const QString& kind, const QString& text) {
        std::fprintf(stderr, "  [%s] %s\n", qPrintable(kind), qPrintable(text));
    }
};
