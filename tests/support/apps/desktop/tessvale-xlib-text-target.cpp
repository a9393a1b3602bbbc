// A bare Xlib text target that reads its own key events, as some large applications do:
//   - it looks the keyboard mapping up again when it handles a mapping change (never earlier), so a
//     key code remapped before it got round to the change reads as the new symbol;
//   - a press at the same server time as the release of the same key before it is taken for
//     auto-repeat and dropped;
//   - it knows Return and Tab by the key codes the keyboard had for them at its start, as browsers
//     take a key code for a key of the keyboard: those keysyms on any other code type nothing;
//   - it answers _NET_WM_PING in the order of its events (unless --no-ping).
//
//   tessvale-xlib-text-target --report FILE [--title TITLE] [--stall-ms N] [--no-ping] [--paste-multiple]
//
// --stall-ms N: sleeps N ms before handling the first mapping change, like a busy application.
// --paste-multiple: Shift+Insert pastes the clipboard's UTF8_STRING, asked for inside a MULTIPLE request
// (the selection protocol's way to ask for several forms at once).
// The text (UTF-8) goes to the report file after every character. Prints "READY <window id>" once
// the window has the keyboard focus.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <unistd.h>

namespace {

struct Keymap
{
    int min = 0;
    int perCode = 0;
    std::vector<KeySym> symbols;

    void load(Display* display)
    {
        int max = 0;
        XDisplayKeycodes(display, &min, &max);
        KeySym* map = XGetKeyboardMapping(display, static_cast<KeyCode>(min), max - min + 1, &perCode);
        symbols.assign(map, map + (max - min + 1) * perCode);
        XFree(map);
    }

    KeySym lookup(unsigned int code, bool shifted) const
    {
        const size_t base = (code - static_cast<unsigned int>(min)) * static_cast<size_t>(perCode);
        if (base + 1 >= symbols.size())
            return NoSymbol;
        const KeySym second = perCode > 1 ? symbols[base + 1] : NoSymbol;
        return shifted && second != NoSymbol ? second : symbols[base];
    }
};

void appendUtf8(std::string& text, char32_t c)
{
    if (c < 0x80) {
        text += static_cast<char>(c);
    } else if (c < 0x800) {
        text += static_cast<char>(0xc0 | (c >> 6));
        text += static_cast<char>(0x80 | (c & 0x3f));
    } else if (c < 0x10000) {
        text += static_cast<char>(0xe0 | (c >> 12));
        text += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
        text += static_cast<char>(0x80 | (c & 0x3f));
    } else {
        text += static_cast<char>(0xf0 | (c >> 18));
        text += static_cast<char>(0x80 | ((c >> 12) & 0x3f));
        text += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
        text += static_cast<char>(0x80 | (c & 0x3f));
    }
}

char32_t characterOf(KeySym keysym)
{
    if (keysym == XK_Return)
        return U'\n';
    if (keysym == XK_Tab)
        return U'\t';
    if ((keysym >= 0x20 && keysym <= 0x7e) || (keysym >= 0xa0 && keysym <= 0xff))
        return static_cast<char32_t>(keysym);
    if ((keysym & 0xff000000) == 0x01000000)
        return static_cast<char32_t>(keysym & 0x00ffffff);
    return 0;
}

void writeReport(const std::string& path, const std::string& text)
{
    const std::string temporary = path + ".tmp";
    if (FILE* file = std::fopen(temporary.c_str(), "wb")) {
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
        std::rename(temporary.c_str(), path.c_str());
    }
}

} // namespace

