// STL models: the reader for binary and ASCII files (format told by the
// second line's first word), the "123.stl" text writer and the model drawing
// of the 3-D view.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "engine/layer_raster.h"
#include "engine/mesh.h"

namespace engine {

// Longest file name the reader takes, in bytes after conversion, and longest
// word of an ASCII file; longer ones are refused with a console line.
constexpr size_t STL_MAX_PATH = 1023;
constexpr size_t STL_MAX_WORD = 255;

enum class StlStatus {
    ok,          // every triangle the file holds was read
    not_opened,  // the file did not open; model empty, box reset
    refused,     // not a readable STL (too short, over-long word, malformed vertex); model empty, box reset
    partial,     // ended early or had triangles with non-finite coordinates; the good triangles are kept
};

struct StlReadResult {
    StlStatus status = StlStatus::not_opened;
    bool binary = false;
    size_t triangles = 0;  // triangles now in the model
    // The file was opened and gave a model (possibly empty or incomplete).
    bool loaded() const { return status == StlStatus::ok || status == StlStatus::partial; }
};

// Empties model, resets box, then reads the file, appending its triangles in
// file order and widening the box with every vertex. One console line names
// the file and the fault when it is refused or read only in part.
StlReadResult read_stl_file(const std::string& path, Mesh& model, ModelBox& box);
// The same from an open stream positioned anywhere (it is rewound); name is
// only used in messages.
StlReadResult read_stl_stream(std::FILE* f, const std::string& name, Mesh& model, ModelBox& box);

// True when a chosen file name fits the reader; otherwise prints why.
bool stl_path_fits(const std::string& path);

// The raster position of the box corner (minimum x, minimum y) with the model
// centred in the 300 x 360 raster.
void stl_heel_point(const ModelBox& box, float heel_point[2]);

// Everything the load-STL action does once a file name is chosen, except
// resetting the 3-D view's placement matrices: reads utf8_path (converted to
// the ANSI code page) into model and box, places heel_point unless
// ck_fixed_position is on, and raises raster.height_request. True once the
// file was opened and read (a partial read counts); false leaves the model
// empty, or untouched when the name itself is refused.
bool load_stl_file(const std::string& utf8_path, Mesh& model, ModelBox& box, LayerRaster& raster,
                   float heel_point[2]);

// Writes the model as an ASCII solid named nothing, every normal "0 0 0",
// vertices with six decimals. False (with a console line) when the file
// cannot be opened or written.
bool write_stl_text(const std::string& path, const Mesh& model);

// Once a frame inside the 3-D view's model transform: writes "123.stl" in the
// current directory and switches bt_save_stl off when it is on, then draws the
// model lit in (0.7, 0.7, 0).
void draw_model(const Mesh& model);

}  // namespace engine
