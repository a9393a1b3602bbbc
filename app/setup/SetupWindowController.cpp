#include "setup/SetupWindowController.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>
#include <QWidget>

#include "setup/SetupView.h"
#include "windows/PresentWindow.h"
#include "windows/rows/RowStyle.h"

namespace tessvale {

SetupWindowController::SetupWindowController(
    AppSettings& settings, DictationCoordinator& coordinator, LaunchAtLoginService& launchAtLogin, QObject* parent)
    : QObject(parent)
    , m_settings(settings)
    , m_coordinator(coordinator)
    , m_launchAtLogin(launchAtLogin)
{
    ensureReadableSecondaryText();
}

SetupWindowController::~SetupWindowController() = default;

QWidget* SetupWindowController::ensureWindow()
{
    if (m_window)
        return m_window.get();
    // A normal top-level window: title bar, close, minimize and resize, around the setup view.
    auto window = std::make_unique<QWidget>(nullptr, Qt::Window);
    auto* layout = new QVBoxLayout(window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    m_view = new SetupView(m_settings, m_coordinator, m_launchAtLogin, window.get());
    layout->addWidget(m_view);
    if (m_shortcutsCardFactory)
        m_view->setShortcutsCard(m_shortcutsCardFactory());
    window->setWindowTitle(QStringLiteral("Tessvale Setup"));
    window->setMinimumSize(minimumContentWidth, minimumContentHeight);
    window->resize(contentWidth, contentHeight);
    // Closing hides it; it is never rebuilt.
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        window->setGeometry(QStyle::alignedRect(
            Qt::LeftToRight, Qt::AlignCenter, QSize(contentWidth, contentHeight), screen->availableGeometry()));
    }
    m_window = std::move(window);
    return m_window.get();
}

bool SetupWindowController::showSetupWindow()
{
    return presentWindow(ensureWindow());
}

} // namespace tessvale
