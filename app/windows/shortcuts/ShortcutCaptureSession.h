#pragma once

#include <functional>
#include <optional>
#include <set>

#include <QObject>

#include "settings/DictationShortcutRole.h"
#include "settings/ShortcutBinding.h"

class QKeyEvent;

namespace tessvale {

class KeyCodeTranslator;

// One recording attempt: while capturing, an application-wide event filter takes every key press and
// release sent to the application's windows (and the shortcut override that precedes a press, so no
// shortcut, mnemonic or Escape handling fires), and turns them into a binding for the role.
// Qt reports no modifier changes of their own, so the session follows the modifier keys held.
class ShortcutCaptureSession final : public QObject
{
    Q_OBJECT

public:
    using CaptureHandler = std::function<void(const ShortcutBinding&)>;
    using CancelHandler = std::function<void()>;

    // Stands for a key that the engine's key map does not know.
    static constexpr quint16 unnamedKeyCode = 0xffff;

    // keyCodes is the shortcut engine's key map (may be null: Qt's key values are read instead).
    ShortcutCaptureSession(DictationShortcutRole role, CaptureHandler onCapture, CancelHandler onCancel,
        KeyCodeTranslator* keyCodes = nullptr, QObject* parent = nullptr);
    ~ShortcutCaptureSession() override;

    DictationShortcutRole role() const { return m_role; }
    bool isCapturing() const { return m_capturing; }
    ShortcutModifiers currentModifiers() const { return m_currentModifiers; }
    ShortcutModifiers modifierUnion() const { return m_modifierUnion; }
    // A key other than a modifier held down now, wherever its press went; none without a key map.
    std::optional<quint16> heldOtherKey() const;

    void startCapture();
    void stopCapture();

    // The modifiers down after a modifier key went down or up.
    void handleModifiersChanged(ShortcutModifiers modifiers);
    // A key other than a modifier went down with these modifiers held.
    void handleKeyDown(std::optional<quint16> keyCode, ShortcutModifiers modifiers);

    // The engine's key code of a key event: through the key map for an event from the X server,
    // through Qt's key for one made inside the process, which carries no native code.
    static std::optional<quint16> keyCode(const QKeyEvent& event, const KeyCodeTranslator* keyCodes);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void keyEvent(const QKeyEvent& event, bool press);
    ShortcutModifiers heldModifiers() const;

    DictationShortcutRole m_role;
    CaptureHandler m_onCapture;
    CancelHandler m_onCancel;
    KeyCodeTranslator* m_keyCodes;
    bool m_capturing = false;
    ShortcutModifiers m_currentModifiers;
    ShortcutModifiers m_modifierUnion;
    // The modifier keys (by key code, each side apart) seen going down and not yet up.
    std::set<quint16> m_heldModifierKeys;
};

} // namespace tessvale
