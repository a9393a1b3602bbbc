#include "setup/SetupWindowController.h"

#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>

#include "setup/SetupView.h"
#include "windows/PresentWindow.h"
#include "windows/WindowPlacement.h"

namespace tessvale {

SetupWindowController::SetupWindowController(
    AppSettings& settings, DictationCoordinator& coordinator, LaunchAtLoginService& launchAtLogin, QObject* parent)
    : AppWindowController(settings, coordinator, launchAtLogin, parent)
{
}

SetupWindowController::~SetupWindowController() = default;

QWidget* SetupWindowController::ensureWindow()
{
    if (m_window)
        return m_window.get();
    QVBoxLayout* layout = buildWindow(QStringLiteral("Tessvale Setup"), { QKeySequence(Qt::Key_Escape) });
    QWidget* window = m_window.get();
    m_view = new SetupView(m_settings, m_coordinator, m_launchAtLogin, window);
    layout->addWidget(m_view);
    if (m_shortcutsCardFactory)
        m_view->setShortcutsCard(m_shortcutsCardFactory());
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
    return window;
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
