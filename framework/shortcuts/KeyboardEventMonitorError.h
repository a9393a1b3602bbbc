#pragma once

#include <exception>

#include <QByteArray>
#include <QString>

namespace tessvale {

// Why global keyboard monitoring could not start.
class KeyboardEventMonitorError : public std::exception
{
public:
    enum class Case {
        unavailable,
    };

    // detail: the platform's own reason, for the log only.
    explicit KeyboardEventMonitorError(Case errorCase = Case::unavailable, QString detail = {});

    Case errorCase() const { return m_case; }
    QString detail() const { return m_detail; }
    // The text the user sees.
    QString localizedDescription() const;
    const char* what() const noexcept override { return m_what.constData(); }

private:
    Case m_case;
    QString m_detail;
    QByteArray m_what;
};

} // namespace tessvale
