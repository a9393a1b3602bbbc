#pragma once

#include <chrono>
#include <memory>
#include <mutex>

#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>

#include <qcoro/qcorotask.h>

#include "platform/system/EnvelopeTransport.h"
#include "system/BreadcrumbRing.h"
#include "system/CrashHandler.h"
#include "system/EnvelopeQueue.h"
#include "system/ErrorMonitoringConfiguration.h"
#include "system/HangWatchdog.h"
#include "system/SentryDsn.h"
#include "system/SentryEvent.h"

namespace tessvale {

struct ErrorReporterOptions
{
    QString queueDirectory = EnvelopeQueue::defaultDirectory();
    // Required: how envelopes reach the ingest server.
    std::shared_ptr<EnvelopeTransport> transport;
    int breadcrumbCapacity = BreadcrumbRing::defaultCapacity;
    bool installCrashHandler = true;
    // How long the reporter's thread may stop answering before it counts as hanging; zero: never.
    std::chrono::milliseconds hangThreshold = HangWatchdog::defaultThreshold;
};

// The client behind ErrorMonitoring: keeps breadcrumbs, turns messages and errors into events,
// queues each envelope on disk and sends it to the ingest endpoint, retrying what is still queued
// at the next start. Captures may come from any thread; sending happens on the reporter's thread.
// Every text is scrubbed of API keys when an event is written out.
class ErrorReporter : public QObject
{
    Q_OBJECT

public:
    // Null with error set when the configuration's reporting key is unusable.
    static std::unique_ptr<ErrorReporter> create(
        const ErrorMonitoringConfiguration& configuration, ErrorReporterOptions options = {}, QString* error = nullptr);
    ~ErrorReporter() override;

    const ErrorMonitoringConfiguration& configuration() const { return m_configuration; }
    const SentryDsn& dsn() const { return m_dsn; }
    QString queueDirectory() const { return m_queue.directory(); }
    // Where the crash handler writes its report; empty when this reporter installed none.
    QString crashReportPath() const { return m_crashReportPath; }

    void addBreadcrumb(Breadcrumb breadcrumb);
    QList<Breadcrumb> breadcrumbs() const;
    // Both return the new event's identifier.
    QString captureMessage(
        const QString& message, const QString& category, const QMap<QString, QString>& extras, SentryLevel level);
    QString captureException(
        const SentryException& exception, const QMap<QString, QString>& extras, SentryLevel level = SentryLevel::error);

    // For the end of the event loop, when the thread stops answering on purpose.
    void stopHangTracking();

    // Sends everything waiting in the queue (reports of earlier runs included).
    void sendQueued();
    int sendsInFlight() const { return m_inFlight.size(); }

signals:
    void envelopeFinished(const QString& path, tessvale::EnvelopeDelivery delivery);
    // Nothing is being sent any more.
    void idle();

private:
    ErrorReporter(ErrorMonitoringConfiguration configuration, SentryDsn dsn, ErrorReporterOptions options);

    QString capture(SentryEvent event);
    QByteArray envelopeFor(const SentryEvent& event) const;
    QMap<int, CrashEnvelopeTemplate> crashTemplates() const;
    void scheduleSend(const QString& path);
    void startSend(const QString& path);
    QCoro::Task<> send(QString path);

    const ErrorMonitoringConfiguration m_configuration;
    const SentryDsn m_dsn;
    EnvelopeQueue m_queue;
    std::shared_ptr<EnvelopeTransport> m_transport;
    bool m_crashHandlerInstalled = false;
    mutable std::mutex m_mutex;
    BreadcrumbRing m_breadcrumbs;
    QString m_crashEventId;
    QString m_crashReportPath;
    QSet<QString> m_inFlight;
    std::unique_ptr<HangWatchdog> m_watchdog;
};

} // namespace tessvale
