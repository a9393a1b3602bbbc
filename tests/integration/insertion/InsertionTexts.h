#pragma once

#include <QString>

namespace tessvale::testing {

inline QString accentedSample()
{
    return QStringLiteral("Grüße, naïve café — 🎤 test");
}

// 300 characters with capital accented letters (İ has no simple lower-case partner, Ø and Å do).
QString capitalAccentedParagraph();

// 500 characters mixing ASCII with accented letters, symbols and an emoji.
QString mixedTypingText();

// Distinct characters no layout has, more than the desktop has spare key codes (19), so that codes are
// reused within one text. Kept short: every keymap change makes each client reload its keymap.
QString manyDistinctCharacters();

} // namespace tessvale::testing
