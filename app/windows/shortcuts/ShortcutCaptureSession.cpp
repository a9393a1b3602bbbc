#include "windows/shortcuts/ShortcutCaptureSession.h"

#include <QCoreApplication>
#include <QKeyEvent>

#include "platform/shortcuts/KeyCodeTranslator.h"
#include "settings/ModifierKeyCodes.h"

namespace tessvale {

namespace {

std::optional<quint16> keyCodeForQtKey(int key)
{
    switch (key) {
    case Qt::Key_Control:
        return MacKeyCode::control;
    case Qt::Key_Alt:
        return MacKeyCode::option;
    case Qt::Key_AltGr:
        return MacKeyCode::rightOption;
    case Qt::Key_Shift:
        return MacKeyCode::shift;
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
        return MacKeyCode::command;
    case Qt::Key_Super_R:
        return MacKeyCode::rightCommand;
    case Qt::Key_CapsLock:
        return MacKeyCode::capsLock;
    case Qt::Key_Space:
        return MacKeyCode::space;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return MacKeyCode::returnKey;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return MacKeyCode::tab;
    case Qt::Key_Escape:
        return MacKeyCode::escape;
    case Qt::Key_Backspace:
        return MacKeyCode::deleteKey;
    default:
        break;
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F12)
        return namedKeyCode(QStringLiteral("F%1").arg(key - Qt::Key_F1 + 1));
    if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9))
        return namedKeyCode(QString(QChar(key)));
    return std::nullopt;
}

ShortcutModifiers modifiersOfQt(Qt::KeyboardModifiers flags)
{
    ShortcutModifiers modifiers;
    if (flags & Qt::ControlModifier)
        modifiers |= ShortcutModifiers::control;
    if (flags & Qt::AltModifier)
        modifiers |= ShortcutModifiers::option;
    if (flags & Qt::ShiftModifier)
        modifiers |= ShortcutModifiers::shift;
    if (flags & Qt::MetaModifier)
        modifiers |= ShortcutModifiers::command;
    return modifiers;
}

} // namespace

ShortcutCaptureSession::ShortcutCaptureSession(DictationShortcutRole role, CaptureHandler onCapture,
    CancelHandler onCancel, KeyCodeTranslator* keyCodes, QObject* parent)
    : QObject(parent)
    , m_role(role)
    , m_onCapture(std::move(onCapture))
    , m_onCancel(std::move(onCancel))
    , m_keyCodes(keyCodes)
{
}

ShortcutCaptureSession::~ShortcutCaptureSession()
{
    stopCapture();
}

void ShortcutCaptureSession::startCapture()
{
    if (m_capturing || !QCoreApplication::instance())
        return;
    if (m_keyCodes)
        m_keyCodes->refresh();
    QCoreApplication::instance()->installEventFilter(this);
    m_capturing = true;
}

void ShortcutCaptureSession::stopCapture()
{
    if (!m_capturing)
        return;
    m_capturing = false;
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
}

std::optional<quint16> ShortcutCaptureSession::keyCode(const QKeyEvent& event, const KeyCodeTranslator* keyCodes)
{
    if (keyCodes && event.nativeScanCode() != 0)
        return keyCodes->keyCode(event.nativeScanCode());
    return keyCodeForQtKey(event.key());
}

bool ShortcutCaptureSession::eventFilter(QObject* watched, QEvent* event)
{
    if (!m_capturing)
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::ShortcutOverride:
        // Accepted, so the press comes as a key event (to be consumed below) and no shortcut runs.
        event->accept();
        return true;
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        keyEvent(static_cast<const QKeyEvent&>(*event), event->type() == QEvent::KeyPress);
        event->accept();
        return true;
    case QEvent::InputMethod:
        // Text composed by an input method reaches no line edit either.
        return true;
    default:
        return QObject::eventFilter(watched, event);
    }
}

void ShortcutCaptureSession::keyEvent(const QKeyEvent& event, bool press)
{
    const std::optional<quint16> code = keyCode(event, m_keyCodes);
    if (code && modifierForKeyCode(*code)) {
        if (press)
            m_heldModifierKeys.insert(*code);
        else if (m_heldModifierKeys.erase(*code) == 0)
            return; // held before the recording began: no press was seen
        handleModifiersChanged(heldModifiers());
        return;
    }
    if (code == MacKeyCode::capsLock || !press)
        return;
    handleKeyDown(code, heldModifiers() | modifiersOfQt(event.modifiers()));
}

std::optional<quint16> ShortcutCaptureSession::heldOtherKey() const
{
    if (!m_keyCodes)
        return std::nullopt;
    for (quint16 code : m_keyCodes->heldKeyCodes()) {
        if (!modifierForKeyCode(code) && code != MacKeyCode::capsLock)
            return code;
    }
    return std::nullopt;
}

ShortcutModifiers ShortcutCaptureSession::heldModifiers() const
{
    ShortcutModifiers modifiers;
    for (quint16 key : m_heldModifierKeys)
        modifiers |= modifierForKeyCode(key).value_or(ShortcutModifiers {});
    return modifiers;
}

void ShortcutCaptureSession::handleModifiersChanged(ShortcutModifiers modifiers)
{
    if (!modifiers.isEmpty()) {
        m_currentModifiers = modifiers;
        m_modifierUnion |= modifiers;
        return;
    }
    const bool sawPress = !m_currentModifiers.isEmpty() && !m_modifierUnion.isEmpty();
    const ShortcutModifiers captured = m_modifierUnion;
    m_currentModifiers = {};
    m_modifierUnion = {};
    if (!sawPress)
        return;
    const ShortcutGesture gesture = m_role == DictationShortcutRole::handsFreeToggle
        ? ShortcutGesture::doubleTapModifiers
        : ShortcutGesture::holdModifiers;
    // A copy: the handler may drop this session.
    CaptureHandler onCapture = m_onCapture;
    onCapture(ShortcutBinding { gesture, captured, std::nullopt });
}

void ShortcutCaptureSession::handleKeyDown(std::optional<quint16> keyCode, ShortcutModifiers modifiers)
{
    if (keyCode == MacKeyCode::escape) {
        CancelHandler onCancel = m_onCancel;
        onCancel();
        return;
    }
    if (m_role != DictationShortcutRole::handsFreeToggle || modifiers.isEmptyOrShiftOnly())
        return;
    // A key the engine has no code for cannot be listened for; it is captured as a code without a
    // name, so the refusal says why instead of the key doing nothing.
    CaptureHandler onCapture = m_onCapture;
    onCapture(ShortcutBinding { ShortcutGesture::keyComboPress, modifiers, keyCode.value_or(unnamedKeyCode) });
}

} // namespace tessvale
