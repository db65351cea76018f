// The engine pieces the shell calls: insole shape and outline, mesh
// operations, STL model, slicer and G-code writer.
#pragma once

#include "engine/gcode_writer.h"
#include "engine/insole_mesh.h"
#include "engine/insole_outline.h"
#include "engine/insole_shape.h"
#include "engine/layer_slicer.h"
#include "engine/mesh_ops.h"
#include "engine/stl_model.h"
#include "pathapp/stl_load.h"
