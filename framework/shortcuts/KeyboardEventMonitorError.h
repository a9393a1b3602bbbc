#pragma once

#include <QString>

#include "base/TessvaleError.h"

namespace tessvale {

// Why global keyboard monitoring could not start.
class KeyboardEventMonitorError : public TessvaleError
{
public:
    enum class Case {
        unavailable,
    };

    // detail: the platform's own reason, for the log only.
    explicit KeyboardEventMonitorError(Case errorCase = Case::unavailable, QString detail = {});

    Case errorCase() const { return m_case; }
    QString detail() const { return m_detail; }

private:
    Case m_case;
    QString m_detail;
};

} // namespace tessvale
