#pragma once

#include <QJsonObject>
#include <QMap>
#include <QString>

namespace tessvale {

// Removes secrets from text bound for error monitoring: tv_live_ / tv_test_ API keys anywhere, the
// values of API-key members in JSON, headers, query strings and prose ("apiKey": "v",
// apiKey="v", apiKey: v, ...), and e-mail addresses (the account's, in "Authenticated as ...").
QString scrubSecrets(const QString& text);

// The same for a dictionary; the value under a key that names an API key is replaced as a whole.
QMap<QString, QString> scrubSecrets(const QMap<QString, QString>& values);

// The same for a whole report: every member name and string, at any depth.
QJsonObject scrubSecrets(const QJsonObject& report);

inline const QString& redactedText()
{
    static const QString text = QStringLiteral("[Filtered]");
    return text;
}

} // namespace tessvale
