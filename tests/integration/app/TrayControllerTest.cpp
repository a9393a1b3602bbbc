#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMenu>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTextDocument>
#include <QTimer>

#include "cloud/ServerStreamMessage.h"
#include "icons/SymbolIcons.h"
#include "menu/MenuBarContentView.h"
#include "menu/TrayController.h"
#include "support/Skips.h"
#include "support/async/EventLoopWaits.h"
#include "support/coordinator/CoordinatorHarness.h"

#include <X11/Xlib.h>

using namespace tessvale;

namespace {

// The window of the tray icon, which the tray host embeds.
QWidget* trayIconWindow()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->inherits("QSystemTrayIconSys"))
            return widget;
    }
    return nullptr;
}

// What a tray host sends to every client once it holds the tray selection.
void announceTrayHost()
{
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    const Window root = DefaultRootWindow(display);
    const Atom selection = XInternAtom(display, "_NET_SYSTEM_TRAY_S0", False);
    XEvent event {};
    event.xclient.type = ClientMessage;
    event.xclient.window = root;
    event.xclient.message_type = XInternAtom(display, "MANAGER", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = CurrentTime;
    event.xclient.data.l[1] = static_cast<long>(selection);
    event.xclient.data.l[2] = static_cast<long>(XGetSelectionOwner(display, selection));
    XSendEvent(display, root, False, StructureNotifyMask, &event);
    XCloseDisplay(display);
}

// Embedded: the icon's window sits inside the tray host's windows (the X window tree, from the top).
bool isEmbedded(QWidget* window)
{
    if (!window || !window->isVisible())
        return false;
    QProcess info;
    info.start(QStringLiteral("xwininfo"), { QStringLiteral("-root"), QStringLiteral("-tree") });
    info.waitForFinished(60000);
    const QStringList lines = QString::fromLocal8Bit(info.readAllStandardOutput()).split(QLatin1Char('\n'));
    const QString id = QStringLiteral("0x") + QString::number(window->winId(), 16) + QLatin1Char(' ');
    const auto indent = [](const QString& line) { return line.size() - line.trimmed().size(); };
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (!lines[i].trimmed().startsWith(id))
            continue;
        // Up the tree: each line indented less than the last one seen is an ancestor.
        qsizetype depth = indent(lines[i]);
        for (qsizetype j = i - 1; j >= 0 && depth > 0; --j) {
            if (indent(lines[j]) < depth && lines[j].trimmed().startsWith(QStringLiteral("0x"))) {
                depth = indent(lines[j]);
                if (lines[j].contains(QStringLiteral("\"trayer\"")))
                    return true;
            }
        }
    }
    return false;
}

QImage iconImage(const QIcon& icon)
{
    return icon.pixmap(22, 22).toImage().convertToFormat(QImage::Format_ARGB32);
}

bool hasDesktop()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") && QGuiApplication::platformName() == QStringLiteral("xcb");
}

struct Actions
{
    int setups = 0;
    int quits = 0;
};

std::unique_ptr<TrayController> makeController(DictationCoordinator& coordinator, Actions& actions)
{
    return std::make_unique<TrayController>(
        coordinator, [&actions] { ++actions.setups; }, [&actions] { ++actions.quits; });
}

} // namespace

TEST(TrayController, IconIsEmbeddedAndFollowsThePhase)
{
    if (!hasDesktop() || !QSystemTrayIcon::isSystemTrayAvailable())
        TESSVALE_SKIP_WITHOUT_DESKTOP() << "needs the tray host of scripts/test-env";
    CoordinatorHarness h;
    DictationCoordinatorTestAccess::setSignedIn(h.coordinator(), CoordinatorHarness::sampleMe());
    Actions actions;
    auto tray = makeController(h.coordinator(), actions);
    tray->start();
    ASSERT_TRUE(waitUntil([&] { return isEmbedded(trayIconWindow()); }, std::chrono::seconds(60)));
    EXPECT_TRUE(tray->isTrayIconShown());
    EXPECT_EQ(tray->fallbackWindow(), nullptr);
    EXPECT_EQ(iconImage(tray->trayIcon()->icon()), iconImage(traySymbolIcon(QStringLiteral("mic"))));
    ASSERT_TRUE(waitUntil([&] { return !trayIconWindow()->grab().toImage().isNull(); }, std::chrono::seconds(60)));
    const QImage ready = trayIconWindow()->grab().toImage();

    DictationCoordinatorTestAccess::setPhase(h.coordinator(), DictationPhase::recording);
    const QImage recording = iconImage(traySymbolIcon(QStringLiteral("record.circle.fill")));
    ASSERT_TRUE(waitUntil([&] { return iconImage(tray->trayIcon()->icon()) == recording; }));
    ASSERT_TRUE(waitUntil([&] { return trayIconWindow()->grab().toImage() != ready; }, std::chrono::seconds(60)));
    // The context menu shows the same content.
    QStringList entries;
    for (QAction* action : tray->contextMenu()->actions())
        entries.append(action->text());
    EXPECT_TRUE(entries.contains(QStringLiteral("Stop Dictation")));

    // A relaunch while the icon shows does nothing.
    tray->presentFromRelaunch();
    EXPECT_EQ(tray->fallbackWindow(), nullptr);
}

