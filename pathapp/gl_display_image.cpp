// The image view: the rendered layer picture, the traced paths, the machine
// origin the operator drags, and the station's job list.
#include <FL/Fl.H>
#include <FL/gl.h>
#include <FTGL/ftgl.h>
#include <GL/glu.h>
#include <fontconfig/fontconfig.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "pathapp/param_files.h"
#include "pathapp/param_set.h"
#include "pathapp/refused_images.h"
#include "engine/params.h"
#include "pathapp/app.h"
#include "pathapp/views.h"
#include "platform/platform.h"

namespace pathapp {

void redraw_timer(void* window) {
    static_cast<Fl_Widget*>(window)->redraw();
    Fl::repeat_timeout(REDRAW_INTERVAL, redraw_timer, window);
}

namespace {

// The label font: "simsun.ttc" in the working directory, else whatever
// fontconfig offers for sans text.
FTFont* make_label_font() {
    FTFont* f = new FTPixmapFont("simsun.ttc");
    if (!f->Error()) return f;
    delete f;
    f = nullptr;
    if (!FcInit()) return nullptr;
    FcPattern* pat = FcNameParse(reinterpret_cast<const FcChar8*>("sans"));
    FcConfigSubstitute(nullptr, pat, FcMatchPattern);
    FcDefaultSubstitute(pat);
    FcResult res;
    FcPattern* match = FcFontMatch(nullptr, pat, &res);
    FcChar8* file = nullptr;
    if (match && FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) {
        f = new FTPixmapFont(reinterpret_cast<const char*>(file));
        if (f->Error()) {
            delete f;
            f = nullptr;
        }
    }
    if (match) FcPatternDestroy(match);
    FcPatternDestroy(pat);
    if (!f) printf("simsun.ttc: no label font found, the origin label is left out\n");
    return f;
}

void show_origin(const int32_t (&origin)[2]) {
    engine::params().set_value(engine::origin_x, origin[0]);
    engine::params().set_value(engine::origin_y, origin[1]);
    engine::params().redraw(engine::origin_x);
    engine::params().redraw(engine::origin_y);
}

}  // namespace

// ---- job list --------------------------------------------------------------------

void GL_Display_Image::read_bmp_list() {
    memset(bmp_list, 0, sizeof bmp_list);
    const std::string path = platform::map_path("C:\\insole\\Bmp_List.txt");
    std::string text;
    bmp_count = 0;
    if (read_whole_file(path, text)) {
        BmpList list;
        parse_bmp_list(text, path, list);
        memcpy(bmp_list, list.names, sizeof bmp_list);
        bmp_count = list.count;
        for (int i = 0; i < bmp_count; ++i) printf("bmp_list[ %d ] %s\n", i, bmp_list[i]);
        remove_job_file(path);
        bmp_index = 0;
    }
    if (bmp_count > 0) {
        batch_load_pending = 1;
        batch_job_running = 1;
    }
}

// ---- construction --------------------------------------------------------------------

GL_Display_Image::GL_Display_Image(int x, int y, int w, int h, const char* label)
    : Fl_Gl_Window(x, y, w, h, label) {
    engine::init_insole_shape(shape);
    img.marked_circles.clear();
    img.marked_bars.clear();
    Fl::add_timeout(REDRAW_INTERVAL, redraw_timer, this);
    origin_point[0] = origin_point[1] = 30;
    origin_extra[0] = origin_extra[1] = 1;
    // Read by the same bounded reader as the other parameter files; a number
    // that cannot be read leaves its field and the ones after it.
    OriginPoint o;
    if (read_origin_point_file(param_path(ORIGIN_POINT_FILE), o)) {
        if (const std::string why = origin_refusal(o); !why.empty()) {
            // An origin no widget can show would put the insole off the bed.
            refuse_param_file(ORIGIN_POINT_FILE, why, origin_point[0]);
            // The fields show the origin in force, which leaving one unedited keeps.
            show_origin(origin_point);
        } else {
            origin_point[0] = o.x;
            origin_point[1] = o.y;
            origin_extra[0] = o.extra0;
            origin_extra[1] = o.extra1;
            show_origin(origin_point);
        }
    }
    label_font = make_label_font();
    batch_load_pending = batch_slice_pending = batch_job_running = 0;
    bmp_index = 0;
    bmp_count = 1;
}

GL_Display_Image::~GL_Display_Image() {
    Fl::remove_timeout(redraw_timer, this);
    engine::destroy_insole_shape(shape);
    delete label_font;
}

bool GL_Display_Image::write_origin_file() const {
    FILE* f = fopen(param_path(ORIGIN_POINT_FILE).c_str(), "w");
    if (!f) return false;
    fprintf(f, "%d\n%d\n%d\n%d\n", origin_point[0], origin_point[1], origin_extra[0], origin_extra[1]);
    fclose(f);
    return true;
}

bool GL_Display_Image::grips_origin(int x, int y) const {
    const int gy = h() - y - 1;
    return x - 5 < origin_point[0] && origin_point[0] < x + 5 && gy - 5 < origin_point[1] &&
           origin_point[1] < gy + 5;
}

// ---- drawing ----------------------------------------------------------------------------

void origin_cross_position(const float heel[2], const int32_t origin[2], int w, int h, float& cx, float& cy) {
    cx = (heel[0] - origin[0]) * (w / 300.0f);
    cy = (heel[1] - origin[1]) * (h / 360.0f);
}

void GL_Display_Image::draw() {
    const int W = w(), H = h();
    if (!valid()) {
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glClearColor(0.5f, 0.0f, 0.0f, 1.0f);
        glViewport(0, 0, W, H);
        glOrtho(0, W, 0, H, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        if (!context_valid() || image_texture == 0) {
            glGenTextures(1, &image_texture);
            glBindTexture(GL_TEXTURE_2D, image_texture);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, 0, 0, 0, GL_RGB, GL_UNSIGNED_BYTE, nullptr);
        }
    }
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glColor3f(1, 1, 1);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, view_3d ? view_3d->raster.color_texture : 0);
    glBegin(GL_QUADS);
    glTexCoord2f(1, 1); glVertex2f(W, H);
    glTexCoord2f(0, 1); glVertex2f(0, H);
    glTexCoord2f(0, 0); glVertex2f(0, 0);
    glTexCoord2f(1, 0); glVertex2f(W, 0);
    glEnd();
    glDisable(GL_TEXTURE_2D);

