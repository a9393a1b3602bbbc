#include <gtest/gtest.h>

#include <memory>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "async/Sleeper.h"
#include "platform/linux/system/XdgUrlOpener.h"
#include "support/HelperPrograms.h"
#include "support/async/TaskRunner.h"

using namespace tessvale;
using namespace std::chrono_literals;

namespace {

const QUrl kPage(QStringLiteral("https://sign-in.example/authorize?attempt=1&state=a%20b"));

// An opener that hands the address to a browser which stays open until the test removes the stubs.
constexpr char kStayingExoOpen[] = "#!/bin/sh\n"
                                   "[ \"$1\" = --help ] && exit 0\n"
                                   "printf '%s' \"$1\" >\"$(dirname \"$0\")/opened\"\n"
                                   "while [ -e \"$0\" ]; do sleep 0.1; done\n";
// A browser command that records its arguments, one a line, and exits at once.
constexpr char kRecordingBrowser[] = "#!/bin/sh\nprintf '%s\\n' \"$@\" >\"$(dirname \"$0\")/opened\"\n";

// The real xdg-open on an XFCE session, with stub programs first on PATH; restores the environment.
class UrlOpenerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_bin.isValid());
        m_path = qgetenv("PATH");
        m_desktop = qgetenv("XDG_CURRENT_DESKTOP");
        qputenv("PATH", m_bin.path().toUtf8() + ':' + m_path);
        qputenv("XDG_CURRENT_DESKTOP", "XFCE");
    }

    void TearDown() override
    {
        qputenv("PATH", m_path);
        qputenv("XDG_CURRENT_DESKTOP", m_desktop);
    }

    XdgUrlOpener& opener(const QString& browserVariable)
    {
        m_opener = std::make_unique<XdgUrlOpener>(
            XdgUrlOpener::Environment { [browserVariable] { return browserVariable; }, &m_sleeper });
        return *m_opener;
    }

    // What the stub in folder (the stubs' own when empty) recorded.
    QString opened(const QString& folder = {})
    {
        QFile file(QDir(folder.isEmpty() ? m_bin.path() : folder).filePath(QStringLiteral("opened")));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    QTemporaryDir m_bin;
    ManualSleeper m_sleeper;
    std::unique_ptr<XdgUrlOpener> m_opener;
    QByteArray m_path;
    QByteArray m_desktop;
};

} // namespace

TEST(UrlOpenerCommands, WithoutBrowserEntriesTheDesktopsOpenerOpens)
{
    const QString address = kPage.toString(QUrl::FullyEncoded);
    const QList<BrowserCommand> desktop { { { "xdg-open", address }, {} } };
    EXPECT_EQ(XdgUrlOpener::commandsFor(kPage, QString()), desktop);
    EXPECT_EQ(XdgUrlOpener::commandsFor(kPage, QStringLiteral(" : ")), desktop);
}

// BROWSER wins over the desktop's failing opener; an entry that cannot start gives way to the next,
// and a quoted path with a space in it starts.
TEST_F(UrlOpenerTest, BrowserCommandsAreTriedInTurn)
{
    ASSERT_TRUE(tessvale::testing::writeFailingXfceOpener(m_bin.path()));
    const QString folder = m_bin.filePath(QStringLiteral("My Browser"));
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(tessvale::testing::writeScript(folder, "recording-browser", kRecordingBrowser));
    const PlatformResult result
        = runTask(opener("no-such-browser-anywhere:'unterminated:\"" + folder + "/recording-browser\" --new-window %s")
                      .open(kPage, {}));
    EXPECT_TRUE(result.isOk()) << result.reason().toStdString();
    EXPECT_EQ(opened(folder), "--new-window\n" + kPage.toString(QUrl::FullyEncoded) + "\n");
}

// Without BROWSER, xdg-open defers to XFCE's opener, whose failure is the result, with the reasons.
TEST_F(UrlOpenerTest, AFailingDesktopOpenerIsAFailure)
{
    ASSERT_TRUE(tessvale::testing::writeFailingXfceOpener(m_bin.path()));
    const PlatformResult result = runTask(opener(QString()).open(kPage, {}));
    EXPECT_FALSE(result.isOk());
    EXPECT_TRUE(result.reason().startsWith("xdg-open exited with status")) << result.reason().toStdString();

    const PlatformResult missing = runTask(opener("no-such-browser-anywhere").open(kPage, {}));
    EXPECT_FALSE(missing.isOk());
    EXPECT_EQ(missing.reason(), "no-such-browser-anywhere could not be started: No such file or directory");
}

// An opener still running after the start grace period (the browser it started stays open) opened
// the page, and is left running.
TEST_F(UrlOpenerTest, AnOpenerThatKeepsRunningOpenedThePage)
{
    ASSERT_TRUE(tessvale::testing::writeScript(m_bin.path(), "exo-open", kStayingExoOpen));
    auto outcome = std::make_shared<TaskOutcome<PlatformResult>>();
    auto running = captureTask(opener(QString()).open(kPage, {}), outcome);
    ASSERT_TRUE(waitUntil([&] { return !opened().isEmpty(); }, 10s));
    EXPECT_FALSE(outcome->done);
    m_sleeper.advance(XdgUrlOpener::Environment {}.startGracePeriod);
    ASSERT_TRUE(outcome->done);
    ASSERT_TRUE(outcome->result);
    EXPECT_TRUE(outcome->result->isOk()) << outcome->result->reason().toStdString();
    EXPECT_EQ(opened(), kPage.toString(QUrl::FullyEncoded));
}
