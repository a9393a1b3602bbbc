#pragma once

#include <optional>

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>

namespace tessvale {

struct ErrorMonitoringConfiguration;

enum class SentryLevel {
    debug,
    info,
    warning,
    error,
    fatal,
};

// "debug", "info", "warning", "error", "fatal".
QString sentryLevelName(SentryLevel level);

struct Breadcrumb
{
    QDateTime timestamp;
    QString category;
    QString message;
    SentryLevel level = SentryLevel::info;
    QMap<QString, QString> data;
};

struct SentryException
{
    QString type;
    QString value;
    QString mechanism = QStringLiteral("generic");
    bool handled = true;
};

struct SentryEvent
{
    QString eventId; // 32 lower-case hex digits
    QDateTime timestamp;
    SentryLevel level = SentryLevel::error;
    QString logger;
    std::optional<QString> message;
    std::optional<SentryException> exception;
    QMap<QString, QString> extras;
    QList<Breadcrumb> breadcrumbs;

    static QString newEventId();
};

// The event as JSON, with the release, environment and distribution of the configuration.
QJsonObject sentryEventObject(const SentryEvent& event, const ErrorMonitoringConfiguration& configuration);
QJsonObject sentryBreadcrumbObject(const Breadcrumb& breadcrumb);
// The one way a report's JSON becomes bytes to write: every text scrubbed of API keys, compact.
QByteArray reportJson(const QJsonObject& report);
QByteArray sentryEventPayload(const SentryEvent& event, const ErrorMonitoringConfiguration& configuration);

// One envelope holding one event item: the header line, the item header line and the payload.
QByteArray sentryEnvelope(
    const QString& eventId, const QString& dsn, const QByteArray& payload, const QDateTime& sentAt);

} // namespace tessvale
