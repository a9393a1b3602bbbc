#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include <QPointer>

#include "base/TessvaleError.h"

class QObject;

namespace tessvale {

// Thrown by every cancellable await once its token is cancelled. Callers tell it apart by its type:
// a cancellation is never shown as a failure.
class CancelledError : public TessvaleError
{
public:
    CancelledError();
};

namespace detail {
struct CancelState;
}

// Unregisters its callback when destroyed, so a finished await leaves nothing behind in the token.
class CancelRegistration
{
public:
    CancelRegistration() = default;
    CancelRegistration(std::weak_ptr<detail::CancelState> state, quint64 id);
    CancelRegistration(CancelRegistration&& other) noexcept;
    CancelRegistration& operator=(CancelRegistration&& other) noexcept;
    CancelRegistration(const CancelRegistration&) = delete;
    CancelRegistration& operator=(const CancelRegistration&) = delete;
    ~CancelRegistration();

    void reset();

private:
    std::weak_ptr<detail::CancelState> m_state;
    quint64 m_id = 0;
};

// The observing side of a cancellation. A default-constructed token is never cancelled.
class CancelToken
{
public:
    CancelToken() = default;

    bool isCancelled() const;
    void throwIfCancelled() const;

    // Runs callback on context's thread through its event queue once the token is cancelled,
    // never inline inside cancel(). Dropped if context is gone by then.
    [[nodiscard]] CancelRegistration onCancel(QObject* context, std::function<void()> callback) const;

    // A token cancelled as soon as either this one or other is (at once, inside their cancel()), so
    // an owner's lifetime and a caller's cancellation can end one wait.
    CancelToken combinedWith(const CancelToken& other) const;

private:
    friend class CancelSource;
    explicit CancelToken(std::shared_ptr<detail::CancelState> state);
    std::shared_ptr<detail::CancelState> m_state;
};

// The owning side: copies share one cancellation.
class CancelSource
{
public:
    CancelSource();

    CancelToken token() const;
    void cancel();
    bool isCancelled() const;

private:
    std::shared_ptr<detail::CancelState> m_state;
};

} // namespace tessvale
