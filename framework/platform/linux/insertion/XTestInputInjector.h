#pragma once

#include <chrono>
#include <memory>

#include "async/Sleeper.h"
#include "platform/insertion/InputInjector.h"

namespace tessvale {

class X11Connection;

// Key events through XTest on the X server. Text is typed by mapping the characters of a batch onto
// spare keycodes all at once (the same keysym on every level, so no case conversion applies), typing
// the batch, and restoring the keymap afterwards. Main thread only.
class XTestInputInjector final : public InputInjector
{
public:
    // After the last batch is typed, its keycodes keep their meaning this long (plus a little per key)
    // so a target that reads the keymap lazily still translates them with this batch's mapping.
    static constexpr std::chrono::milliseconds keymapSettleDelay { 60 };
    static constexpr std::chrono::microseconds keymapSettlePerKey { 300 };
    // Before the spare keycodes are remapped for the next batch, the target must have handled every key
    // of the previous one: a generous per-key allowance for slow targets.
    static constexpr std::chrono::microseconds keymapRemapPerKey { 4000 };

    explicit XTestInputInjector(Sleeper* sleeper = nullptr);
    ~XTestInputInjector() override;

    bool isAvailable() override;
    QStringList heldModifiers() override;
    bool emitPasteShortcut() override;
    QCoro::Task<TypingOutcome> typeText(QString text, std::function<bool()> stillOnTarget, CancelToken token) override;

private:
    bool ensureConnection();

    std::unique_ptr<X11Connection> m_connection;
    bool m_triedConnection = false;
    Sleeper* m_sleeper;
};

} // namespace tessvale
