// A scripted selection owner: takes CLIPBOARD and offers text (UTF8_STRING, STRING), optionally
// HTML, and formats it lists but never answers, like an owner that hangs. With --endless it answers
// text incrementally (INCR) and sends pieces of that many bytes for as long as the requestor takes
// them and, whenever it is idle, more on top without being asked; never the empty piece that
// would end the transfer.
//
//   tessvale-selection-owner --text TEXT [--html HTML] [--silent TARGET]... [--endless BYTES]
//
// Its TARGETS also list the protocol's own TARGETS, MULTIPLE, TIMESTAMP and SAVE_TARGETS, as
// toolkits do. Prints "READY <window id>" once it owns the selection; exits when it loses it.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>

namespace {

bool requestorGone = false;

} // namespace

int main(int argc, char** argv)
{
    std::string text;
    std::string html;
    std::vector<std::string> silent;
    long endless = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--text")
            text = argv[i + 1];
        else if (option == "--html")
            html = argv[i + 1];
        else if (option == "--silent")
            silent.push_back(argv[i + 1]);
        else if (option == "--endless")
            endless = std::strtol(argv[i + 1], nullptr, 10);
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return 1;
    // A requestor that gave up destroys the window the pieces went to.
    XSetErrorHandler([](Display*, XErrorEvent*) {
        requestorGone = true;
        return 0;
    });
    Window receiving = None;
    Atom receivingProperty = None;
    const Atom incremental = XInternAtom(display, "INCR", False);
    const std::string piece(static_cast<size_t>(endless > 0 ? endless : 0), 'x');
    const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    const Atom clipboard = XInternAtom(display, "CLIPBOARD", False);
    const Atom targets = XInternAtom(display, "TARGETS", False);
    const Atom timestamp = XInternAtom(display, "TIMESTAMP", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    const Atom htmlAtom = XInternAtom(display, "text/html", False);
    std::vector<Atom> offered { targets, XInternAtom(display, "MULTIPLE", False), timestamp,
        XInternAtom(display, "SAVE_TARGETS", False), utf8, XA_STRING };
    if (!html.empty())
        offered.push_back(htmlAtom);
    std::vector<Atom> unanswered;
    for (const std::string& name : silent) {
        unanswered.push_back(XInternAtom(display, name.c_str(), False));
        offered.push_back(unanswered.back());
    }
    XSetSelectionOwner(display, clipboard, window, CurrentTime);
    if (XGetSelectionOwner(display, clipboard) != window)
        return 2;
    std::printf("READY %lu\n", window);
    std::fflush(stdout);
    while (true) {
        if (receiving != None && XPending(display) == 0) {
            pollfd descriptor { ConnectionNumber(display), POLLIN, 0 };
            if (poll(&descriptor, 1, 0) == 0) {
                XChangeProperty(display, receiving, receivingProperty, utf8, 8, PropModeAppend,
                    reinterpret_cast<const unsigned char*>(piece.data()), static_cast<int>(piece.size()));
                XSync(display, False);
                if (requestorGone)
                    receiving = None;
                continue;
            }
        }
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == SelectionClear)
            return 0;
        if (event.type == PropertyNotify && event.xproperty.state == PropertyDelete) {
            // The requestor took the last piece: the next one.
            XChangeProperty(display, event.xproperty.window, event.xproperty.atom, utf8, 8, PropModeReplace,
                reinterpret_cast<const unsigned char*>(piece.data()), static_cast<int>(piece.size()));
            XFlush(display);
            continue;
        }
        if (event.type != SelectionRequest)
            continue;
        const XSelectionRequestEvent& request = event.xselectionrequest;
        bool hangs = false;
        for (const Atom atom : unanswered)
            hangs = hangs || atom == request.target;
        if (hangs)
            continue;
        XSelectionEvent reply {};
        reply.type = SelectionNotify;
        reply.requestor = request.requestor;
        reply.selection = request.selection;
        reply.target = request.target;
        reply.time = request.time;
        reply.property = request.property != None ? request.property : request.target;
        if (request.target == targets) {
            XChangeProperty(display, request.requestor, reply.property, XA_ATOM, 32, PropModeReplace,
                reinterpret_cast<const unsigned char*>(offered.data()), static_cast<int>(offered.size()));
        } else if (request.target == timestamp) {
            const long time = CurrentTime;
            XChangeProperty(display, request.requestor, reply.property, XA_INTEGER, 32, PropModeReplace,
                reinterpret_cast<const unsigned char*>(&time), 1);
        } else if (endless > 0 && (request.target == utf8 || request.target == XA_STRING)) {
            XSelectInput(display, request.requestor, PropertyChangeMask);
            requestorGone = false;
            receiving = request.requestor;
            receivingProperty = reply.property;
            const long size = endless;
            XChangeProperty(display, request.requestor, reply.property, incremental, 32, PropModeReplace,
                reinterpret_cast<const unsigned char*>(&size), 1);
        } else if (request.target == utf8 || request.target == XA_STRING || request.target == htmlAtom) {
            const std::string& content = request.target == htmlAtom ? html : text;
            XChangeProperty(display, request.requestor, reply.property, request.target, 8, PropModeReplace,
                reinterpret_cast<const unsigned char*>(content.data()), static_cast<int>(content.size()));
        } else {
            reply.property = None;
        }
        XSendEvent(display, request.requestor, False, NoEventMask, reinterpret_cast<XEvent*>(&reply));
        XFlush(display);
    }
}
