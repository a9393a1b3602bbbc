#include "menu/TrayController.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainterPath>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTextDocument>
#include <QVBoxLayout>

#include "coordinator/DictationCoordinator.h"
#include "hud/DesktopCompositor.h"
#include "icons/SymbolIcons.h"
#include "menu/MenuBarContentView.h"
#include "windows/rows/RowStyle.h"

namespace tessvale {

namespace {

constexpr int kMenuTextWidth = 300;

// Menu entries show service and user text literally: "&" is no mnemonic, tabs and line breaks
// are spaces, and long texts end in an ellipsis (the whole text is the tooltip).
QString menuText(QString text, const QFontMetrics& metrics, bool elide)
{
    text.replace(QLatin1Char('\t'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    if (elide)
        text = metrics.elidedText(text, Qt::ElideRight, kMenuTextWidth);
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

// A text that carries meaning (a detail, an error) split at word boundaries into menu lines of the
// menu's width, so none of it is cut; only a live transcript longer than a screenful of lines ends in
// an ellipsis (its tooltip holds it whole).
constexpr qsizetype kMostMenuLines = 8;

QStringList wrappedMenuLines(QString text, const QFontMetrics& metrics)
{
    text.replace(QLatin1Char('\t'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    QStringList lines;
    QString line;
    for (const QString& word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QString longer = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
        if (!line.isEmpty() && metrics.horizontalAdvance(longer) > kMenuTextWidth) {
            lines.append(line);
            line = word;
        } else {
            line = longer;
        }
    }
    if (!line.isEmpty())
        lines.append(line);
    if (lines.size() > kMostMenuLines) {
        lines.resize(kMostMenuLines);
        lines.back() = metrics.elidedText(lines.back() + QStringLiteral(" \u2026"), Qt::ElideRight, kMenuTextWidth);
    }
    return lines;
}

QWidget* hostWindow(Qt::WindowFlags flags, QWidget* content)
{
    auto* window = new QWidget(nullptr, flags);
    // Closing it hides it; it never counts towards quitting the application.
    window->setAttribute(Qt::WA_QuitOnClose, false);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(content);
    return window;
}

// A tooltip reads markup when its text looks like some: the service's or the user's text is given as
// text that shows literally.
QString plainToolTip(const QString& text)
{
    return Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal);
}

} // namespace

TrayController::TrayController(DictationCoordinator& coordinator, std::function<void()> showSetup,
    std::function<void()> quit, std::function<void()> showSettings, QObject* parent)
    : QObject(parent)
    , m_coordinator(coordinator)
    , m_showSetup(std::move(showSetup))
    , m_quit(std::move(quit))
    , m_showSettings(std::move(showSettings))
    , m_menu(std::make_unique<QMenu>())
{
    ensureReadableSecondaryText();
    m_trayPoll.setParent(this);
    m_trayPoll.setInterval(std::chrono::seconds(2));
    connect(&m_trayPoll, &QTimer::timeout, this, &TrayController::checkForTrayHost);
    connect(&coordinator, &DictationCoordinator::stateChanged, this, &TrayController::refresh);
    m_phase = coordinator.phase();
    connect(&coordinator, &DictationCoordinator::phaseChanged, this, &TrayController::phaseChanged);
    // A shortcut on an action of a menu without a parent never fires: the open menu takes the keys.
    m_menu->installEventFilter(this);
}

TrayController::~TrayController()
{
    m_trayPoll.stop();
    m_embeddedWindow = nullptr;
    delete m_trayIcon;
}

void TrayController::start()
{
    m_started = true;
    refresh();
    if (QSystemTrayIcon::isSystemTrayAvailable())
        showTrayIcon();
    else
        showFallbackWindow();
}

void TrayController::presentFromRelaunch()
{
    if (!isTrayIconShown())
        showFallbackWindow();
}

bool TrayController::isTrayIconShown() const
{
    return m_trayIcon && m_trayIcon->isVisible();
}

void TrayController::refresh()
{
    if (!m_started)
        return;
    const MenuBarContent content = menuBarContent(MenuBarContentInput::from(m_coordinator));
    if (content != m_menuContent)
        rebuildMenu(content);
    const QString name = m_coordinator.menuBarSymbolName();
    if (m_trayIcon && name != m_iconName) {
        m_iconName = name;
        m_trayIcon->setIcon(traySymbolIcon(name));
    }
}

void TrayController::rebuildMenu(const MenuBarContent& content)
{
    m_menuContent = content;
    m_menu->clear();
    const QFontMetrics metrics(m_menu->font());
    for (const MenuRow& row : content.rows) {
        if (row.kind == MenuRowKind::divider) {
            m_menu->addSeparator();
            continue;
        }
        const bool informational = row.kind == MenuRowKind::statusCard || row.kind == MenuRowKind::header
            || row.kind == MenuRowKind::message;
        QString title = row.title;
        if (row.kind == MenuRowKind::updateRow)
            title += QStringLiteral(" (") + row.badge + QLatin1Char(')');
        // An error or a transcript goes on over as many lines as it takes.
        QStringList continued;
        if (row.kind == MenuRowKind::message) {
            continued = wrappedMenuLines(title, metrics);
            title = continued.isEmpty() ? QString() : continued.takeFirst();
        }
        QAction* action = m_menu->addAction(symbolIcon(row.symbol), menuText(title, metrics, informational));
        action->setEnabled(row.enabled && row.command.has_value());
        if (informational)
            action->setToolTip(plainToolTip(row.title));
        if (!row.shortcut.isEmpty())
            action->setShortcut(QKeySequence(row.shortcut));
        if (row.command) {
            const MenuCommand command = *row.command;
            connect(action, &QAction::triggered, this,
                [this, command] { performMenuCommand(command, m_coordinator, m_showSetup, m_quit, m_showSettings); });
        }
        if (row.kind == MenuRowKind::statusCard || row.kind == MenuRowKind::header)
            continued = wrappedMenuLines(row.detail, metrics);
        for (const QString& line : continued) {
            QAction* detail = m_menu->addAction(menuText(line, metrics, true));
            detail->setToolTip(plainToolTip(row.kind == MenuRowKind::message ? row.title : row.detail));
            detail->setEnabled(false);
        }
    }
    m_menu->setToolTipsVisible(true);
}

void TrayController::showTrayIcon()
{
    m_trayPoll.stop();
    if (!m_trayIcon) {
        m_trayIcon = new QSystemTrayIcon(this);
        m_trayIcon->setToolTip(QStringLiteral("Tessvale"));
        m_trayIcon->setContextMenu(m_menu.get());
        connect(m_trayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger)
                showPopup();
        });
    }
    m_iconName = m_coordinator.menuBarSymbolName();
    m_trayIcon->setIcon(traySymbolIcon(m_iconName));
    m_trayIcon->show();
    if (m_window)
        m_window->hide();
    watchEmbedding();
}

void TrayController::watchEmbedding()
{
    // On X11 the icon is a small window of its own that the tray host embeds; when the host goes
    // away Qt hides it. That hide is the only sign of a lost tray, so no timer runs while embedded.
    // Qt also replaces the window (hiding the old one) whenever a tray host announces itself, which
    // can come after the icon was shown: the replacement is watched from then on.
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->inherits("QSystemTrayIconSys") && widget != m_embeddedWindow) {
            m_embeddedWindow = widget;
            widget->installEventFilter(this);
        }
    }
}

void TrayController::phaseChanged(DictationPhase phase)
{
    // The card and the menu hold the keyboard and the pointer: the insertion that follows the
    // recording could not give the focus back to the application dictated into while they are open.
    const bool leftRecording = m_phase == DictationPhase::recording && phase != DictationPhase::recording;
    m_phase = phase;
    if (!leftRecording && phase != DictationPhase::inserting)
        return;
    if (m_popup)
        m_popup->hide();
    m_menu->hide();
}

bool TrayController::menuShortcutPressed(const QKeyEvent& event)
{
    const QKeySequence pressed(event.keyCombination());
    for (QAction* action : m_menu->actions()) {
        if (action->isEnabled() && !action->shortcut().isEmpty() && action->shortcut() == pressed) {
            // As after a click: the menu closes, then the command runs.
            m_menu->hide();
            action->trigger();
            return true;
        }
    }
    return false;
}

void TrayController::shapePopup()
{
    if (desktopCompositorRunning())
        m_popup->clearMask();
    else
        setWindowShape(m_popup.get(), m_popup->findChild<MenuBarContentView*>()->cardShape());
}

bool TrayController::eventFilter(QObject* watched, QEvent* event)
{
    if (m_popup && watched == m_popup.get() && event->type() == QEvent::Resize && m_popup->isVisible())
        shapePopup();
    if (watched == m_menu.get() && event->type() == QEvent::KeyPress
        && menuShortcutPressed(*static_cast<QKeyEvent*>(event)))
        return true;
    if (watched == m_embeddedWindow && event->type() == QEvent::Hide) {
        QTimer::singleShot(0, this, [this] {
            if (!m_trayIcon)
                return;
            if (QSystemTrayIcon::isSystemTrayAvailable()) {
                watchEmbedding();
                return;
            }
            m_embeddedWindow = nullptr;
            m_trayIcon->hide();
            showFallbackWindow();
        });
    }
    return QObject::eventFilter(watched, event);
}

void TrayController::checkForTrayHost()
{
    if (QSystemTrayIcon::isSystemTrayAvailable())
        showTrayIcon();
}

void TrayController::showFallbackWindow()
{
    if (!m_window) {
        m_window.reset(
            hostWindow(Qt::Window, new MenuBarContentView(m_coordinator, m_showSetup, m_quit, m_showSettings)));
        m_window->setWindowTitle(QStringLiteral("Tessvale"));
    }
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
    if (!isTrayIconShown())
        m_trayPoll.start();
}

void TrayController::showPopup()
{
    if (!m_popup) {
        auto* view = new MenuBarContentView(m_coordinator, m_showSetup, m_quit, m_showSettings);
        m_popup.reset(hostWindow(Qt::Popup, view));
        // Only the rounded card shows: the room around it is transparent for its shadow, or cut away
        // where no compositor blends it.
        m_popup->setAttribute(Qt::WA_TranslucentBackground);
        // The card grows and shrinks with its content while it shows.
        m_popup->installEventFilter(this);
        // The command runs after the card has closed, as after a menu.
        connect(view, &MenuBarContentView::commandTriggered, m_popup.get(), &QWidget::hide);
    }
    if (m_popup->isVisible()) {
        m_popup->hide();
        return;
    }
    QRect anchor = m_trayIcon ? m_trayIcon->geometry() : QRect();
    if (!anchor.isValid())
        anchor = QRect(QCursor::pos(), QSize(1, 1));
    QScreen* screen = QGuiApplication::screenAt(anchor.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect available = screen->availableGeometry();
    const QSize size = m_popup->sizeHint();
    const bool below = anchor.center().y() < available.center().y();
    QPoint position(
        anchor.center().x() - size.width() / 2, below ? anchor.bottom() + 4 : anchor.top() - size.height() - 4);
    position.setX(qBound(available.left(), position.x(), available.right() - size.width() + 1));
    position.setY(qBound(available.top(), position.y(), available.bottom() - size.height() + 1));
    m_popup->move(position);
    m_popup->layout()->activate();
    shapePopup();
    m_popup->show();
    m_popup->activateWindow();
}

} // namespace tessvale
