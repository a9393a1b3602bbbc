// The Qt clipboard backend against real selection owners of the private desktop.
#include <chrono>
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QGuiApplication>

#include "platform/linux/X11Connection.h"
#include "platform/linux/insertion/QtClipboard.h"
#include "support/HelperPrograms.h"
#include "support/Skips.h"
#include "support/async/EventLoopWaits.h"
#include "support/async/TaskRunner.h"
#include "support/focus/TextTargetProcess.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

using namespace tessvale;
using namespace tessvale::testing;
using namespace std::chrono_literals;

namespace {

// Another client on its own connection, as the user's other applications are.
class OtherClient
{
public:
    OtherClient()
        : m_connection(X11Connection::open())
        , m_display(m_connection->display())
        , m_window(XCreateSimpleWindow(m_display, DefaultRootWindow(m_display), 0, 0, 1, 1, 0, 0, 0))
        , m_clipboard(XInternAtom(m_display, "CLIPBOARD", False))
    {
    }

    void takeClipboard()
    {
        XSetSelectionOwner(m_display, m_clipboard, m_window, CurrentTime);
        XSync(m_display, False);
    }

    // The clipboard's TARGETS as this client sees them, while our event loop answers.
    QStringList clipboardTargets()
    {
        const Atom property = XInternAtom(m_display, "TESSVALE_TEST_TARGETS", False);
        XConvertSelection(
            m_display, m_clipboard, XInternAtom(m_display, "TARGETS", False), property, m_window, CurrentTime);
        XFlush(m_display);
        XEvent event;
        if (!waitUntil([&] { return XCheckTypedWindowEvent(m_display, m_window, SelectionNotify, &event) == True; }))
            return {};
        Atom type = None;
        int format = 0;
        unsigned long count = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        QStringList names;
        if (XGetWindowProperty(
                m_display, m_window, property, 0, 4096, True, XA_ATOM, &type, &format, &count, &after, &data)
                == Success
            && data) {
            for (unsigned long i = 0; i < count; ++i) {
                char* name = XGetAtomName(m_display, reinterpret_cast<Atom*>(data)[i]);
                names << QString::fromUtf8(name);
                XFree(name);
            }
            XFree(data);
        }
        return names;
    }

private:
    std::unique_ptr<X11Connection> m_connection;
    Display* m_display;
    Window m_window;
    Atom m_clipboard;
};

class QtClipboardTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!hasDesktop() || QGuiApplication::platformName() != QLatin1String("xcb"))
            TESSVALE_SKIP_WITHOUT_DESKTOP() << "needs the private desktop (scripts/test-env)";
    }

    bool startOwner(DesktopProcess& owner, const QStringList& arguments)
    {
        if (!owner.start(helperProgramPath(QStringLiteral("tessvale-selection-owner")), arguments))
            return false;
        return owner.waitForReadyLine().has_value();
    }

    static QStringList typesOf(const QList<ClipboardItemContent>& items)
    {
        QStringList types;
        for (const ClipboardItemContent& item : items)
            for (const ClipboardTypeContent& content : item.types)
                types << content.type;
        return types;
    }

    QtClipboard clipboard;
};

TEST_F(QtClipboardTest, AnotherClientsCopyCountsAndEndsOurHoldBeforeTheEventLoopRuns)
{
    ASSERT_TRUE(clipboard.writeText(ClipboardSelection::clipboard, QStringLiteral("dictated")).isOk());
    EXPECT_TRUE(clipboard.holdsOurText(ClipboardSelection::clipboard));
    const quint64 before = clipboard.ownerChangeCount(ClipboardSelection::clipboard);
    OtherClient other;
    other.takeClipboard();
    EXPECT_GT(clipboard.ownerChangeCount(ClipboardSelection::clipboard), before);
    EXPECT_FALSE(clipboard.holdsOurText(ClipboardSelection::clipboard));
}

