// The program with its windows as main() runs it, offscreen, with the real message boxes
// answered by a timer the way a user would answer them.
#include "app/SpanishTexts.h"
#include "app/WindowProgram.h"
#include "tests/support/TestFiles.h"
#include "ui/Dialogs.h"
#include "ui/fPruncipal.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

const QString kXOutOfRange = QStringLiteral("Coordenadas UTM X fuera de límites");

// Presses OK on every message box that opens, and keeps what each one said.
class BoxAnswerer {
public:
    BoxAnswerer() {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                texts << box->text();
                QStringList names;
                for (QAbstractButton* button : box->buttons()) {
                    names << button->text();
                }
                names.sort();
                buttons << names.join(u'|');
                box->button(QMessageBox::Ok)->click();
            }
        });
        m_timer.start();
    }
    QStringList texts;
    QStringList buttons; // of each box, sorted, joined by "|"

private:
    QTimer m_timer;
};

// Ends the loop of a test gone wrong; gone with the test.
class QuitLater {
public:
    QuitLater() {
        m_timer.setSingleShot(true);
        QObject::connect(&m_timer, &QTimer::timeout, qApp, &QCoreApplication::quit);
        m_timer.start(10000);
    }

private:
    QTimer m_timer;
};

TfPrincipal* ShownMainWindow() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<TfPrincipal*>(w); window && window->isVisible()) {
            return window;
        }
    }
    return nullptr;
}

// A message box closed while it is the only window on the screen does not end the program:
// the question after it is still asked and answered, and the loop goes on until told.
TEST(WindowProgram, ABoxAloneOnTheScreenDoesNotEndTheProgram) {
    EndWithTheMainWindowOnly(*qApp);
    const BoxAnswerer answerer;
    Dialogs dialogs;
    bool asked = false;
    bool answer = false;
    bool stillRunning = false;
    QTimer::singleShot(0, [&] {
        dialogs.message(kXOutOfRange);
        QTimer::singleShot(50, [&] {
            answer = dialogs.okCancel(QStringLiteral("Grabar fichero BMP"),
                                      QStringLiteral("El fichero ya existe. ¿ Sobreescribir ?"));
            asked = true;
            QTimer::singleShot(50, [&] {
                stillRunning = true;
                QCoreApplication::quit();
            });
        });
    });
    const QuitLater guard;
    QCoreApplication::exec();
    EXPECT_TRUE(asked);
    EXPECT_TRUE(answer);
    EXPECT_TRUE(stillRunning);
    EXPECT_EQ(answerer.texts,
              (QStringList{kXOutOfRange, "El fichero ya existe. ¿ Sobreescribir ?"}));
}

// The stored corner is out of range: the message shows while the main window is being
// made, "Descargar" later shows it again, and closing the main window ends the program.
TEST(WindowProgram, AStartUpMessageThenALaterOneAndTheMainWindowEndsIt) {
    const CurrentDirScope cwd;
    WriteAll(cwd.file(QStringLiteral("Morvel.ini")), "[Mosaicos]\nUTMSupIzqX=170000\n");
    const BoxAnswerer answerer;
    qsizetype atStart = -1;
    std::function<void()> whenShown = [&] {
        TfPrincipal* window = ShownMainWindow();
        if (!window) {
            QTimer::singleShot(20, whenShown);
            return;
        }
        atStart = answerer.texts.size();
        window->findChild<QPushButton*>(QStringLiteral("btnDescargar"))->click();
        QTimer::singleShot(0, window, &QWidget::close);
    };
    QTimer::singleShot(0, whenShown);
    const QuitLater guard;
    EXPECT_EQ(RunWindows(*qApp), 0);
    EXPECT_GE(atStart, 1);
    EXPECT_EQ(answerer.texts.size(), atStart + 1);
    EXPECT_EQ(answerer.texts.filter(kXOutOfRange).size(), answerer.texts.size());
    // The close went its whole way: the settings were written.
    EXPECT_TRUE(ReadAll(cwd.file(QStringLiteral("Morvel.ini"))).contains("Carpeta="));
}

// Qt's own words in the boxes are Spanish, and so is its locale, under the C locale the
// tests run in.
TEST(WindowProgram, QtsOwnWordsAreSpanish) {
    UseSpanish(*qApp);
    const BoxAnswerer answerer;
    Dialogs dialogs;
    dialogs.message(kXOutOfRange);
    EXPECT_TRUE(dialogs.okCancel(QStringLiteral("Fichero"), QStringLiteral("¿Reemplazar?")));
    EXPECT_EQ(answerer.buttons, (QStringList{"Aceptar", "Aceptar|Cancelar"}));
    EXPECT_EQ(QLocale().language(), QLocale::Spanish);
}

} // namespace
