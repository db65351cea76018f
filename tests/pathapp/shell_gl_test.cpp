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
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING) && glIsEnabled(GL_LIGHT0) && glIsEnabled(GL_COLOR_MATERIAL));
    GLint face = 0, mode = 0;
    glGetIntegerv(GL_COLOR_MATERIAL_FACE, &face);
    glGetIntegerv(GL_COLOR_MATERIAL_PARAMETER, &mode);
    EXPECT_TRUE(face == GL_FRONT_AND_BACK && mode == GL_AMBIENT_AND_DIFFUSE);
    float v[3][4];
    glGetMaterialfv(GL_BACK, GL_SPECULAR, v[0]);
    glGetLightfv(GL_LIGHT0, GL_POSITION, v[1]);
    glGetLightfv(GL_LIGHT0, GL_DIFFUSE, v[2]);
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(v[k][i], block[(k == 0 ? 4 : k == 1 ? 9 : 13) + i]) << k;
    glGetMaterialfv(GL_FRONT, GL_SHININESS, v[0]);
    EXPECT_FLOAT_EQ(v[0][0], 50.0f);
    glDisable(GL_LIGHTING);
    glDisable(GL_COLOR_MATERIAL);
}

}  // namespace
