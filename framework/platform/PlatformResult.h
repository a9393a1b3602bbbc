#pragma once

#include <QString>

#include <utility>

namespace tessvale {

// What a fallible platform step did. A step that did not happen says why, for the user or the log;
// retry marks a refusal that may pass by itself (a busy service, a grab another client holds), which a
// caller that retries tries again and every other caller treats as a failure.
class [[nodiscard]] PlatformResult
{
public:
    enum class Kind {
        ok,
        retry,
        failed,
    };

    static PlatformResult ok() { return PlatformResult(Kind::ok, {}); }
    static PlatformResult retry(QString reason) { return PlatformResult(Kind::retry, std::move(reason)); }
    static PlatformResult failed(QString reason) { return PlatformResult(Kind::failed, std::move(reason)); }

    Kind kind() const { return m_kind; }
    bool isOk() const { return m_kind == Kind::ok; }
    bool canRetry() const { return m_kind == Kind::retry; }
    // Empty for ok.
    const QString& reason() const { return m_reason; }

    explicit operator bool() const { return isOk(); }
    bool operator==(const PlatformResult&) const = default;

private:
    PlatformResult(Kind kind, QString reason)
        : m_kind(kind)
        , m_reason(std::move(reason))
    {
    }

    Kind m_kind;
    QString m_reason;
};

} // namespace tessvale
