#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

namespace tessvale {

// A crash envelope prepared ahead of time, in two parts: the header (the envelope's header line and
// the item's header line, holding lengthPlaceholder() once) and the event payload (holding
// timePlaceholder() once and breadcrumbsPlaceholder() at most once). The handler ends it with a newline.
struct CrashEnvelopeTemplate
{
    QByteArray header;
    QByteArray payload;
};

// Writes a prepared envelope to disk when the process dies of a fatal signal (SIGSEGV, SIGABRT,
// SIGBUS, SIGFPE, SIGILL), for sending at the next start. The handler only fills the crash time, the
// latest breadcrumbs and the payload length into pre-formatted bytes and uses open, write, close and
// rename, which are safe in a signal handler; then the signal goes on to the handler that was
// installed before, or kills the process.
class CrashHandler
{
public:
    CrashHandler() = delete;

    // Control bytes never appear in compact JSON, so a placeholder cannot be mistaken for content.
    // The crash time: ten digits of Unix seconds.
    static QByteArray timePlaceholder()
    {
        return QByteArrayLiteral("\x01"
                                 "time"
                                 "\x01");
    }
    // The breadcrumbs' JSON objects, oldest first, separated by commas.
    static QByteArray breadcrumbsPlaceholder()
    {
        return QByteArrayLiteral("\x01"
                                 "breadcrumbs"
                                 "\x01");
    }
    // The payload's length in bytes, as written.
    static QByteArray lengthPlaceholder()
    {
        return QByteArrayLiteral("\x01"
                                 "length"
                                 "\x01");
    }

    static QList<int> handledSignals();
    static QString signalName(int signalNumber); // "SIGSEGV"
    static QString signalDescription(int signalNumber); // "Segmentation fault"

    // Installs the handlers with one template per signal, keeping up to breadcrumbCapacity
    // breadcrumbs. The report is written to path (through path + ".part").
    static void install(const QString& path, const QMap<int, CrashEnvelopeTemplate>& templates, int breadcrumbCapacity);
    // Adds a breadcrumb (its JSON object) to the next report, dropping the oldest beyond the
    // capacity. Costs the same however many are kept; no-op when not installed.
    static void addBreadcrumb(const QByteArray& json);
    // Restores the previous handlers.
    static void uninstall();
    static bool isInstalled();
};

} // namespace tessvale
