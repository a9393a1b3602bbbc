#pragma once

#include <optional>

#include <QList>
#include <QString>

#include "base/TessvaleError.h"
#include "focus/FocusedAppDiagnostics.h"

namespace tessvale {

enum class TextInsertionDriver {
    pasteboard,
    selectedText,
    unicodeTyping,
};

QString rawValue(TextInsertionDriver driver);
std::optional<TextInsertionDriver> textInsertionDriverFromRawValue(const QString& raw);

struct TextInsertionResult
{
    TextInsertionDriver driver = TextInsertionDriver::pasteboard;
    std::optional<FocusedAppDiagnostics> diagnostics;

    friend bool operator==(const TextInsertionResult&, const TextInsertionResult&) = default;
};

// The failures of one insertion step, thrown as an exception that compares by its case.
class TextInsertionError : public TessvaleError
{
public:
    enum class Case {
        missingAccessibilityPermission,
        unableToWritePasteboard,
        unableToEmitPaste,
        unableToTypeUnicode,
        // The session is locked or another application has grabbed the keyboard.
        keyboardUnavailable,
        noFocusedElement,
        unableToRestoreFocus,
        unableToSetSelectedText,
        // The user kept a modifier key held down, which would turn typed text into shortcuts.
        modifierKeysHeld,
        // The paste went out, but our text had been replaced by a copy made at that moment, and the
        // target pasted that copy instead.
        transcriptNotDelivered,
        // Part of the text reached the target before the driver had to stop (see the counts).
        transcriptPartlyInserted,
        // The clipboard's owner did not hand over all it holds in time: pasting would lose it, so
        // nothing was pasted.
        clipboardUnreadable,
        // The paste key went out, but the application did not ask for the text in time; it may
        // still, so the transcript stays on the clipboard.
        pasteNotTaken,
        // The captured element is a control that takes no text (a check box, a button): keys would
        // toggle or press it.
        noTextFieldFocused,
        // A tab, or a line break in a single-line field, would act as a key instead of arriving as
        // text: nothing was typed.
        textNotTypeable,
        // Every key went out, but the target did not confirm it read those typed on borrowed key codes.
        typingNotConfirmed,
    };
    using enum Case;

    TextInsertionError(Case errorCase);
    static TextInsertionError partlyInserted(qsizetype insertedCharacters, qsizetype totalCharacters);

    Case errorCase() const { return m_case; }
    // Of transcriptPartlyInserted: characters that reached the target, and of the whole text.
    qsizetype insertedCharacters() const { return m_inserted; }
    qsizetype totalCharacters() const { return m_total; }
    // The driver may already have changed the target: trying another driver could insert the text
    // twice, so the insertion ends with this error.
    bool mayHaveChangedTarget() const;

    friend bool operator==(const TextInsertionError& a, const TextInsertionError& b) { return a.m_case == b.m_case; }
    friend bool operator==(const TextInsertionError& a, Case b) { return a.m_case == b; }

private:
    TextInsertionError(Case errorCase, qsizetype inserted, qsizetype total);

    Case m_case;
    qsizetype m_inserted = 0;
    qsizetype m_total = 0;
};

// Every driver failed: domain "TextInsertionService", code 1, with the joined failure list.
class TextInsertionServiceError : public TessvaleError
{
public:
    explicit TextInsertionServiceError(const QStringList& failures, QList<TextInsertionError::Case> cases = {});

    static QString domain() { return QStringLiteral("TextInsertionService"); }
    int code() const { return 1; }
    // The drivers' failures that were insertion errors, in the order tried.
    const QList<TextInsertionError::Case>& failureCases() const { return m_cases; }

private:
    QList<TextInsertionError::Case> m_cases;
};

// The number of user-perceived characters (grapheme clusters) of text.
qsizetype characterCount(const QString& text);
// The same for the first codePoints code points of text.
qsizetype characterCountOfPrefix(const QString& text, qsizetype codePoints);

} // namespace tessvale
