// The load-STL action: the file chooser in front of the engine's STL reader.
#pragma once

#include <cstddef>
#include <functional>

#include "engine/layer_raster.h"
#include "engine/mesh.h"

namespace pathapp {

// The shell state a load writes: the 3-D view's model, model box and
// placement reset, the raster's height request, the image view's heel_point.
struct StlLoadTarget {
    engine::Mesh* model = nullptr;
    engine::ModelBox* box = nullptr;
    engine::LayerRaster* raster = nullptr;
    float* heel_point = nullptr;                    // two floats: x, y
    std::function<void()> reset_placement_matrices;  // the 3-D view's
};

// Converts a file name from UTF-8 (what the chooser returns) to the ANSI code
// page (what the file functions take), in place in a buffer of `capacity`
// bytes. False, with the name left as it was, when the result would not fit.
bool to_ansi_path(char* name, size_t capacity);

// Asks for a file ("Load a STL-MODEL file", "model\t*.stl\n") and reads it.
// True once a file was opened and read; a cancelled or failed dialog changes
// nothing. The button's action clears raster->insole_mesh_model afterwards.
bool load_stl_model(const StlLoadTarget& target);

}  // namespace pathapp
