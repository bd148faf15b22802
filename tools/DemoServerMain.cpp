// morvel-demo-server [port]: serves demonstration maps on the loopback address of the map
// server this build talks to, so that the program can download whole mosaics offline.
#include "job/MapKinds.h"
#include "tools/DemoMapServer.h"

#include <QCommandLineParser>
#include <QGuiApplication>
#include <QTextStream>
#include <QUrl>

namespace {

constexpr quint16 kDefaultPort = 8037;

QTextStream& Out() {
    static QTextStream out(stdout);
    return out;
}

} // namespace

int main(int argc, char** argv) {
    // Drawing text needs a GUI application, but a server needs no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("morvel-demo-server"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Servidor de mapas de demostración para Morvel (solo en este equipo)."));
    parser.addHelpOption();
    parser.addPositionalArgument(
        QStringLiteral("puerto"),
        QStringLiteral("Puerto de escucha; sin él, el de %1.").arg(MapServerBase()));
    const QCommandLineOption latency(
        QStringLiteral("latencia"),
        QStringLiteral("Responde cada petición tras estos milisegundos, como un servidor lejano."),
        QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption throttle(
        QStringLiteral("limitar"),
        QStringLiteral("Responde 429 con \"Retry-After: 1\" a una de cada n peticiones, como "
                       "un servidor ocupado."),
        QStringLiteral("n"), QStringLiteral("0"));
    parser.addOption(latency);
    parser.addOption(throttle);
    parser.process(app);

    bool latencyOk = false;
    bool throttleOk = false;
    const int latencyMs = parser.value(latency).toInt(&latencyOk);
    const int throttleEvery = parser.value(throttle).toInt(&throttleOk);
    if (!latencyOk || latencyMs < 0 || !throttleOk || throttleEvery < 0) {
        QTextStream(stderr) << "Valores no válidos para --latencia o --limitar" << Qt::endl;
        return 2;
    }

    const QUrl base(MapServerBase());
    auto port = static_cast<quint16>(base.port(kDefaultPort));
    if (!parser.positionalArguments().isEmpty()) {
        bool ok = false;
        const uint given = parser.positionalArguments().constFirst().toUInt(&ok);
        if (!ok || given == 0 || given > 65535) {
            QTextStream(stderr) << "Puerto no válido: " << parser.positionalArguments().first()
                                << Qt::endl;
            return 2;
        }
        port = static_cast<quint16>(given);
    }
    // Only ever a loopback address: this server is for trying the program, not for a network.
    QHostAddress address(base.host());
    if (address.isNull() && base.host() == QLatin1String("localhost")) {
        address = QHostAddress(QHostAddress::LocalHost);
    }
    if (!address.isLoopback()) {
        address = QHostAddress(QHostAddress::LocalHost);
    }

    DemoMapServer server;
    server.setLatency(latencyMs);
    server.setThrottle(throttleEvery);
    QObject::connect(&server, &DemoMapServer::served, &server,
                     [](const QString& line) { Out() << line << Qt::endl; });
    if (!server.listen(address, port)) {
        QTextStream(stderr) << "No se pudo escuchar en " << address.toString() << ':' << port
                            << ": " << server.errorString() << Qt::endl;
        return 1;
    }
    Out() << "Mapas de demostración en http://" << address.toString() << ':' << server.port()
          << kMapRequestPath << Qt::endl;
    return QGuiApplication::exec();
}
