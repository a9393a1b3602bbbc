#include "base/ApiKeyMatcher.h"

#include <QRegularExpression>

namespace tessvale {

namespace {

// The patterns' \s is Unicode white space (no-break, em, thin, ideographic spaces, line separators),
// as in the service's own ICU patterns; without the option it would be ASCII only.
constexpr QRegularExpression::PatternOptions kUnicode = QRegularExpression::UseUnicodePropertiesOption;

const QRegularExpression& memberPattern()
{
    static const QRegularExpression pattern(QStringLiteral(R"re(("?\b(?:x-tessvale-)?api[_-]?key"?\s*[:=]\s*))re"
                                                           R"re(("(?:[^"\\]|\\[\s\S]|\\\z)+(?:"|\z)|[^\s"&,;}]+))re"),
        kUnicode | QRegularExpression::CaseInsensitiveOption);
    return pattern;
}

const QRegularExpression& tokenPattern()
{
    static const QRegularExpression pattern(QStringLiteral(R"re(tv_(live|test)_[A-Za-z0-9_\-]+)re"), kUnicode);
    return pattern;
}

QString replaceAll(const QString& text, const QRegularExpression& pattern, ApiKeyMatch::Shape shape,
    const ApiKeyReplacement& replacement)
{
    QString result;
    qsizetype copied = 0;
    QRegularExpressionMatchIterator matches = pattern.globalMatch(text);
    while (matches.hasNext()) {
        const QRegularExpressionMatch found = matches.next();
        ApiKeyMatch match;
        match.shape = shape;
        match.text = found.captured(0);
        if (shape == ApiKeyMatch::Shape::member) {
            match.head = found.captured(1);
            match.value = found.captured(2);
            match.quoted = match.value.startsWith(QLatin1Char('"'));
        } else {
            match.kind = found.captured(1);
        }
        result += QStringView(text).mid(copied, found.capturedStart(0) - copied);
        result += replacement(match);
        copied = found.capturedEnd(0);
    }
    if (copied == 0)
        return text;
    result += QStringView(text).mid(copied);
    return result;
}

} // namespace

QString replaceApiKeys(const QString& text, const ApiKeyReplacement& replacement)
{
    // Most texts name no key at all; skipping the patterns for them keeps reports cheap.
    QString result = text;
    if (result.contains(QLatin1String("api"), Qt::CaseInsensitive))
        result = replaceAll(result, memberPattern(), ApiKeyMatch::Shape::member, replacement);
    if (result.contains(QLatin1String("tv_")))
        result = replaceAll(result, tokenPattern(), ApiKeyMatch::Shape::token, replacement);
    return result;
}

bool namesApiKey(QStringView name)
{
    static const QRegularExpression pattern(
        QStringLiteral("^(?:x-tessvale-)?api[_-]?key$"), kUnicode | QRegularExpression::CaseInsensitiveOption);
    return pattern.match(name.trimmed()).hasMatch();
}

} // namespace tessvale
