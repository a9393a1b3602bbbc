#include <cstdio>
#include <memory>

#include <QApplication>
#include <QTimer>
#include <QUrl>

#include "TessvaleApp.h"
#include "base/Logging.h"
#include "cloud/CloudEndpoints.h"
#include "instance/SingleInstance.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Tessvale"));
    QApplication::setApplicationName(QStringLiteral("Tessvale"));
    QGuiApplication::setDesktopFileName(QStringLiteral("tessvale"));
    // A tray application: closing its last window must not end it.
    QApplication::setQuitOnLastWindowClosed(false);

    // Before anything could send the API key there.
    if (const QString refused = tessvale::CloudEndpoints::configured().refusalReason(); !refused.isEmpty()) {
        qCCritical(lcApp).noquote() << refused;
        return 1;
    }

    // "--check" starts the application, lets the event loop run once and quits: a smoke test for
    // installs. It does not claim the user session, so it runs beside a running instance.
    const bool check = app.arguments().contains(QStringLiteral("--check"));
    std::unique_ptr<tessvale::SingleInstance> instance;
    if (!check) {
        instance = std::make_unique<tessvale::SingleInstance>();
        const QUrl url = tessvale::SingleInstance::urlFromArguments(app.arguments());
        switch (instance->claim(url)) {
        case tessvale::SingleInstance::Role::instance:
            break;
        case tessvale::SingleInstance::Role::forwarded:
            // Whoever started this one (a terminal, scripts/run) learns why nothing new comes up, in
            // a plain line rather than a log record.
            if (url.isEmpty())
                std::fputs("Tessvale is already running; its setup window comes to the front.\n", stderr);
            return 0;
        case tessvale::SingleInstance::Role::failed:
            qCCritical(lcApp) << "Tessvale is starting or running already, but could not be reached";
            return 1;
        case tessvale::SingleInstance::Role::refused:
            qCCritical(lcApp) << "Tessvale is running already; the URL given is too long to hand over to it";
            return 1;
        }
    }

    int result = 0;
    {
        // Every long-lived object dies with the scene, before the application.
        tessvale::TessvaleApp scene(std::move(instance));
        if (check)
            QTimer::singleShot(0, &scene, &tessvale::TessvaleApp::quit);
        result = app.exec();
    }
    return result;
}
