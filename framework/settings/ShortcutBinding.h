#pragma once

#include <cstddef>
#include <functional>
#include <optional>

#include <QByteArray>
#include <QDebug>
#include <QJsonObject>
#include <QString>

#include "settings/DictationShortcutRole.h"
#include "settings/KeyCodes.h"
#include "settings/ShortcutGesture.h"
#include "settings/ShortcutModifiers.h"

namespace tessvale {

// One global dictation shortcut: how it is performed, with which modifiers and, for a key combo,
// which key (a Mac virtual key code).
struct ShortcutBinding
{
    ShortcutGesture gesture = ShortcutGesture::holdModifiers;
    ShortcutModifiers modifiers;
    std::optional<quint16> keyCode;

    // The Fn key is invisible to X11 on most PC keyboards, so the defaults use Control + Alt.
    static const ShortcutBinding defaultPushToTalk;
    static const ShortcutBinding defaultHandsFreeToggle;

    // "Hold Control + Alt", "Double-tap Super", "Control + Alt + Space".
    QString displayLabel() const;
    // "" for no key, the key's name when it has one, else "Unknown".
    static QString keyDisplayName(std::optional<quint16> keyCode);
    // Why this binding may not serve role, or nothing when it may.
    std::optional<QString> validationError(DictationShortcutRole role) const;

    // {"gesture": raw string, "modifiers": raw integer, "keyCode": integer only when present}.
    QJsonObject toJsonObject() const;
    QByteArray toJson() const;
    // A missing or null "keyCode" is no key code; a missing or malformed "gesture" or "modifiers", an
    // unknown gesture or a key code outside 0...65535 fails the whole decode.
    static std::optional<ShortcutBinding> fromJsonObject(const QJsonObject& object, QString* error = nullptr);
    static std::optional<ShortcutBinding> fromJson(const QByteArray& json, QString* error = nullptr);

    bool operator==(const ShortcutBinding&) const = default;
};

inline constexpr ShortcutBinding ShortcutBinding::defaultPushToTalk {
    ShortcutGesture::holdModifiers,
    ShortcutModifiers::control | ShortcutModifiers::option,
    std::nullopt,
};
inline constexpr ShortcutBinding ShortcutBinding::defaultHandsFreeToggle {
    ShortcutGesture::keyComboPress,
    ShortcutModifiers::control | ShortcutModifiers::option,
    MacKeyCode::space,
};

size_t qHash(const ShortcutBinding& binding, size_t seed = 0) noexcept;
QDebug operator<<(QDebug debug, const ShortcutBinding& binding);

} // namespace tessvale

template <> struct std::hash<tessvale::ShortcutBinding>
{
    size_t operator()(const tessvale::ShortcutBinding& binding) const noexcept { return tessvale::qHash(binding); }
};
