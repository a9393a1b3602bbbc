// Runs the fake cloud service on loopback for manual runs and the local demo: prints the REST origin,
// the sign-in page's address, the streaming URL and the CA certificate that a client must trust, then
// serves until interrupted.
#include <csignal>
#include <cstdio>

#include <sys/socket.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QTextStream>

#include "FakeCloudServer.h"
#include "TestCertificateAuthority.h"

namespace {

int signalPipe[2] = { -1, -1 };

void forwardSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

bool parsePort(const QCommandLineParser& parser, const QCommandLineOption& option, quint16* port)
{
    if (!parser.isSet(option))
        return true;
    bool ok = false;
    const uint value = parser.value(option).toUInt(&ok);
    if (!ok || value > 65535)
        return false;
    *port = quint16(value);
    return true;
}

// Written whole or not at all: a client reading it while a new service starts sees one CA.
bool copyFile(const QString& from, const QString& to, QString* error)
{
    QFile source(from);
    QSaveFile target(to);
    if (!source.open(QIODevice::ReadOnly) || !target.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot write the CA certificate to ") + to;
        return false;
    }
    target.write(source.readAll());
    if (!target.commit()) {
        *error = QStringLiteral("cannot write the CA certificate to ") + to;
        return false;
    }
    return true;
}

int fail(const QString& error)
{
    QTextStream(stderr) << "tessvale-fakecloud: " << error << Qt::endl;
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessvale-fakecloud"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("A loopback stand-in for the Tessvale cloud service."));
    parser.addHelpOption();
    const QCommandLineOption restPortOption(QStringLiteral("rest-port"),
        QStringLiteral("Port of the REST endpoints (default: any free one)."), QStringLiteral("port"));
    const QCommandLineOption streamPortOption(QStringLiteral("stream-port"),
        QStringLiteral("Port of the streaming endpoint (default: any free one)."), QStringLiteral("port"));
    const QCommandLineOption caFileOption(QStringLiteral("ca-file"),
        QStringLiteral("Also write the CA certificate (PEM) to this file."), QStringLiteral("path"));
    const QCommandLineOption demoOption(QStringLiteral("demo"),
        QStringLiteral("Answer each dictation with a transcript telling how much audio arrived."));
    parser.addOptions({ restPortOption, streamPortOption, caFileOption, demoOption });
    parser.process(app);

    quint16 restPort = 0;
    quint16 streamPort = 0;
    if (!parsePort(parser, restPortOption, &restPort) || !parsePort(parser, streamPortOption, &streamPort))
        return fail(QStringLiteral("a port is a number from 0 to 65535"));

    QTextStream out(stdout);
    // Ending by Ctrl+C or kill still removes the temporary CA folder.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) == 0) {
        auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
        std::signal(SIGINT, forwardSignal);
        std::signal(SIGTERM, forwardSignal);
    }
    QString error;
    auto authority = tessvale::TestCertificateAuthority::create(&error);
    if (!authority)
        return fail(error);
    if (parser.isSet(caFileOption) && !copyFile(authority->caCertificatePath(), parser.value(caFileOption), &error))
        return fail(error);
    tessvale::FakeCloudServer server(*authority);
    server.stream().setDemoTranscripts(parser.isSet(demoOption));
    if (!server.listen(restPort, streamPort, &error))
        return fail(error);
    out << "REST origin: " << server.restOrigin().toString() << Qt::endl;
    out << "REST port: " << server.restPort() << Qt::endl;
    out << "Sign-in page: " << server.signInPageOrigin().toString() << "/authorize (plain HTTP)" << Qt::endl;
    out << "Stream URL: " << server.stream().url().toString() << Qt::endl;
    out << "Stream port: " << server.stream().port() << Qt::endl;
    out << "CA certificate: "
        << (parser.isSet(caFileOption) ? parser.value(caFileOption) : authority->caCertificatePath()) << Qt::endl;
    out << "API key: " << server.acceptedApiKey() << Qt::endl;
    QObject::connect(&server, &tessvale::FakeCloudServer::requestReceived, &server, [&server, &out] {
        const auto request = server.lastRequest();
        out << request.method << ' ' << request.path << Qt::endl;
    });
    return app.exec();
}
