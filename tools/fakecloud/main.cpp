// Runs the fake cloud service on loopback for manual runs: prints the REST origin, the streaming
// URL and the CA certificate that a client must trust, then serves until interrupted.
#include <csignal>
#include <cstdio>

#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
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

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
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
    if (!authority) {
        QTextStream(stderr) << "tessvale-fakecloud: " << error << Qt::endl;
        return 1;
    }
    tessvale::FakeCloudServer server(*authority);
    if (!server.listen(&error)) {
        QTextStream(stderr) << "tessvale-fakecloud: " << error << Qt::endl;
        return 1;
    }
    out << "REST origin: " << server.restOrigin().toString() << Qt::endl;
    out << "REST port: " << server.restPort() << Qt::endl;
    out << "Stream URL: " << server.stream().url().toString() << Qt::endl;
    out << "Stream port: " << server.stream().port() << Qt::endl;
    out << "CA certificate: " << authority->caCertificatePath() << Qt::endl;
    out << "API key: " << server.acceptedApiKey() << Qt::endl;
    QObject::connect(&server, &tessvale::FakeCloudServer::requestReceived, &server, [&server, &out] {
        const auto request = server.lastRequest();
        out << request.method << ' ' << request.target << Qt::endl;
    });
    return app.exec();
}
