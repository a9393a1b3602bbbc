#include "platform/linux/insertion/XTestInputInjector.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "base/Logging.h"
#include "platform/SyntheticInputTracker.h"
#include "platform/linux/X11Connection.h"
#include "platform/linux/insertion/X11SpareKeycodes.h"
#include "platform/linux/insertion/X11WindowPing.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace tessvale {

namespace {

// Keys are sent in chunks: the focus is checked and a cancellation takes effect between chunks.
constexpr size_t keysPerChunk = 32;

std::optional<KeySym> keysymFor(char32_t codePoint)
{
    if (codePoint == U'\n')
        return XK_Return;
    if (codePoint == U'\t')
        return XK_Tab;
    if (codePoint < 0x20 || (codePoint >= 0x7f && codePoint < 0xa0))
        return std::nullopt; // other control characters would act as commands
    if (codePoint <= 0xff)
        return static_cast<KeySym>(codePoint);
    return static_cast<KeySym>(0x01000000 | codePoint);
}

// How a character already on the keyboard is typed: its keycode, with Shift for the second level.
struct DirectKey
{
    int code = 0;
    bool shift = false;
};

bool isEditingKey(KeySym keysym)
{
    return keysym == XK_Return || keysym == XK_Tab;
}

// Return and Tab on the keyboard's own keys (clients take a key code for a key of the keyboard, and a
// borrowed code is no Enter or Tab key to them); the characters on the first two levels of the first
// group while that group is active and no lock (Caps Lock) would change them. The spare key codes
// cover every other character.
std::map<KeySym, DirectKey> directKeys(Display* display)
{
    std::map<KeySym, DirectKey> keys;
    XkbStateRec state {};
    const bool plainLevels = XkbGetState(display, XkbUseCoreKbd, &state) == Success && state.group == 0
        && (state.locked_mods & (LockMask | Mod5Mask)) == 0;
    int min = 0;
    int max = 0;
    XDisplayKeycodes(display, &min, &max);
    int perCode = 0;
    KeySym* map = XGetKeyboardMapping(display, static_cast<KeyCode>(min), max - min + 1, &perCode);
    if (!map)
        return keys;
    for (int code = min; code <= max; ++code) {
        for (int level = 0; level < std::min(perCode, 2); ++level) {
            const KeySym keysym = map[(code - min) * perCode + level];
            // Printable ASCII only: keypad and function keys may behave differently.
            const bool usable
                = (level == 0 && isEditingKey(keysym)) || (plainLevels && keysym >= 0x20 && keysym <= 0x7e);
            if (usable && !keys.count(keysym))
                keys[keysym] = DirectKey { code, level == 1 };
        }
    }
    XFree(map);
    return keys;
}

// The keys that type a text, in order.
struct KeyPlan
{
    std::vector<KeySym> keys;
    // For each key, how many code points of the text lie before it (a CR LF pair is one key), and
    // after the last key the text's length.
    std::vector<qsizetype> textOffset;
};

std::optional<KeyPlan> planKeys(const QList<uint>& codePoints)
{
    KeyPlan plan;
    for (qsizetype i = 0; i < codePoints.size(); ++i) {
        if (codePoints[i] == U'\r' && i + 1 < codePoints.size() && codePoints[i + 1] == U'\n')
            continue;
        const auto keysym = keysymFor(codePoints[i] == U'\r' ? U'\n' : codePoints[i]);
        if (!keysym) {
            qCWarning(lcTextInsertion) << "cannot type control character" << codePoints[i];
            return std::nullopt;
        }
        plan.keys.push_back(*keysym);
        plan.textOffset.push_back(i);
    }
    plan.textOffset.push_back(codePoints.size());
    return plan;
}

// Mapping notifications (ours too) and late answers queue up between runs.
void drainPendingEvents(Display* display)
{
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == MappingNotify)
            XRefreshKeyboardMapping(&event.xmapping);
    }
}

// Whether the focused client read every event sent so far (false: no answer in time, or it answers no
// pings). The ping holds the connection through the frame, so the injector may go meanwhile.
QCoro::Task<bool> confirmRead(std::shared_ptr<X11Connection> connection, std::optional<unsigned long> window,
    Sleeper* sleeper, CancelToken lifetime, CancelToken token)
{
    if (!window)
        co_return false;
    X11WindowPing ping(connection->display(), *window);
    const MonotonicTime deadline = sleeper->now() + XTestInputInjector::readConfirmationTimeout;
    while (!ping.answered()) {
        if (sleeper->now() >= deadline || token.isCancelled())
            co_return false;
        QCoro::Task<> pause = sleeper->sleep(XTestInputInjector::readConfirmationPoll, lifetime);
        co_await pause;
    }
    co_return true;
}

} // namespace

