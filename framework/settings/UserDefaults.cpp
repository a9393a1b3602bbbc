#include "settings/UserDefaults.h"

#include <QLocale>

namespace tessvale {

namespace {

bool isIntegerType(int typeId)
{
    switch (typeId) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
    case QMetaType::ULong:
        return true;
    default:
        return false;
    }
}

bool isFloatingType(int typeId)
{
    return typeId == QMetaType::Double || typeId == QMetaType::Float;
}

} // namespace

std::optional<QString> UserDefaults::string(const QString& key) const
{
    const QVariant value = object(key);
    const int typeId = value.typeId();
    if (typeId == QMetaType::QString)
        return value.toString();
    if (isIntegerType(typeId))
        return value.toString();
    if (isFloatingType(typeId))
        return QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
    return std::nullopt;
}

std::optional<bool> UserDefaults::boolean(const QString& key) const
{
    const QVariant value = object(key);
    const int typeId = value.typeId();
    if (typeId == QMetaType::Bool)
        return value.toBool();
    if (isIntegerType(typeId) || isFloatingType(typeId)) {
        const double number = value.toDouble();
        if (number == 0.0 || number == 1.0)
            return number == 1.0;
    }
    return std::nullopt;
}

std::optional<QByteArray> UserDefaults::data(const QString& key) const
{
    const QVariant value = object(key);
    if (value.typeId() == QMetaType::QByteArray)
        return value.toByteArray();
    return std::nullopt;
}

std::optional<QVariantMap> UserDefaults::dictionary(const QString& key) const
{
    const QVariant value = object(key);
    if (value.typeId() == QMetaType::QVariantMap)
        return value.toMap();
    if (value.typeId() == QMetaType::QVariantHash) {
        QVariantMap map;
        const QVariantHash hash = value.toHash();
        for (auto it = hash.cbegin(); it != hash.cend(); ++it)
            map.insert(it.key(), it.value());
        return map;
    }
    return std::nullopt;
}

} // namespace tessvale
