#include "InsertionTexts.h"

#include "insertion/TextInsertionTypes.h"

namespace tessvale::testing {

namespace {

QString repeatToLength(const QString& seed, qsizetype characters)
{
    QString text;
    while (text.size() < characters)
        text += seed;
    return text.left(characters);
}

} // namespace

QString capitalAccentedParagraph()
{
    const QString seed = QStringLiteral(
        "Émile À Ça Ügur Östen Ärla Ångström Øresund Ñandú Łódź Škoda Žilina Őrség İzmir Ÿvonne ÉCOLE ÂME "
        "Dès que l'été arrive, Éloïse et Ôscar dînent à Zürich. ");
    return repeatToLength(seed, 300);
}

QString mixedTypingText()
{
    QString text
        = repeatToLength(QStringLiteral("The quick brown fox jumps over 13 lazy dogs; Ärger über Öl, Ça coûte 5 € — "
                                        "ÉTÉ à Łódź, ñ, ß, Ø! "),
            498);
    return text + QStringLiteral("🎤");
}

QString manyDistinctCharacters()
{
    QString text;
    for (char32_t c = 0x4e00; c < 0x4e00 + 45; ++c)
        text += QString::fromUcs4(&c, 1);
    return text;
}

} // namespace tessvale::testing
