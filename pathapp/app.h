// The path program's windows, views and variant menu (created once by
// build_windows), and the start-up steps of main.
#pragma once

#include <string>

class Fl_Box;
class Fl_Double_Window;
class Fl_Menu_Button;
class Fl_Widget;

namespace pathapp {

class GL_Display_Image;
class GL_Display_3D;
class GL_Display_TEST;

// ---- program globals, one block ----------------------------------------------
extern Fl_Double_Window* main_window;      // "Strandel", 1576 x 828
extern Fl_Double_Window* adv_edit_window;  // "Adv Edit", hidden until "edit"
extern GL_Display_Image* image_view;       // 2-D view, holds the job list and the loaded image
extern GL_Display_Image* gp_img;           // the same view, under the loaders' name
extern GL_Display_3D* view_3d;             // 3-D view, owns the mesh and the layer raster
extern GL_Display_TEST* test_view;         // outline test view
extern Fl_Menu_Button* menu_version;       // "版本設定"
extern bool batch_mode;                    // a job list was read: no dialog may block
extern Fl_Box* batch_hold_box;             // says why a held batch waits; hidden otherwise

// Picks a system font with Traditional Chinese glyphs for FLTK's default face.
void use_cjk_font();

// Builds both windows with every widget in creation order (main_window last
// closed as a group, non-modal). Parameter widgets load their stored values.
void build_windows();

// A job list was read: typed values are taken whole, and the controls that
// would change a job's path or file (Get Path, Save Path, Get Height, the
// turns, the loaders, Load Para, dilation, the CUT Plane sliders) do nothing
// until the program ends with the list.
void start_batch_mode();
// Shows in the main window why the batch holds (the console line's words);
// an empty text hides it.
void show_batch_hold(const std::string& why);

// ---- variant menu ---------------------------------------------------------------
// The variant index stored in path ("%d"); 0 when missing, unreadable or
// outside 0..2.
int read_variant_file(const std::string& path);
// Title for a variant index; nullptr when none.
const char* variant_title(int index);
void choose_variant_title(Fl_Widget* w, void* data);
// The current item of "版本設定", -1 when none.
int current_variant();

}  // namespace pathapp
