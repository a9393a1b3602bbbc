#pragma once

#include <optional>

#include <QString>

namespace tessvale {

// The frontmost application and what its focused element can accept.
struct FocusedAppDiagnostics
{
    QString appName;
    std::optional<QString> bundleIdentifier;
    qint32 processIdentifier = 0;
    std::optional<QString> role;
    std::optional<QString> subrole;
    std::optional<QString> title;
    bool canSetValue = false;
    bool canSetSelectedText = false;
    bool canSetSelectedTextRange = false;
    bool supportsUnicodeTypingFallback = false;

    QString summary() const;
    QString detailedSummary() const;

    friend bool operator==(const FocusedAppDiagnostics&, const FocusedAppDiagnostics&) = default;
};

} // namespace tessvale
