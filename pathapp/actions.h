// The image loaders and the actions that the parameter set reaches through its hooks.
#pragma once

#include <string>

class Fl_Widget;

namespace pathapp {

// ---- image loading (the image view's loaded data, the 3-D view's model) ------------
void load_pressure_image();
void load_contour_image();
// One batch job image; true when it is loaded and prepared. `refusal` says
// why the image can never be printed (not 150 x 360, a foot under 80 rows);
// the image is left where it is, for the caller to set aside.
// `settings_file`: the job's settings file that goes when the image goes
// (empty when there is none).
bool load_batch_file(const std::string& path, std::string* refusal = nullptr, std::string* settings_file = nullptr);
void apply_base_plate();
void find_heel_point();
void save_gcode();
// The chosen Save G-Code name with ".gcode" added unless it already ends so
// (case-sensitive).
std::string gcode_save_name(const std::string& chosen);

// Wires the parameter set's actions to the views, installs the widget-backed
// parameter store and hands it the layer raster. Run once the views exist.
void install_param_hooks();

}  // namespace pathapp
