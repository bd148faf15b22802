#include "app/CommandLine.h"

#include "app/BatchRun.h"
#include "app/SpanishTexts.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QNetworkProxyFactory>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

namespace {

// Qt prints it as it stands: the lines are broken here.
const QString kDescription = QStringLiteral(
    "Descarga los mosaicos de un área del mapa, los une en un fichero BMP y genera los\n"
    "ficheros de calibración.\n"
    "\n"
    "Sin opciones abre la ventana principal. Con --batch hace sin ventanas ni pantalla la\n"
    "descarga que describe el fichero de configuración, sin modificarlo y sin preguntar:\n"
    "sustituye el BMP y los ficheros de calibración que ya existan y continúa la descarga\n"
    "sin terminar del mismo mosaico. Los sucesos salen por la salida estándar y los\n"
    "errores por la salida de errores.\n"
    "\n"
    "Estado de salida de --batch:\n"
    "  0    todos los mosaicos descargados y todos los ficheros pedidos grabados\n"
    "  1    algún mosaico no se pudo descargar; queda el fichero <Nombre>.morvel y el\n"
    "       siguiente --batch continúa la descarga\n"
    "  2    la línea de órdenes, el fichero de configuración o el área no son válidos,\n"
    "       o hay otra descarga en curso en la carpeta destino\n"
    "  3    no se pudo grabar algún fichero\n"
    "  130  detenido por SIGINT (Ctrl+C)\n"
    "  143  detenido por SIGTERM");

constexpr char kDefaultSettings[] = "Morvel.ini";

// A help or version option, alone or run together as single letters ("-hv").
bool IsHelpOrVersion(const char* arg) {
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "--help-all") == 0 ||
        std::strcmp(arg, "--version") == 0) {
        return true;
    }
    if (arg[0] != '-' || arg[1] == '\0' || arg[1] == '-') {
        return false;
    }
    // Any other letter makes it some other option, such as the toolkit's "-reverse".
    return std::strspn(arg + 1, "hv") == std::strlen(arg + 1);
}

} // namespace

CommandLine::CommandLine()
    : m_batch(QStringLiteral("batch"),
              QStringLiteral("Hace sin ventanas la descarga del fichero de configuración.")),
      m_settings(QStringLiteral("settings"),
                 QStringLiteral("Fichero de configuración de --batch (por defecto, %1 en la "
                                "carpeta actual).")
                     .arg(QLatin1String(kDefaultSettings)),
                 QStringLiteral("FICHERO"), QLatin1String(kDefaultSettings)) {
    QCoreApplication::setApplicationName(QStringLiteral("Morvel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MORVEL_VERSION));
    m_parser.setApplicationDescription(kDescription);
    m_parser.addHelpOption();
    m_parser.addVersionOption();
    m_parser.addOption(m_batch);
    m_parser.addOption(m_settings);
}

bool CommandLine::parse(const QStringList& arguments) {
    m_arguments = arguments;
    if (!m_parser.parse(arguments)) {
        m_error = m_parser.errorText();
        return false;
    }
    if (!m_parser.positionalArguments().isEmpty()) {
        m_error =
            QStringLiteral("Argumento inesperado: %1").arg(m_parser.positionalArguments().first());
        return false;
    }
    if (m_parser.isSet(m_settings) && !m_parser.isSet(m_batch) && !helpOrVersion()) {
        m_error = QStringLiteral("La opción --settings solo vale con --batch.");
        return false;
    }
    return true;
}

bool CommandLine::batch() const {
    return m_parser.isSet(m_batch);
}

bool CommandLine::helpOrVersion() const {
    return m_parser.isSet(QStringLiteral("help")) || m_parser.isSet(QStringLiteral("help-all")) ||
           m_parser.isSet(QStringLiteral("version"));
}

QString CommandLine::settingsPath() const {
    return m_parser.value(m_settings);
}

void CommandLine::showHelpOrVersion() {
    // The parser shows what its built-in options ask for and exits with 0.
    m_parser.process(m_arguments);
    std::exit(0);
}

QString NoDisplayText(const QString& program) {
    return QStringLiteral("Morvel es un programa de escritorio y no se ha encontrado ninguna "
                          "pantalla (DISPLAY no está definida).\n"
                          "En una máquina sin pantalla, ejecútelo con Xvfb:\n"
                          "  xvfb-run -a -s '-screen 0 1280x900x24' %1\n"
                          "Para descargar sin ventanas, use --batch (véase --help).\n")
        .arg(program);
}

int ArgumentsRefused(const CommandLine& line) {
    std::fprintf(stderr, "%s\nLas opciones se describen con --help.\n",
                 qUtf8Printable(line.errorText()));
    return kBatchInvalid;
}

namespace {

// Whether an argument before "--", the value of --settings aside, passes the test.
template <typename Test> bool AnyArgument(int argc, const char* const* argv, Test test) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--") == 0) {
            break;
        }
        if (test(arg)) {
            return true;
        }
        // Its value follows, whatever it looks like.
        if (std::strcmp(arg, "--settings") == 0) {
            ++i;
        }
    }
    return false;
}

