#include "platform/linux/insertion/XTestInputInjector.h"

#include <map>
#include <optional>
#include <vector>

#include "platform/SyntheticInputTracker.h"
#include "platform/linux/X11Connection.h"
#include "system/Logging.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace tessvale {

namespace {

// Keys are sent in chunks so a cancellation takes effect between chunks.
constexpr int keysPerChunk = 64;

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

// The keyboard mapping as read at the start of a typing run: spare keycodes and their original
// keysyms, written back on destruction whatever happens in between.
class KeymapLease
{
public:
    explicit KeymapLease(Display* display)
        : m_display(display)
    {
        XDisplayKeycodes(display, &m_min, &m_max);
        const int count = m_max - m_min + 1;
        KeySym* map = XGetKeyboardMapping(display, static_cast<KeyCode>(m_min), count, &m_perCode);
        if (!map)
            return;
        XModifierKeymap* modifiers = XGetModifierMapping(display);
        std::vector<bool> isModifier(256, false);
        if (modifiers) {
            for (int i = 0; i < 8 * modifiers->max_keypermod; ++i)
                isModifier[modifiers->modifiermap[i]] = true;
            XFreeModifiermap(modifiers);
        }
        for (int code = m_min; code <= m_max; ++code) {
            bool empty = true;
            for (int level = 0; level < m_perCode; ++level)
                empty = empty && map[(code - m_min) * m_perCode + level] == NoSymbol;
            if (empty && !isModifier[code])
                m_spare.push_back(code);
        }
        XFree(map);
    }
    ~KeymapLease() { clear(); }
    KeymapLease(const KeymapLease&) = delete;
    KeymapLease& operator=(const KeymapLease&) = delete;

    int spareCount() const { return static_cast<int>(m_spare.size()); }
    bool inUse() const { return m_used > 0; }
    std::vector<int> codesFor(size_t count) const
    {
        return { m_spare.begin(), m_spare.begin() + static_cast<long>(count) };
    }

    // Maps keysyms[i] onto the i-th spare keycode (one request per run of consecutive keycodes) and
    // waits until the server has applied it. Returns the keycodes.
    std::vector<int> map(const std::vector<KeySym>& keysyms)
    {
        std::vector<int> codes(m_spare.begin(), m_spare.begin() + static_cast<long>(keysyms.size()));
        writeRuns(codes, keysyms);
        m_used = std::max(m_used, codes.size());
        return codes;
    }

    // Puts the spare keycodes back to no symbol.
    void clear()
    {
        if (m_used == 0)
            return;
        std::vector<int> codes(m_spare.begin(), m_spare.begin() + static_cast<long>(m_used));
        writeRuns(codes, std::vector<KeySym>(codes.size(), NoSymbol));
        m_used = 0;
    }

private:
    void writeRuns(const std::vector<int>& codes, const std::vector<KeySym>& keysyms)
    {
        size_t start = 0;
        while (start < codes.size()) {
            size_t end = start + 1;
            while (end < codes.size() && codes[end] == codes[end - 1] + 1)
                ++end;
            std::vector<KeySym> block;
            for (size_t i = start; i < end; ++i)
                block.insert(block.end(), static_cast<size_t>(m_perCode), keysyms[i]);
            XChangeKeyboardMapping(m_display, codes[start], m_perCode, block.data(), static_cast<int>(end - start));
            start = end;
        }
        // A round trip: the server has applied the mapping and queued its MappingNotify before any
        // key event that follows.
        XSync(m_display, False);
    }

    Display* m_display;
    int m_min = 0;
    int m_max = 0;
    int m_perCode = 0;
    std::vector<int> m_spare;
    size_t m_used = 0;
};

// How a character already on the keyboard is typed: its keycode, with Shift for the second level.
struct DirectKey
{
    int code = 0;
    bool shift = false;
};

// Characters on the first two levels of the first group, usable only while that group is active and
// no lock (Caps Lock) would change them; the spare keycodes cover everything else.
std::map<KeySym, DirectKey> directKeys(Display* display)
{
    std::map<KeySym, DirectKey> keys;
    XkbStateRec state {};
    if (XkbGetState(display, XkbUseCoreKbd, &state) != Success || state.group != 0
        || (state.locked_mods & (LockMask | Mod5Mask)) != 0)
        return keys;
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
            // Printable Latin-1 only: keypad and function keys may behave differently.
            if (keysym >= 0x20 && keysym <= 0x7e && !keys.count(keysym))
                keys[keysym] = DirectKey { code, level == 1 };
        }
    }
    XFree(map);
    return keys;
}

} // namespace

XTestInputInjector::XTestInputInjector(Sleeper* sleeper)
    : m_sleeper(sleeper ? sleeper : &Sleeper::system())
{
}

XTestInputInjector::~XTestInputInjector() = default;

