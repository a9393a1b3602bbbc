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

} // namespace tessvale::testing
