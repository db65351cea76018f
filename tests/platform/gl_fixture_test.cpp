// The headless OpenGL context: a known quad rendered into a frame-buffer
// object reads back as drawn.
#include <GL/glew.h>

#include <vector>

#include "tests/support/gl_context.h"

namespace {

class GlFixture : public testsupport::GlTest {};

TEST_F(GlFixture, QuadInFramebufferReadsBack) {
    const int w = 300, h = 360;
    GLuint fbo = 0, tex = 0, depth = 0;
    glGenTextures(1, &tex);
    glBindTexture(GL_TEXTURE_2D, tex);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glGenFramebuffers(1, &fbo);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    glGenRenderbuffers(1, &depth);
    glBindRenderbuffer(GL_RENDERBUFFER, depth);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT, w, h);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, tex, 0);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth);
    ASSERT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));

    glViewport(0, 0, w, h);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, w, 0, h, 0, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glColor3f(1, 1, 1);
    glBegin(GL_QUADS);  // cells 100..199 x 50..149
    glVertex2f(100, 50);
    glVertex2f(200, 50);
    glVertex2f(200, 150);
    glVertex2f(100, 150);
    glEnd();

    std::vector<unsigned char> px(w * h);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, w, h, GL_LUMINANCE, GL_UNSIGNED_BYTE, px.data());
    glBindFramebuffer(GL_FRAMEBUFFER, 0);

    int lit = 0;
    for (unsigned char v : px) lit += v != 0;
    EXPECT_EQ(lit, 100 * 100);
    EXPECT_EQ(px[50 * w + 100], 255);  // row 0 at the bottom
    EXPECT_EQ(px[149 * w + 199], 255);
    EXPECT_EQ(px[150 * w + 100], 0);
    EXPECT_EQ(px[49 * w + 100], 0);

    glDeleteFramebuffers(1, &fbo);
    glDeleteRenderbuffers(1, &depth);
    glDeleteTextures(1, &tex);
}

}  // namespace
