#include "setup/SetupWindowController.h"

#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>
#include <QWidget>

#include "coordinator/DictationCoordinator.h"

namespace tessvale {

SetupWindowController::SetupWindowController(
    AppSettings& settings, DictationCoordinator& coordinator, LaunchAtLoginService& launchAtLogin, QObject* parent)
    : QObject(parent)
    , m_settings(settings)
    , m_coordinator(coordinator)
    , m_launchAtLogin(launchAtLogin)
{
}

SetupWindowController::~SetupWindowController() = default;

QWidget* SetupWindowController::ensureWindow()
{
    if (m_window)
        return m_window.get();
    // A normal top-level window: title bar, close, minimize and resize. Its content comes with the
    // setup view; until then it offers the one step nothing else offers, the browser sign-in.
    auto window = std::make_unique<QWidget>(nullptr, Qt::Window);
    auto* signIn = new QPushButton(QStringLiteral("Continue in Browser"), window.get());
    signIn->setVisible(!m_coordinator.isAuthenticated());
    connect(signIn, &QPushButton::clicked, this, [this] { m_coordinator.beginSignIn(); });
    connect(&m_coordinator, &DictationCoordinator::isAuthenticatedChanged, signIn,
        [signIn](bool authenticated) { signIn->setVisible(!authenticated); });
    auto* layout = new QVBoxLayout(window.get());
    layout->addWidget(signIn, 0, Qt::AlignCenter);
    window->setWindowTitle(QStringLiteral("Tessvale Settings"));
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
    QWidget* window = ensureWindow();
    if (window->isMinimized())
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
    return window->isVisible();
}

} // namespace tessvale
