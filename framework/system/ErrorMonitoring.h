#pragma once

#include <exception>
#include <optional>

#include <QMap>
#include <QString>

#include "system/ErrorReporter.h"
#include "system/SentryEvent.h"

namespace tessvale {

class BundleInfo;

// An error as error monitoring records it: its type and its description.
struct CapturedError
{
    QString type;
    QString description;

    static CapturedError from(const std::exception& error);
    static CapturedError from(const std::exception_ptr& error);
};

// The one place that reports to error monitoring. Off until start() has run with a bundle that
// names a reporting key; from then on until the process ends. Before that every operation does
// nothing. Callable from any thread; start() belongs after the QCoreApplication is created, on the
// main thread, which then sends the reports.
class ErrorMonitoring
{
public:
    ErrorMonitoring() = delete;

    // Sends through the platform's envelope transport.
    static void start(const BundleInfo& bundle, std::shared_ptr<EnvelopeTransport> transport);
    // The same with a chosen queue folder and watchdog, for helper programs and tests.
    static void start(const BundleInfo& bundle, ErrorReporterOptions options);

    static bool isStarted();

    static void addBreadcrumb(
        const QString& category, const QString& message, const QMap<QString, QString>& data, SentryLevel level);
    static void capture(const CapturedError& error, const std::optional<QString>& context = std::nullopt,
        const QMap<QString, QString>& extras = {});
    static void capture(const std::exception& error, const std::optional<QString>& context = std::nullopt,
        const QMap<QString, QString>& extras = {});
    static void captureMessage(
        const QString& message, const QString& category, const QMap<QString, QString>& extras, SentryLevel level);
};

} // namespace tessvale
