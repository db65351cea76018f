// Which engine pieces this build has: the shell compiles against the engine's
// declared names and leaves out the calls of pieces not yet in the tree.
#pragma once

#if __has_include("engine/insole_shape.h")
#include "engine/insole_mesh.h"
#include "engine/insole_outline.h"
#include "engine/insole_shape.h"
#define STRANDEL_HAVE_INSOLE_GEO 1
#else
#define STRANDEL_HAVE_INSOLE_GEO 0
#include <cstdint>
namespace engine {
struct ShapePoint {
    int32_t x, y, link;
};
// The fields of the insole shape that the shell reads.
struct InsoleShape {
    uint8_t foot_map[360 * 150] = {};
    uint8_t outline_map[360 * 150] = {};
    int32_t x_max = 0, y_max = 0, x_min = 0, y_min = 0;
    int32_t peak_level = 0;
    int32_t decresing_time = 0;
    ShapePoint p[5] = {};
    float LINE_PCT[2] = {0.14f, 0.0822f};
};
}  // namespace engine
#endif

#if __has_include("engine/mesh_ops.h")
#include "engine/mesh_ops.h"
#define STRANDEL_HAVE_MESH_OPS 1
#else
#define STRANDEL_HAVE_MESH_OPS 0
#endif

#if __has_include("engine/layer_slicer.h") && __has_include("engine/gcode_writer.h")
#include "engine/gcode_writer.h"
#include "engine/layer_slicer.h"
#define STRANDEL_HAVE_SLICER 1
#else
#define STRANDEL_HAVE_SLICER 0
#endif

#if __has_include("engine/stl_model.h") && __has_include("pathapp/stl_load.h")
#include "engine/stl_model.h"
#include "pathapp/stl_load.h"
#define STRANDEL_HAVE_STL 1
#else
#define STRANDEL_HAVE_STL 0
#endif
