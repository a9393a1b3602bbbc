#include "system/BrowserCommands.h"

namespace tessvale {

namespace {

struct Words
{
    QStringList words;
    QString failure;
};

bool isBlank(QChar character)
{
    return character == QLatin1Char(' ') || character == QLatin1Char('\t') || character == QLatin1Char('\n');
}

// Word splitting as sh does it, without expansion: a backslash outside quotes takes the next
// character as it is, single quotes keep everything up to the next one, and inside double quotes a
// backslash escapes only what sh lets it escape there.
Words splitWords(const QString& entry)
{
    Words result;
    QString word;
    bool inWord = false;
    const qsizetype size = entry.size();
    for (qsizetype at = 0; at < size; ++at) {
        const QChar character = entry.at(at);
        if (isBlank(character)) {
            if (inWord)
                result.words.append(word);
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (character == QLatin1Char('\\')) {
            if (++at == size)
                return { {}, QStringLiteral("ends in a backslash") };
            word.append(entry.at(at));
        } else if (character == QLatin1Char('\'')) {
            const qsizetype end = entry.indexOf(QLatin1Char('\''), at + 1);
            if (end < 0)
                return { {}, QStringLiteral("has an unterminated single quote") };
            word.append(entry.mid(at + 1, end - at - 1));
            at = end;
        } else if (character == QLatin1Char('"')) {
            bool closed = false;
            while (++at < size) {
                const QChar quoted = entry.at(at);
                if (quoted == QLatin1Char('"')) {
                    closed = true;
                    break;
                }
                if (quoted == QLatin1Char('\\') && at + 1 < size && QStringLiteral("\\\"$`").contains(entry.at(at + 1)))
                    ++at;
                word.append(entry.at(at));
            }
            if (!closed)
                return { {}, QStringLiteral("has an unterminated double quote") };
        } else {
            word.append(character);
        }
    }
    if (inWord)
        result.words.append(word);
    return result;
}

// "%s" becomes the address and "%%" a percent sign; any other percent sign stays. Whether the word
// held the address's place.
bool substitute(QString& word, const QString& address)
{
    if (!word.contains(QLatin1Char('%')))
        return false;
    QString substituted;
    bool placed = false;
    for (qsizetype at = 0; at < word.size(); ++at) {
        const QChar character = word.at(at);
        const QChar next = at + 1 < word.size() ? word.at(at + 1) : QChar();
        if (character == QLatin1Char('%') && next == QLatin1Char('s')) {
            substituted.append(address);
            placed = true;
            ++at;
        } else if (character == QLatin1Char('%') && next == QLatin1Char('%')) {
            substituted.append(QLatin1Char('%'));
            ++at;
        } else {
            substituted.append(character);
        }
    }
    word = substituted;
    return placed;
}

} // namespace

QList<BrowserCommand> browserCommands(const QString& browserVariable, const QString& address)
{
    QList<BrowserCommand> commands;
    for (const QString& entry : browserVariable.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        Words split = splitWords(entry);
        if (!split.failure.isEmpty()) {
            commands.append({ {}, QStringLiteral("BROWSER entry \"%1\" %2").arg(entry.trimmed(), split.failure) });
            continue;
        }
        if (split.words.isEmpty())
            continue;
        bool placed = false;
        for (QString& word : split.words)
            placed = substitute(word, address) || placed;
        if (!placed)
            split.words.append(address);
        commands.append({ split.words, {} });
    }
    return commands;
}

} // namespace tessvale
