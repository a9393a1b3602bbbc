#include "system/ErrorReporter.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaObject>
#include <QPointer>

#include "async/Spawn.h"
#include "base/Logging.h"
#include "system/CrashHandler.h"
#include "system/HangWatchdog.h"

namespace tessvale {

std::unique_ptr<ErrorReporter> ErrorReporter::create(
    const ErrorMonitoringConfiguration& configuration, ErrorReporterOptions options, QString* error)
{
    QString reason;
    if (!options.transport) {
        qCWarning(lcErrorMonitoring) << "Error monitoring stays off: no envelope transport";
        if (error)
            *error = QStringLiteral("No envelope transport.");
        return nullptr;
    }
    std::optional<SentryDsn> dsn = SentryDsn::parse(configuration.dsn, &reason);
    if (!dsn) {
        qCWarning(lcErrorMonitoring).noquote() << "Error monitoring stays off:" << reason;
        if (error)
            *error = reason;
        return nullptr;
    }
    return std::unique_ptr<ErrorReporter>(new ErrorReporter(configuration, std::move(*dsn), std::move(options)));
}

ErrorReporter::ErrorReporter(ErrorMonitoringConfiguration configuration, SentryDsn dsn, ErrorReporterOptions options)
    : m_configuration(std::move(configuration))
    , m_dsn(std::move(dsn))
    , m_queue(options.queueDirectory)
    , m_transport(std::move(options.transport))
    , m_breadcrumbs(options.breadcrumbCapacity)
{
    qRegisterMetaType<tessvale::EnvelopeDelivery>();
    m_queue.ensureDirectory();
    if (options.installCrashHandler && !CrashHandler::isInstalled()) {
        m_crashEventId = SentryEvent::newEventId();
        m_crashReportPath = QStringLiteral("%1/%2-crash-%3%4")
                                .arg(m_queue.directory())
                                .arg(QDateTime::currentMSecsSinceEpoch(), 13, 10, QLatin1Char('0'))
                                .arg(m_crashEventId, EnvelopeQueue::fileSuffix());
        CrashHandler::install(m_crashReportPath, crashTemplates(), m_breadcrumbs.capacity());
        m_crashHandlerInstalled = true;
    }
    if (options.hangThreshold.count() > 0) {
        const auto threshold = options.hangThreshold;
        m_watchdog = std::make_unique<HangWatchdog>(this, threshold, [this, threshold](std::chrono::milliseconds) {
            SentryException hang;
            hang.type = QStringLiteral("App Hanging");
            hang.value = QStringLiteral("App hanging for at least %1 ms.").arg(threshold.count());
            hang.mechanism = QStringLiteral("AppHang");
            captureException(hang, {}, SentryLevel::error);
        });
    }
    qCInfo(lcErrorMonitoring).noquote() << "Error monitoring started: release" << m_configuration.releaseName
                                        << "environment" << m_configuration.environment;
    sendQueued();
}

ErrorReporter::~ErrorReporter()
{
    stopHangTracking();
    if (m_crashHandlerInstalled)
        CrashHandler::uninstall();
}

void ErrorReporter::stopHangTracking()
{
    if (m_watchdog)
        m_watchdog->stop();
}

void ErrorReporter::addBreadcrumb(Breadcrumb breadcrumb)
{
    if (!breadcrumb.timestamp.isValid())
        breadcrumb.timestamp = QDateTime::currentDateTimeUtc();
    // Only the new breadcrumb is written out for the crash report: the cost stays the same however
    // many are kept.
    const QByteArray crashJson
        = m_crashHandlerInstalled ? reportJson(sentryBreadcrumbObject(breadcrumb)) : QByteArray();
    std::lock_guard<std::mutex> guard(m_mutex);
    m_breadcrumbs.add(std::move(breadcrumb));
    if (m_crashHandlerInstalled)
        CrashHandler::addBreadcrumb(crashJson);
}

QList<Breadcrumb> ErrorReporter::breadcrumbs() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_breadcrumbs.snapshot();
}

QString ErrorReporter::captureMessage(
    const QString& message, const QString& category, const QMap<QString, QString>& extras, SentryLevel level)
{
    SentryEvent event;
    event.level = level;
    event.logger = category;
    event.message = message;
    event.extras = extras;
    return capture(std::move(event));
}

QString ErrorReporter::captureException(
    const SentryException& exception, const QMap<QString, QString>& extras, SentryLevel level)
{
    SentryEvent event;
    event.level = level;
    event.exception = exception;
    event.extras = extras;
    return capture(std::move(event));
}

