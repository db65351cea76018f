// Triangle mesh types shared by the STL reader, the insole model builder,
// the height measurement and the slicer.
#pragma once

#include <vector>

namespace engine {

struct Vec3 {
    float x, y, z;
};

// Vertices in file order; normals are computed as (b - a) x (c - a) when needed.
struct MeshTriangle {
    Vec3 a, b, c;
};

using Mesh = std::vector<MeshTriangle>;

// The model box in its stored order; reset to -600000 / 600000 before a load.
struct ModelBox {
    float model_max_x = -600000, model_min_x = 600000;
    float model_max_y = -600000, model_min_y = 600000;
    float model_max_z = -600000, model_min_z = 600000;
    void reset() { *this = ModelBox(); }
    void widen(const Vec3& v) {
        if (v.x > model_max_x) model_max_x = v.x;
        if (v.x < model_min_x) model_min_x = v.x;
        if (v.y > model_max_y) model_max_y = v.y;
        if (v.y < model_min_y) model_min_y = v.y;
        if (v.z > model_max_z) model_max_z = v.z;
        if (v.z < model_min_z) model_min_z = v.z;
    }
};

// A mesh cut at one height: the triangle and the 0..2 points where its edges cross.
struct CrossSegment {
    MeshTriangle tri;
    int count = 0;
    Vec3 pt[2] = {{0, 0, 0}, {0, 0, 0}};
};

}  // namespace engine