QtMessageHandler g_toolkitHandler = nullptr;

// Standard error is for what the window would show in a box, in Spanish. The toolkit's
// notice that no runtime folder is set, as under cron, says nothing about the run; nor does
// its complaint that the folder's lock could not be removed (the folder stopped taking
// changes during the run, which the run's own messages say): the lock of a process that has
// ended is taken over by the next run.
void WithoutToolkitNotices(QtMsgType type, const QMessageLogContext& context,
                           const QString& message) {
    if (type == QtWarningMsg &&
        (message.startsWith(QLatin1String("QStandardPaths: ")) ||
         message.startsWith(QLatin1String("QLockFile: ")) ||
         message.startsWith(QLatin1String("Could not remove our own lock file")))) {
        return;
    }
    g_toolkitHandler(type, context, message);
}

bool AsksForBatch(int argc, const char* const* argv) {
    return AnyArgument(argc, argv,
                       [](const char* arg) { return std::strcmp(arg, "--batch") == 0; });
}

} // namespace

bool NeedsNoWindow(int argc, const char* const* argv) {
    return AnyArgument(argc, argv, [](const char* arg) {
        return std::strcmp(arg, "--batch") == 0 || IsHelpOrVersion(arg);
    });
}

int RunWithoutWindow(int argc, char** argv) {
    return RunWithoutWindow(argc, argv, FetchLimits());
}

int RunWithoutWindow(int argc, char** argv, const FetchLimits& limits) {
    // The overview of a set of sheets is painted with the toolkit's fonts, which a run
    // without windows has on the platform that needs no display.
    std::unique_ptr<QCoreApplication> gui;
    if (AsksForBatch(argc, argv)) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        g_toolkitHandler = qInstallMessageHandler(WithoutToolkitNotices);
        gui = std::make_unique<QGuiApplication>(argc, argv);
    }
    std::optional<QCoreApplication> core;
    QCoreApplication& app = gui ? *gui : core.emplace(argc, argv);
    UseSpanish(app);
    CommandLine line;
    if (!line.parse(QCoreApplication::arguments())) {
        return ArgumentsRefused(line);
    }
    if (line.helpOrVersion()) {
        line.showHelpOrVersion();
    }
    if (!line.batch()) {
        // The windows were asked for, and there is no display to show them on.
        std::fprintf(
            stderr, "%s",
            qUtf8Printable(NoDisplayText(QString::fromLocal8Bit(argc > 0 ? argv[0] : "Morvel"))));
        return kNoDisplay;
    }
    // Tiles go through the proxy the system names, if any, as in the window.
    QNetworkProxyFactory::setUseSystemConfiguration(true);
    return RunBatch(line.settingsPath(), limits);
}
