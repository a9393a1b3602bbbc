#include "cloud/AnyCodingKey.h"

namespace tessvale {

AnyCodingKey::AnyCodingKey(const QString& text)
    : stringValue(text)
{
}

AnyCodingKey::AnyCodingKey(int number)
    : stringValue(QString::number(number))
    , intValue(number)
{
}

QString AnyCodingKey::description() const
{
    const QString intText = intValue ? QString::number(*intValue) : QStringLiteral("nil");
    return QStringLiteral("AnyCodingKey(stringValue: \"%1\", intValue: %2)").arg(stringValue, intText);
}

QString AnyCodingKey::debugDescription() const
{
    return description();
}

} // namespace tessvale
