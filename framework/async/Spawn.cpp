#include "async/Spawn.h"

#include <exception>

#include <QMetaObject>
#include <QObject>

#include "base/Logging.h"

namespace tessvale {

namespace {

QCoro::Task<> runGuarded(TaskBody body, CancelToken token, std::shared_ptr<detail::TaskState> state, QString label)
{
    try {
        QCoro::Task<> running = body(token);
        co_await std::move(running);
    } catch (const CancelledError&) {
        qCDebug(lcAsync) << "Task" << label << "ended by cancellation";
    } catch (const std::exception& error) {
        qCWarning(lcAsync).noquote() << "Task" << label << "failed:" << error.what();
    } catch (...) {
        qCWarning(lcAsync).noquote() << "Task" << label << "failed with an unknown error";
    }
    if (state)
        state->finished = true;
}

} // namespace

TaskHandle spawnOnMain(QObject* context, TaskBody body, QString label)
{
    CancelSource source;
    auto state = std::make_shared<detail::TaskState>();
    TaskHandle handle(source, state);
    // A queued call on context is dropped by Qt when context is destroyed first.
    QMetaObject::invokeMethod(
        context,
        [body = std::move(body), token = source.token(), state, label = std::move(label)]() mutable {
            runGuarded(std::move(body), std::move(token), std::move(state), std::move(label));
        },
        Qt::QueuedConnection);
    return handle;
}

void runDetached(TaskBody body, CancelToken token, QString label)
{
    runGuarded(std::move(body), std::move(token), nullptr, std::move(label));
}

} // namespace tessvale