XTestInputInjector::XTestInputInjector(std::shared_ptr<SyntheticInputTracker> syntheticInput, Sleeper* sleeper)
    : m_syntheticInput(std::move(syntheticInput))
    , m_sleeper(sleeper ? sleeper : &Sleeper::system())
{
}

XTestInputInjector::~XTestInputInjector()
{
    m_lifetime.cancel();
    *m_alive = false;
}

bool XTestInputInjector::ensureConnection()
{
    if (!m_connection && !m_triedConnection) {
        m_triedConnection = true;
        QString reason;
        m_connection = std::shared_ptr<X11Connection>(X11Connection::open(&reason));
        if (!m_connection)
            qCWarning(lcTextInsertion).noquote() << "no X11 display for key events:" << reason;
        else if (!m_connection->hasXTest()) {
            qCWarning(lcTextInsertion) << "the X server has no XTest extension";
            m_connection.reset();
        } else
            m_spares = std::make_unique<X11SpareKeycodes>(m_connection->display());
    }
    return m_connection != nullptr;
}

bool XTestInputInjector::isAvailable()
{
    return ensureConnection();
}

QStringList XTestInputInjector::heldModifiers()
{
    if (!ensureConnection())
        return {};
    Display* display = m_connection->display();
    char keys[32] = {};
    XQueryKeymap(display, keys);
    XModifierKeymap* modifiers = XGetModifierMapping(display);
    QStringList held;
    if (!modifiers)
        return held;
    for (int i = 0; i < 8 * modifiers->max_keypermod; ++i) {
        const KeyCode code = modifiers->modifiermap[i];
        if (code == 0 || !(keys[code / 8] & (1 << (code % 8))))
            continue;
        const KeySym keysym = XkbKeycodeToKeysym(display, code, 0, 0);
        const char* name = XKeysymToString(keysym);
        const QString label = name ? QString::fromLatin1(name) : QString::number(code);
        if (!held.contains(label))
            held << label;
    }
    XFreeModifiermap(modifiers);
    return held;
}

PlatformResult XTestInputInjector::emitPasteShortcut()
{
    if (!ensureConnection())
        return PlatformResult::failed(QStringLiteral("no connection to the X server"));
    Display* display = m_connection->display();
    const KeyCode shift = XKeysymToKeycode(display, XK_Shift_L);
    const KeyCode insert = XKeysymToKeycode(display, XK_Insert);
    if (shift == 0 || insert == 0)
        return PlatformResult::failed(QStringLiteral("the keyboard has no Shift or Insert key"));
    auto scope = m_syntheticInput->begin();
    // Shift+Insert pastes in terminals (PRIMARY) and in the toolkits (CLIPBOARD) alike.
    XTestFakeKeyEvent(display, shift, True, CurrentTime);
    XTestFakeKeyEvent(display, insert, True, CurrentTime);
    XTestFakeKeyEvent(display, insert, False, CurrentTime);
    XTestFakeKeyEvent(display, shift, False, CurrentTime);
    XSync(display, False);
    return PlatformResult::ok();
}

// One typing run's state, kept in typeText's frame.
struct XTestInputInjector::TypingRun
{
    Display* display = nullptr;
    KeyPlan plan;
    std::map<KeySym, DirectKey> direct;
    KeyCode shift = 0;
    // The window whose answer to a ping confirms it read what was sent; absent when it answers none.
    std::optional<unsigned long> target;
    std::function<bool()> stillOnTarget;
    CancelToken token;
    // Spare codes typed since the target last confirmed it read everything: their meaning stays.
    std::set<int> unread;
    std::vector<int> codes;
    // A press right after a release of its own key code would share the release's server time.
    std::set<unsigned int> releasedSincePress;
    // Characters known to have reached the target: the keys sent before the last focus check that
    // found it still there. Keys of the chunk sent just before a check that found it gone may have
    // gone either way.
    qsizetype delivered = 0;
    size_t sent = 0;

