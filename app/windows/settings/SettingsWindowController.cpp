#include "windows/settings/SettingsWindowController.h"

#include <QApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QScreen>
#include <QVBoxLayout>

#include "windows/KeyboardNavigation.h"
#include "windows/PresentWindow.h"
#include "windows/WindowPlacement.h"
#include "windows/settings/SettingsView.h"

namespace tessvale {

namespace {

constexpr QSize kPreferredSize { 560, 640 };

} // namespace

QRect settingsWindowGeometry(const QRect& available)
{
    return fittedWindowGeometry(kPreferredSize, available);
}

SettingsWindowController::SettingsWindowController(
    AppSettings& settings, DictationCoordinator& coordinator, LaunchAtLoginService& launchAtLogin, QObject* parent)
    : AppWindowController(settings, coordinator, launchAtLogin, parent)
{
}

SettingsWindowController::~SettingsWindowController() = default;

QWidget* SettingsWindowController::ensureWindow()
{
    if (m_window)
        return m_window.get();
    QVBoxLayout* layout = buildWindow(QStringLiteral("Tessvale Preferences"),
        { QKeySequence(Qt::Key_Escape), QKeySequence(Qt::ControlModifier | Qt::Key_W) });
    m_view = new SettingsView(m_settings, m_coordinator, m_launchAtLogin, m_window.get());
    if (m_cardFactory)
        m_view->setShortcutsCard(m_cardFactory(m_settings, m_coordinator));
    layout->addWidget(m_view);
    m_window->resize(kPreferredSize);
    return m_window.get();
}

void SettingsWindowController::showSettingsWindow()
{
    QWidget* window = ensureWindow();
    // A window that comes up (again) does so on the pointer's screen, whole: the view scrolls.
    if (!window->isVisible()) {
        if (QScreen* screen = screenOfPointer())
            window->setGeometry(settingsWindowGeometry(screen->availableGeometry()));
    }
    // It opens on its first control, unless the user is already working in it.
    focusFirstControl(m_view);
    presentWindow(window);
}

OpenSettingsShortcut::OpenSettingsShortcut(std::function<void()> open, QObject* parent)
    : QObject(parent)
    , m_open(std::move(open))
{
    qApp->installEventFilter(this);
}

OpenSettingsShortcut::~OpenSettingsShortcut()
{
    if (qApp)
        qApp->removeEventFilter(this);
}

bool OpenSettingsShortcut::matches(int key, Qt::KeyboardModifiers modifiers)
{
    const QKeyCombination combination(modifiers & ~Qt::KeypadModifier, Qt::Key(key));
    if (combination == QKeyCombination(Qt::ControlModifier, Qt::Key_Comma))
        return true;
    // Where the platform theme names its own Preferences keys, those work as well.
    const QList<QKeySequence> preferences = QKeySequence::keyBindings(QKeySequence::Preferences);
    for (const QKeySequence& sequence : preferences) {
        if (sequence.count() == 1 && sequence[0] == combination)
            return true;
    }
    return false;
}

bool OpenSettingsShortcut::eventFilter(QObject* watched, QEvent* event)
{
    // The key as it reaches one of our widgets; a key capture, installed later, sees its keys
    // before this filter does.
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->isAutoRepeat() || !matches(key->key(), key->modifiers()))
        return false;
    m_open();
    return true;
}

} // namespace tessvale
