#include <csignal>
#include <memory>
#include <optional>

#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include "AppProcess.h"
#include "support/Skips.h"
#include "support/cloud/FakeCloudFixture.h"
#include "support/focus/TextTargetProcess.h"

// Last: Xlib's macros clash with Qt's names.
#include <X11/Xlib.h>

using namespace std::chrono_literals;
using namespace tessvale;

namespace {

QString frameCase(const QString& frame)
{
    return QJsonDocument::fromJson(frame.toUtf8()).object().value(QStringLiteral("Case")).toString();
}

// A clipboard manager as desktops run one: it holds CLIPBOARD_MANAGER, and when the clipboard's
// owner exits and asks it to save the clipboard, it copies the clipboard's text. Without one, the
// clipboard dies with its owner.
class ClipboardManager
{
public:
    ClipboardManager()
        : m_display(XOpenDisplay(nullptr))
    {
        m_window = XCreateSimpleWindow(m_display, DefaultRootWindow(m_display), 0, 0, 1, 1, 0, 0, 0);
        m_manager = XInternAtom(m_display, "CLIPBOARD_MANAGER", False);
        m_saveTargets = XInternAtom(m_display, "SAVE_TARGETS", False);
        m_clipboard = XInternAtom(m_display, "CLIPBOARD", False);
        m_utf8 = XInternAtom(m_display, "UTF8_STRING", False);
        m_property = XInternAtom(m_display, "TESSVALE_SAVED", False);
        XSetSelectionOwner(m_display, m_manager, m_window, CurrentTime);
        XSync(m_display, False);
    }
    ~ClipboardManager()
    {
        XDestroyWindow(m_display, m_window);
        XCloseDisplay(m_display);
    }

    // Handles what arrived; call it while waiting.
    void poll()
    {
        while (XPending(m_display)) {
            XEvent event;
            XNextEvent(m_display, &event);
            if (event.type == SelectionRequest && event.xselectionrequest.target == m_saveTargets) {
                m_request = event.xselectionrequest;
                XConvertSelection(m_display, m_clipboard, m_utf8, m_property, m_window, CurrentTime);
            } else if (event.type == SelectionNotify && m_request) {
                readSaved(event.xselection.property != None);
                XEvent reply {};
                reply.xselection.type = SelectionNotify;
                reply.xselection.requestor = m_request->requestor;
                reply.xselection.selection = m_request->selection;
                reply.xselection.target = m_request->target;
                reply.xselection.property = m_request->property;
                reply.xselection.time = m_request->time;
                XSendEvent(m_display, m_request->requestor, False, 0, &reply);
                XFlush(m_display);
                m_request.reset();
            }
        }
    }
    const std::optional<QString>& saved() const { return m_saved; }

private:
    void readSaved(bool converted)
    {
        m_saved = QString();
        if (!converted)
            return;
        Atom type;
        int format;
        unsigned long items, remaining;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(m_display, m_window, m_property, 0, 1 << 16, True, AnyPropertyType, &type, &format,
                &items, &remaining, &data)
                == Success
            && data) {
            m_saved = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(items));
            XFree(data);
        }
    }

    Display* m_display;
    Window m_window;
    Atom m_manager, m_saveTargets, m_clipboard, m_utf8, m_property;
    std::optional<XSelectionRequestEvent> m_request;
    std::optional<QString> m_saved;
};

} // namespace

// The real application under the private desktop, signed in to the fake service.
class AppDictationQuitTest : public FakeCloudFixture
{
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            TESSVALE_SKIP_WITHOUT_DESKTOP() << "needs the private desktop of scripts/test-env";
        FakeCloudFixture::SetUp();
        app = std::make_unique<tessvale::testing::AppProcess>(server(), authority());
    }

    void TearDown() override
    {
        app.reset();
        FakeCloudFixture::TearDown();
    }

    // The application signed in to the fake service with a stored key.
    void startSignedIn()
    {
        const QString apiKey = QStringLiteral("tv_test_appquitkey");
        server().setAcceptedApiKey(apiKey);
        app->storeApiKey(apiKey);
        app->start();
        ASSERT_TRUE(app->waitForLog("Authenticated as")) << app->output().constData();
    }

    bool sessionStarted()
    {
        return server().stream().connectionCount() > 0 && !server().stream().connection().textFrames.isEmpty();
    }

    void expectCleanExit() { EXPECT_TRUE(app->waitForCleanExit()) << app->output().constData(); }

    QStringList frameCases()
    {
        QStringList cases;
        for (const QString& frame : server().stream().connection().textFrames)
            cases.append(frameCase(frame));
        return cases;
    }

    std::unique_ptr<tessvale::testing::AppProcess> app;
};

// SIGTERM while the shortcut is held cancels the session on the service and closes it normally
// before the process exits.
TEST_F(AppDictationQuitTest, SigtermMidDictationCancelsTheSessionBeforeExit)
{
    startSignedIn();
    tessvale::testing::holdShortcut(true);
    const bool started = waitUntil([&] { return sessionStarted(); }, 60s);
    if (started)
        app->signal(SIGTERM);
    tessvale::testing::holdShortcut(false);
    ASSERT_TRUE(started) << "no dictation began: " << app->output().constData();
    expectCleanExit();

    ASSERT_TRUE(waitUntil([&] { return server().stream().connection().closed; }));
    const QStringList cases = frameCases();
    EXPECT_EQ(cases.first(), QStringLiteral("StartSession"));
    EXPECT_EQ(cases.last(), QStringLiteral("CancelSession")) << cases.join(QLatin1Char(' ')).toStdString();
    EXPECT_EQ(server().stream().connection().closeCode, QWebSocketProtocol::CloseCodeNormal);
}

// SIGINT (Ctrl+C in a terminal) while the dictated text is on the clipboard for its paste: the paste
// completes, the user's clipboard comes back, and the exiting application hands it to the clipboard
// manager.
TEST_F(AppDictationQuitTest, CtrlCDuringThePasteRestoresTheClipboardBeforeExit)
{
    tessvale::testing::TextTargetProcess target;
    ASSERT_TRUE(target.start());
    ClipboardManager manager;
    const QString usersWords = QStringLiteral("the user's own words");
    const QString dictated = QStringLiteral("Dictated before quitting.");
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(usersWords);
    server().stream().setCommittedText(dictated);
    startSignedIn();

    bool terminated = false;
    QObject::connect(clipboard, &QClipboard::changed, &app->process(), [&](QClipboard::Mode mode) {
        if (mode == QClipboard::Clipboard && !terminated && clipboard->text().startsWith(dictated)) {
            terminated = true;
            app->signal(SIGINT);
        }
    });
    tessvale::testing::holdShortcut(true);
    ASSERT_TRUE(waitUntil([&] { return sessionStarted(); }, 60s)) << app->output().constData();
    waitUntil([] { return false; }, 400ms);
    tessvale::testing::holdShortcut(false);
    ASSERT_TRUE(waitUntil(
        [&] {
            manager.poll();
            return app->process().state() == QProcess::NotRunning;
        },
        60s))
        << app->output().constData();
    expectCleanExit();

    EXPECT_TRUE(terminated) << "the dictated text never reached the clipboard: " << app->output().constData();
    EXPECT_EQ(target.waitForText(dictated), dictated);
    EXPECT_EQ(manager.saved(), std::optional<QString>(usersWords)) << app->output().constData();
}
