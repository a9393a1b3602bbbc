#include "system/SentryEvent.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>
#include <QUuid>

#include "system/ErrorMonitoringConfiguration.h"
#include "system/ReportScrubber.h"

namespace tessvale {

namespace {

QString timestampText(const QDateTime& time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

QJsonObject stringObject(const QMap<QString, QString>& values)
{
    QJsonObject object;
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        object.insert(it.key(), it.value());
    return object;
}

} // namespace

QString sentryLevelName(SentryLevel level)
{
    switch (level) {
    case SentryLevel::debug:
        return QStringLiteral("debug");
    case SentryLevel::info:
        return QStringLiteral("info");
    case SentryLevel::warning:
        return QStringLiteral("warning");
    case SentryLevel::error:
        return QStringLiteral("error");
    case SentryLevel::fatal:
        return QStringLiteral("fatal");
    }
    return QStringLiteral("error");
}

QString SentryEvent::newEventId()
{
    return QUuid::createUuid().toString(QUuid::Id128);
}

QByteArray reportJson(const QJsonObject& report)
{
    return QJsonDocument(scrubSecrets(report)).toJson(QJsonDocument::Compact);
}

QByteArray sentryEventPayload(const SentryEvent& event, const ErrorMonitoringConfiguration& configuration)
{
    return reportJson(sentryEventObject(event, configuration));
}

QJsonObject sentryBreadcrumbObject(const Breadcrumb& breadcrumb)
{
    QJsonObject object { { QStringLiteral("timestamp"), timestampText(breadcrumb.timestamp) },
        { QStringLiteral("category"), breadcrumb.category }, { QStringLiteral("message"), breadcrumb.message },
        { QStringLiteral("level"), sentryLevelName(breadcrumb.level) } };
    if (!breadcrumb.data.isEmpty())
        object.insert(QStringLiteral("data"), stringObject(breadcrumb.data));
    return object;
}

QJsonObject sentryEventObject(const SentryEvent& event, const ErrorMonitoringConfiguration& configuration)
{
    QJsonObject payload;
    payload.insert(QStringLiteral("event_id"), event.eventId);
    payload.insert(QStringLiteral("timestamp"), timestampText(event.timestamp));
    payload.insert(QStringLiteral("platform"), QStringLiteral("native"));
    payload.insert(QStringLiteral("level"), sentryLevelName(event.level));
    if (!event.logger.isEmpty())
        payload.insert(QStringLiteral("logger"), event.logger);
    payload.insert(QStringLiteral("release"), configuration.releaseName);
    payload.insert(QStringLiteral("environment"), configuration.environment);
    if (configuration.dist)
        payload.insert(QStringLiteral("dist"), *configuration.dist);
    if (event.message)
        payload.insert(QStringLiteral("message"), QJsonObject { { QStringLiteral("formatted"), *event.message } });
    if (event.exception) {
        const QJsonObject mechanism { { QStringLiteral("type"), event.exception->mechanism },
            { QStringLiteral("handled"), event.exception->handled } };
        const QJsonObject value { { QStringLiteral("type"), event.exception->type },
            { QStringLiteral("value"), event.exception->value }, { QStringLiteral("mechanism"), mechanism } };
        payload.insert(QStringLiteral("exception"), QJsonObject { { QStringLiteral("values"), QJsonArray { value } } });
    }
    if (!event.extras.isEmpty())
        payload.insert(QStringLiteral("extra"), stringObject(event.extras));
    if (!event.breadcrumbs.isEmpty()) {
        QJsonArray values;
        for (const Breadcrumb& crumb : event.breadcrumbs)
            values.append(sentryBreadcrumbObject(crumb));
        payload.insert(QStringLiteral("breadcrumbs"), QJsonObject { { QStringLiteral("values"), values } });
    }
    const QJsonObject os { { QStringLiteral("name"), QStringLiteral("Linux") },
        { QStringLiteral("kernel_version"), QSysInfo::kernelVersion() } };
    payload.insert(QStringLiteral("contexts"), QJsonObject { { QStringLiteral("os"), os } });
    payload.insert(QStringLiteral("sdk"),
        QJsonObject { { QStringLiteral("name"), QStringLiteral("tessvale.native") },
            { QStringLiteral("version"), QStringLiteral("1.0") } });
    return payload;
}

QByteArray sentryEnvelope(
    const QString& eventId, const QString& dsn, const QByteArray& payload, const QDateTime& sentAt)
{
    const QJsonObject header { { QStringLiteral("event_id"), eventId }, { QStringLiteral("dsn"), dsn },
        { QStringLiteral("sent_at"), timestampText(sentAt) } };
    const QJsonObject itemHeader { { QStringLiteral("type"), QStringLiteral("event") },
        { QStringLiteral("length"), payload.size() },
        { QStringLiteral("content_type"), QStringLiteral("application/json") } };
    QByteArray envelope = QJsonDocument(header).toJson(QJsonDocument::Compact);
    envelope += '\n';
    envelope += QJsonDocument(itemHeader).toJson(QJsonDocument::Compact);
    envelope += '\n';
    envelope += payload;
    envelope += '\n';
    return envelope;
}

} // namespace tessvale
