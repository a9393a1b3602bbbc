#pragma once

#include <QMap>
#include <QString>

namespace tessvale {

// Removes secrets from text bound for error monitoring: tv_live_ / tv_test_ API keys anywhere, and
// the values of "apiKey" members (any spelling) in JSON, headers and query strings.
QString scrubSecrets(const QString& text);

// The same for a dictionary; the value under a key that names an API key is replaced as a whole.
QMap<QString, QString> scrubSecrets(const QMap<QString, QString>& values);

inline const QString& redactedText()
{
    static const QString text = QStringLiteral("[Filtered]");
    return text;
}

} // namespace tessvale
