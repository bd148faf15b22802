#include "ui/RunAnswers.h"

#include "ui/Dialogs.h"

void RunAnswers::notice(const QString& caption, const QString& text) {
    m_dialogs.notice(caption, text);
}

bool RunAnswers::confirmOverwrite(const QString& caption, const QString& text) {
    return m_dialogs.okCancel(caption, text);
}
