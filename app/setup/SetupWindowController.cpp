#include "setup/SetupWindowController.h"

#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>

#include "setup/SetupView.h"
#include "windows/KeyboardNavigation.h"
#include "windows/PresentWindow.h"
#include "windows/WindowPlacement.h"
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
    // Closing hides it; it is never rebuilt.
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    addCloseKeys(window.get(), { QKeySequence(Qt::Key_Escape) });
    // Whole on the user's screen, title bar included: the view scrolls what is taller.
    const QRect available = screenOfPointer() ? screenOfPointer()->availableGeometry() : QRect();
    const QSize minimum(minimumContentWidth, minimumContentHeight);
    if (available.isValid()) {
        window->setMinimumSize(fittedMinimumSize(minimum, available));
        window->setGeometry(setupWindowGeometry(available));
    } else {
        window->setMinimumSize(minimum);
        window->resize(contentWidth, contentHeight);
    }
    m_window = std::move(window);
    return m_window.get();
}

QRect setupWindowGeometry(const QRect& available)
{
    return fittedWindowGeometry(
        QSize(SetupWindowController::contentWidth, SetupWindowController::contentHeight), available);
}

bool SetupWindowController::showSetupWindow()
{
    return presentWindow(ensureWindow());
}

} // namespace tessvale
