#include "platform/linux/shortcuts/X11KeyGrabber.h"

#include <algorithm>

#include <QSocketNotifier>

#include "base/Logging.h"
#include "platform/linux/X11Connection.h"
#include "platform/linux/shortcuts/X11KeyMap.h"
#include "settings/ModifierKeyCodes.h"

// X11 headers last: they define macros (Status, Bool, None) that clash with Qt's.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>

namespace tessvale {

namespace {

struct ModifierKey
{
    ShortcutModifiers modifier;
    quint16 keyCode;
    const char* name;
};

constexpr ModifierKey modifierKeys[] = {
    { ShortcutModifiers::control, MacKeyCode::control, "Control" },
    { ShortcutModifiers::option, MacKeyCode::option, "Alt" },
    { ShortcutModifiers::shift, MacKeyCode::shift, "Shift" },
    { ShortcutModifiers::command, MacKeyCode::command, "Super" },
    { ShortcutModifiers::function, MacKeyCode::function, "Fn" },
};

} // namespace

X11KeyGrabber::X11KeyGrabber(QObject* parent)
    : QObject(parent)
{
}

X11KeyGrabber::~X11KeyGrabber()
{
    ungrabAll();
}

bool X11KeyGrabber::ensureConnection(QString* reason)
{
    if (m_connection)
        return true;
    QString openReason;
    m_connection = X11Connection::open(&openReason);
    if (!m_connection) {
        if (reason)
            *reason = openReason;
        return false;
    }
    m_keyMap = std::make_unique<X11KeyMap>(m_connection->display());
    Bool detectable = False;
    XkbSetDetectableAutoRepeat(m_connection->display(), True, &detectable);
    if (!detectable)
        qCInfo(lcHotKey) << "the X server cannot report auto-repeat without releases";
    m_notifier = new QSocketNotifier(m_connection->fileDescriptor(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &X11KeyGrabber::readEvents);
    return true;
}

PlatformResult X11KeyGrabber::grab(quint16 keyCode, ShortcutModifiers modifiers)
{
    QString connectionReason;
    if (!ensureConnection(&connectionReason))
        return PlatformResult::failed(connectionReason);
    Display* display = m_connection->display();
    m_keyMap->refresh();
    const std::vector<unsigned> nativeCodes = m_keyMap->nativeKeyCodes(keyCode);
    if (nativeCodes.empty())
        return PlatformResult::failed(QStringLiteral("The keyboard has no key for this shortcut."));
    unsigned mask = 0;
    for (const auto& key : modifierKeys) {
        if (!modifiers.contains(key.modifier))
            continue;
        const unsigned modifierMask = m_keyMap->modifierMask(key.keyCode);
        if (modifierMask == 0)
            return PlatformResult::failed(
                QStringLiteral("The %1 modifier is not available on this keyboard.").arg(QLatin1String(key.name)));
        mask |= modifierMask;
    }

    std::vector<unsigned> lockVariants { 0, m_keyMap->capsLockMask() };
    if (m_keyMap->numLockMask() != 0) {
        lockVariants.push_back(m_keyMap->numLockMask());
        lockVariants.push_back(m_keyMap->numLockMask() | m_keyMap->capsLockMask());
    }

    std::vector<Grab> added;
    int errorCode = 0;
    {
        X11ErrorTrap trap(display);
        for (unsigned nativeCode : nativeCodes) {
            for (unsigned variant : lockVariants) {
                XGrabKey(display, static_cast<int>(nativeCode), mask | variant, DefaultRootWindow(display), False,
                    GrabModeAsync, GrabModeAsync);
                added.push_back({ nativeCode, mask | variant, keyCode, modifiers });
            }
        }
        errorCode = trap.errorCode();
        if (errorCode != 0) {
            for (const Grab& grab : added)
                XUngrabKey(display, static_cast<int>(grab.nativeKeyCode), grab.mask, DefaultRootWindow(display));
        }
    }
    if (errorCode != 0) {
        qCWarning(lcHotKey) << "key grab refused, X error" << errorCode << "key code" << keyCode << "modifiers"
                            << modifiers;
        return PlatformResult::failed(errorCode == BadAccess
                ? QStringLiteral("Another application already uses this key combination.")
                : QStringLiteral("The X server refused the key grab (error %1).").arg(errorCode));
    }
    m_grabs.insert(m_grabs.end(), added.begin(), added.end());
    return PlatformResult::ok();
}

void X11KeyGrabber::ungrabAll()
{
    if (!m_connection)
        return;
    Display* display = m_connection->display();
    for (const Grab& grab : m_grabs)
        XUngrabKey(display, static_cast<int>(grab.nativeKeyCode), grab.mask, DefaultRootWindow(display));
    m_grabs.clear();
    m_pressedKeys.clear();
    XFlush(display);
}

void X11KeyGrabber::readEvents()
{
    if (!m_connection)
        return;
    Display* display = m_connection->display();
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == MappingNotify) {
            XRefreshKeyboardMapping(&event.xmapping);
            m_keyMap->refresh();
        } else if (event.type == KeyPress) {
            handlePress(event.xkey.keycode, event.xkey.state);
        } else if (event.type == KeyRelease) {
            m_pressedKeys.erase(event.xkey.keycode);
        }
    }
}

void X11KeyGrabber::handlePress(unsigned nativeKeyCode, unsigned state)
{
    const bool isRepeat = !m_pressedKeys.insert(nativeKeyCode).second;
    // The state also carries pointer buttons, and the lock keys the grab was made for in every variant.
    const unsigned ignored
        = ~(ShiftMask | LockMask | ControlMask | Mod1Mask | Mod2Mask | Mod3Mask | Mod4Mask | Mod5Mask)
        | m_keyMap->capsLockMask() | m_keyMap->numLockMask();
    const auto grab = std::find_if(m_grabs.begin(), m_grabs.end(), [&](const Grab& candidate) {
        return candidate.nativeKeyCode == nativeKeyCode && (candidate.mask & ~ignored) == (state & ~ignored);
    });
    // A copy: the handler may change the grabs.
    if (const PressHandler handler = m_pressHandler; grab != m_grabs.end() && handler)
        handler({ grab->keyCode, grab->modifiers, isRepeat });
}

} // namespace tessvale
