// The test view: the insole outline one pixel a cell with a measuring cross
// that follows the mouse; and the light set-up of the 3-D view.
#include <FL/Fl.H>
#include <FL/gl.h>
#include <GL/freeglut.h>

#include <cstdio>
#include <cstring>

#include "engine/params.h"
#include "pathapp/app.h"
#include "pathapp/views.h"

namespace pathapp {

void setup_lighting(const float* block) {
    glEnable(GL_COLOR_MATERIAL);
    glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE, block);
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, block + 4);
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, block[8]);
    glEnable(GL_LIGHTING);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, block + 13);
    glLightfv(GL_LIGHT0, GL_POSITION, block + 9);
    glEnable(GL_LIGHT0);
}

void measure_cross(const uint8_t (&px)[IMAGE_H][PLANE_ROW], GL_Display_TEST& v) {
    // A pointer outside the picture reads no pixel; the scans then run their
    // full length as they do over an empty row.
    auto at = [&](int x, int y) -> uint8_t {
        return (x < 0 || x >= IMAGE_W || y < 0 || y >= IMAGE_H) ? 0 : px[y][x];
    };
    v.left_x = 0;
    for (int x = v.cross_x; x >= 1; --x) {
        v.left_x = x;
        if (at(x, v.cross_y) == 255) break;
    }
    v.left_y = v.cross_y;
    v.right_x = 0;
    for (int x = v.cross_x; x <= 149; ++x) {
        v.right_x = x;
        if (at(x, v.cross_y) == 255) break;
    }
    v.right_y = v.cross_y;
    v.lower_y = 0;
    for (int y = v.cross_y; y >= 1; --y) {
        v.lower_y = y;
        if (at(v.cross_x, y) == 255) break;
    }
    v.lower_x = v.cross_x;
}

GL_Display_TEST::GL_Display_TEST(int x, int y, int w, int h, const char* label)
    : Fl_Gl_Window(x, y, w, h, label) {
    Fl::add_timeout(REDRAW_INTERVAL, redraw_timer, this);
    printf("w %d   h %d \n", w, h);
    image_w = w;
    image_h = h;
    cross_x = cross_y = 0;
}

// The redraw timer must not outlive the view it redraws.
GL_Display_TEST::~GL_Display_TEST() { Fl::remove_timeout(redraw_timer, this); }

namespace {
void bitmap_text(const char* s) {
    for (; *s; ++s) glutBitmapCharacter(GLUT_BITMAP_HELVETICA_18, *s);
}
}  // namespace

void GL_Display_TEST::draw() {
    const int W = w(), H = h();
    if (!valid()) {
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glClearColor(0.0f, 0.5f, 0.5f, 1.0f);
        glViewport(0, 0, W, H);
        glOrtho(0, W, 0, H, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        if (!context_valid() || texture == 0) {
            glGenTextures(1, &texture);
            glBindTexture(GL_TEXTURE_2D, texture);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, 0, 0, 0, GL_RGB, GL_UNSIGNED_BYTE, nullptr);
        }
        memset(pixels, 0, sizeof pixels);
    }
    glColor3f(1, 1, 1);
    if (image_view) {
        const uint8_t* map = image_view->shape.outline_map;
        for (int r = 0; r < IMAGE_H; ++r)
            for (int c = 0; c < IMAGE_W; ++c) pixels[r][c] = map[r * IMAGE_W + c] ? 255 : 0;
    }
    measure_cross(pixels, *this);

    // The texture is image_w x image_h; a picture smaller than that is not uploaded.
    if (image_w <= PLANE_ROW && image_h <= IMAGE_H) {
        glEnable(GL_TEXTURE_2D);
        glBindTexture(GL_TEXTURE_2D, texture);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, PLANE_ROW);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_LUMINANCE, image_w, image_h, 0, GL_LUMINANCE, GL_UNSIGNED_BYTE, pixels);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
        glBegin(GL_QUADS);
        glTexCoord2f(1, 1); glVertex2f(W, H);
        glTexCoord2f(0, 1); glVertex2f(0, H);
        glTexCoord2f(0, 0); glVertex2f(0, 0);
        glTexCoord2f(1, 0); glVertex2f(W, 0);
        glEnd();
        glDisable(GL_TEXTURE_2D);
    }

    if (engine::pon(engine::bt_show_pts) && image_view) {
        glColor3f(1, 1, 0);
        glPointSize(3);
        glBegin(GL_POINTS);
        for (const auto& p : image_view->shape.p) glVertex2i(p.x, p.y);
        glEnd();
        glPointSize(1);
    }

    glBegin(GL_LINES);
    glColor3f(1, 0, 0);
    glVertex2i(cross_x, cross_y);
    glVertex2i(cross_x, lower_y);
    glColor3f(0, 1, 0);
    glVertex2i(left_x, cross_y);
    glVertex2i(right_x, cross_y);
    glEnd();

    glColor3f(0, 1, 0);
    glRasterPos2i(cross_x + 1, cross_y - 1);
    snprintf(label_text, sizeof label_text, "%d", right_x - left_x);
    bitmap_text(label_text);
    glColor3f(1, 0, 0);
    glRasterPos2i(cross_x - 24, cross_y - 21);
    snprintf(label_text, sizeof label_text, "%d", cross_y - lower_y);
    bitmap_text(label_text);
    glColor3f(1, 1, 1);
}

int GL_Display_TEST::handle(int event) {
    const int x = Fl::event_x(), y = Fl::event_y();
    switch (event) {
    case FL_PUSH:
        if (Fl::event_button() == FL_LEFT_MOUSE) printf("left mouse click \n");
        else if (Fl::event_button() == FL_MIDDLE_MOUSE) printf("middle mouse click \n");
        else if (Fl::event_button() == FL_RIGHT_MOUSE) printf("right mouse click \n");
        return 1;
    case FL_DRAG:
        printf("mouse position [ %d, %d ] \n", x, y);
        return 1;
    case FL_MOVE:
        cross_x = x;
        cross_y = h() - y - 1;
        printf("mouse position [ %d, %d ] \n", cross_x, cross_y);
        return 1;
    case FL_MOUSEWHEEL:
        printf("mouse wheel %d \n", Fl::event_dy());
        return 1;
    default:
        return Fl_Gl_Window::handle(event);
    }
}

}  // namespace pathapp
