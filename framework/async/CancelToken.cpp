#include "async/CancelToken.h"

#include <QMetaObject>
#include <QObject>

namespace tessvale {

namespace detail {

struct CancelCallback
{
    quint64 id;
    QPointer<QObject> context;
    std::function<void()> callback;
};

struct CancelState
{
    std::mutex mutex;
    bool cancelled = false;
    quint64 nextId = 1;
    std::vector<CancelCallback> callbacks;
};

} // namespace detail

namespace {

void postCallback(const QPointer<QObject>& context, std::function<void()> callback)
{
    if (!context)
        return;
    QMetaObject::invokeMethod(context.data(), std::move(callback), Qt::QueuedConnection);
}

} // namespace

CancelledError::CancelledError()
    : std::runtime_error("The operation was cancelled.")
{
}

CancelRegistration::CancelRegistration(std::weak_ptr<detail::CancelState> state, quint64 id)
    : m_state(std::move(state))
    , m_id(id)
{
}

CancelRegistration::CancelRegistration(CancelRegistration&& other) noexcept
    : m_state(std::move(other.m_state))
    , m_id(std::exchange(other.m_id, 0))
{
}

CancelRegistration& CancelRegistration::operator=(CancelRegistration&& other) noexcept
{
    if (this != &other) {
        reset();
        m_state = std::move(other.m_state);
        m_id = std::exchange(other.m_id, 0);
    }
    return *this;
}

CancelRegistration::~CancelRegistration()
{
    reset();
}

void CancelRegistration::reset()
{
    if (auto state = m_state.lock(); state && m_id != 0) {
        std::lock_guard lock(state->mutex);
        std::erase_if(state->callbacks, [this](const detail::CancelCallback& c) { return c.id == m_id; });
    }
    m_state.reset();
    m_id = 0;
}

CancelToken::CancelToken(std::shared_ptr<detail::CancelState> state)
    : m_state(std::move(state))
{
}

bool CancelToken::isCancelled() const
{
    if (!m_state)
        return false;
    std::lock_guard lock(m_state->mutex);
    return m_state->cancelled;
}

void CancelToken::throwIfCancelled() const
{
    if (isCancelled())
        throw CancelledError();
}

CancelRegistration CancelToken::onCancel(QObject* context, std::function<void()> callback) const
{
    if (!m_state)
        return {};
    std::unique_lock lock(m_state->mutex);
    if (m_state->cancelled) {
        lock.unlock();
        postCallback(QPointer<QObject>(context), std::move(callback));
        return {};
    }
    const quint64 id = m_state->nextId++;
    m_state->callbacks.push_back({ id, QPointer<QObject>(context), std::move(callback) });
    return CancelRegistration(m_state, id);
}

CancelSource::CancelSource()
    : m_state(std::make_shared<detail::CancelState>())
{
}

CancelToken CancelSource::token() const
{
    return CancelToken(m_state);
}

void CancelSource::cancel()
{
    std::vector<detail::CancelCallback> callbacks;
    {
        std::lock_guard lock(m_state->mutex);
        if (m_state->cancelled)
            return;
        m_state->cancelled = true;
        callbacks.swap(m_state->callbacks);
    }
    for (auto& c : callbacks)
        postCallback(c.context, std::move(c.callback));
}

bool CancelSource::isCancelled() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->cancelled;
}

} // namespace tessvale
