// Headless OpenGL context for tests, and test-data paths.
#include "gl_context.h"

#include <GL/glew.h>
#include <GL/glx.h>
#include <X11/Xlib.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace testsupport {

bool make_gl_current(std::string* reason) {
    static bool tried = false, ok = false;
    static std::string why;
    if (!tried) {
        tried = true;
        Display* d = XOpenDisplay(nullptr);
        if (!d) {
            why = "cannot open X display";
        } else {
            int attrs[] = {GLX_RGBA, GLX_DEPTH_SIZE, 24, GLX_STENCIL_SIZE, 8, GLX_DOUBLEBUFFER, None};
            XVisualInfo* vi = glXChooseVisual(d, DefaultScreen(d), attrs);
            if (!vi) {
                why = "no GLX visual";
            } else {
                Window root = RootWindow(d, vi->screen);
                XSetWindowAttributes swa{};
                swa.colormap = XCreateColormap(d, root, vi->visual, AllocNone);
                Window w = XCreateWindow(d, root, 0, 0, 640, 480, 0, vi->depth, InputOutput, vi->visual,
                                         CWColormap, &swa);
                GLXContext ctx = glXCreateContext(d, vi, nullptr, True);
                if (!ctx || !glXMakeCurrent(d, w, ctx)) {
                    why = "cannot make a GLX context current";
                } else {
                    glewExperimental = GL_TRUE;
                    glewInit();
                    ok = true;
                }
            }
        }
    }
    if (reason) *reason = why;
    return ok;
}

bool have_display() {
    static const bool ok = [] {
        Display* d = XOpenDisplay(nullptr);
        if (d) XCloseDisplay(d);
        return d != nullptr;
    }();
    return ok;
}

std::string testdata(const std::string& name) { return std::string(STATION_TESTDATA_DIR) + "/" + name; }
std::string sample(const std::string& name) { return std::string(STATION_SAMPLE_DIR) + "/" + name; }

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool put(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    return static_cast<bool>(out);
}

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "station_test_XXXXXX").string();
    char* made = mkdtemp(tmpl.data());
    path_ = made ? made : "";
}

TempDir::~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

}  // namespace testsupport
