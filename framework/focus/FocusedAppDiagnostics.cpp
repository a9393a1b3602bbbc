#include "focus/FocusedAppDiagnostics.h"

namespace tessvale {

QString FocusedAppDiagnostics::summary() const
{
    return QStringLiteral("%1 (%2) role=%3")
        .arg(appName, bundleIdentifier.value_or(QStringLiteral("unknown-bundle")),
            role.value_or(QStringLiteral("unknown-role")));
}

QString FocusedAppDiagnostics::detailedSummary() const
{
    QString line = QStringLiteral("%1 pid=%2 role=%3")
                       .arg(appName)
                       .arg(processIdentifier)
                       .arg(role.value_or(QStringLiteral("unknown-role")));
    if (title && !title->isEmpty())
        line += QStringLiteral(" title=") + *title;
    return line;
}

} // namespace tessvale
