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
    // How long a target may take to read the keys typed so far before its answer is given up on.
    static constexpr std::chrono::milliseconds readConfirmationTimeout { 3000 };
    static constexpr std::chrono::milliseconds readConfirmationPoll { 2 };

    // syntheticInput marks our keys so the keyboard monitor does not take them for the user's.
    explicit XTestInputInjector(std::shared_ptr<SyntheticInputTracker> syntheticInput, Sleeper* sleeper = nullptr);
    ~XTestInputInjector() override;

    bool isAvailable() override;
    QStringList heldModifiers() override;
    PlatformResult emitPasteShortcut() override;
    QCoro::Task<TypingOutcome> typeText(QString text, std::function<bool()> stillOnTarget, CancelToken token) override;

private:
    bool ensureConnection();
    // Whether the focused client read every event sent so far (false: no answer in time, or it
    // answers no pings).
    static QCoro::Task<bool> confirmRead(std::shared_ptr<X11Connection> connection, std::optional<unsigned long> window,
        Sleeper* sleeper, CancelToken lifetime, CancelToken token);

    std::shared_ptr<X11Connection> m_connection;
    std::unique_ptr<X11SpareKeycodes> m_spares;
    bool m_triedConnection = false;
    std::shared_ptr<SyntheticInputTracker> m_syntheticInput;
    Sleeper* m_sleeper;
    CancelSource m_lifetime;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace tessvale
