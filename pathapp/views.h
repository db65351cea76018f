// The path program's three OpenGL views: the image view with the job list,
// the 3-D view that also drives the batch, and the outline test view.
#pragma once

#include <FL/Fl_Gl_Window.H>

#include <cstdint>
#include <string>

#include "engine/layer_raster.h"
#include "engine/mesh.h"
#include "pathapp/bmp_list.h"
#include "pathapp/pressure_image.h"
#include "pathapp/engine_parts.h"

class FTFont;

namespace pathapp {

constexpr int PATH_SIZE = 1024;     // bytes of the batch job's G-code paths

// FLTK timeout shared by the three views: redraw and re-arm for 1/120 s.
constexpr double REDRAW_INTERVAL = 1.0 / 120.0;
void redraw_timer(void* window);
// FLTK timeout of the 3-D view at the same pace: its batch and layer steps.
void step_timer(void* view);

class GL_Display_Image : public Fl_Gl_Window {
public:
    GL_Display_Image(int x, int y, int w, int h, const char* label = nullptr);
    ~GL_Display_Image() override;
    void draw() override;
    int handle(int event) override;

    // Fills the job list from C:\insole\Bmp_List.txt, deletes it and starts a batch.
    void read_bmp_list();
    // Writes origin_point.txt (four "%d\n" lines); false when it cannot be opened.
    bool write_origin_file() const;
    // True when window pixel (x, y), y counted downwards, grips the origin.
    bool grips_origin(int x, int y) const;

    float heel_point[2] = {0, 0};
    float heel_raw[3] = {0, 0, 0};
    uint8_t batch_load_pending = 0;
    uint8_t batch_slice_pending = 0;
    uint8_t batch_job_running = 0;
    char bmp_list[BMP_LIST_MAX][BMP_NAME_SIZE] = {};
    int32_t bmp_count = 1;
    int32_t bmp_index = 0;
    unsigned image_texture = 0;
    int32_t origin_point[2] = {30, 30};
    int32_t origin_extra[2] = {1, 1};
    engine::InsoleShape shape;
    PressureImage img;
    uint8_t dragging_origin = 0;
    FTFont* label_font = nullptr;
    char label_text[32] = {};
};

class GL_Display_3D : public Fl_Gl_Window {
public:
    GL_Display_3D(int x, int y, int w, int h, const char* label = nullptr);
    ~GL_Display_3D() override;
    void draw() override;
    int handle(int event) override;

    engine::Mesh model;
    float view_yaw = 0;
    float view_pitch = 90;
    float model_rot_x = 270, model_rot_y = 0, model_rot_z = 0;
    int32_t current_angle = 0;
    int32_t last_mouse_x = 0, last_mouse_y = 0;
    double model_matrix[16];
    double view_matrix[16];
    double centre_matrix[16];
    double zoom_matrix[16];
    float zoom = 1.0f;
    engine::ModelBox box{0, 0, 0, 0, 0, 0};
    float light_block[17] = {0.9f, 0.9f, 0.8f, 0.3f, 0.5f, 0.5f, 0.5f, 0.3f, 50.0f,
                             0.5f, 0.5f, 1.0f, 0.0f, 0.8f, 0.8f, 0.8f, 0.8f};
    engine::LayerRaster raster;
    uint8_t layer_angle_on = 1;
    char gcode_path[PATH_SIZE] = {};
    char gcode_temp_path[PATH_SIZE] = {};
    // The image of the running batch job, removed once its G-code is in place.
    std::string job_image_path;
    // Its settings file, kept as long as the image so a retried job reads it again.
    std::string job_settings_path;
    // Why the batch last waited without starting a job, said once.
    std::string batch_wait_said;

    // The next job image, the start of its G-code job.
    void batch_load_step();
    void batch_start_step();
    // The batch steps and the engine's layer step, with this view's context
    // current. Run by step_timer, not by draw: a window that is covered or
    // never drawn still works through its list.
    void run_steps();

private:
    // The layer raster's frame buffer, made once for each GL context.
    void ensure_framebuffer();
    void* framebuffer_context = nullptr;
    void draw_background();
    void capture_matrices();
    // The model's turn, centring and zoom matrices (no drawing).
    void capture_placement();
    void draw_cross_section();
    void layer_step();
};

class GL_Display_TEST : public Fl_Gl_Window {
public:
    GL_Display_TEST(int x, int y, int w, int h, const char* label = nullptr);
    ~GL_Display_TEST() override;
    void draw() override;
    int handle(int event) override;

    unsigned texture = 0;
    uint8_t pixels[IMAGE_H][PLANE_ROW] = {};
    int32_t image_w = 0, image_h = 0;
    int32_t cross_x = 0, cross_y = 0;
    int32_t left_x = 0, left_y = 0;
    int32_t right_x = 0, right_y = 0;
    int32_t lower_x = 0, lower_y = 0;
    char label_text[32] = {};
};

// Where the image view draws the origin cross, in its w x h window pixels: the
// reference point less the origin, scaled from the 300 x 360 raster. Dragging
// the origin right so moves the cross left.
void origin_cross_position(const float heel[2], const int32_t origin[2], int w, int h, float& cx, float& cy);

// The measuring cross of the test view on its 0/255 picture.
void measure_cross(const uint8_t (&pixels)[IMAGE_H][PLANE_ROW], GL_Display_TEST& v);

void reset_placement_matrices(GL_Display_3D& view);
// Material and light 0 from a 17-float light block.
void setup_lighting(const float* block);

}  // namespace pathapp
