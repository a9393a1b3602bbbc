#include "platform/linux/auth/GAsyncAwait.h"

#include <chrono>
#include <optional>

#include <QAbstractEventDispatcher>
#include <QTimer>

#include "async/OneShot.h"

namespace tessvale::glib {

namespace {

// Often enough that a prompt's answer is not noticeably late, rarely enough to cost nothing.
constexpr std::chrono::milliseconds kContextPumpInterval { 10 };

using Done = OneShot<ObjectRef<GAsyncResult>>;

void onReady(GObject*, GAsyncResult* result, gpointer userData)
{
    std::unique_ptr<Done> done(static_cast<Done*>(userData));
    done->resolve(ObjectRef<GAsyncResult>(G_ASYNC_RESULT(g_object_ref(result))));
}

// Iterates this thread's GLib main context from the Qt event loop, for dispatchers that do not.
class ContextPump
{
public:
    ContextPump()
        : m_context(g_main_context_ref_thread_default())
        , m_timer(new QTimer)
    {
        GMainContext* context = m_context;
        QObject::connect(m_timer, &QTimer::timeout, m_timer, [context] {
            while (g_main_context_iteration(context, FALSE)) { }
        });
        m_timer->start(kContextPumpInterval);
    }
    ContextPump(const ContextPump&) = delete;
    ContextPump& operator=(const ContextPump&) = delete;
    ~ContextPump()
    {
        // The awaiting coroutine ends inside the timer's own slot: let the loop delete it.
        m_timer->stop();
        m_timer->deleteLater();
        g_main_context_unref(m_context);
    }

private:
    GMainContext* m_context;
    QTimer* m_timer;
};

} // namespace

bool threadRunsGLibMainContext()
{
    const QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    return dispatcher && dispatcher->inherits("QEventDispatcherGlib");
}

QCoro::Task<ObjectRef<GAsyncResult>> awaitAsync(AsyncStart start, CancelToken token)
{
    token.throwIfCancelled();
    std::optional<ContextPump> pump;
    if (!threadRunsGLibMainContext())
        pump.emplace();
    auto* pending = new Done;
    Done done = *pending;
    QObject context;
    const CancelRegistration registration = token.onCancel(&context, [done]() mutable { done.fail(CancelledError()); });
    start(&onReady, pending);
    ObjectRef<GAsyncResult> result = co_await done;
    co_return result;
}

} // namespace tessvale::glib