TEST_F(QtClipboardTest, SnapshotOfAnOwnerThatLeavesFormatsUnansweredEndsInTimeWithWhatWasRead)
{
    DesktopProcess owner;
    ASSERT_TRUE(startOwner(owner,
        { QStringLiteral("--text"), QStringLiteral("copied ✓"), QStringLiteral("--html"),
            QStringLiteral("<b>copied</b>"), QStringLiteral("--silent"), QStringLiteral("application/x-hung-1"),
            QStringLiteral("--silent"), QStringLiteral("application/x-hung-2"), QStringLiteral("--silent"),
            QStringLiteral("application/x-hung-3") }));
    QElapsedTimer timer;
    timer.start();
    const ClipboardReading reading = runTask(clipboard.read(ClipboardSelection::clipboard));
    const QList<ClipboardItemContent>& items = reading.items;
    // Far under one format's own wait in Qt (seconds), let alone three.
    EXPECT_LT(timer.elapsed(), 2000);
    EXPECT_FALSE(reading.complete);
    ASSERT_EQ(items.size(), 1);
    EXPECT_EQ(typesOf(items), QStringList({ QStringLiteral("text/plain"), QStringLiteral("text/html") }));
    EXPECT_EQ(items[0].types[0].data, QStringLiteral("copied ✓").toUtf8());
    EXPECT_EQ(items[0].types[1].data, QByteArray("<b>copied</b>"));
}

TEST_F(QtClipboardTest, SnapshotOfAnOwnerThatNeverStopsSendingEndsAtItsLimitAndIsNotWhole)
{
    DesktopProcess owner;
    ASSERT_TRUE(startOwner(owner,
        { QStringLiteral("--text"), QStringLiteral("copied"), QStringLiteral("--html"), QStringLiteral("<b>c</b>"),
            QStringLiteral("--endless"), QStringLiteral("262144") }));
    // Twice: what the owner goes on sending after the first read gave up must not reach the second.
    for (int read = 0; read < 2; ++read) {
        QElapsedTimer timer;
        timer.start();
        const ClipboardReading reading = runTask(clipboard.read(ClipboardSelection::clipboard));
        // Not a measure (bench/insertion has it): without its deadline the read never ends.
        EXPECT_LT(timer.elapsed(), 5000);
        EXPECT_FALSE(reading.complete);
        for (const ClipboardItemContent& item : reading.items)
            for (const ClipboardTypeContent& content : item.types)
                EXPECT_LE(content.data->size(), 16 * 1024 * 1024) << content.type.toStdString();
    }
    // Read, not taken: the owner quits when it loses the clipboard.
    QCoreApplication::processEvents();
    EXPECT_EQ(owner.process().state(), QProcess::Running);
}

TEST_F(QtClipboardTest, RestoredClipboardListsEachTargetOnce)
{
    DesktopProcess owner;
    ASSERT_TRUE(startOwner(owner,
        { QStringLiteral("--text"), QStringLiteral("copied"), QStringLiteral("--html"), QStringLiteral("<i>c</i>") }));
    const ClipboardReading reading = runTask(clipboard.read(ClipboardSelection::clipboard));
    EXPECT_TRUE(reading.complete);
    const QList<ClipboardItemContent>& items = reading.items;
    for (const char* protocol : { "TARGETS", "MULTIPLE", "TIMESTAMP", "SAVE_TARGETS" })
        EXPECT_FALSE(typesOf(items).contains(QLatin1String(protocol))) << protocol;
    QList<QList<ClipboardWriteEntry>> restored;
    for (const ClipboardItemContent& item : items) {
        QList<ClipboardWriteEntry> entries;
        for (const ClipboardTypeContent& content : item.types)
            entries.append({ content.type, QVariant(*content.data) });
        restored.append(entries);
    }
    clipboard.restore(ClipboardSelection::clipboard, restored);
    OtherClient other;
    const QStringList targets = other.clipboardTargets();
    ASSERT_TRUE(targets.contains(QStringLiteral("text/html")));
    ASSERT_TRUE(targets.contains(QStringLiteral("UTF8_STRING")));
    for (const QString& target : targets)
        EXPECT_EQ(targets.count(target), 1) << target.toStdString();
}

} // namespace
