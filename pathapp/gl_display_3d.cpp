// The 3-D view: the model with its axes and cross-section, mouse turning and
// zoom, and, after the picture, the batch driver and the engine's layer step.
#include <FL/Fl.H>
#include <FL/gl.h>
#include <GL/glu.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/file_util.h"
#include "engine/gcode_writer.h"
#include "engine/params.h"
#include "pathapp/actions.h"
#include "pathapp/app.h"
#include "pathapp/batch.h"
#include "pathapp/param_set.h"
#include "pathapp/refused_images.h"
#include "pathapp/views.h"
#include "platform/platform.h"

namespace pathapp {

namespace {
void identity(double (&m)[16]) {
    for (int i = 0; i < 16; ++i) m[i] = (i % 5 == 0) ? 1.0 : 0.0;
}

void set_projection(int w, int h) {
    glViewport(0, 0, w, h);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    const double depth = static_cast<double>(w) * h;
    glOrtho(-w / 2.0, w / 2.0, -h / 2.0, h / 2.0, -depth, depth);
    gluLookAt(0, 0, 5, 0, 0, 0, 0, 1, 0);
    glMatrixMode(GL_MODELVIEW);
}
}  // namespace

void reset_placement_matrices(GL_Display_3D& view) {
    identity(view.centre_matrix);
    identity(view.zoom_matrix);
}

GL_Display_3D::GL_Display_3D(int x, int y, int w, int h, const char* label) : Fl_Gl_Window(x, y, w, h, label) {
    identity(model_matrix);
    identity(view_matrix);
    identity(centre_matrix);
    identity(zoom_matrix);
    Fl::add_timeout(REDRAW_INTERVAL, redraw_timer, this);
    Fl::add_timeout(REDRAW_INTERVAL, step_timer, this);
}

GL_Display_3D::~GL_Display_3D() {
    Fl::remove_timeout(redraw_timer, this);
    Fl::remove_timeout(step_timer, this);
    model.clear();
    model.shrink_to_fit();
}

// ---- drawing steps -----------------------------------------------------------------

void GL_Display_3D::draw_background() {
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glTranslatef(0.375f, 0.375f, 0.0f);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    gluOrtho2D(0, w(), 0, h());
    glPushAttrib(GL_ENABLE_BIT);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glBegin(GL_QUADS);
    glColor3f(0.0f, 0.8f, 0.8f);
    glVertex2i(0, 0);
    glVertex2i(w(), 0);
    glColor3f(0.0f, 0.2f, 0.2f);
    glVertex2i(w(), h());
    glVertex2i(0, h());
    glEnd();
    glPopAttrib();
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
}

void GL_Display_3D::capture_matrices() {
    glPushMatrix();
    glRotatef(view_pitch, 1, 0, 0);
    glRotatef(view_yaw, 0, 1, 0);
    glBegin(GL_LINES);
    glColor3f(1, 0, 0);
    glVertex3f(0, 0, 0);
    glVertex3f(300, 0, 0);
    glColor3f(0, 1, 0);
    glVertex3f(0, 0, 0);
    glVertex3f(0, 300, 0);
    glColor3f(0, 0, 1);
    glVertex3f(0, 0, 0);
    glVertex3f(0, 0, 300);
    glEnd();
    glGetDoublev(GL_MODELVIEW_MATRIX, view_matrix);
    glPopMatrix();
    capture_placement();
}

void GL_Display_3D::capture_placement() {
    glPushMatrix();
    glLoadIdentity();
    glRotatef(model_rot_x, 1, 0, 0);
    glRotatef(model_rot_y, 0, 1, 0);
    if (!engine::pon(engine::ck_self_def_angle)) {
        glRotatef(model_rot_z, 0, 0, 1);
    } else if (layer_angle_on) {
        const float a = static_cast<float>(engine::pval(engine::out_current_angle));
        const int layer = static_cast<int>(engine::pval(engine::va_layer_index));
        glRotatef(layer % 2 == 0 ? a : -a, 0, 0, 1);
    }
    glGetDoublev(GL_MODELVIEW_MATRIX, model_matrix);
    glPopMatrix();

    glPushMatrix();
    glLoadIdentity();
    glTranslatef(-(box.model_min_x + box.model_max_x) * 0.5f, -(box.model_min_y + box.model_max_y) * 0.5f, 0);
    glGetDoublev(GL_MODELVIEW_MATRIX, centre_matrix);
    glPopMatrix();

    glPushMatrix();
    glLoadIdentity();
    glScalef(zoom, zoom, zoom);
    glGetDoublev(GL_MODELVIEW_MATRIX, zoom_matrix);
    glPopMatrix();
}

void GL_Display_3D::draw_cross_section() {
    glDisable(GL_LIGHTING);
    glColor3f(1, 0, 0);
    glLineWidth(2);
    glBegin(GL_LINE_LOOP);
    const auto& cm = raster.cross_mesh;
    for (size_t i = 0; i < cm.size(); ++i) {
        if (i > 0 && (std::fabs(cm[i].pt[0].x - cm[i - 1].pt[0].x) > 0.01f ||
                      std::fabs(cm[i].pt[0].y - cm[i - 1].pt[0].y) > 0.01f)) {
            glEnd();
            glBegin(GL_LINE_LOOP);
        }
        if (cm[i].count == 2) {
            glVertex3f(cm[i].pt[0].x, cm[i].pt[0].y, cm[i].pt[0].z);
            glVertex3f(cm[i].pt[1].x, cm[i].pt[1].y, cm[i].pt[1].z);
        } else if (cm[i].count == 1) {
            printf("1 !!!\n");
        }
    }
    glEnd();
    glLineWidth(1);
    setup_lighting(light_block);
}

void GL_Display_3D::draw() {
    if (!valid()) {
        glClearColor(0.0f, 0.5f, 0.5f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        set_projection(w(), h());
        glLoadIdentity();
        glGetDoublev(GL_MODELVIEW_MATRIX, model_matrix);
        glGetDoublev(GL_MODELVIEW_MATRIX, view_matrix);
        glGetDoublev(GL_MODELVIEW_MATRIX, centre_matrix);
        glGetDoublev(GL_MODELVIEW_MATRIX, zoom_matrix);
        glEnable(GL_DEPTH_TEST);
        glDisable(GL_CULL_FACE);
        glClearIndex(0);
        glClearDepth(1.0);
        ensure_framebuffer();
    }
    glClearColor(0.0f, 0.5f, 0.5f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    set_projection(w(), h());
    draw_background();
    glLoadIdentity();
    glViewport(0, 0, w(), h());
    capture_matrices();
    setup_lighting(light_block);

    glPushMatrix();
    glLoadMatrixd(view_matrix);
    glMultMatrixd(model_matrix);
    glMultMatrixd(zoom_matrix);
    glMultMatrixd(centre_matrix);
    engine::draw_model(model);
    draw_cross_section();
    glPopMatrix();
    glDisable(GL_LIGHTING);
}

void GL_Display_3D::ensure_framebuffer() {
    // Tried once for each context: a card without frame buffers says so once.
    if (framebuffer_context == context()) return;
    engine::init_framebuffer(raster);
    framebuffer_context = context();
}

// X draws a window only once it has been exposed; the steps must not wait
// for that, so they run on their own timer with the context made current.
void step_timer(void* view) {
    static_cast<GL_Display_3D*>(view)->run_steps();
    Fl::repeat_timeout(REDRAW_INTERVAL, step_timer, view);
}

void GL_Display_3D::run_steps() {
    if (!shown()) return;
    make_current();
    ensure_framebuffer();
    glMatrixMode(GL_MODELVIEW);
    capture_placement();
    if (image_view && image_view->batch_load_pending) {
        batch_load_step();
        // The loader set the model's box and turn and reset the centring; the
        // layer step below measures the new model in this same step, and
        // must see all of it centred.
        capture_placement();
    }
    if (image_view && image_view->batch_slice_pending) batch_start_step();
    if (!model.empty()) layer_step();
}

int GL_Display_3D::handle(int event) {
    const int x = Fl::event_x(), y = Fl::event_y();
    switch (event) {
    case FL_PUSH:
        if (Fl::event_button() == FL_LEFT_MOUSE) {
            last_mouse_x = x;
            last_mouse_y = y;
        } else if (Fl::event_button() == FL_MIDDLE_MOUSE) {
            printf("middle mouse click \n");
        } else if (Fl::event_button() == FL_RIGHT_MOUSE) {
            printf("right mouse click \n");
        }
        return 1;
    case FL_DRAG:
        if (Fl::event_state(FL_BUTTON1)) {
            if (x != last_mouse_x) view_yaw += static_cast<float>(x - last_mouse_x);
            if (y != last_mouse_y) view_pitch += static_cast<float>(y - last_mouse_y);
        }
        last_mouse_x = x;
        last_mouse_y = y;
        return 1;
    case FL_MOVE:
        last_mouse_x = x;
        last_mouse_y = y;
        return 1;
    case FL_MOUSEWHEEL:
        zoom += Fl::event_dy() / 10.0f;
        return 1;
    default:
        return Fl_Gl_Window::handle(event);
    }
}

// ---- batch driver --------------------------------------------------------------------

void GL_Display_3D::batch_load_step() {
    GL_Display_Image& iv = *image_view;
    // A print parameter that was refused would print every job wrong: the
    // images wait in place until it is mended.
    if (const std::string why = batch_param_blocker(); !why.empty()) {
        if (why != batch_wait_said) {
            printf("%s; no job is started, the images wait\n", why.c_str());
            fflush(stdout);  // the program stays: the line must not wait in a buffer
            // Nobody watches the console of a program the server starts.
            show_batch_hold(why);
        }
        batch_wait_said = why;
        return;
    }
    if (!batch_wait_said.empty()) show_batch_hold("");
    batch_wait_said.clear();
    const char* name = iv.bmp_list[iv.bmp_index];
    platform::change_dir("C:\\insole\\");
    BatchJobPaths paths;
    const bool fits = make_image_path(name, paths);
    printf("fname %s\n", name);
    const size_t len = strlen(name);
    printf("sizeof(fname) %d\n", static_cast<int>(len));
    printf("fname-6 %s\n", len > 6 ? name + len - 6 : name);
    const bool right = ends_with_right_bmp(name);
    if (right) printf("FOUND RIGHT BMP\n\n");
    engine::params().set_value(engine::va_x_offset, right ? 10 : 0);
    engine::params().redraw(engine::va_x_offset);
    iv.origin_point[0] = static_cast<int32_t>(iv.origin_point[0] + engine::pval(engine::va_x_offset));
    engine::params().set_value(engine::origin_x, iv.origin_point[0]);
    engine::params().redraw(engine::origin_x);

    bool loaded = false;
    BatchJobPaths gcode_paths;
    if (const std::string why = list_name_problem(name); !why.empty()) {
        set_aside_job_image(name, "unusable name: " + why);
    } else if (!fits || !make_gcode_paths(name, gcode_paths)) {
        set_aside_job_image(name, "the G-code paths do not fit " + std::to_string(BMP_NAME_SIZE) + " characters");
    } else if (!job_image_path.empty() && job_image_path == paths.image) {
        // Loaded at the last frame but never measured, so its job cannot start;
        // loading it again would repeat forever. Its G-code never came, so it stays.
        printf("%s: the model was not measured; job skipped, the image is kept\n", name);
    } else {
        std::string settings, refusal;
        loaded = load_batch_file(paths.image, &refusal, &settings);
        if (!refusal.empty()) set_aside_job_image(name, refusal);
        if (loaded && model.empty()) {
            // No closed model came of the foot: nothing is written for it.
            set_aside_job_image(name, "no insole model can be built from the image");
            loaded = false;
        }
        if (loaded) {
            // Both removed once its G-code file is in its final place (batch_job_finished).
            job_image_path = paths.image;
            job_settings_path = settings;
            return;
        }
    }
    job_image_path.clear();
    job_settings_path.clear();
    iv.bmp_index += 1;
    if (iv.bmp_index >= iv.bmp_count) {
        iv.batch_job_running = 0;
        iv.batch_load_pending = 0;
        end_batch();
    }
}

void GL_Display_3D::batch_start_step() {
    GL_Display_Image& iv = *image_view;
    iv.batch_slice_pending = 0;
    const char* name = iv.bmp_list[iv.bmp_index];
    printf("STRLEN %d\n", static_cast<int>(strlen(name)));
    printf("SIZEOF %d\n", BMP_NAME_SIZE);
    BatchJobPaths paths;
    bool started = make_gcode_paths(name, paths) && paths.gcode_temp.size() < sizeof gcode_temp_path &&
                   paths.gcode.size() < sizeof gcode_path;
    if (!started) {
        printf("%s: the G-code paths do not fit %d characters; job skipped\n", name, BMP_NAME_SIZE);
    } else {
        snprintf(gcode_temp_path, sizeof gcode_temp_path, "%s", paths.gcode_temp.c_str());
        snprintf(gcode_path, sizeof gcode_path, "%s", paths.gcode.c_str());
        platform::change_dir("C:\\VerdanelFiles\\");
        engine::params().set_value(engine::va_layer_index, 0);
        engine::params().redraw(engine::va_layer_index);
        started = start_gcode_job(gcode_temp_path, gcode_path);
        // Another file may hold the temp name: the job writes under a free one.
        if (started) snprintf(gcode_temp_path, sizeof gcode_temp_path, "%s", engine::gcode_open_path().c_str());
    }
    iv.bmp_index += 1;
    iv.batch_job_running = 1;
    if (!started) {
        job_image_path.clear();
        job_settings_path.clear();
        model.clear();
        iv.batch_job_running = 0;
        if (iv.bmp_index >= iv.bmp_count) {
            end_batch();
        } else {
            iv.batch_load_pending = 1;
        }
    }
}

void GL_Display_3D::layer_step() { run_layer_step(*this); }

}  // namespace pathapp
