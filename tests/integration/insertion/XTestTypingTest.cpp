// The XTest injector against real clients of the private desktop: a bare Xlib target that reads its
// own key events (and can stall before it handles a keymap change) and the Qt text target.
#include <chrono>
#include <gtest/gtest.h>

#include <QFile>

#include "InsertionTexts.h"
#include "platform/linux/insertion/XTestInputInjector.h"
#include "support/HelperPrograms.h"
#include "support/Skips.h"
#include "support/async/EventLoopWaits.h"
#include "support/async/TaskRunner.h"
#include "support/focus/TextTargetProcess.h"

using namespace tessvale;
using namespace tessvale::testing;
using namespace std::chrono_literals;

namespace {

// tessvale-xlib-text-target, ready once it printed READY (it takes the focus itself).
class XlibTarget
{
public:
    bool start(QStringList options = {})
    {
        options << QStringLiteral("--report") << reportPath();
        if (!m_process.start(helperProgramPath(QStringLiteral("tessvale-xlib-text-target")), options))
            return false;
        return m_process.waitForReadyLine().has_value();
    }
    QString text() const
    {
        QFile file(reportPath());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    QString waitForText(const QString& expected) const
    {
        QString last;
        waitUntil(
            [&] {
                last = text();
                return last == expected;
            },
            60s);
        return last;
    }

private:
    QString reportPath() const { return m_dir.filePath(QStringLiteral("report.txt")); }
    QTemporaryDir m_dir;
    DesktopProcess m_process;
};

const QString symbols = QStringLiteral("Price: 5 € / 3 £ / 9 ¥ / 7 ₹, ratio ÷ 2 → ∞ 🎤 done.");

TypingOutcome type(XTestInputInjector& injector, const QString& text)
{
    return runTask(injector.typeText(text, {}, {}), 60s);
}

class XTestTypingTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!hasDesktop())
            TESSVALE_SKIP_WITHOUT_DESKTOP() << "needs the private desktop (scripts/test-env)";
    }
    XTestInputInjector injector { std::make_shared<SyntheticInputTracker>() };
};

struct StalledCase
{
    const char* name;
    QString text;
};

class StalledTargetTest : public XTestTypingTest, public ::testing::WithParamInterface<StalledCase>
{
};

// The target handles the keymap change 800 ms late and then reads the current mapping: the spare
// codes must still mean this text's characters by then.
TEST_P(StalledTargetTest, SpareCodesKeepTheirMeaningUntilTheTargetHasReadItsKeys)
{
    XlibTarget target;
    ASSERT_TRUE(target.start({ QStringLiteral("--stall-ms"), QStringLiteral("800") }));
    const QString text = GetParam().text;
    const TypingOutcome outcome = type(injector, text);
    EXPECT_EQ(outcome.status, TypingStatus::complete);
    EXPECT_EQ(target.waitForText(text).toStdString(), text.toStdString());
}

INSTANTIATE_TEST_SUITE_P(Texts, StalledTargetTest,
    ::testing::Values(
        StalledCase { "Symbols", symbols }, StalledCase { "MoreThanTheSpareCodes", manyDistinctCharacters() }),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(XTestTypingTest, RepeatedLettersArriveWholeInAClientThatDetectsAutoRepeat)
{
    XlibTarget target;
    ASSERT_TRUE(target.start());
    for (const QString& text : { QStringLiteral("hello world"), QStringLiteral(" bookkeeper committee, AABB ßß") }) {
        const QString expected = target.text() + text;
        EXPECT_EQ(type(injector, text).status, TypingStatus::complete);
        EXPECT_EQ(target.waitForText(expected).toStdString(), expected.toStdString());
    }
}

// Nothing tells when such a target has taken a new key mapping: no key goes on a borrowed code, and
// the keyboard's own keys still type.
TEST_F(XTestTypingTest, TargetThatAnswersNoPingGetsNoBorrowedKeyCodes)
{
    XlibTarget target;
    ASSERT_TRUE(target.start({ QStringLiteral("--no-ping") }));
    const TypingOutcome outcome = type(injector, symbols);
    EXPECT_EQ(outcome.status, TypingStatus::failed);
    EXPECT_EQ(outcome.sentCharacters, 0);
    const QString plain = QStringLiteral("Plain words, 42.");
    EXPECT_EQ(type(injector, plain).status, TypingStatus::complete);
    EXPECT_EQ(target.waitForText(plain).toStdString(), plain.toStdString());
}

// The target, as browsers do, knows Return and Tab by the keyboard's key codes for them.
TEST_F(XTestTypingTest, ReturnAndTabGoOnTheKeyboardsOwnKeys)
{
    XlibTarget target;
    ASSERT_TRUE(target.start());
    const QString text = QStringLiteral("one\ttwo €\nthree\r\nfour");
    EXPECT_EQ(type(injector, text).status, TypingStatus::complete);
    const QString expected = QStringLiteral("one\ttwo €\nthree\nfour");
    EXPECT_EQ(target.waitForText(expected).toStdString(), expected.toStdString());
}

TEST_F(XTestTypingTest, TypingStopsBetweenChunksOnceTheTargetLostTheFocusAndSaysHowFarItGot)
{
    XlibTarget target;
    ASSERT_TRUE(target.start());
    const QString text = QString(100, QLatin1Char('x'));
    int checks = 0;
    const TypingOutcome outcome = runTask(injector.typeText(text, [&checks] { return ++checks <= 2; }, {}), 60s);
    EXPECT_EQ(outcome.status, TypingStatus::focusMoved);
    ASSERT_GT(outcome.typedCharacters, 0);
    ASSERT_LT(outcome.sentCharacters, text.size());
    // The chunk under way when the focus was found gone counts as sent, not as arrived.
    EXPECT_LT(outcome.typedCharacters, outcome.sentCharacters);
    EXPECT_EQ(target.waitForText(text.left(outcome.sentCharacters)), text.left(outcome.sentCharacters));
}

TEST_F(XTestTypingTest, QtTargetGetsMoreDistinctCharactersThanThereAreSpareCodes)
{
    TextTargetProcess target;
    ASSERT_TRUE(target.start());
    const QString text = manyDistinctCharacters();
    EXPECT_EQ(type(injector, text).status, TypingStatus::complete);
    EXPECT_EQ(target.waitForText(text).toStdString(), text.toStdString());
}

} // namespace
