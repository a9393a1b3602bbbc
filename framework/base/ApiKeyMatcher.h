#pragma once

#include <functional>

#include <QString>
#include <QStringView>

namespace tessvale {

// One place in a text where an API key shows.
struct ApiKeyMatch
{
    enum class Shape {
        // A name for an API key, ":" or "=", and its value: "apiKey": "v", apiKey="v", apiKey=v,
        // x-tessvale-api-key: v.
        member,
        // A key itself: tv_live_... or tv_test_....
        token,
    };

    Shape shape = Shape::member;
    QString text; // the whole match
    QString head; // member: the name and the separator, as written
    QString value; // member: the value, with its quotes when it has them
    bool quoted = false; // member: the value is in double quotes
    QString kind; // token: "live" or "test"
};

using ApiKeyReplacement = std::function<QString(const ApiKeyMatch&)>;

// Replaces every member, then every key left, by what replacement makes of it. Members match
// whatever the letter case of the name; any Unicode space may surround the separator. A quoted value
// is read as a JSON string (an escaped quote does not end it) and runs to the end of a text cut off
// inside it; an empty quoted value is no match. Keys are matched case-sensitively.
QString replaceApiKeys(const QString& text, const ApiKeyReplacement& replacement);

// "apiKey", "api_key", "api-key" and "x-tessvale-api-key", in any letter case.
bool namesApiKey(QStringView name);

} // namespace tessvale
