#include "InsertionFixture.h"

using namespace tessvale;
using namespace tessvale::testing;
using namespace std::chrono_literals;

namespace {

using Driver = TextInsertionDriver;

class PasteboardDriverTest : public InsertionFixture
{
protected:
    void SetUp() override
    {
        InsertionFixture::SetUp();
        hooks.enabledDrivers = QList<Driver> { Driver::pasteboard };
    }
};

TEST_F(PasteboardDriverTest, SnapshotKeepsDataBeforeStringAndEveryItem)
{
    ClipboardTypeContent both { QStringLiteral("text/html"), QByteArray("<b>x</b>"), QStringLiteral("x"),
        std::nullopt };
    ClipboardTypeContent stringOnly { QStringLiteral("text/plain"), std::nullopt, QStringLiteral("x"), std::nullopt };
    ClipboardTypeContent nothing { QStringLiteral("application/x-empty"), std::nullopt, std::nullopt, std::nullopt };
    ClipboardTypeContent plist { QStringLiteral("application/x-list"), std::nullopt, std::nullopt,
        QVariant(QStringList { "a" }) };
    const PasteboardSnapshot snapshot = makePasteboardSnapshot(
        { ClipboardItemContent { { both, stringOnly, nothing, plist } }, ClipboardItemContent { { nothing } } });
    ASSERT_EQ(snapshot.size(), 2);
    ASSERT_EQ(snapshot[0].representations.size(), 3);
    EXPECT_TRUE(std::holds_alternative<PasteboardSnapshotItem::Data>(snapshot[0].representations[0].second));
    EXPECT_TRUE(std::holds_alternative<PasteboardSnapshotItem::String>(snapshot[0].representations[1].second));
    EXPECT_EQ(snapshot[0].representations[2].first, QStringLiteral("application/x-list"));
    EXPECT_TRUE(snapshot[1].representations.isEmpty());
    const auto entries = restoreEntries(snapshot);
    EXPECT_EQ(entries[0][0].value.typeId(), QMetaType::QByteArray);
    EXPECT_EQ(entries[0][1].value.typeId(), QMetaType::QString);
}

TEST_F(PasteboardDriverTest, OffersTextOnBothSelectionsAndRestoresAfterTheTargetFetched)
{
    clipboard->copyByUser(ClipboardSelection::clipboard, QStringLiteral("user clip"));
    clipboard->copyByUser(ClipboardSelection::primary, QStringLiteral("user primary"));
    injector->onPaste = [this] {
        EXPECT_EQ(clipboard->text(ClipboardSelection::clipboard), QStringLiteral("dictated"));
        EXPECT_EQ(clipboard->text(ClipboardSelection::primary), QStringLiteral("dictated"));
        clipboard->fetch(ClipboardSelection::clipboard);
    };
    auto outcome = start(QStringLiteral("dictated"));
    advance(340ms);
    EXPECT_EQ(clipboard->text(ClipboardSelection::clipboard), QStringLiteral("dictated")) << "kept at least 0.35 s";
    advance(20ms);
    EXPECT_TRUE(outcome->done);
    EXPECT_EQ(clipboard->text(ClipboardSelection::clipboard), QStringLiteral("user clip"));
    EXPECT_EQ(clipboard->text(ClipboardSelection::primary), QStringLiteral("user primary"));
}

TEST_F(PasteboardDriverTest, UnfetchedTextIsKeptUntilTheTwoSecondCap)
{
    injector->onPaste = {};
    clipboard->copyByUser(ClipboardSelection::clipboard, QStringLiteral("user clip"));
    auto outcome = start(QStringLiteral("dictated"));
    advance(1500ms);
    EXPECT_FALSE(outcome->done);
    clipboard->fetch(ClipboardSelection::primary); // a slow terminal fetches late
    advance(30ms);
    EXPECT_TRUE(outcome->result);
    EXPECT_EQ(clipboard->text(ClipboardSelection::clipboard), QStringLiteral("user clip"));
}

TEST_F(PasteboardDriverTest, APasteNobodyTookByTheCapIsNoSuccessAndTheTranscriptStaysOnTheClipboard)
{
    hooks.enabledDrivers = QList<Driver> { Driver::pasteboard, Driver::unicodeTyping };
    // Requests that are not the paste: the formats looked at, and a copy made by another application
    // (a clipboard manager, or the application's own reading on the owner's change).
    const std::function<void()> notThePaste[] = {
        [] {},
        [this] { clipboard->fetchOnItsOwn(ClipboardSelection::clipboard, false); },
        [this] { clipboard->fetchOnItsOwn(ClipboardSelection::clipboard, true); },
        [this] { clipboard->fetchOnItsOwn(ClipboardSelection::primary, true); },
    };
    for (const bool restore : { true, false }) {
        for (size_t row = 0; row < std::size(notThePaste); ++row) {
            SCOPED_TRACE(::testing::Message() << "row " << row << (restore ? " restoring" : ""));
            clipboard->copyByUser(ClipboardSelection::clipboard, QStringLiteral("user clip"));
            injector->events.clear();
            injector->onPaste = notThePaste[row];
            auto outcome = start(QStringLiteral("dictated"), nullptr, restore);
            advance(1990ms);
            EXPECT_FALSE(outcome->done);
            runUntilDone(outcome);
            EXPECT_EQ(outcome->errorCase(), TextInsertionError::pasteNotTaken);
            EXPECT_EQ(injector->events, QStringList { QStringLiteral("paste") }) << "nothing typed after it";
            // A late paste takes the transcript, never the user's own clipboard.
            EXPECT_EQ(clipboard->text(ClipboardSelection::clipboard), QStringLiteral("dictated"));
            EXPECT_EQ(clipboard->text(ClipboardSelection::primary), QStringLiteral("dictated"));
        }
    }
}

TEST_F(PasteboardDriverTest, WhatTheUserCopiedDuringTheWaitIsNotOverwritten)
{
    clipboard->copyByUser(ClipboardSelection::clipboard, QStringLiteral("old"));
    auto outcome = start(QStringLiteral("dictated"));
    advance(100ms);
    clipboard->copyByUser(ClipboardSelection::clipboard, QStringLiteral("copied meanwhile"));
    runUntilDone(outcome);
    EXPECT_EQ(clipboard->text(ClipboardSelection::clipboard), QStringLiteral("copied meanwhile"));
    EXPECT_EQ(clipboard->clipboard.restoreCount, 0);
    EXPECT_EQ(clipboard->primary.restoreCount, 1);
}

TEST_F(PasteboardDriverTest, EmptySelectionsStayEmpty)
{
    auto outcome = start(QStringLiteral("dictated"));
    runUntilDone(outcome);
    ASSERT_TRUE(outcome->result);
    EXPECT_TRUE(clipboard->clipboard.items.isEmpty());
    EXPECT_TRUE(clipboard->primary.items.isEmpty());
    EXPECT_EQ(clipboard->clipboard.restoreCount, 1);
}

TEST_F(PasteboardDriverTest, WithoutRestoreTheTextStaysAndTheFetchEndsTheWait)
{
    clipboard->copyByUser(ClipboardSelection::clipboard, QStringLiteral("old"));
    auto outcome = start(QStringLiteral("dictated"), nullptr, false);
    QCoreApplication::processEvents();
    EXPECT_TRUE(outcome->result);
    EXPECT_EQ(clipboard->text(ClipboardSelection::clipboard), QStringLiteral("dictated"));
    EXPECT_EQ(clipboard->clipboard.restoreCount, 0);
}

TEST_F(PasteboardDriverTest, FailedPasteRestoresBeforeTheErrorIsReported)
{
    clipboard->copyByUser(ClipboardSelection::clipboard, QStringLiteral("old"));
    injector->pasteWorks = false;
    auto outcome = start(QStringLiteral("dictated"));
    QCoreApplication::processEvents();
    EXPECT_TRUE(outcome->done);
    EXPECT_EQ(outcome->errorText(),
        QStringLiteral("All insertion strategies failed: pasteboard: Unable to emit the Shift+Insert paste shortcut."));
    EXPECT_EQ(clipboard->text(ClipboardSelection::clipboard), QStringLiteral("old"));
}

TEST_F(PasteboardDriverTest, FailedWriteRestoresAndReportsUnableToWrite)
{
    clipboard->copyByUser(ClipboardSelection::clipboard, QStringLiteral("old"));
    clipboard->primary.writeFails = true;
    auto outcome = start(QStringLiteral("dictated"));
    runUntilDone(outcome);
    EXPECT_EQ(outcome->errorText(),
        QStringLiteral("All insertion strategies failed: pasteboard: Unable to write to the clipboard."));
    EXPECT_EQ(clipboard->text(ClipboardSelection::clipboard), QStringLiteral("old"));
    EXPECT_TRUE(injector->events.isEmpty());
}

TEST_F(PasteboardDriverTest, AClipboardNotReadWholeIsNeverPastedOverWhenItIsToComeBack)
{
    hooks.enabledDrivers = QList<Driver> { Driver::pasteboard, Driver::unicodeTyping };
    clipboard->primary.readIncomplete = true;
    for (const bool restore : { true, false }) {
        SCOPED_TRACE(restore ? "restoring" : "not restoring");
        clipboard->copyByUser(ClipboardSelection::clipboard, QStringLiteral("old"));
        injector->events.clear();
        auto outcome = start(QStringLiteral("dictated"), nullptr, restore);
        runUntilDone(outcome);
        ASSERT_TRUE(outcome->result);
        EXPECT_EQ(outcome->result->driver, restore ? Driver::unicodeTyping : Driver::pasteboard);
        EXPECT_EQ(injector->events, QStringList { restore ? "type:dictated" : "paste" });
        EXPECT_EQ(clipboard->text(ClipboardSelection::clipboard), restore ? "old" : "dictated");
    }
}

TEST_F(PasteboardDriverTest, AClipboardNotReadWholeIsReadOnceEvenWhenItsOwnerKeepsChanging)
{
    // Each read of an owner that does not hand everything over may take the whole time limit.
    hooks.enabledDrivers = QList<Driver> { Driver::pasteboard, Driver::unicodeTyping };
    clipboard->clipboard.readIncomplete = true;
    int reads = 0;
    clipboard->onRead = [this, &reads](ClipboardSelection selection) {
        ++reads;
        clipboard->copyByUser(selection, QStringLiteral("churn"));
    };
    auto outcome = start(QStringLiteral("dictated"));
    runUntilDone(outcome);
    ASSERT_TRUE(outcome->result);
    EXPECT_EQ(outcome->result->driver, Driver::unicodeTyping);
    EXPECT_EQ(reads, 2) << "one read of each selection";
}

TEST_F(PasteboardDriverTest, WaitsForHeldModifiersToBeReleased)
{
    injector->heldSequence = { { QStringLiteral("Control_L") }, { QStringLiteral("Control_L") }, {} };
    auto outcome = start(QStringLiteral("dictated"), nullptr, false);
    QCoreApplication::processEvents();
    EXPECT_TRUE(injector->events.isEmpty());
    advance(40ms);
    EXPECT_TRUE(injector->events.isEmpty());
    advance(40ms);
    EXPECT_EQ(injector->events, QStringList { QStringLiteral("paste") });
}

TEST_F(PasteboardDriverTest, ModifiersHeldTooLongFailWithAClearErrorAndTouchNothing)
{
    clipboard->copyByUser(ClipboardSelection::clipboard, QStringLiteral("old"));
    injector->heldSequence = { { QStringLiteral("Alt_L") } };
    auto outcome = start(QStringLiteral("dictated"));
    advance(1990ms);
    EXPECT_FALSE(outcome->done);
    runUntilDone(outcome);
    EXPECT_EQ(outcome->errorText(),
        QStringLiteral("All insertion strategies failed: pasteboard: Modifier keys (Ctrl, Alt, Shift or Super) are "
                       "still held down. Release them and try again."));
    EXPECT_TRUE(injector->events.isEmpty());
    EXPECT_EQ(clipboard->text(ClipboardSelection::clipboard), QStringLiteral("old"));
}

TEST_F(PasteboardDriverTest, PasteTakenOverBeforeTheTargetFetchedIsNotDeliveredAndNotRetried)
{
    hooks.enabledDrivers = QList<Driver> { Driver::pasteboard, Driver::unicodeTyping };
    injector->onPaste = {};
    for (bool fetchedFirst : { true, false }) {
        clipboard->copyByUser(ClipboardSelection::clipboard, QStringLiteral("old"));
        injector->events.clear();
        auto outcome = start(QStringLiteral("dictated"));
        advance(50ms);
        if (fetchedFirst)
            clipboard->fetch(ClipboardSelection::clipboard);
        clipboard->copyByUser(ClipboardSelection::clipboard, QStringLiteral("newer"));
        runUntilDone(outcome);
        EXPECT_EQ(outcome->errorCase(),
            fetchedFirst ? std::nullopt : std::optional(TextInsertionError::transcriptNotDelivered));
        EXPECT_EQ(injector->events, QStringList { QStringLiteral("paste") }) << "no other driver";
        EXPECT_EQ(clipboard->text(ClipboardSelection::clipboard), QStringLiteral("newer"));
    }
}

TEST_F(PasteboardDriverTest, ACopyLandingWhileTheClipboardIsReadIsWhatComesBack)
{
    clipboard->copyByUser(ClipboardSelection::clipboard, QStringLiteral("old"));
    int reads = 0;
    clipboard->onRead = [this, &reads](ClipboardSelection selection) {
        if (selection == ClipboardSelection::clipboard && ++reads == 1)
            clipboard->copyByUser(ClipboardSelection::clipboard, QStringLiteral("newer"));
    };
    auto outcome = start(QStringLiteral("dictated"));
    runUntilDone(outcome);
    ASSERT_TRUE(outcome->result);
    EXPECT_EQ(clipboard->text(ClipboardSelection::clipboard), QStringLiteral("newer"));
}

// --- serialization and cancellation ---------------------------------------------------------------

TEST_F(PasteboardDriverTest, ASecondInsertionWaitsForTheFirstToRestoreTheClipboard)
{
    clipboard->copyByUser(ClipboardSelection::clipboard, QStringLiteral("user"));
    auto first = start(QStringLiteral("one"));
    auto second = start(QStringLiteral("two"));
    QCoreApplication::processEvents();
    EXPECT_EQ(injector->events, QStringList { QStringLiteral("paste") });
    runUntilDone(first);
    runUntilDone(second);
    EXPECT_EQ(injector->events, (QStringList { QStringLiteral("paste"), QStringLiteral("paste") }));
    EXPECT_TRUE(first->result && second->result);
    // The second snapshot saw the user's text again, not the first dictation.
    EXPECT_EQ(clipboard->text(ClipboardSelection::clipboard), QStringLiteral("user"));
}

TEST_F(PasteboardDriverTest, CancelledInsertionEmitsNothingAfterItsCancellation)
{
    clipboard->copyByUser(ClipboardSelection::clipboard, QStringLiteral("user"));
    injector->heldSequence = { { QStringLiteral("Control_L") }, { QStringLiteral("Control_L") }, {} };
    CancelSource source;
    auto outcome = start(QStringLiteral("dictated"), nullptr, true, false, source.token());
    advance(10ms);
    source.cancel();
    runUntilDone(outcome);
    EXPECT_TRUE(outcome->cancelled());
    EXPECT_TRUE(injector->events.isEmpty());
    EXPECT_EQ(clipboard->text(ClipboardSelection::clipboard), QStringLiteral("user"));
}

TEST_F(PasteboardDriverTest, InsertionCancelledWhileQueuedNeverRuns)
{
    auto first = start(QStringLiteral("one"));
    CancelSource source;
    auto second = start(QStringLiteral("two"), nullptr, true, false, source.token());
    auto third = start(QStringLiteral("three"));
    source.cancel();
    runUntilDone(first);
    runUntilDone(third);
    EXPECT_TRUE(second->cancelled());
    EXPECT_TRUE(third->result);
    EXPECT_EQ(injector->events.size(), 2);
}

// --- selected text ---------------------------------------------------------------------------------

class SelectedTextDriverTest : public InsertionFixture
{
protected:
    void SetUp() override
    {
        InsertionFixture::SetUp();
        hooks.enabledDrivers = QList<Driver> { Driver::selectedText };
    }
};

TEST_F(SelectedTextDriverTest, ReplacesTheSelectionAndConfirmsByReadingBack)
{
    focusTargetField(QStringLiteral("Hello world"));
    accessibility->texts[QStringLiteral("field")].selectionStart = 6;
    auto outcome = start(QStringLiteral("Grüße 🎤"));
    runUntilDone(outcome);
    ASSERT_TRUE(outcome->result) << outcome->errorText().toStdString();
    EXPECT_EQ(accessibility->texts[QStringLiteral("field")].text, QStringLiteral("Hello Grüße 🎤"));
}

TEST_F(SelectedTextDriverTest, ReportedSuccessWithoutChangeIsAFailure)
{
    focusTargetField(QStringLiteral("abc"));
    accessibility->replaceBehaviour = FakeAccessibility::ReplaceBehaviour::reportsSuccessAndDoesNothing;
    auto outcome = start(QStringLiteral("text"));
    runUntilDone(outcome);
    EXPECT_EQ(outcome->errorText(),
        QStringLiteral("All insertion strategies failed: selectedText: Unable to replace selected text in the focused "
                       "accessibility element."));
}

TEST_F(SelectedTextDriverTest, TruncatedInsertionIsAFailure)
{
    focusTargetField();
    accessibility->replaceBehaviour = FakeAccessibility::ReplaceBehaviour::truncates;
    auto outcome = start(QStringLiteral("naïve café"));
    runUntilDone(outcome);
    EXPECT_TRUE(outcome->error);
}

TEST_F(SelectedTextDriverTest, AFieldChangedIntoSomethingElseEndsTheInsertionWithoutTyping)
{
    hooks.enabledDrivers = QList<Driver> { Driver::selectedText, Driver::unicodeTyping };
    focusTargetField(QStringLiteral("Hi "));
    accessibility->replaceBehaviour = FakeAccessibility::ReplaceBehaviour::truncates;
    auto outcome = start(QStringLiteral("naïve café"));
    runUntilDone(outcome);
    EXPECT_EQ(outcome->errorText(), QStringLiteral("Only 5 of 10 characters of the transcript were inserted."));
    EXPECT_TRUE(injector->events.isEmpty());
}

TEST_F(SelectedTextDriverTest, UsesTheElementFocusedNowNotTheCapturedOne)
{
    accessibility->focused = fakeElement(QStringLiteral("second"));
    accessibility->texts[QStringLiteral("second")] = AccessibleTextState {};
    auto outcome = start(QStringLiteral("x"));
    runUntilDone(outcome);
    ASSERT_TRUE(outcome->result);
    EXPECT_EQ(accessibility->texts[QStringLiteral("second")].text, QStringLiteral("x"));
}

TEST_F(SelectedTextDriverTest, CharacterCountIsGraphemeClusters)
{
    EXPECT_EQ(characterCount(QStringLiteral("e\u0301🎤a")), 3);
    EXPECT_EQ(characterCountOfPrefix(QStringLiteral("🎤a🎤b"), 3), 3);
}

// --- typing ----------------------------------------------------------------------------------------

class TypingDriverTest : public InsertionFixture
{
};

struct StoppedTypingCase
{
    const char* name;
    // What happens after the first batch of keys.
    std::function<void(FakeWindowSystem&)> afterFirstBatch;
    qsizetype failAfter;
    bool confirmsReading;
    QString error;
};

void PrintTo(const StoppedTypingCase& row, std::ostream* out)
{
    *out << row.name;
}

class StoppedTypingTest : public TypingDriverTest, public ::testing::WithParamInterface<StoppedTypingCase>
{
};

TEST_P(StoppedTypingTest, EndsWithWhatIsKnownAndPastesNothing)
{
    hooks.enabledDrivers = QList<Driver> { Driver::unicodeTyping, Driver::pasteboard };
    injector->batchSize = 4;
    injector->failAfter = GetParam().failAfter;
    injector->confirmsReading = GetParam().confirmsReading;
    injector->onBatch = [this](int batch) {
        if (batch == 0 && GetParam().afterFirstBatch)
            GetParam().afterFirstBatch(*windows);
    };
    auto outcome = start(QStringLiteral("ab🎤defghij"), applicationOnlyTarget());
    runUntilDone(outcome);
    EXPECT_EQ(outcome->errorText(), GetParam().error);
    EXPECT_FALSE(injector->events.contains(QStringLiteral("paste")));
}

const QString fourOfTen = QStringLiteral("Only 4 of 10 characters of the transcript were inserted.");

INSTANTIATE_TEST_SUITE_P(Stops, StoppedTypingTest,
    ::testing::Values(
        StoppedTypingCase { "AnotherWindowBecomesActive",
            [](FakeWindowSystem& windows) {
                windows.frontmost = FrontmostApplication { QStringLiteral("Terminal"), std::nullopt, 99, {}, 8 };
            },
            -1, true, fourOfTen },
        // The window manager has not announced the move yet: only the keys' destination shows it.
        StoppedTypingCase { "KeyboardFocusMovesFirst",
            [](FakeWindowSystem& windows) {
                windows.keyboardFocus = KeyboardFocusWindow { 8, 99 };
            },
            -1, true, fourOfTen },
        StoppedTypingCase { "TypingFails", nullptr, 6, true,
            QStringLiteral("Only 6 of 10 characters of the transcript were inserted.") },
        StoppedTypingCase { "ReadingNeverConfirmed", nullptr, -1, false,
            QStringLiteral("The transcript was typed, but the application did not confirm that it received every "
                           "character. Check the text in the field.") }),
    [](const auto& row) { return std::string(row.param.name); });

struct FieldTextCase
{
    const char* name;
    // What the field shows after the keys (nullopt: what was typed).
    std::optional<QString> shown;
    std::optional<QString> subrole;
    std::optional<TextInsertionError::Case> error;
};

void PrintTo(const FieldTextCase& row, std::ostream* out)
{
    *out << row.name;
}

class FieldTextTest : public TypingDriverTest, public ::testing::WithParamInterface<FieldTextCase>
{
};

// Every key went out; a field that shows its text says whether they went in. Any change counts, as an
// application's own corrections rewrite what was typed.
TEST_P(FieldTextTest, TypingIntoAFieldThatShowsItsTextCountsOnlyWhenTheTextChanged)
{
    hooks.enabledDrivers = QList<Driver> { Driver::unicodeTyping, Driver::pasteboard };
    focusTargetField(QStringLiteral("Dear "));
    if (GetParam().subrole)
        accessibility->strings[{ QStringLiteral("field"), AccessibilityStringAttribute::subrole }]
            = *GetParam().subrole;
    if (const std::optional<QString> shown = GetParam().shown)
        injector->onTyped
            = [this, shown](const QString&) { accessibility->texts[QStringLiteral("field")].text = *shown; };
    auto outcome = start(QStringLiteral("hello world"), textFieldTarget());
    runUntilDone(outcome, std::chrono::seconds(10));
    ASSERT_TRUE(outcome->done);
    EXPECT_EQ(outcome->errorCase(), GetParam().error) << outcome->errorText().toStdString();
    EXPECT_FALSE(injector->events.contains(QStringLiteral("paste")));
}

INSTANTIATE_TEST_SUITE_P(Fields, FieldTextTest,
    ::testing::Values(FieldTextCase { "TextArrives", std::nullopt, std::nullopt, std::nullopt },
        FieldTextCase {
            "TextCorrectedByTheApplication", QStringLiteral("Dear Hello, world!"), std::nullopt, std::nullopt },
        FieldTextCase { "KeysLost", QStringLiteral("Dear "), std::nullopt, TextInsertionError::typingNotConfirmed },
        // A terminal's program decides what it shows: a password prompt shows nothing.
        FieldTextCase { "TerminalShowsNothing", QStringLiteral("Dear "), QStringLiteral("AXTerminal"), std::nullopt }),
    [](const auto& row) { return std::string(row.param.name); });

struct TypeableCase
{
    const char* name;
    std::optional<QString> role;
    QString text;
    bool typed;
};

void PrintTo(const TypeableCase& row, std::ostream* out)
{
    *out << row.name;
}

class TypeableTextTest : public TypingDriverTest, public ::testing::WithParamInterface<TypeableCase>
{
};

// A tab typed moves the focus or indents, Return submits a single-line field: such text goes by paste.
TEST_P(TypeableTextTest, TabsAndLineBreaksAreTypedOnlyWhereTheyArriveAsText)
{
    hooks.enabledDrivers = QList<Driver> { Driver::unicodeTyping, Driver::pasteboard };
    focusTargetField();
    injector->onPaste = [this] { clipboard->fetch(ClipboardSelection::clipboard); };
    const auto target = std::make_shared<const FocusedInsertionTarget>(
        FocusedApplicationTarget { QStringLiteral("Notes"), targetPid }, fakeElement(QStringLiteral("field")),
        fakeElement(QStringLiteral("window")), GetParam().role, std::nullopt, true);
    auto outcome = start(GetParam().text, target);
    runUntilDone(outcome);
    ASSERT_FALSE(outcome->error) << outcome->errorText().toStdString();
    EXPECT_EQ(outcome->result->driver, GetParam().typed ? Driver::unicodeTyping : Driver::pasteboard);
    EXPECT_EQ(injector->events,
        GetParam().typed ? QStringList { QStringLiteral("type:") + GetParam().text } : QStringList { "paste" });
}

INSTANTIATE_TEST_SUITE_P(Texts, TypeableTextTest,
    ::testing::Values(TypeableCase { "LineBreakInAnArea", QStringLiteral("AXTextArea"), "one\ntwo", true },
        TypeableCase { "LineBreakInAField", QStringLiteral("AXTextField"), "one\r\ntwo", false },
        TypeableCase { "LineBreakInAnUnknownElement", std::nullopt, "one\ntwo", false },
        TypeableCase { "TabInAnArea", QStringLiteral("AXTextArea"), "one\ttwo", false },
        TypeableCase { "PlainTextInAField", QStringLiteral("AXTextField"), "one two", true }),
    [](const auto& row) { return std::string(row.param.name); });

} // namespace
