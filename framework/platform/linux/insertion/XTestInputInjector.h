#pragma once

#include "platform/linux/BackendOnly.h"

#include <chrono>
#include <memory>
#include <optional>

#include "async/CancelToken.h"
#include "async/Sleeper.h"
#include "platform/SyntheticInputTracker.h"
#include "platform/insertion/InputInjector.h"

namespace tessvale {

class X11Connection;
class X11SpareKeycodes;

// Key events through XTest on the X server. Characters the layout lacks are typed through spare key
// codes that are given those characters; a code keeps its meaning until the target has answered a
// ping sent after the keys typed with it (a target that answers none keeps the meanings until a
// later run), so no key is looked up with another batch's mapping. Main thread only.
class XTestInputInjector final : public InputInjector
{
public:
    // A press right after a release of the same key code gets a later server time by this much:
    // clients that read their own key events take a release and a press at one time for auto-repeat.
    static constexpr std::chrono::milliseconds repeatedKeyDelay { 2 };
    // How long a target may take to read the keys typed so far before its answer is given up on: a
    // toolkit handling hundreds of keys and keymap changes on a loaded machine takes seconds (4.7 s
    // seen), and an answer given up on stops the typing or reports it unconfirmed.
    static constexpr std::chrono::milliseconds readConfirmationTimeout { 10000 };
    static constexpr std::chrono::milliseconds readConfirmationPoll { 2 };

    // syntheticInput marks our keys so the keyboard monitor does not take them for the user's.
    explicit XTestInputInjector(std::shared_ptr<SyntheticInputTracker> syntheticInput, Sleeper* sleeper = nullptr);
    ~XTestInputInjector() override;

    bool isAvailable() override;
    QStringList heldModifiers() override;
    PlatformResult emitPasteShortcut() override;
    QCoro::Task<TypingOutcome> typeText(QString text, std::function<bool()> stillOnTarget, CancelToken token) override;

private:
    struct TypingRun;

    bool ensureConnection();
    // The run's view of the keyboard and of the target, read before its first key.
    void prepareRun(TypingRun& run);
    // Whether every key of the run can be typed with a meaning the target is known to have taken.
    bool canType(const TypingRun& run) const;
    // The end of the longest run of keys from position whose characters missing from the keyboard have
    // spare codes that can be used now.
    size_t usableRunEnd(TypingRun& run, size_t position);
    QCoro::Task<bool> awaitReadConfirmation(TypingRun& run);
    // Waits until the target read what was sent; what the run stops with when it did not, or when the
    // focus left it meanwhile.
    QCoro::Task<std::optional<TypingOutcome>> confirmBeforeMoreKeys(
        TypingRun& run, const char* unconfirmed, size_t position);
    // Sends keys [from, to) in chunks, the focus checked after each; what the run stops with when it moved.
    std::optional<TypingOutcome> sendKeys(TypingRun& run, size_t from, size_t to);
    QCoro::Task<TypingOutcome> finishRun(TypingRun& run);

    std::shared_ptr<X11Connection> m_connection;
    std::unique_ptr<X11SpareKeycodes> m_spares;
    bool m_triedConnection = false;
    std::shared_ptr<SyntheticInputTracker> m_syntheticInput;
    Sleeper* m_sleeper;
    CancelSource m_lifetime;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace tessvale
