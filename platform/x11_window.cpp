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
        if (attr.map_state == IsViewable && window_title(d, children[i]) == title) found = children[i];
        else if (depth < 2) found = search(d, children[i], title, depth + 1);
    }
    if (children) XFree(children);
    return found;
}
}  // namespace

WindowHandle find_window(const std::string& exact_title) {
    Display* d = display();
    if (!d) return 0;
    XSync(d, False);
    return search(d, DefaultRootWindow(d), exact_title, 0);
}

bool raise_window(WindowHandle w) {
    Display* d = display();
    if (!d || !w) return false;
    XEvent ev;
    std::memset(&ev, 0, sizeof ev);
    ev.xclient.type = ClientMessage;
    ev.xclient.window = w;
    ev.xclient.message_type = XInternAtom(d, "_NET_ACTIVE_WINDOW", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = 1;
    ev.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, DefaultRootWindow(d), False, SubstructureRedirectMask | SubstructureNotifyMask, &ev);
    XRaiseWindow(d, w);
    XSetInputFocus(d, w, RevertToParent, CurrentTime);
    XSync(d, False);
    return true;
}

}  // namespace platform
