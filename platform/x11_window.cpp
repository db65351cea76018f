// Top-level windows by exact title on X11, and raising one to the front.
#include "platform.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstring>

namespace platform {

namespace {
Display* display() {
    // One connection for the life of the program; opened on first use.
    static Display* d = XOpenDisplay(nullptr);
    return d;
}

// A window may vanish between listing and asking about it; the default
// handler would end the whole program over that.
int ignore_x_error(Display*, XErrorEvent*) { return 0; }

class QuietErrors {
public:
    QuietErrors() : old_(XSetErrorHandler(ignore_x_error)) {}
    ~QuietErrors() { XSetErrorHandler(old_); }

private:
    int (*old_)(Display*, XErrorEvent*);
};

std::string window_title(Display* d, Window w) {
    Atom net_name = XInternAtom(d, "_NET_WM_NAME", False);
    Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(d, w, net_name, 0, 1024, False, utf8, &type, &format, &count, &after, &data) ==
            Success &&
        data) {
        title.assign(reinterpret_cast<char*>(data), count);
        XFree(data);
        return title;
    }
    if (data) XFree(data);
    char* name = nullptr;
    if (XFetchName(d, w, &name) && name) {
        title = name;
        XFree(name);
    }
    return title;
}

// 32-bit items of a property; empty when it is not there.
std::vector<long> property_items(Display* d, Window w, const char* name) {
    Atom type;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::vector<long> out;
    Atom prop = XInternAtom(d, name, False);
    if (XGetWindowProperty(d, w, prop, 0, 64, False, AnyPropertyType, &type, &format, &count, &after, &data) ==
            Success &&
        data && format == 32) {
        const long* items = reinterpret_cast<const long*>(data);
        out.assign(items, items + count);
    }
    if (data) XFree(data);
    return out;
}

// Minimised: unmapped, but still a window the program shows. A window
// manager marks it in WM_STATE (and _NET_WM_STATE); without one, a window
// made iconic from the start is never mapped and carries only its hints.
bool minimised(Display* d, Window w, int map_state) {
    std::vector<long> wm_state = property_items(d, w, "WM_STATE");
    if (!wm_state.empty()) return wm_state[0] == IconicState;
    const Atom hidden = XInternAtom(d, "_NET_WM_STATE_HIDDEN", False);
    for (long a : property_items(d, w, "_NET_WM_STATE"))
        if (static_cast<Atom>(a) == hidden) return true;
    if (map_state != IsUnmapped) return false;
    bool iconic = false;
    if (XWMHints* hints = XGetWMHints(d, w)) {
        iconic = (hints->flags & StateHint) && hints->initial_state == IconicState;
        XFree(hints);
    }
    return iconic;
}

// Depth-first over the children of the root: with a window manager the
// client window sits below a frame, without one it is a child of the root.
Window search(Display* d, Window parent, const std::string& title, int depth) {
    Window root_ret, parent_ret, *children = nullptr;
    unsigned int n = 0;
    if (!XQueryTree(d, parent, &root_ret, &parent_ret, &children, &n)) return 0;
    Window found = 0;
    for (unsigned int i = n; i-- > 0 && !found;) {  // topmost first
        XWindowAttributes attr;
        if (!XGetWindowAttributes(d, children[i], &attr)) continue;
        const bool shown_or_minimised =
            attr.map_state == IsViewable || minimised(d, children[i], attr.map_state);
        if (shown_or_minimised && window_title(d, children[i]) == title) found = children[i];
        else if (depth < 2) found = search(d, children[i], title, depth + 1);
    }
    if (children) XFree(children);
    return found;
}
}  // namespace

WindowHandle find_window(const std::string& exact_title) {
    Display* d = display();
    if (!d) return 0;
    QuietErrors quiet;
    XSync(d, False);
    Window w = search(d, DefaultRootWindow(d), exact_title, 0);
    XSync(d, False);
    return w;
}

bool raise_window(WindowHandle w) {
    Display* d = display();
    if (!d || !w) return false;
    QuietErrors quiet;
    XEvent ev;
    std::memset(&ev, 0, sizeof ev);
    ev.xclient.type = ClientMessage;
    ev.xclient.window = w;
    ev.xclient.message_type = XInternAtom(d, "_NET_ACTIVE_WINDOW", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = 1;
    ev.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, DefaultRootWindow(d), False, SubstructureRedirectMask | SubstructureNotifyMask, &ev);
    // Mapping a minimised window restores it (through the window manager when there is one).
    XMapRaised(d, w);
    XSync(d, False);
    XWindowAttributes attr;
    if (XGetWindowAttributes(d, w, &attr) && attr.map_state == IsViewable)
        XSetInputFocus(d, w, RevertToParent, CurrentTime);
    XSync(d, False);
    return true;
}

}  // namespace platform
