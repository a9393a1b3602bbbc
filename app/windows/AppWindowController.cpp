#include "windows/AppWindowController.h"

#include <QVBoxLayout>
#include <QWidget>

#include "windows/KeyboardNavigation.h"
#include "windows/rows/RowStyle.h"

namespace tessvale {

AppWindowController::AppWindowController(
    AppSettings& settings, DictationCoordinator& coordinator, LaunchAtLoginService& launchAtLogin, QObject* parent)
    : QObject(parent)
    , m_settings(settings)
    , m_coordinator(coordinator)
    , m_launchAtLogin(launchAtLogin)
{
    ensureReadableSecondaryText();
}

AppWindowController::~AppWindowController() = default;

QVBoxLayout* AppWindowController::buildWindow(const QString& title, const QList<QKeySequence>& closeKeys)
{
    m_window = std::make_unique<QWidget>(nullptr, Qt::Window);
    m_window->setWindowTitle(title);
    // Closing hides it; it is never rebuilt.
    m_window->setAttribute(Qt::WA_DeleteOnClose, false);
    addCloseKeys(m_window.get(), closeKeys);
    auto* layout = new QVBoxLayout(m_window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    return layout;
}

} // namespace tessvale
