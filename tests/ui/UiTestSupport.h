#pragma once

#include "ui/Dialogs.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <optional>
#include <vector>

// Records every box the program would show and answers the questions as told.
class FakeDialogs : public Dialogs {
public:
    struct Shown {
        QString kind; // "message", "error", "notice", "okCancel", "chooseFolder"
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
    std::optional<QString> chooseFolder(const QString& prompt) override {
        shown.push_back({"chooseFolder", {}, prompt});
        return folderAnswer;
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
    std::optional<QString> folderAnswer;
};

// A fresh empty folder as the process's current directory while it lives.
class CurrentDirScope {
public:
    CurrentDirScope();
    ~CurrentDirScope();
    CurrentDirScope(const CurrentDirScope&) = delete;
    CurrentDirScope& operator=(const CurrentDirScope&) = delete;

    QString path() const { return dir_.path(); }
    QString file(const QString& name) const { return dir_.filePath(name); }

private:
    QTemporaryDir dir_;
    QString previous_;
};

// Makes a folder refuse new files and renames while it lives: by its permissions, and
// where these do not bind (root) by the file system's immutable flag.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(QString path);
    ~ReadOnlyFolder();
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

    // False when neither way works here; the test is then skipped.
    bool active() const { return active_; }

private:
    bool refusesNewFiles() const;
    bool setImmutable(bool on) const;

    QString path_;
    bool immutable_ = false;
    bool active_ = false;
};

QByteArray ReadAll(const QString& path);
void WriteAll(const QString& path, const QByteArray& bytes);
