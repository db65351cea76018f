// Fitmire's image view: construction loads, draw (rebuild, show, hand-off
// save and exit), mouse gestures and the template dialog.
#include "common/file_dialog.h"
#include "display_image.h"

#include <FL/Fl.H>
#include <FL/gl.h>

#include <cstdio>
#include <cstdlib>

#include "gl_steps.h"
#include "scaler_window.h"

namespace fitmire {

GL_Display_Image::GL_Display_Image(int, int, int, int, const char*) : Fl_Gl_Window(30, 35, 150, 360) {
    load_colour_table("lut_ancestor.txt");
    scale_x = 0;
    needs_rebuild = false;
    load_drop("./drop.png");
    current_side = 0;
    load_texture("./255mm narrow 20220606 backmove 5mm.bmp", 0);  // the template is a left insole
    left_pending = right_pending = false;
}

GL_Display_Image::~GL_Display_Image() = default;

void GL_Display_Image::load_texture(const char* name, int side) {
    ScalerControls c = read_controls();
    if (InsoleImage::load_texture(name, side, c)) write_controls(c);
}

void GL_Display_Image::open_template_dialog(int side) {
    std::string name;
    if (common::choose_file("Load a image file", "image\t*.bmp\n", false, name)) load_texture(name.c_str(), side);
}

void GL_Display_Image::draw() {
    if (!valid()) {
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glClearColor(0, 0.5f, 0.5f, 1);
        glViewport(0, 0, w(), h());
        glMatrixMode(GL_PROJECTION);
        glOrtho(0, w(), 0, h(), 0, 1);
        glMatrixMode(GL_MODELVIEW);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        if (!context_valid() || !texture) texture = gl_create_texture();
    }
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glColor3f(1, 1, 1);
    if (!InsoleImage::image) return;

    glPushMatrix();
    RebuildRun run = RebuildRun::not_needed;
    if (needs_rebuild) {
        ScalerControls c = read_controls();
        run = rebuild(c) ? RebuildRun::done : RebuildRun::failed;
        write_controls(c);
    }
    glDisable(GL_TEXTURE_2D);
    find_landmarks(output_plane, landmark_side);
    glPopMatrix();

    gl_draw_textured_quad(texture, &output_plane[0][0], kStride, kRows, 0, 0, 150, 360);

    glColor3f(1, 0, 0);
    glPointSize(2);
    glBegin(GL_POINTS);
    glVertex2f(drop->centre_x, drop->centre_y);
    glEnd();
    glPointSize(1);
    glColor3f(1, 1, 1);

    if (save_pending_side(run) != HandoffSave::nothing && close_job()) {
        std::fflush(stdout);
        std::exit(job_save_failed ? 1 : 0);
    }
}

int GL_Display_Image::handle(int event) {
    const int ex = Fl::event_x(), ey = Fl::event_y();
    switch (event) {
    case FL_MOVE:
        mouse_x = ex;
        mouse_y = h() - ey - 1;
        return 1;
    case FL_PUSH:
        if (Fl::event_button() == FL_LEFT_MOUSE || Fl::event_button() == FL_RIGHT_MOUSE) {
            press_x_ = ex;
            press_y_ = ey;
        } else if (Fl::event_button() == FL_MIDDLE_MOUSE) {
            std::printf("middle mouse click \n");
        }
        return 1;
    case FL_DRAG:
        if (Fl::event_button() == FL_LEFT_MOUSE) {
            drag_dx = ex - press_x_;
            drag_dy = press_y_ - ey;
        } else if (Fl::event_button() == FL_RIGHT_MOUSE && press_y_ < h() / 2) {
            if (ex < press_x_) scale_x += 1;
            else if (ex > press_x_) scale_x -= 1;
        }
        return 1;
    case FL_RELEASE:
        if (Fl::event_button() == FL_LEFT_MOUSE) {
            pan_x += drag_dx;
            pan_y += drag_dy;
            release_x = ex;
            release_y = h() - ey - 1;
            drag_dx = drag_dy = 0;
            std::printf("offset %d %d \n", pan_x, pan_y);
        }
        return 1;
    case FL_MOUSEWHEEL:
        std::printf("mouse wheel %d \n", Fl::event_dy());
        return 1;
    default:
        return Fl_Gl_Window::handle(event);
    }
}

}  // namespace fitmire
