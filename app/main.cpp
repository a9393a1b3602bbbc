#include <QApplication>
#include <QTimer>

#include "base/Logging.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Tessvale"));
    QApplication::setApplicationName(QStringLiteral("Tessvale"));
    // A tray application: closing its last window must not end it.
    QApplication::setQuitOnLastWindowClosed(false);

    // "--check" starts the application, lets the event loop run once and exits: a smoke test for
    // installs.
    if (app.arguments().contains(QStringLiteral("--check"))) {
        QTimer::singleShot(0, &app, &QCoreApplication::quit);
    }
    qCInfo(lcApp) << "Tessvale started";
    return app.exec();
}