    if (engine::pon(engine::bt_show_path) && view_3d) engine::draw_layer_paths(view_3d->raster, view_3d->current_angle, W, H);

    if (engine::pon(engine::bt_show_coord)) {
        float cx = 0, cy = 0;
        origin_cross_position(heel_point, origin_point, W, H, cx, cy);
        const int X = static_cast<int>(cx), Y = static_cast<int>(cy);
        glColor3f(1, 1, 0);
        glPointSize(10);
        glEnable(GL_POINT_SMOOTH);
        glBegin(GL_POINTS);
        glVertex2i(X, Y);
        glEnd();
        glDisable(GL_POINT_SMOOTH);
        glPointSize(1);
        glBegin(GL_LINES);
        glVertex2i(X, 0);
        glVertex2i(X, H);
        glVertex2i(0, Y);
        glVertex2i(W, Y);
        glEnd();
        if (label_font) {
            label_font->FaceSize(16, 72);
            glRasterPos2i(X, static_cast<int>(cy + 2));
            snprintf(label_text, sizeof label_text, "(%d,%d)", 0, 0);
            label_font->Render(label_text);
        }
    }

    glColor3f(1, 1, 0);
    glPointSize(2);
    glBegin(GL_POINTS);
    glVertex2f(heel_point[0] * W / 300.0f, heel_point[1] * H / 360.0f);
    glEnd();
    glPointSize(1);
    glColor3f(1, 1, 1);
}

int GL_Display_Image::handle(int event) {
    const int x = Fl::event_x(), y = Fl::event_y();
    switch (event) {
    case FL_PUSH:
        if (Fl::event_button() == FL_LEFT_MOUSE) {
            if (grips_origin(x, y)) dragging_origin = 1;
        } else if (Fl::event_button() == FL_MIDDLE_MOUSE) {
            printf("middle mouse click \n");
        } else if (Fl::event_button() == FL_RIGHT_MOUSE) {
            printf("right mouse click \n");
        }
        return 1;
    case FL_RELEASE:
        if (Fl::event_button() == FL_LEFT_MOUSE && dragging_origin) {
            write_origin_file();
            dragging_origin = 0;
        }
        return 1;
    case FL_DRAG:
        if (Fl::event_state(FL_BUTTON1) && dragging_origin) {
            origin_point[0] = x;
            origin_point[1] = h() - y - 1;
            show_origin(origin_point);
        }
        printf("mouse position [ %d, %d ] \n", x, y);
        return 1;
    case FL_MOVE:
        return 1;
    case FL_MOUSEWHEEL:
        printf("mouse wheel %d \n", Fl::event_dy());
        return 1;
    default:
        return Fl_Gl_Window::handle(event);
    }
}

}  // namespace pathapp