QString ErrorReporter::capture(SentryEvent event)
{
    event.eventId = SentryEvent::newEventId();
    event.timestamp = QDateTime::currentDateTimeUtc();
    event.breadcrumbs = breadcrumbs();
    const std::optional<QString> path = m_queue.store(event.eventId, envelopeFor(event));
    if (path)
        scheduleSend(*path);
    return event.eventId;
}

QByteArray ErrorReporter::envelopeFor(const SentryEvent& event) const
{
    return sentryEnvelope(
        event.eventId, m_dsn.text, sentryEventPayload(event, m_configuration), QDateTime::currentDateTimeUtc());
}

QMap<int, CrashEnvelopeTemplate> ErrorReporter::crashTemplates() const
{
    static const QString timeMarker = QStringLiteral("TESSVALE_CRASH_TIME");
    static const QString breadcrumbsMarker = QStringLiteral("TESSVALE_CRASH_BREADCRUMBS");
    const QJsonObject header { { QStringLiteral("event_id"), m_crashEventId }, { QStringLiteral("dsn"), m_dsn.text } };
    const QByteArray headerLines = QJsonDocument(header).toJson(QJsonDocument::Compact) + '\n'
        + QByteArrayLiteral("{\"type\":\"event\",\"length\":") + CrashHandler::lengthPlaceholder()
        + QByteArrayLiteral(",\"content_type\":\"application/json\"}\n");
    QMap<int, CrashEnvelopeTemplate> templates;
    for (int signalNumber : CrashHandler::handledSignals()) {
        SentryEvent event;
        event.eventId = m_crashEventId;
        event.level = SentryLevel::fatal;
        SentryException exception;
        exception.type = CrashHandler::signalName(signalNumber);
        exception.value
            = QStringLiteral("Fatal signal %1 (%2)")
                  .arg(CrashHandler::signalName(signalNumber), CrashHandler::signalDescription(signalNumber));
        exception.mechanism = QStringLiteral("signalhandler");
        exception.handled = false;
        event.exception = exception;
        // The handler fills in the crash time as ten digits and the breadcrumbs kept at that moment.
        QJsonObject object = sentryEventObject(event, m_configuration);
        object.insert(QStringLiteral("timestamp"), timeMarker);
        object.insert(QStringLiteral("breadcrumbs"),
            QJsonObject { { QStringLiteral("values"), QJsonArray { breadcrumbsMarker } } });
        QByteArray payload = reportJson(object);
        payload.replace('"' + timeMarker.toLatin1() + '"', CrashHandler::timePlaceholder());
        payload.replace('"' + breadcrumbsMarker.toLatin1() + '"', CrashHandler::breadcrumbsPlaceholder());
        templates.insert(signalNumber, CrashEnvelopeTemplate { headerLines, payload });
    }
    return templates;
}

void ErrorReporter::scheduleSend(const QString& path)
{
    QPointer<ErrorReporter> self(this);
    QMetaObject::invokeMethod(
        this,
        [self, path] {
            if (self)
                self->startSend(path);
        },
        Qt::QueuedConnection);
}

void ErrorReporter::sendQueued()
{
    const QStringList pending = m_queue.pending();
    if (!pending.isEmpty())
        qCInfo(lcErrorMonitoring) << "Sending" << pending.size() << "queued report(s).";
    for (const QString& path : pending)
        scheduleSend(path);
}

void ErrorReporter::startSend(const QString& path)
{
    if (m_inFlight.contains(path))
        return;
    m_inFlight.insert(path);
    runDetached([this, path](CancelToken) { return send(path); }, {}, QStringLiteral("Sending an error report"));
}

QCoro::Task<> ErrorReporter::send(QString path)
{
    QPointer<ErrorReporter> self(this);
    std::shared_ptr<EnvelopeTransport> transport = m_transport;
    EnvelopeDelivery delivery = EnvelopeDelivery::rejected;
    const std::optional<QByteArray> envelope = m_queue.read(path);
    if (envelope) {
        QCoro::Task<EnvelopeDelivery> sending = transport->send(m_dsn.envelopeEndpoint, m_dsn.authHeader(), *envelope);
        delivery = co_await std::move(sending);
        if (!self)
            co_return;
    }
    if (delivery != EnvelopeDelivery::retryLater)
        m_queue.remove(path);
    m_inFlight.remove(path);
    emit envelopeFinished(path, delivery);
    if (m_inFlight.isEmpty())
        emit idle();
}

} // namespace tessvale
