// Reads CLIPBOARD and PRIMARY on its own each time their owner changes, as clipboard managers and
// some browsers do: asks for the list of formats and for the text, and never pastes anything.
//
//   tessvale-clipboard-watcher
//
// Prints "READY" once it watches, then "READ <selection> <bytes>" for each text it was given.
#include <cstdio>
#include <initializer_list>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

int main()
{
    Display* display = XOpenDisplay(nullptr);
    int eventBase = 0;
    int errorBase = 0;
    if (!display || !XFixesQueryExtension(display, &eventBase, &errorBase))
        return 1;
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    const Atom clipboard = XInternAtom(display, "CLIPBOARD", False);
    const Atom targets = XInternAtom(display, "TARGETS", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    const Atom property = XInternAtom(display, "TESSVALE_WATCHED", False);
    const Atom listed = XInternAtom(display, "TESSVALE_WATCHED_TARGETS", False);
    for (const Atom selection : { clipboard, XA_PRIMARY })
        XFixesSelectSelectionInput(display, window, selection, XFixesSetSelectionOwnerNotifyMask);
    XSync(display, False);
    std::printf("READY\n");
    std::fflush(stdout);
    while (true) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == eventBase + XFixesSelectionNotify) {
            const auto* change = reinterpret_cast<XFixesSelectionNotifyEvent*>(&event);
            if (change->owner == None)
                continue;
            XConvertSelection(display, change->selection, targets, listed, window, CurrentTime);
            XConvertSelection(display, change->selection, utf8, property, window, CurrentTime);
            XFlush(display);
        } else if (event.type == SelectionNotify && event.xselection.target == utf8
            && event.xselection.property != None) {
            Atom type = None;
            int format = 0;
            unsigned long count = 0;
            unsigned long after = 0;
            unsigned char* data = nullptr;
            if (XGetWindowProperty(
                    display, window, property, 0, 1 << 20, True, AnyPropertyType, &type, &format, &count, &after, &data)
                    == Success
                && data) {
                std::printf("READ %s %lu\n", event.xselection.selection == clipboard ? "CLIPBOARD" : "PRIMARY", count);
                std::fflush(stdout);
                XFree(data);
            }
        }
    }
}
