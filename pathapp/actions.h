// The image loaders and the actions that the parameter set reaches through its hooks.
#pragma once

#include <string>

class Fl_Widget;

namespace pathapp {

// ---- image loading (the image view's loaded data, the 3-D view's model) ------------
void load_pressure_image();
void load_contour_image();
// One batch job image; true when it is loaded and prepared. `refused` is set
// when the load removed the image as unusable (a foot under 80 rows), with its
// settings file. `settings_file`: the job's settings file that goes when the
// image goes (empty when there is none).
bool load_batch_file(const std::string& path, bool* refused = nullptr, std::string* settings_file = nullptr);
// A batch image refused as unusable goes, and with it the "十月版" settings
// file written for it (the "A4版" one in the server directory stays).
void remove_unusable_job(const std::string& image_path);
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
