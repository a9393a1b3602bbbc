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

QCoro::Task<bool> XTestInputInjector::confirmRead(std::shared_ptr<X11Connection> connection,
    std::optional<unsigned long> window, Sleeper* sleeper, CancelToken lifetime, CancelToken token)
{
    if (!window)
        co_return false;
    // The ping holds the connection through the frame, so the injector may go meanwhile.
    X11WindowPing ping(connection->display(), *window);
    const MonotonicTime deadline = sleeper->now() + readConfirmationTimeout;
    while (!ping.answered()) {
        if (sleeper->now() >= deadline || token.isCancelled())
            co_return false;
        co_await sleeper->sleep(readConfirmationPoll, lifetime);
    }
    co_return true;
}

QCoro::Task<TypingOutcome> XTestInputInjector::typeText(
    QString text, std::function<bool()> stillOnTarget, CancelToken token)
{
    token.throwIfCancelled();
    if (!ensureConnection())
        co_return TypingOutcome { TypingStatus::failed, 0 };
    std::vector<KeySym> sequence;
    // For each key, how many code points of the text lie before it (a CR LF pair is one key).
    std::vector<qsizetype> textOffset;
    const QList<uint> codePoints = text.toUcs4();
    for (qsizetype i = 0; i < codePoints.size(); ++i) {
        if (codePoints[i] == U'\r' && i + 1 < codePoints.size() && codePoints[i + 1] == U'\n')
            continue;
        const auto keysym = keysymFor(codePoints[i] == U'\r' ? U'\n' : codePoints[i]);
        if (!keysym) {
            qCWarning(lcTextInsertion) << "cannot type control character" << codePoints[i];
            co_return TypingOutcome { TypingStatus::failed, 0 };
        }
        sequence.push_back(*keysym);
        textOffset.push_back(i);
    }
    textOffset.push_back(codePoints.size());
    const std::weak_ptr<bool> alive = m_alive;
    Display* display = m_connection->display();
    const std::map<KeySym, DirectKey> direct = directKeys(display);
    // Mapping notifications (ours too) and late answers queue up between runs.
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == MappingNotify)
            XRefreshKeyboardMapping(&event.xmapping);
    }
    const KeyCode shift = XKeysymToKeycode(display, XK_Shift_L);
    m_spares->refresh();
    const std::optional<unsigned long> target = X11WindowPing::focusedPingableWindow(display);
    const bool needsSpares = std::any_of(sequence.begin(), sequence.end(), [&](KeySym k) { return !direct.count(k); });
    qCDebug(lcTextInsertion) << "typing" << sequence.size() << "keys with" << m_spares->spareCount()
                             << "spare keycodes; target answers pings:" << target.has_value();
    for (const KeySym keysym : sequence) {
        if (isEditingKey(keysym) && !direct.count(keysym)) {
            qCWarning(lcTextInsertion) << "the keyboard has no key for" << XKeysymToString(keysym);
            co_return TypingOutcome { TypingStatus::failed, 0 };
        }
    }
    if (needsSpares && !target) {
        // A borrowed code types its character only once the target has taken the new mapping, and
        // nothing tells when a target that answers no ping has: it may look the keys up with the old one.
        qCWarning(lcTextInsertion) << "the target answers no ping, so characters on spare keycodes cannot be "
                                      "confirmed; nothing typed";
        co_return TypingOutcome { TypingStatus::failed, 0 };
    }
    // Spare codes typed since the target last confirmed it read everything: their meaning stays.
    std::set<int> unread;
    std::vector<int> codes(sequence.size(), 0);
    // A press right after a release of its own key code would share the release's server time.
    std::set<unsigned int> releasedSincePress;
    const auto press = [&](unsigned int key) {
        const bool repeats = releasedSincePress.count(key) > 0;
        XTestFakeKeyEvent(
            display, key, True, repeats ? static_cast<unsigned long>(repeatedKeyDelay.count()) : CurrentTime);
        releasedSincePress.clear();
    };
    // Whether the target read what was sent (the keys, the mapping changes); the focus is checked
    // after each answer too, as a focus move while the target was busy is seen only now.
    const auto confirm = [&]() { return confirmRead(m_connection, target, m_sleeper, m_lifetime.token(), token); };
    // Characters known to have reached the target: the keys sent before the last focus check that
    // found it still there. Keys of the chunk sent just before a check that found it gone may have
    // gone either way.
    qsizetype delivered = 0;
    size_t sent = 0;
    const auto onTarget = [&] {
        if (stillOnTarget && !stillOnTarget())
            return false;
        delivered = textOffset[sent];
        return true;
    };
    if (!onTarget())
        co_return TypingOutcome { TypingStatus::focusMoved, 0, 0 };
    bool shiftHeld = false;
    size_t position = 0;
    while (position < sequence.size() && !token.isCancelled()) {
        // The longest run of text whose missing characters have codes that can be used now.
        size_t end = position;
        for (; end < sequence.size(); ++end) {
            if (direct.count(sequence[end]))
                continue;
            const std::optional<int> code = m_spares->codeFor(sequence[end], unread);
            if (!code)
                break;
            codes[end] = *code;
        }
        if (end == position) {
            if (unread.empty()) {
                qCWarning(lcTextInsertion) << "no spare keycodes to type with";
                co_return TypingOutcome { TypingStatus::failed, delivered, textOffset[sent] };
            }
            // Every spare code holds keys the target may not have read: wait until it has.
            const bool confirmed = co_await confirm();
            if (alive.expired())
                throw CancelledError();
            if (token.isCancelled())
                break;
            if (!onTarget())
                co_return TypingOutcome { TypingStatus::focusMoved, delivered, textOffset[sent] };
            if (!confirmed) {
                qCWarning(lcTextInsertion) << "the target did not confirm it read the typed keys; stopping after"
                                           << textOffset[position] << "of" << codePoints.size() << "characters";
                co_return TypingOutcome { TypingStatus::failed, delivered, textOffset[sent] };
            }
            unread.clear();
            continue;
        }
        if (m_spares->apply()) {
            // Keys on the new codes only once the target has taken the mapping they need.
            const bool confirmed = co_await confirm();
            if (alive.expired())
                throw CancelledError();
            if (token.isCancelled())
                break;
            if (!onTarget())
                co_return TypingOutcome { TypingStatus::focusMoved, delivered, textOffset[sent] };
            if (!confirmed) {
                qCWarning(lcTextInsertion) << "the target did not confirm it took the new key mapping; stopping after"
                                           << textOffset[position] << "of" << codePoints.size() << "characters";
                co_return TypingOutcome { TypingStatus::failed, delivered, textOffset[sent] };
            }
        }
        for (size_t chunk = position; chunk < end; chunk += keysPerChunk) {
            if (token.isCancelled())
                break;
            auto scope = m_syntheticInput->begin();
            const size_t chunkEnd = std::min(end, chunk + keysPerChunk);
            for (size_t k = chunk; k < chunkEnd; ++k) {
                const auto found = direct.find(sequence[k]);
                const bool needShift = found != direct.end() && found->second.shift && shift != 0;
                const auto code = static_cast<unsigned int>(found != direct.end() ? found->second.code : codes[k]);
                // Shift stays down across consecutive shifted characters and is released before any other.
                if (shiftHeld && !needShift) {
                    XTestFakeKeyEvent(display, shift, False, CurrentTime);
                    releasedSincePress.insert(shift);
                    shiftHeld = false;
                }
                if (needShift && !shiftHeld) {
                    press(shift);
                    shiftHeld = true;
                }
                press(code);
                XTestFakeKeyEvent(display, code, False, CurrentTime);
                releasedSincePress.insert(code);
            }
            if (shiftHeld) {
                XTestFakeKeyEvent(display, shift, False, CurrentTime);
                releasedSincePress.insert(shift);
                shiftHeld = false;
            }
            XSync(display, False);
            position = chunkEnd;
            sent = chunkEnd;
            // The server has routed the chunk's keys by now: where the focus is decides where they went.
            if (!onTarget())
                co_return TypingOutcome { TypingStatus::focusMoved, delivered, textOffset[sent] };
        }
    }
    if (token.isCancelled())
        throw CancelledError(); // meanings stay: the keys sent may still be unread
    // The keys of the last chunk count once the focus is seen on the target after them.
    bool confirmed = false;
    if (target) {
        confirmed = co_await confirm();
        if (alive.expired())
            throw CancelledError();
        token.throwIfCancelled();
    }
    if (!onTarget())
        co_return TypingOutcome { TypingStatus::focusMoved, delivered, textOffset[sent] };
    // Unconfirmed meanings are kept for this run's keys and given up only by a later run.
    if (confirmed || unread.empty())
        m_spares->resetAll();
    if (!confirmed && !unread.empty()) {
        qCWarning(lcTextInsertion) << "the target did not confirm it read the keys typed on spare keycodes";
        co_return TypingOutcome { TypingStatus::unconfirmed, delivered, textOffset[sent] };
    }
    // Keys on the keyboard's own codes mean the same whenever the target reads them.
    if (!confirmed && target)
        qCInfo(lcTextInsertion) << "the target has not confirmed yet that it read the typed keys";
    co_return TypingOutcome { TypingStatus::complete, codePoints.size(), codePoints.size() };
}

} // namespace tessvale
