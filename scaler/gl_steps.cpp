// Fitmire's OpenGL steps; frame-buffer entry points come through the platform
// layer's lookup so the program needs no extension loader.
#include "gl_steps.h"

#include <GL/gl.h>
#include <GL/glx.h>

#include <cstdio>

#include "platform/platform.h"

namespace fitmire {

namespace {

#ifndef GL_FRAMEBUFFER
#define GL_FRAMEBUFFER 0x8D40
#define GL_RENDERBUFFER 0x8D41
#define GL_COLOR_ATTACHMENT0 0x8CE0
#define GL_DEPTH_ATTACHMENT 0x8D00
#define GL_FRAMEBUFFER_COMPLETE 0x8CD5
#define GL_FRAMEBUFFER_BINDING 0x8CA6
#endif

using GenFn = void (*)(GLsizei, GLuint*);
using BindFn = void (*)(GLenum, GLuint);
using StorageFn = void (*)(GLenum, GLenum, GLsizei, GLsizei);
using RbAttachFn = void (*)(GLenum, GLenum, GLenum, GLuint);
using StatusFn = GLenum (*)(GLenum);

struct FboApi {
    GenFn gen_framebuffers = nullptr;
    BindFn bind_framebuffer = nullptr;
    GenFn gen_renderbuffers = nullptr;
    BindFn bind_renderbuffer = nullptr;
    StorageFn renderbuffer_storage = nullptr;
    RbAttachFn framebuffer_renderbuffer = nullptr;
    StatusFn check_status = nullptr;
};

struct Scratch {
    GLXContext context = nullptr;  // the context the objects below belong to
    GLuint fbo = 0;
    bool ok = false;
    GLint previous = 0;
};

FboApi& api() {
    static FboApi a;
    static bool loaded = false;
    if (!loaded) {
        loaded = true;
        a.gen_framebuffers = reinterpret_cast<GenFn>(platform::gl_proc_address("glGenFramebuffers"));
        a.bind_framebuffer = reinterpret_cast<BindFn>(platform::gl_proc_address("glBindFramebuffer"));
        a.gen_renderbuffers = reinterpret_cast<GenFn>(platform::gl_proc_address("glGenRenderbuffers"));
        a.bind_renderbuffer = reinterpret_cast<BindFn>(platform::gl_proc_address("glBindRenderbuffer"));
        a.renderbuffer_storage = reinterpret_cast<StorageFn>(platform::gl_proc_address("glRenderbufferStorage"));
        a.framebuffer_renderbuffer =
            reinterpret_cast<RbAttachFn>(platform::gl_proc_address("glFramebufferRenderbuffer"));
        a.check_status = reinterpret_cast<StatusFn>(platform::gl_proc_address("glCheckFramebufferStatus"));
    }
    return a;
}

Scratch& scratch() {
    static Scratch s;
    return s;
}

bool make_scratch() {
    FboApi& a = api();
    Scratch& s = scratch();
    s.context = glXGetCurrentContext();
    s.ok = false;
    if (!a.gen_framebuffers || !a.bind_framebuffer || !a.gen_renderbuffers || !a.bind_renderbuffer ||
        !a.renderbuffer_storage || !a.framebuffer_renderbuffer || !a.check_status ||
        !platform::gl_framebuffer_objects_offered(reinterpret_cast<const char*>(glGetString(GL_VERSION)),
                                                  reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS)))) {
        std::printf("Fitmire: OpenGL frame-buffer objects are not available\n");
        return false;
    }
    GLuint colour = 0, depth = 0;
    a.gen_framebuffers(1, &s.fbo);
    a.bind_framebuffer(GL_FRAMEBUFFER, s.fbo);
    a.gen_renderbuffers(1, &colour);
    a.bind_renderbuffer(GL_RENDERBUFFER, colour);
    a.renderbuffer_storage(GL_RENDERBUFFER, GL_RGBA8, kScratchW, kScratchH);
    a.framebuffer_renderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour);
    a.gen_renderbuffers(1, &depth);
    a.bind_renderbuffer(GL_RENDERBUFFER, depth);
    a.renderbuffer_storage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT, kScratchW, kScratchH);
    a.framebuffer_renderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth);
    s.ok = a.check_status(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    if (!s.ok) std::printf("Fitmire: the scratch frame buffer is incomplete\n");
    return s.ok;
}

}  // namespace

unsigned gl_create_texture() {
    GLuint t = 0;
    glGenTextures(1, &t);
    glBindTexture(GL_TEXTURE_2D, t);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);
    return t;
}

namespace {
bool refuse_scratch = false;
}  // namespace

void gl_scratch_refuse(bool refuse) { refuse_scratch = refuse; }

bool gl_scratch_begin() {
    if (refuse_scratch) return false;
    Scratch& s = scratch();
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &s.previous);
    // Tried once per context: a display without frame-buffer objects would
    // otherwise be asked (and its absence printed) on every draw.
    if (s.context != glXGetCurrentContext()) {
        if (!make_scratch()) {
            if (api().bind_framebuffer) api().bind_framebuffer(GL_FRAMEBUFFER, s.previous);
            return false;
        }
    } else if (!s.ok) {
        return false;
    }
    api().bind_framebuffer(GL_FRAMEBUFFER, s.fbo);
    glPushAttrib(GL_VIEWPORT_BIT | GL_ENABLE_BIT | GL_CURRENT_BIT | GL_COLOR_BUFFER_BIT);
    glViewport(0, 0, kScratchW, kScratchH);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0, kScratchW, 0, kScratchH, 0, 1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    glDisable(GL_BLEND);
    glColor3f(1, 1, 1);
    return true;
}

void gl_scratch_end() {
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glPopAttrib();
    api().bind_framebuffer(GL_FRAMEBUFFER, scratch().previous);
}

void gl_clear_black() {
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

void gl_draw_textured_quad(unsigned texture, const unsigned char* pixels, int tex_w, int tex_h, float x0, float y0,
                           float x1, float y1) {
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_LUMINANCE, tex_w, tex_h, 0, GL_LUMINANCE, GL_UNSIGNED_BYTE, pixels);
    glBegin(GL_QUADS);
    glTexCoord2f(1, 1);
    glVertex2f(x1, y1);
    glTexCoord2f(0, 1);
    glVertex2f(x0, y1);
    glTexCoord2f(0, 0);
    glVertex2f(x0, y0);
    glTexCoord2f(1, 0);
    glVertex2f(x1, y0);
    glEnd();
    glDisable(GL_TEXTURE_2D);
}

void gl_read_channel(int channel, int w, int h, unsigned char* out) {
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glReadPixels(0, 0, w, h, channel == 0 ? GL_RED : GL_BLUE, GL_UNSIGNED_BYTE, out);
}

}  // namespace fitmire
