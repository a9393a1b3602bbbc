#include "settings/ShortcutBinding.h"

#include <cmath>
#include <limits>

#include <QHashFunctions>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>
#include <QStringList>
#include <QVariant>

namespace tessvale {

namespace {

const QString gestureKey = QStringLiteral("gesture");
const QString modifiersKey = QStringLiteral("modifiers");
const QString keyCodeKey = QStringLiteral("keyCode");

// An integral JSON number within [minimum, maximum]; fractions, other kinds and out-of-range values
// give nothing.
std::optional<qint64> exactInteger(const QJsonValue& value, qint64 minimum, qint64 maximum)
{
    if (!value.isDouble())
        return std::nullopt;
    const QVariant variant = value.toVariant();
    qint64 integer = 0;
    if (variant.typeId() == QMetaType::LongLong) {
        integer = variant.toLongLong();
    } else {
        const double number = value.toDouble();
        // 2^63 is exactly representable and is the first double outside qint64.
        if (!std::isfinite(number) || std::trunc(number) != number || number < -9223372036854775808.0
            || number >= 9223372036854775808.0)
            return std::nullopt;
        integer = static_cast<qint64>(number);
    }
    if (integer < minimum || integer > maximum)
        return std::nullopt;
    return integer;
}

std::optional<ShortcutBinding> fail(QString* error, const QString& message)
{
    if (error)
        *error = message;
    return std::nullopt;
}

std::optional<QString> modifierGestureError(const ShortcutBinding& binding)
{
    if (binding.keyCode)
        return QStringLiteral("Modifier gestures cannot include a non-modifier key.");
    if (!binding.modifiers.hasNonShiftModifier())
        return QStringLiteral("Choose at least one non-Shift modifier.");
    return std::nullopt;
}

} // namespace

QString ShortcutBinding::displayLabel() const
{
    switch (gesture) {
    case ShortcutGesture::holdModifiers:
        return QStringLiteral("Hold ") + modifiers.displayLabel();
    case ShortcutGesture::doubleTapModifiers:
        return QStringLiteral("Double-tap ") + modifiers.displayLabel();
    case ShortcutGesture::keyComboPress: {
        QStringList parts;
        const QString modifierLabel = modifiers.displayLabel();
        if (!modifierLabel.isEmpty())
            parts.append(modifierLabel);
        const QString keyLabel = keyDisplayName(keyCode);
        if (!keyLabel.isEmpty())
            parts.append(keyLabel);
        return parts.join(QStringLiteral(" + "));
    }
    }
    return {};
}

QString ShortcutBinding::keyDisplayName(std::optional<quint16> keyCode)
{
    if (!keyCode)
        return {};
    return namedKeyName(*keyCode).value_or(QStringLiteral("Unknown"));
}

std::optional<QString> ShortcutBinding::validationError(DictationShortcutRole role) const
{
    switch (role) {
    case DictationShortcutRole::pushToTalk:
        if (gesture != ShortcutGesture::holdModifiers)
            return QStringLiteral("Push to talk must use a modifier hold binding.");
        return modifierGestureError(*this);
    case DictationShortcutRole::handsFreeToggle:
        switch (gesture) {
        case ShortcutGesture::holdModifiers:
            return QStringLiteral("Hands-free toggle cannot use a hold binding.");
        case ShortcutGesture::doubleTapModifiers:
            return modifierGestureError(*this);
        case ShortcutGesture::keyComboPress:
            if (!keyCode)
                return QStringLiteral("A key combo binding must include a non-modifier key.");
            if (!modifiers.hasNonShiftModifier())
                return QStringLiteral("Choose at least one non-Shift modifier for global key combos.");
            if (!namedKeyName(*keyCode))
                return QStringLiteral("That key is not supported for global combo shortcuts.");
            return std::nullopt;
        }
        break;
    }
    return std::nullopt;
}

QJsonObject ShortcutBinding::toJsonObject() const
{
    QJsonObject object {
        { gestureKey, rawValue(gesture) },
        { modifiersKey, QJsonValue(modifiers.rawValue()) },
    };
    if (keyCode)
        object.insert(keyCodeKey, static_cast<int>(*keyCode));
    return object;
}

QByteArray ShortcutBinding::toJson() const
{
    return QJsonDocument(toJsonObject()).toJson(QJsonDocument::Compact);
}

std::optional<ShortcutBinding> ShortcutBinding::fromJsonObject(const QJsonObject& object, QString* error)
{
    const QJsonValue gestureValue = object.value(gestureKey);
    if (gestureValue.isUndefined())
        return fail(error, QStringLiteral("Missing \"gesture\"."));
    if (!gestureValue.isString())
        return fail(error, QStringLiteral("\"gesture\" is not a string."));
    const std::optional<ShortcutGesture> gesture = shortcutGestureFromRawValue(gestureValue.toString());
    if (!gesture)
        return fail(error, QStringLiteral("Unknown gesture \"%1\".").arg(gestureValue.toString()));

    const QJsonValue modifiersValue = object.value(modifiersKey);
    if (modifiersValue.isUndefined())
        return fail(error, QStringLiteral("Missing \"modifiers\"."));
    const std::optional<qint64> modifiers
        = exactInteger(modifiersValue, std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max());
    if (!modifiers)
        return fail(error, QStringLiteral("\"modifiers\" is not a 64-bit integer."));

    std::optional<quint16> keyCode;
    const QJsonValue keyCodeValue = object.value(keyCodeKey);
    if (!keyCodeValue.isUndefined() && !keyCodeValue.isNull()) {
        const std::optional<qint64> code = exactInteger(keyCodeValue, 0, std::numeric_limits<quint16>::max());
        if (!code)
            return fail(error, QStringLiteral("\"keyCode\" is not an unsigned 16-bit integer."));
        keyCode = static_cast<quint16>(*code);
    }
    return ShortcutBinding { *gesture, ShortcutModifiers(*modifiers), keyCode };
}

std::optional<ShortcutBinding> ShortcutBinding::fromJson(const QByteArray& json, QString* error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return fail(error, parseError.errorString());
    if (!document.isObject())
        return fail(error, QStringLiteral("A shortcut binding must be a JSON object."));
    return fromJsonObject(document.object(), error);
}

size_t qHash(const ShortcutBinding& binding, size_t seed) noexcept
{
    return qHashMulti(seed, static_cast<int>(binding.gesture), binding.modifiers.rawValue(),
        binding.keyCode.has_value(), binding.keyCode.value_or(0));
}

QDebug operator<<(QDebug debug, const ShortcutBinding& binding)
{
    QDebugStateSaver saver(debug);
    debug.nospace().noquote() << "ShortcutBinding(" << binding.toJson() << ", \"" << binding.displayLabel() << "\")";
    return debug;
}

} // namespace tessvale
