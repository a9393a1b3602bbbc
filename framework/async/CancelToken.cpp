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
    // Tokens combined from this one: cancelled with it, at once.
    std::vector<std::weak_ptr<CancelState>> children;
};

} // namespace detail

namespace {

void postCallback(const QPointer<QObject>& context, std::function<void()> callback)
{
    if (!context)
        return;
    QMetaObject::invokeMethod(context.data(), std::move(callback), Qt::QueuedConnection);
}

// Marks state and every token combined from it as cancelled, then posts their callbacks.
void cancelState(const std::shared_ptr<detail::CancelState>& state)
{
    std::vector<detail::CancelCallback> callbacks;
    std::vector<std::weak_ptr<detail::CancelState>> children;
    {
        std::lock_guard lock(state->mutex);
        if (state->cancelled)
            return;
        state->cancelled = true;
        callbacks.swap(state->callbacks);
        children.swap(state->children);
    }
    for (auto& c : callbacks)
        postCallback(c.context, std::move(c.callback));
    for (const auto& child : children) {
        if (auto alive = child.lock())
            cancelState(alive);
    }
}

// Links child to parent; false when parent is cancelled already.
bool adopt(const std::shared_ptr<detail::CancelState>& parent, const std::shared_ptr<detail::CancelState>& child)
{
    std::lock_guard lock(parent->mutex);
    if (parent->cancelled)
        return false;
    std::erase_if(parent->children, [](const auto& c) { return c.expired(); });
    parent->children.push_back(child);
    return true;
}

} // namespace

CancelledError::CancelledError()
    : TessvaleError(QStringLiteral("The operation was cancelled."))
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

CancelToken CancelToken::combinedWith(const CancelToken& other) const
{
    if (!m_state)
        return other;
    if (!other.m_state || other.m_state == m_state)
        return *this;
    auto combined = std::make_shared<detail::CancelState>();
    // A new state has no callbacks yet: marking it cancelled needs no posting.
    if (!adopt(m_state, combined) || !adopt(other.m_state, combined)) {
        std::lock_guard lock(combined->mutex);
        combined->cancelled = true;
    }
    return CancelToken(combined);
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
    cancelState(m_state);
}

bool CancelSource::isCancelled() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->cancelled;
}

} // namespace tessvale
