#include "ui/RunAnswers.h"

#include "ui/Dialogs.h"

void RunAnswers::notice(const QString& caption, const QString& text) {
    m_dialogs.notice(caption, text);
}

bool RunAnswers::confirmOverwrite(const QString& caption, const QString& text) {
    return m_dialogs.okCancel(caption, text);
}

void RunAnswers::message(const QString& text) {
    m_dialogs.message(text);
}

void RunAnswers::error(const QString& text) {
    m_dialogs.error(text);
}

bool RunAnswers::confirmResume(const QString& caption, const QString& text) {
    return m_dialogs.okCancel(caption, text);
}
