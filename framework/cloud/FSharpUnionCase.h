#pragma once

#include <optional>

#include <QJsonObject>
#include <QList>
#include <QString>

#include "cloud/JSONValue.h"
#include "cloud/WireDecoding.h"

namespace tessvale {

// The service's tagged-union envelope: {"Case": name} or {"Case": name, "Fields": [...]}.
// Deliberately without equality: callers compare the case name.
struct FSharpUnionCase
{
    FSharpUnionCase() = default;
    explicit FSharpUnionCase(const QString& caseName, std::optional<QList<JSONValue>> fields = std::nullopt);

    QString Case;
    std::optional<QList<JSONValue>> Fields;

    // "Case" (exactly that spelling) must be a string; "Fields" absent or null gives no list,
    // otherwise it must be an array. Other members are ignored.
    static FSharpUnionCase decode(const QJsonValue& value, const WireDecoder& decoder);
    // Writes "Fields" only when the list is present.
    QJsonObject toJSON() const;
};

} // namespace tessvale
