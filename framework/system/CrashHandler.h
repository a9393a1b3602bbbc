#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

namespace tessvale {

// Writes a prepared envelope to disk when the process dies of a fatal signal (SIGSEGV, SIGABRT,
// SIGBUS, SIGFPE, SIGILL), for sending at the next start. The handler only fills the crash time
// into pre-formatted bytes and uses open, write, close and rename, which are safe in a signal
// handler; then the signal goes on to the handler that was installed before, or kills the process.
class CrashHandler
{
public:
    CrashHandler() = delete;

    // Stands where the crash time goes in a template: ten digits of Unix seconds.
    static QByteArray timePlaceholder() { return QByteArrayLiteral("##########"); }

    static QList<int> handledSignals();
    static QString signalName(int signalNumber); // "SIGSEGV"
    static QString signalDescription(int signalNumber); // "Segmentation fault"

    // Installs the handlers; each template is a whole envelope holding timePlaceholder() once.
    // The report is written to path (through path + ".part").
    static void install(const QString& path, const QMap<int, QByteArray>& envelopes);
    // Replaces the templates (for example with newer breadcrumbs); no-op when not installed.
    static void update(const QMap<int, QByteArray>& envelopes);
    // Restores the previous handlers.
    static void uninstall();
    static bool isInstalled();
};

} // namespace tessvale