    bool onTarget()
    {
        if (stillOnTarget && !stillOnTarget())
            return false;
        delivered = plan.textOffset[sent];
        return true;
    }

    TypingOutcome stopped(TypingStatus status) const
    {
        return TypingOutcome { status, delivered, plan.textOffset[sent] };
    }

    void press(unsigned int key)
    {
        const bool repeats = releasedSincePress.count(key) > 0;
        XTestFakeKeyEvent(
            display, key, True, repeats ? static_cast<unsigned long>(repeatedKeyDelay.count()) : CurrentTime);
        releasedSincePress.clear();
    }

    void release(unsigned int key)
    {
        XTestFakeKeyEvent(display, key, False, CurrentTime);
        releasedSincePress.insert(key);
    }

    void sendChunk(size_t from, size_t to)
    {
        bool shiftHeld = false;
        for (size_t k = from; k < to; ++k) {
            const auto found = direct.find(plan.keys[k]);
            const bool needShift = found != direct.end() && found->second.shift && shift != 0;
            const auto code = static_cast<unsigned int>(found != direct.end() ? found->second.code : codes[k]);
            // Shift stays down across consecutive shifted characters and is released before any other.
            if (shiftHeld && !needShift) {
                release(shift);
                shiftHeld = false;
            }
            if (needShift && !shiftHeld) {
                press(shift);
                shiftHeld = true;
            }
            press(code);
            release(code);
        }
        if (shiftHeld)
            release(shift);
        XSync(display, False);
    }
};

void XTestInputInjector::prepareRun(TypingRun& run)
{
    Display* display = m_connection->display();
    run.display = display;
    run.direct = directKeys(display);
    drainPendingEvents(display);
    run.shift = XKeysymToKeycode(display, XK_Shift_L);
    m_spares->refresh();
    run.target = X11WindowPing::focusedPingableWindow(display);
    run.codes.assign(run.plan.keys.size(), 0);
    qCDebug(lcTextInsertion) << "typing" << run.plan.keys.size() << "keys with" << m_spares->spareCount()
                             << "spare keycodes; target answers pings:" << run.target.has_value();
}

bool XTestInputInjector::canType(const TypingRun& run) const
{
    for (const KeySym keysym : run.plan.keys) {
        if (isEditingKey(keysym) && !run.direct.count(keysym)) {
            qCWarning(lcTextInsertion) << "the keyboard has no key for" << XKeysymToString(keysym);
            return false;
        }
    }
    const bool needsSpares
        = std::any_of(run.plan.keys.begin(), run.plan.keys.end(), [&](KeySym k) { return !run.direct.count(k); });
    if (needsSpares && !run.target) {
        // A borrowed code types its character only once the target has taken the new mapping, and
        // nothing tells when a target that answers no ping has: it may look the keys up with the old one.
        qCWarning(lcTextInsertion) << "the target answers no ping, so characters on spare keycodes cannot be "
                                      "confirmed; nothing typed";
        return false;
    }
    return true;
}

size_t XTestInputInjector::usableRunEnd(TypingRun& run, size_t position)
{
    size_t end = position;
    for (; end < run.plan.keys.size(); ++end) {
        if (run.direct.count(run.plan.keys[end]))
            continue;
        const std::optional<int> code = m_spares->codeFor(run.plan.keys[end], run.unread);
        if (!code)
            break;
        run.codes[end] = *code;
    }
    return end;
}

QCoro::Task<bool> XTestInputInjector::awaitReadConfirmation(TypingRun& run)
{
    const std::weak_ptr<bool> alive = m_alive;
    QCoro::Task<bool> answer = confirmRead(m_connection, run.target, m_sleeper, m_lifetime.token(), run.token);
    const bool confirmed = co_await answer;
    if (alive.expired())
        throw CancelledError();
    co_return confirmed;
}

QCoro::Task<std::optional<TypingOutcome>> XTestInputInjector::confirmBeforeMoreKeys(
    TypingRun& run, const char* unconfirmed, size_t position)
{
    QCoro::Task<bool> answer = awaitReadConfirmation(run);
    const bool confirmed = co_await answer;
    run.token.throwIfCancelled();
    // The focus is checked after each answer too, as a focus move while the target was busy is seen
    // only now.
    if (!run.onTarget())
        co_return run.stopped(TypingStatus::focusMoved);
    if (!confirmed) {
        qCWarning(lcTextInsertion) << unconfirmed << run.plan.textOffset[position] << "of" << run.plan.textOffset.back()
                                   << "characters";
        co_return run.stopped(TypingStatus::failed);
    }
    co_return std::nullopt;
}

