#include "system/ReportScrubber.h"

#include <QRegularExpression>

namespace tessvale {

namespace {

bool namesApiKey(const QString& key)
{
    static const QRegularExpression pattern(
        QStringLiteral("^(x-tessvale-)?api[_-]?key$"), QRegularExpression::CaseInsensitiveOption);
    return pattern.match(key.trimmed()).hasMatch();
}

} // namespace

QString scrubSecrets(const QString& text)
{
    static const QRegularExpression apiKeys(QStringLiteral("tv_(?:live|test)_[A-Za-z0-9_\\-]*"));
    // "apiKey": "..." in JSON, whatever the capitalization. Escapes are read whole (an escaped quote
    // cannot end the value early), and a value cut off before its closing quote is removed to the end.
    static const QRegularExpression jsonMember(
        QStringLiteral(R"re(("(?:x-tessvale-)?api[_-]?key"\s*:\s*)"(?:[^"\\]|\\[\s\S]|\\\z)*(?:"|\z))re"),
        QRegularExpression::CaseInsensitiveOption);
    // apiKey=... and x-tessvale-api-key: ... in query strings, headers and log lines.
    static const QRegularExpression assignment(
        QStringLiteral("(\\b(?:x-tessvale-)?api[_-]?key\"?\\s*[:=]\\s*)(?![\\s\"])[^\\s&,;}\"]+"),
        QRegularExpression::CaseInsensitiveOption);
    QString scrubbed = text;
    scrubbed.replace(apiKeys, redactedText());
    scrubbed.replace(jsonMember, QStringLiteral("\\1\"") + redactedText() + QLatin1Char('"'));
    scrubbed.replace(assignment, QStringLiteral("\\1") + redactedText());
    return scrubbed;
}

QMap<QString, QString> scrubSecrets(const QMap<QString, QString>& values)
{
    QMap<QString, QString> scrubbed;
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        scrubbed.insert(scrubSecrets(it.key()), namesApiKey(it.key()) ? redactedText() : scrubSecrets(it.value()));
    return scrubbed;
}

} // namespace tessvale