TEST(TrayController, CardStopsAHeldDictationAndClosingItDoesNotQuit)
{
    if (!hasDesktop())
        TESSVALE_SKIP_WITHOUT_DESKTOP() << "needs the private desktop of scripts/test-env";
    CoordinatorHarness h;
    h.prepareDictation();
    DictationCoordinatorTestAccess::setSignedIn(h.coordinator(), CoordinatorHarness::sampleMe());
    Actions actions;
    auto tray = makeController(h.coordinator(), actions);
    tray->start();
    QSignalSpy lastWindowClosed(qApp, &QGuiApplication::lastWindowClosed);

    const QUuid id = h.openDictation(); // push-to-talk, held
    // A service body full of markup: it shows literally, in the tooltips too, and loads nothing.
    const QString partial
        = QStringLiteral("<b>Fish & chips</b> <font size=7>huge</font> <a href=\"https://example.com\">"
                         "link</a> <img src=\"/usr/share/pixmaps/debian-logo.png\"> ")
        + QString(300, QLatin1Char('x'));
    h.deliver(ServerStreamMessage::partialTranscript({ id, partial }));
    QCoreApplication::processEvents();
    tray->showPopup();
    ASSERT_TRUE(tray->popup()->isVisible());
    // A long text wraps inside the card; in the menu it is literal text, "&" no mnemonic.
    EXPECT_EQ(tray->popup()->width(), 336);
    // No square corners around the rounded card: cut away, or transparent for a compositor.
    EXPECT_TRUE(tray->popup()->testAttribute(Qt::WA_TranslucentBackground));
    EXPECT_FALSE(tray->popup()->mask().contains(QPoint(9, 9)));
    const auto entries = tray->contextMenu()->actions();
    const auto shown = std::find_if(entries.begin(), entries.end(),
        [](QAction* action) { return action->text().startsWith(QStringLiteral("<b>Fish && chips</b> <font")); });
    ASSERT_NE(shown, entries.end());
    QTextDocument tip;
    const QString toolTip = (*shown)->toolTip();
    Qt::mightBeRichText(toolTip) ? tip.setHtml(toolTip) : tip.setPlainText(toolTip);
    EXPECT_EQ(tip.toPlainText(), partial);
    auto* view = tray->popup()->findChild<MenuBarContentView*>();
    ASSERT_NE(view, nullptr);
    QWidget* stop = view->buttonFor(MenuCommand::stopDictation);
    ASSERT_NE(stop, nullptr);
    QTest::mouseClick(stop, Qt::LeftButton);
    h.settle();
    EXPECT_FALSE(tray->popup()->isVisible());
    EXPECT_EQ(h.coordinator().phase(), DictationPhase::finalizing);

    tray->showPopup();
    ASSERT_TRUE(tray->popup()->isVisible());
    tray->popup()->close();
    QCoreApplication::processEvents();
    EXPECT_EQ(lastWindowClosed.count(), 0);
    // Ctrl+Q on the card is the quit command.
    tray->showPopup();
    QTest::keyClick(tray->popup(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(actions.quits, 1);
    // And on the tray's menu, which shows it.
    tray->contextMenu()->popup(QPoint(40, 40));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(tray->contextMenu()));
    QTest::keyClick(tray->contextMenu(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(actions.quits, 2);
    EXPECT_FALSE(tray->contextMenu()->isVisible());
}

TEST(TrayController, CardAndMenuCloseWhenTheDictationLeavesRecording)
{
    if (!hasDesktop())
        TESSVALE_SKIP_WITHOUT_DESKTOP() << "needs the private desktop of scripts/test-env";
    CoordinatorHarness h;
    DictationCoordinatorTestAccess::setSignedIn(h.coordinator(), CoordinatorHarness::sampleMe());
    Actions actions;
    auto tray = makeController(h.coordinator(), actions);
    tray->start();
    for (const bool card : { true, false }) {
        DictationCoordinatorTestAccess::setPhase(h.coordinator(), DictationPhase::recording);
        if (card)
            tray->showPopup();
        else
            tray->contextMenu()->popup(QPoint(40, 40));
        QWidget* open = card ? tray->popup() : tray->contextMenu();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(open));
        // The push-to-talk key goes up: the insertion that follows needs the keyboard back.
        DictationCoordinatorTestAccess::setPhase(h.coordinator(), DictationPhase::finalizing);
        EXPECT_FALSE(open->isVisible()) << card;
    }
}

// Run by the test below, on a desktop of its own that has no tray host at first.
TEST(TrayFallback, ChildShowsTheWindowUntilATrayHostAppears)
{
    if (qEnvironmentVariableIsEmpty("TESSVALE_TRAY_FALLBACK_CHILD"))
        GTEST_SKIP() << "run by WindowWithoutATrayHostThenTheIcon";
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    CoordinatorHarness h;
    Actions actions;
    auto tray = makeController(h.coordinator(), actions);
    tray->setTrayPollInterval(std::chrono::milliseconds(200));
    QSignalSpy lastWindowClosed(qApp, &QGuiApplication::lastWindowClosed);
    tray->start();
    ASSERT_NE(tray->fallbackWindow(), nullptr);
    ASSERT_TRUE(waitUntil([&] { return tray->fallbackWindow()->isVisible(); }, std::chrono::seconds(60)));
    EXPECT_FALSE(tray->isTrayIconShown());
    EXPECT_EQ(tray->fallbackWindow()->windowTitle(), QStringLiteral("Tessvale"));

    // Closing it hides it, the application goes on, and a relaunch brings it back.
    tray->fallbackWindow()->close();
    QCoreApplication::processEvents();
    EXPECT_FALSE(tray->fallbackWindow()->isVisible());
    EXPECT_EQ(lastWindowClosed.count(), 0);
    tray->presentFromRelaunch();
    EXPECT_TRUE(tray->fallbackWindow()->isVisible());

    fputs("fallback-shown\n", stdout);
    fflush(stdout);
    ASSERT_TRUE(waitUntil([&] { return tray->isTrayIconShown(); }, std::chrono::seconds(60)));
    ASSERT_TRUE(waitUntil([&] { return isEmbedded(trayIconWindow()); }, std::chrono::seconds(60)));
    // The host announces itself again, as it may just after the icon was shown: Qt gives the icon a
    // new window.
    const WId first = trayIconWindow()->winId();
    announceTrayHost();
    ASSERT_TRUE(waitUntil(
        [&] {
            QWidget* icon = trayIconWindow();
            return icon && icon->winId() != first && isEmbedded(icon);
        },
        std::chrono::seconds(60)));
    EXPECT_FALSE(tray->fallbackWindow()->isVisible());
    // Embedded, nothing polls.
    for (const QTimer* timer : tray->findChildren<QTimer*>())
        EXPECT_FALSE(timer->isActive());
    fputs("tray-shown\n", stdout);
    fflush(stdout);
    // The tray host goes away: the window comes back.
    ASSERT_TRUE(waitUntil(
        [&] { return tray->fallbackWindow()->isVisible() && !tray->isTrayIconShown(); }, std::chrono::seconds(60)));
}

TEST(TrayFallback, WindowWithoutATrayHostThenTheIconOnceOneStarts)
{
    if (!qEnvironmentVariableIsEmpty("TESSVALE_TRAY_FALLBACK_CHILD"))
        GTEST_SKIP();
    for (const char* tool : { "Xvfb", "openbox", "trayer", "xwininfo" }) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            GTEST_SKIP() << tool << " is not installed";
    }
    // A private X server with a window manager and no tray host; Xvfb picks a free display.
    QProcess xvfb;
    xvfb.start(QStringLiteral("Xvfb"),
        { QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
            QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp"),
            QStringLiteral("-noreset") });
    ASSERT_TRUE(xvfb.waitForReadyRead(60000));
    const QString display = QStringLiteral(":") + QString::fromLatin1(xvfb.readLine().trimmed());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display);
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    QProcess openbox;
    openbox.setProcessEnvironment(environment);
    openbox.start(QStringLiteral("openbox"), {});
    // The window manager serves once it has named itself on the root window. (The server must not reset
    // when a query's connection closes before the window manager's is open: the manager's would fail.)
    ASSERT_TRUE(waitUntil([&] {
        QProcess xprop;
        xprop.setProcessEnvironment(environment);
        xprop.start(QStringLiteral("xprop"), { QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK") });
        return xprop.waitForFinished(60000) && xprop.readAllStandardOutput().contains("window id");
    }));

    QProcess child;
    environment.insert(QStringLiteral("TESSVALE_TRAY_FALLBACK_CHILD"), QStringLiteral("1"));
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(),
        { QStringLiteral("--gtest_filter=TrayFallback.ChildShowsTheWindowUntilATrayHostAppears") });
    QString output;
    ASSERT_TRUE(waitUntil(
        [&] {
            return (output += QString::fromLocal8Bit(child.readAllStandardOutput()))
                .contains(QStringLiteral("fallback-shown"));
        },
        std::chrono::seconds(60)));

    QProcess trayer;
    trayer.setProcessEnvironment(environment);
    trayer.start(QStringLiteral("trayer"), { QStringLiteral("--edge"), QStringLiteral("top") });
    EXPECT_TRUE(waitUntil(
        [&] {
            output += QString::fromLocal8Bit(child.readAllStandardOutput());
            return output.contains(QStringLiteral("tray-shown"));
        },
        std::chrono::seconds(60)));
    trayer.kill();
    EXPECT_TRUE(child.waitForFinished(60000));
    output += QString::fromLocal8Bit(child.readAllStandardOutput());
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("tray-shown"))) << output.toStdString();

    for (QProcess* process : { &child, &trayer, &openbox, &xvfb }) {
        process->terminate();
        if (!process->waitForFinished(3000))
            process->kill();
        process->waitForFinished(1000);
    }
}
