// Runs the fake cloud service on loopback for manual runs: prints the REST origin, the streaming
// URL and the CA certificate that a client must trust, then serves until interrupted.
#include <cstdio>

#include <QCoreApplication>
#include <QTextStream>

#include "FakeCloudServer.h"
#include "TestCertificateAuthority.h"

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
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
