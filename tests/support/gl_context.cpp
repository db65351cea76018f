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
    static const std::string why = []() -> std::string {
        Display* d = XOpenDisplay(nullptr);
        if (!d) return "cannot open X display";
        int attrs[] = {GLX_RGBA, GLX_DEPTH_SIZE, 24, GLX_STENCIL_SIZE, 8, GLX_DOUBLEBUFFER, None};
        XVisualInfo* vi = glXChooseVisual(d, DefaultScreen(d), attrs);
        if (!vi) return "no GLX visual";
        Window root = RootWindow(d, vi->screen);
        XSetWindowAttributes swa{};
        swa.colormap = XCreateColormap(d, root, vi->visual, AllocNone);
        Window w = XCreateWindow(d, root, 0, 0, 640, 480, 0, vi->depth, InputOutput, vi->visual, CWColormap, &swa);
        GLXContext ctx = glXCreateContext(d, vi, nullptr, True);
        if (!ctx || !glXMakeCurrent(d, w, ctx)) return "cannot make a GLX context current";
        glewExperimental = GL_TRUE;
        glewInit();
        return "";
    }();
    if (reason) *reason = why;
    return why.empty();
}

bool make_old_gl_current() {
    setenv("MESA_GL_VERSION_OVERRIDE", "2.1", 1);
    setenv("MESA_EXTENSION_OVERRIDE", "-GL_ARB_framebuffer_object", 1);
    return make_gl_current();
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

std::string bmp24(int w, int h, void (*px)(int row, int col, unsigned char bgr[3])) {
    const int pitch = (w * 3 + 3) / 4 * 4;
    const int data = pitch * h, size = 54 + data;
    std::string b(size, '\0');
    auto put32 = [&](int at, int v) {
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
    };
    b[0] = 'B', b[1] = 'M';
    put32(2, size), put32(10, 54), put32(14, 40), put32(18, w), put32(22, h);
    b[26] = 1, b[28] = 24;
    put32(34, data), put32(38, 3937), put32(42, 3937);
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) {
            unsigned char bgr[3];
            px(r, c, bgr);
            for (int k = 0; k < 3; ++k) b[54 + r * pitch + c * 3 + k] = static_cast<char>(bgr[k]);
        }
    return b;
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
