#include "ui/RunAnswers.h"

#include "ui/Dialogs.h"

#include <QApplication>
#include <QFontMetrics>

namespace {

// The widest a path may take in a button.
constexpr int kPathButtonPixels = 280;

} // namespace

RunQuestions::MissingFolder RunAnswers::missingFolder(const QString& folder,
                                                      const QString& current) {
    // The button names the current directory, cut in the middle when it is long: the
    // text gives it whole.
    const QString shortCurrent =
        QFontMetrics(QApplication::font()).elidedText(current, Qt::ElideMiddle, kPathButtonPixels);
    const int chosen = m_dialogs.choice(
        QStringLiteral("Carpeta destino"),
        QStringLiteral("La carpeta destino %1 no existe. ¿Crearla, o grabar los ficheros en la "
                       "carpeta actual, %2?")
            .arg(folder, current),
        {QStringLiteral("Crear la carpeta"),
         QStringLiteral("Usar la carpeta actual (%1)").arg(shortCurrent),
         QStringLiteral("Cancelar")});
    switch (chosen) {
    case 0:
        return MissingFolder::Create;
    case 1:
        return MissingFolder::UseCurrent;
    default:
        return MissingFolder::Cancel;
    }
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
