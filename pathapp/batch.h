// The batch driver's pieces outside the 3-D view: job paths, the start of a
// G-code job, the engine's layer step and the end of a job and of the batch.
#pragma once

#include <string>

namespace pathapp {

class GL_Display_3D;

struct BatchJobPaths {
    std::string image;       // mapped "C:\insole\<name>"
    std::string gcode_temp;  // mapped "C:\VerdanelFiles\temp\<name>.gcode"
    std::string gcode;       // mapped "C:\VerdanelFiles\<name>.gcode"
};

// The paths are built in 128-character buffers in the station's Windows
// form; false when a path would not fit (the job is then refused).
bool make_image_path(const std::string& name, BatchJobPaths& out);
bool make_gcode_paths(const std::string& name, BatchJobPaths& out);
// The G-code file name of a job image: its last three characters made "gcode".
bool gcode_name_for(const std::string& name, std::string& out);
bool ends_with_right_bmp(const std::string& name);

// begin_gcode_file on path, the file to be moved to final_path (nullptr:
// it keeps its name) at the end; false when the job could not start.
bool start_gcode_job(const char* path, const char* final_path = nullptr);
// One engine step on the view's raster and model; ends the job when the
// engine closed its file.
void run_layer_step(GL_Display_3D& view);
// A G-code job's file was closed: the job image and its settings file go
// once the file is in its final place; then the next name, or the end of the
// batch.
void batch_job_finished(GL_Display_3D& view);
// The list is done: the program ends with status 0.
[[noreturn]] void end_batch();

}  // namespace pathapp