bool XTestInputInjector::ensureConnection()
{
    if (!m_connection && !m_triedConnection) {
        m_triedConnection = true;
        QString reason;
        m_connection = X11Connection::open(&reason);
        if (!m_connection)
            qCWarning(lcTextInsertion).noquote() << "no X11 display for key events:" << reason;
        else if (!m_connection->hasXTest()) {
            qCWarning(lcTextInsertion) << "the X server has no XTest extension";
            m_connection.reset();
        }
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

bool XTestInputInjector::emitPasteShortcut()
{
    if (!ensureConnection())
        return false;
    Display* display = m_connection->display();
    const KeyCode shift = XKeysymToKeycode(display, XK_Shift_L);
    const KeyCode insert = XKeysymToKeycode(display, XK_Insert);
    if (shift == 0 || insert == 0)
        return false;
    auto scope = SyntheticInputTracker::processWide().begin();
    // Shift+Insert pastes in terminals (PRIMARY) and in the toolkits (CLIPBOARD) alike.
    XTestFakeKeyEvent(display, shift, True, CurrentTime);
    XTestFakeKeyEvent(display, insert, True, CurrentTime);
    XTestFakeKeyEvent(display, insert, False, CurrentTime);
    XTestFakeKeyEvent(display, shift, False, CurrentTime);
    XSync(display, False);
    return true;
}

QCoro::Task<TypingOutcome> XTestInputInjector::typeText(
    QString text, std::function<bool()> stillOnTarget, CancelToken token)
{
    token.throwIfCancelled();
    if (!ensureConnection())
        co_return TypingOutcome { TypingStatus::failed, 0 };
    std::vector<KeySym> sequence;
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
    }
    Display* display = m_connection->display();
    const std::map<KeySym, DirectKey> direct = directKeys(display);
    const KeyCode shift = XKeysymToKeycode(display, XK_Shift_L);
    KeymapLease keymap(display);
    qCDebug(lcTextInsertion) << "typing" << sequence.size() << "keys with" << keymap.spareCount() << "spare keycodes";
    size_t position = 0;
    size_t previousBatchKeys = 0;
    while (position < sequence.size()) {
        // The longest run of text whose characters missing from the keyboard fit the spare keycodes.
        std::map<KeySym, size_t> slot;
        std::vector<KeySym> batchKeysyms;
        size_t end = position;
        while (end < sequence.size()) {
            const KeySym keysym = sequence[end];
            if (!direct.count(keysym) && !slot.count(keysym)) {
                if (static_cast<int>(batchKeysyms.size()) == keymap.spareCount())
                    break;
                slot[keysym] = batchKeysyms.size();
                batchKeysyms.push_back(keysym);
            }
            ++end;
        }
        if (end == position) {
            qCWarning(lcTextInsertion) << "no spare keycodes to type with";
            co_return TypingOutcome { TypingStatus::failed, 0 };
        }
        if (stillOnTarget && !stillOnTarget()) {
            keymap.clear();
            co_return TypingOutcome { TypingStatus::focusMoved, static_cast<qsizetype>(position) };
        }
        if (!batchKeysyms.empty()) {
            if (position > 0) {
                // A target that reads the keymap when it handles the change must have handled the
                // previous batch's keys before their keycodes change meaning.
                try {
                    co_await m_sleeper->sleep(keymapSettleDelay
                        + std::chrono::duration_cast<std::chrono::milliseconds>(
                            keymapRemapPerKey * static_cast<int>(previousBatchKeys)));
                } catch (const CancelledError&) {
                }
                if (token.isCancelled())
                    break;
            }
            keymap.map(batchKeysyms);
        }
        const std::vector<int> codes
            = batchKeysyms.empty() ? std::vector<int> {} : keymap.codesFor(batchKeysyms.size());
        for (size_t i = position; i < end; i += keysPerChunk) {
            if (token.isCancelled())
                break;
            auto scope = SyntheticInputTracker::processWide().begin();
            const size_t chunkEnd = std::min(end, i + keysPerChunk);
            for (size_t k = i; k < chunkEnd; ++k) {
                const auto found = direct.find(sequence[k]);
                const bool useShift = found != direct.end() && found->second.shift && shift != 0;
                const auto code
                    = static_cast<unsigned int>(found != direct.end() ? found->second.code : codes[slot[sequence[k]]]);
                if (useShift)
                    XTestFakeKeyEvent(display, shift, True, CurrentTime);
                XTestFakeKeyEvent(display, code, True, CurrentTime);
                XTestFakeKeyEvent(display, code, False, CurrentTime);
                if (useShift)
                    XTestFakeKeyEvent(display, shift, False, CurrentTime);
            }
            XSync(display, False);
        }
        previousBatchKeys = end - position;
        position = end;
        if (token.isCancelled())
            break;
    }
    if (keymap.inUse()) {
        // The keycodes keep this batch's meaning until a lazily reading target has looked them up.
        try {
            co_await m_sleeper->sleep(keymapSettleDelay
                + std::chrono::duration_cast<std::chrono::milliseconds>(
                    keymapSettlePerKey * static_cast<int>(previousBatchKeys)));
        } catch (const CancelledError&) {
        }
    }
    keymap.clear();
    token.throwIfCancelled();
    co_return TypingOutcome { TypingStatus::complete, static_cast<qsizetype>(sequence.size()) };
}

} // namespace tessvale
