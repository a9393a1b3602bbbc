#include "system/ReportScrubber.h"

#include <QJsonArray>
#include <QJsonValue>
#include <QRegularExpression>

#include "base/ApiKeyMatcher.h"

namespace tessvale {

namespace {

QString scrubbedMatch(const ApiKeyMatch& match)
{
    if (match.shape == ApiKeyMatch::Shape::token)
        return redactedText();
    // The name and the separator stay as written, so the report still shows which member it was.
    if (match.quoted)
        return match.head + QLatin1Char('"') + redactedText() + QLatin1Char('"');
    return match.head + redactedText();
}

// An e-mail address: a local part, "@" and a host of dotted labels whose last one (the top-level
// domain) begins with a letter, so a release name ("com.tessvale.mac@1.2+45") stays.
const QRegularExpression& emailAddressPattern()
{
    static const QRegularExpression pattern(QStringLiteral(
        R"([\p{L}\p{N}.!#$%&'*+/=?^_`{|}~-]+@(?:[\p{L}\p{N}](?:[\p{L}\p{N}-]*[\p{L}\p{N}])?\.)+\p{L}[\p{L}\p{N}-]*)"));
    return pattern;
}

QJsonValue scrubbedValue(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::String:
        return scrubSecrets(value.toString());
    case QJsonValue::Object:
        return scrubSecrets(value.toObject());
    case QJsonValue::Array: {
        QJsonArray scrubbed;
        for (const auto& item : value.toArray())
            scrubbed.append(scrubbedValue(item));
        return scrubbed;
    }
    default:
        return value;
    }
}

} // namespace

QString scrubSecrets(const QString& text)
{
    QString scrubbed = replaceApiKeys(text, scrubbedMatch);
    if (scrubbed.contains(QLatin1Char('@')))
        scrubbed.replace(emailAddressPattern(), redactedText());
    return scrubbed;
}

QMap<QString, QString> scrubSecrets(const QMap<QString, QString>& values)
{
    QMap<QString, QString> scrubbed;
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        scrubbed.insert(scrubSecrets(it.key()), namesApiKey(it.key()) ? redactedText() : scrubSecrets(it.value()));
    return scrubbed;
}

QJsonObject scrubSecrets(const QJsonObject& report)
{
    QJsonObject scrubbed;
    for (auto it = report.constBegin(); it != report.constEnd(); ++it) {
        const bool secret = it.value().isString() && namesApiKey(it.key());
        scrubbed.insert(scrubSecrets(it.key()), secret ? QJsonValue(redactedText()) : scrubbedValue(it.value()));
    }
    return scrubbed;
}

} // namespace tessvale
