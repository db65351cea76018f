// The G-code writer: job start, one layer's outline and paths as G1 moves,
// and the end of the job with the move of the file to its final name.
#pragma once

#include <string>

#include "engine/layer_raster.h"
#include "engine/layer_slicer.h"

namespace engine {

// Starts a job: opens path (mapped through platform::map_path) for writing,
// writes the start text and raises gcode_file_open, path_request and
// full_path_request. final_path, when not empty, is where the finished file
// is moved at the end of the job (a batch job's temporary file); empty keeps
// the file where it is. False when the file cannot be opened: nothing is
// written, the requests are cleared and a console line says why.
bool begin_gcode_file(LayerRaster& r, const std::string& path, const std::string& final_path = {});

// Writes the layer va_layer_index (header, outline block, path block) to the
// open file. Nothing when no file is open or the layer has no paths.
void write_gcode_layer(LayerRaster& r, const SliceInputs& in);

// End of a run (the last layer handled): totals, requests cleared, end text,
// file closed and moved to its final name, batch hand-off. A job that wrote
// no layer (layers_written 0) is not finished: its file is removed instead.
void end_gcode_run(LayerRaster& r, const SliceInputs& in);

// Stops a job that cannot go on: the requests are cleared and an open file
// is closed where it is (not moved to its final name), with a console line.
void abandon_gcode_job(LayerRaster& r, const char* why);

// How far the current job's layers are lowered (0 at each job start): the
// height of its last layer skipped below the start layer, or else the height
// its first printed layer stands above the bed's first layer.
float& z_skip_offset();

// Where the open job's file is and where it goes at the end.
const std::string& gcode_open_path();
const std::string& gcode_final_path();

}  // namespace engine
