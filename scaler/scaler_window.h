// Fitmire's main window, its controls (the program's parameter store), the
// hand-off poller and the start-up that ties them together.
#pragma once

#include <cstdint>

#include "insole_image.h"

class Fl_Double_Window;
class Fl_Button;
class Fl_Check_Button;
class Fl_Value_Slider;
class Fl_Value_Input;

namespace fitmire {

class GL_Display_Image;

// ---- the program's widgets (created once by build_scaler_window) ----
extern Fl_Double_Window* scaler_window;       // 206 x 430 "Fitmire"
extern Fl_Button* bt_load_left;               // template dialog, loads a left insole
extern Fl_Button* bt_load_right;              // template dialog, loads a right insole
extern Fl_Button* bt_save;                    // save dialog
extern Fl_Button* bt_restore;                 // restore_measured
extern Fl_Value_Slider* va_width;             // insole width, mm
extern Fl_Check_Button* bt_degree_30;         // 30-degree slope limit, persisted
extern Fl_Value_Slider* va_length;            // insole length, mm
extern Fl_Value_Slider* va_height_ratio;      // height ratio
extern Fl_Button* bt_inner_arch;              // wedge buttons
extern Fl_Button* bt_outer_arch;
extern Fl_Button* bt_inner_heel;
extern Fl_Button* bt_outer_heel;
extern Fl_Button* bt_whole_heel;
extern Fl_Value_Input* va_inner_arch;         // wedge amounts, mm
extern Fl_Value_Input* va_outer_arch;
extern Fl_Value_Input* va_inner_heel;
extern Fl_Value_Input* va_outer_heel;
extern Fl_Value_Input* va_whole_heel;
extern Fl_Value_Input* va_left_arch_index;    // arch index of the left foot
extern Fl_Value_Input* va_right_arch_index;   // arch index of the right foot
extern Fl_Value_Slider* va_pad_width;         // pad size, recomputed by every rebuild
extern Fl_Value_Slider* va_pad_length;
extern Fl_Value_Slider* va_pad_height;
extern Fl_Check_Button* ck_pad;               // metatarsal pad on/off
extern Fl_Check_Button* ck_vary_height;       // heights follow the length
extern Fl_Check_Button* ck_vary_width;        // width follows the length
extern Fl_Value_Slider* va_hv_angle;          // HV angle, degrees
extern GL_Display_Image* scaler_view;         // the image view

// The controls' values as plain numbers, and back (no callbacks run).
ScalerControls read_controls();
void write_controls(const ScalerControls& c);

// Builds the window, its controls and the view (which loads its files from
// the current directory) and arms the poller.
void build_scaler_window();

// Shutdown: removes the poller and frees the window with its controls.
void free_scaler_window();

// ---- hand-off poller ----
struct poll_state {
    uint32_t now_second = 0;
    uint32_t last_second = 0;
    bool fire = false;
};
// True on the first tick of each even second.
bool poll_fires(poll_state& state, uint32_t now_second);
void read_insole_parameters(poll_state& state);
void poll_tick(void* state);

// Start-up: build, show with the arguments, run the event loop.
int run(int argc, char** argv);

}  // namespace fitmire
