#pragma once

#include <optional>

#include <QString>

namespace tessvale {

// A member key made from any text (or an integer), as the two-spelling readers look members up by.
struct AnyCodingKey
{
    explicit AnyCodingKey(const QString& stringValue);
    explicit AnyCodingKey(int intValue);

    QString stringValue;
    std::optional<int> intValue;

    QString description() const;
    QString debugDescription() const;

    bool operator==(const AnyCodingKey& other) const = default;
};

} // namespace tessvale
