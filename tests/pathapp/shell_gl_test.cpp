// The 3-D view's light set-up read back from OpenGL.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include "pathapp/views.h"
#include "tests/support/gl_context.h"

namespace {

class Lighting : public testsupport::GlTest {};

TEST_F(Lighting, LightBlockGoesToMaterialAndLightZero) {
    const float block[17] = {0.9f, 0.9f, 0.8f, 0.3f, 0.5f, 0.5f, 0.5f, 0.3f, 50.0f,
                             0.5f, 0.5f, 1.0f, 0.0f, 0.8f, 0.7f, 0.6f, 0.4f};
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    pathapp::setup_lighting(block);
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    EXPECT_TRUE(glIsEnabled(GL_LIGHT0));
    EXPECT_TRUE(glIsEnabled(GL_COLOR_MATERIAL));
    GLint face = 0, mode = 0;
    glGetIntegerv(GL_COLOR_MATERIAL_FACE, &face);
    glGetIntegerv(GL_COLOR_MATERIAL_PARAMETER, &mode);
    EXPECT_EQ(face, GL_FRONT_AND_BACK);
    EXPECT_EQ(mode, GL_AMBIENT_AND_DIFFUSE);
    float v[4];
    glGetMaterialfv(GL_BACK, GL_SPECULAR, v);
    for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(v[i], block[4 + i]);
    glGetMaterialfv(GL_FRONT, GL_SHININESS, v);
    EXPECT_FLOAT_EQ(v[0], 50.0f);
    glGetLightfv(GL_LIGHT0, GL_DIFFUSE, v);
    for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(v[i], block[13 + i]);
    glGetLightfv(GL_LIGHT0, GL_POSITION, v);
    for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(v[i], block[9 + i]);
    glDisable(GL_LIGHTING);
    glDisable(GL_COLOR_MATERIAL);
}

}  // namespace
