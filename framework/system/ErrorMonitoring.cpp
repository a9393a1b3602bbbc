#include "system/ErrorMonitoring.h"

#include <cstdlib>
#include <memory>
#include <mutex>
#include <typeinfo>

#include <QCoreApplication>

#include <cxxabi.h>

#include "base/Logging.h"
#include "system/BundleInfo.h"
#include "system/ErrorMonitoringConfiguration.h"

namespace tessvale {

namespace {

struct ErrorMonitoringState
{
    std::mutex lock;
    bool didStart = false;
    // Lives until the process ends, like the reporting it stands for.
    ErrorReporter* reporter = nullptr;
};

// Created once, on first use, never freed.
ErrorMonitoringState& sharedState()
{
    static ErrorMonitoringState* state = new ErrorMonitoringState;
    return *state;
}

// The reporter once started, else null.
ErrorReporter* startedReporter()
{
    ErrorMonitoringState& state = sharedState();
    std::lock_guard<std::mutex> guard(state.lock);
    return state.didStart ? state.reporter : nullptr;
}

void leaveBreadcrumb(ErrorReporter& reporter, const QString& category, const QString& message,
    const QMap<QString, QString>& data, SentryLevel level)
{
    Breadcrumb breadcrumb;
    breadcrumb.category = category;
    breadcrumb.message = message;
    breadcrumb.level = level;
    breadcrumb.data = data;
    reporter.addBreadcrumb(std::move(breadcrumb));
}

// Once the application object goes, the main thread no longer answers the hang watchdog.
void stopHangTrackingAtExit()
{
    ErrorMonitoringState& state = sharedState();
    std::lock_guard<std::mutex> guard(state.lock);
    if (state.reporter)
        state.reporter->stopHangTracking();
}

QString demangled(const char* name)
{
    int status = 0;
    char* readable = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    QString text = QString::fromUtf8(status == 0 && readable ? readable : name);
    std::free(readable);
    return text;
}

} // namespace

CapturedError CapturedError::from(const std::exception& error)
{
    return CapturedError { demangled(typeid(error).name()), QString::fromUtf8(error.what()) };
}

CapturedError CapturedError::from(const std::exception_ptr& error)
{
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const std::exception& exception) {
        return from(exception);
    } catch (...) {
    }
    return CapturedError { QStringLiteral("UnknownError"), QString() };
}

void ErrorMonitoring::start(const BundleInfo& bundle, std::shared_ptr<EnvelopeTransport> transport)
{
    ErrorReporterOptions options;
    options.transport = std::move(transport);
    start(bundle, std::move(options));
}

void ErrorMonitoring::start(const BundleInfo& bundle, ErrorReporterOptions options)
{
    const std::optional<ErrorMonitoringConfiguration> configuration
        = ErrorMonitoringConfiguration::make(bundle.infoDictionary(), bundle.bundleIdentifier(), false);
    if (!configuration) {
        qCInfo(lcErrorMonitoring) << "No reporting key in the bundle; error monitoring is off.";
        return;
    }
    ErrorMonitoringState& state = sharedState();
    std::lock_guard<std::mutex> guard(state.lock);
    if (state.didStart)
        return;
    std::unique_ptr<ErrorReporter> reporter = ErrorReporter::create(*configuration, std::move(options));
    if (!reporter)
        return;
    if (QCoreApplication::instance())
        qAddPostRoutine(stopHangTrackingAtExit);
    else
        qCWarning(lcErrorMonitoring)
            << "Error monitoring started before the application object; reports wait for its event loop.";
    state.reporter = reporter.release();
    state.didStart = true;
}

bool ErrorMonitoring::isStarted()
{
    ErrorMonitoringState& state = sharedState();
    std::lock_guard<std::mutex> guard(state.lock);
    return state.didStart;
}

void ErrorMonitoring::addBreadcrumb(
    const QString& category, const QString& message, const QMap<QString, QString>& data, SentryLevel level)
{
    if (ErrorReporter* reporter = startedReporter())
        leaveBreadcrumb(*reporter, category, message, data, level);
}

void ErrorMonitoring::capture(
    const CapturedError& error, const std::optional<QString>& context, const QMap<QString, QString>& extras)
{
    ErrorReporter* reporter = startedReporter();
    if (!reporter)
        return;
    const QString message = context.value_or(error.description);
    if (!message.isEmpty() || !extras.isEmpty())
        leaveBreadcrumb(*reporter, QStringLiteral("error"), message, extras, SentryLevel::error);
    SentryException exception;
    exception.type = error.type;
    exception.value = error.description;
    reporter->captureException(exception, extras, SentryLevel::error);
}

void ErrorMonitoring::capture(
    const std::exception& error, const std::optional<QString>& context, const QMap<QString, QString>& extras)
{
    capture(CapturedError::from(error), context, extras);
}

void ErrorMonitoring::captureMessage(
    const QString& message, const QString& category, const QMap<QString, QString>& extras, SentryLevel level)
{
    ErrorReporter* reporter = startedReporter();
    if (!reporter)
        return;
    if (!message.isEmpty() || !extras.isEmpty())
        leaveBreadcrumb(*reporter, category, message, extras, level);
    reporter->captureMessage(message, category, extras, level);
}

} // namespace tessvale