int main(int argc, char** argv)
{
    std::string report;
    std::string title = "Tessvale Xlib Target";
    int stallMs = 0;
    bool answerPings = true;
    bool pasteMultiple = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--report" && i + 1 < argc)
            report = argv[++i];
        else if (argument == "--title" && i + 1 < argc)
            title = argv[++i];
        else if (argument == "--stall-ms" && i + 1 < argc)
            stallMs = std::atoi(argv[++i]);
        else if (argument == "--no-ping")
            answerPings = false;
        else if (argument == "--paste-multiple")
            pasteMultiple = true;
    }
    // The core protocol only: mapping changes arrive as MappingNotify and we fetch the map ourselves.
    XkbIgnoreExtension(True);
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return 1;
    const Window root = DefaultRootWindow(display);
    const Window window = XCreateSimpleWindow(display, root, 0, 0, 480, 120, 0, 0, 0xffffff);
    XStoreName(display, window, title.c_str());
    const long pid = getpid();
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
        reinterpret_cast<const unsigned char*>(&pid), 1);
    const Atom wmProtocols = XInternAtom(display, "WM_PROTOCOLS", False);
    const Atom ping = XInternAtom(display, "_NET_WM_PING", False);
    std::vector<Atom> protocols { XInternAtom(display, "WM_DELETE_WINDOW", False) };
    if (answerPings)
        protocols.push_back(ping);
    XSetWMProtocols(display, window, protocols.data(), static_cast<int>(protocols.size()));
    XWMHints hints {};
    hints.flags = InputHint;
    hints.input = True;
    XSetWMHints(display, window, &hints);
    XSelectInput(display, window, KeyPressMask | KeyReleaseMask | FocusChangeMask | StructureNotifyMask);
    const Atom multiple = XInternAtom(display, "MULTIPLE", False);
    const Atom pasteRequest = XInternAtom(display, "TESSVALE_PASTE_REQUEST", False);
    const Atom pasteText = XInternAtom(display, "TESSVALE_PASTE_TEXT", False);
    XMapRaised(display, window);

    Keymap keymap;
    keymap.load(display);
    const KeyCode returnKey = XKeysymToKeycode(display, XK_Return);
    const KeyCode tabKey = XKeysymToKeycode(display, XK_Tab);
    std::string text;
    if (!report.empty())
        writeReport(report, text);
    bool ready = false;
    bool stalled = false;
    unsigned int lastReleaseCode = 0;
    Time lastReleaseTime = 0;
    // Until the window manager has made the window viewable, taking the focus fails: keep trying.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    while (true) {
        if (!ready && XPending(display) == 0) {
            XSetInputFocus(display, window, RevertToParent, CurrentTime);
            XSync(display, False);
            if (XPending(display) == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        XEvent event;
        XNextEvent(display, &event);
        switch (event.type) {
        case FocusIn:
            if (!ready) {
                ready = true;
                std::printf("READY %lu\n", window);
                std::fflush(stdout);
            }
            break;
        case MappingNotify:
            if (event.xmapping.request != MappingKeyboard)
                break;
            if (stallMs > 0 && !stalled) {
                stalled = true;
                std::this_thread::sleep_for(std::chrono::milliseconds(stallMs));
            }
            keymap.load(display);
            break;
        case KeyRelease:
            lastReleaseCode = event.xkey.keycode;
            lastReleaseTime = event.xkey.time;
            break;
        case KeyPress: {
            const bool repeat = event.xkey.keycode == lastReleaseCode && event.xkey.time == lastReleaseTime;
            lastReleaseCode = 0;
            if (repeat)
                break;
            const KeySym keysym = keymap.lookup(event.xkey.keycode, event.xkey.state & ShiftMask);
            if (pasteMultiple && keysym == XK_Insert && (event.xkey.state & ShiftMask)) {
                const Atom pairs[2] = { XInternAtom(display, "UTF8_STRING", False), pasteText };
                XChangeProperty(display, window, pasteRequest, XInternAtom(display, "ATOM_PAIR", False), 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(pairs), 2);
                XConvertSelection(
                    display, XInternAtom(display, "CLIPBOARD", False), multiple, pasteRequest, window, event.xkey.time);
                break;
            }
            if ((keysym == XK_Return && event.xkey.keycode != returnKey)
                || (keysym == XK_Tab && event.xkey.keycode != tabKey))
                break;
            const char32_t c = characterOf(keysym);
            if (c != 0) {
                appendUtf8(text, c);
                if (!report.empty())
                    writeReport(report, text);
            }
            break;
        }
        case SelectionNotify: {
            if (event.xselection.property == None)
                break;
            Atom type = None;
            int format = 0;
            unsigned long count = 0;
            unsigned long after = 0;
            unsigned char* data = nullptr;
            if (XGetWindowProperty(display, window, pasteText, 0, 1 << 20, True, AnyPropertyType, &type, &format,
                    &count, &after, &data)
                    == Success
                && data) {
                if (format == 8) {
                    text.append(reinterpret_cast<const char*>(data), count);
                    if (!report.empty())
                        writeReport(report, text);
                }
                XFree(data);
            }
            break;
        }
        case ClientMessage:
            if (event.xclient.message_type == wmProtocols && static_cast<Atom>(event.xclient.data.l[0]) == ping) {
                XEvent reply = event;
                reply.xclient.window = root;
                XSendEvent(display, root, False, SubstructureNotifyMask | SubstructureRedirectMask, &reply);
                XFlush(display);
            }
            break;
        default:
            break;
        }
    }
}
