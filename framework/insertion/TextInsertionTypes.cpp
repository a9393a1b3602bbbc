#include "insertion/TextInsertionTypes.h"

#include <QStringList>
#include <QTextBoundaryFinder>

namespace tessvale {

QString rawValue(TextInsertionDriver driver)
{
    switch (driver) {
    case TextInsertionDriver::pasteboard:
        return QStringLiteral("pasteboard");
    case TextInsertionDriver::selectedText:
        return QStringLiteral("selectedText");
    case TextInsertionDriver::unicodeTyping:
        return QStringLiteral("unicodeTyping");
    }
    return {};
}

std::optional<TextInsertionDriver> textInsertionDriverFromRawValue(const QString& raw)
{
    for (auto driver :
        { TextInsertionDriver::pasteboard, TextInsertionDriver::selectedText, TextInsertionDriver::unicodeTyping }) {
        if (rawValue(driver) == raw)
            return driver;
    }
    return std::nullopt;
}

namespace {

QString describe(TextInsertionError::Case errorCase, qsizetype inserted, qsizetype total)
{
    using enum TextInsertionError::Case;
    switch (errorCase) {
    case missingAccessibilityPermission:
        return QStringLiteral("Accessibility permission is required to insert text into the focused application.");
    case unableToWritePasteboard:
        return QStringLiteral("Unable to write to the clipboard.");
    case unableToEmitPaste:
        return QStringLiteral("Unable to emit the Shift+Insert paste shortcut.");
    case unableToTypeUnicode:
        return QStringLiteral("Unable to type text into the focused application.");
    case keyboardUnavailable:
        return QStringLiteral("The keyboard is in use by another application or the screen is locked, so no text "
                              "was typed.");
    case noFocusedElement:
        return QStringLiteral("No focused accessibility element is available.");
    case unableToRestoreFocus:
        return QStringLiteral(
            "Tessvale could not restore focus to the original text field. Click back into the field and try again.");
    case unableToSetSelectedText:
        return QStringLiteral("Unable to replace selected text in the focused accessibility element.");
    case modifierKeysHeld:
        return QStringLiteral(
            "Modifier keys (Ctrl, Alt, Shift or Super) are still held down. Release them and try again.");
    case transcriptNotDelivered:
        return QStringLiteral(
            "The transcript was not pasted: something copied at the same moment was pasted in its place.");
    case transcriptPartlyInserted:
        return QStringLiteral("Only %1 of %2 characters of the transcript were inserted.").arg(inserted).arg(total);
    case clipboardUnreadable:
        return QStringLiteral("The transcript was not pasted: the application that owns the clipboard did not hand "
                              "over its contents in time, and pasting would have lost them.");
    case pasteNotTaken:
        return QStringLiteral("The application did not take the paste (Shift+Insert) in time, so the transcript may "
                              "not have arrived. It is on the clipboard now: check the field and paste it if it is "
                              "missing.");
    case noTextFieldFocused:
        return QStringLiteral("No text field has focus, so nothing was inserted. Click into the field for the text and "
                              "try again.");
    case textNotTypeable:
        return QStringLiteral("The transcript has a tab or a line break that this field would take as a key press, so "
                              "nothing was typed.");
    case typingNotConfirmed:
        return QStringLiteral("The transcript was typed, but the application did not confirm that it received every "
                              "character. Check the text in the field.");
    }
    return {};
}

} // namespace

TextInsertionError::TextInsertionError(Case errorCase)
    : TextInsertionError(errorCase, 0, 0)
{
}

TextInsertionError::TextInsertionError(Case errorCase, qsizetype inserted, qsizetype total)
    : TessvaleError(describe(errorCase, inserted, total))
    , m_case(errorCase)
    , m_inserted(inserted)
    , m_total(total)
{
}

TextInsertionError TextInsertionError::partlyInserted(qsizetype insertedCharacters, qsizetype totalCharacters)
{
    return TextInsertionError(transcriptPartlyInserted, insertedCharacters, totalCharacters);
}

bool TextInsertionError::mayHaveChangedTarget() const
{
    return m_case == transcriptNotDelivered || m_case == transcriptPartlyInserted || m_case == pasteNotTaken
        || m_case == typingNotConfirmed;
}

TextInsertionServiceError::TextInsertionServiceError(const QStringList& failures, QList<TextInsertionError::Case> cases)
    : TessvaleError(QStringLiteral("All insertion strategies failed: ") + failures.join(QStringLiteral("; ")))
    , m_cases(std::move(cases))
{
}

qsizetype characterCount(const QString& text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}

qsizetype characterCountOfPrefix(const QString& text, qsizetype codePoints)
{
    qsizetype units = 0;
    for (qsizetype seen = 0; seen < codePoints && units < text.size(); ++seen)
        units += text.at(units).isHighSurrogate() && units + 1 < text.size() ? 2 : 1;
    return characterCount(text.left(units));
}

} // namespace tessvale