std::optional<TypingOutcome> XTestInputInjector::sendKeys(TypingRun& run, size_t from, size_t to)
{
    for (size_t chunk = from; chunk < to; chunk += keysPerChunk) {
        if (run.token.isCancelled())
            break;
        auto scope = m_syntheticInput->begin();
        const size_t chunkEnd = std::min(to, chunk + keysPerChunk);
        run.sendChunk(chunk, chunkEnd);
        run.sent = chunkEnd;
        // The server has routed the chunk's keys by now: where the focus is decides where they went.
        if (!run.onTarget())
            return run.stopped(TypingStatus::focusMoved);
    }
    return std::nullopt;
}

QCoro::Task<TypingOutcome> XTestInputInjector::finishRun(TypingRun& run)
{
    // The keys of the last chunk count once the focus is seen on the target after them.
    bool confirmed = false;
    if (run.target) {
        QCoro::Task<bool> answer = awaitReadConfirmation(run);
        confirmed = co_await answer;
        run.token.throwIfCancelled();
    }
    if (!run.onTarget())
        co_return run.stopped(TypingStatus::focusMoved);
    // Unconfirmed meanings are kept for this run's keys and given up only by a later run.
    if (confirmed || run.unread.empty())
        m_spares->resetAll();
    if (!confirmed && !run.unread.empty()) {
        qCWarning(lcTextInsertion) << "the target did not confirm it read the keys typed on spare keycodes";
        co_return run.stopped(TypingStatus::unconfirmed);
    }
    // Keys on the keyboard's own codes mean the same whenever the target reads them.
    if (!confirmed && run.target)
        qCInfo(lcTextInsertion) << "the target has not confirmed yet that it read the typed keys";
    const qsizetype total = run.plan.textOffset.back();
    co_return TypingOutcome { TypingStatus::complete, total, total };
}

QCoro::Task<TypingOutcome> XTestInputInjector::typeText(
    QString text, std::function<bool()> stillOnTarget, CancelToken token)
{
    token.throwIfCancelled();
    if (!ensureConnection())
        co_return TypingOutcome { TypingStatus::failed, 0 };
    std::optional<KeyPlan> plan = planKeys(text.toUcs4());
    if (!plan)
        co_return TypingOutcome { TypingStatus::failed, 0 };
    TypingRun run;
    run.plan = std::move(*plan);
    run.stillOnTarget = std::move(stillOnTarget);
    run.token = token;
    prepareRun(run);
    if (!canType(run))
        co_return TypingOutcome { TypingStatus::failed, 0 };
    if (!run.onTarget())
        co_return TypingOutcome { TypingStatus::focusMoved, 0, 0 };
    size_t position = 0;
    while (position < run.plan.keys.size() && !token.isCancelled()) {
        const size_t end = usableRunEnd(run, position);
        if (end == position) {
            if (run.unread.empty()) {
                qCWarning(lcTextInsertion) << "no spare keycodes to type with";
                co_return run.stopped(TypingStatus::failed);
            }
            // Every spare code holds keys the target may not have read: wait until it has.
            QCoro::Task<std::optional<TypingOutcome>> read = confirmBeforeMoreKeys(
                run, "the target did not confirm it read the typed keys; stopping after", position);
            const std::optional<TypingOutcome> stop = co_await read;
            if (stop)
                co_return *stop;
            run.unread.clear();
            continue;
        }
        if (m_spares->apply()) {
            // Keys on the new codes only once the target has taken the mapping they need.
            QCoro::Task<std::optional<TypingOutcome>> taken = confirmBeforeMoreKeys(
                run, "the target did not confirm it took the new key mapping; stopping after", position);
            const std::optional<TypingOutcome> stop = co_await taken;
            if (stop)
                co_return *stop;
        }
        if (const std::optional<TypingOutcome> stop = sendKeys(run, position, end))
            co_return *stop;
        position = end;
    }
    if (token.isCancelled())
        throw CancelledError(); // meanings stay: the keys sent may still be unread
    QCoro::Task<TypingOutcome> finished = finishRun(run);
    const TypingOutcome outcome = co_await finished;
    co_return outcome;
}

} // namespace tessvale
