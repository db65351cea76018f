// Weak stand-ins for the raster's own operations, used by these tests only
// while that source is not yet in the engine library; the library's
// definitions take their place whenever it is linked.
#pragma once

#include <cmath>

#include "engine/layer_raster.h"
#include "engine/params.h"

namespace engine {

__attribute__((weak)) LayerRaster::LayerRaster() {}
__attribute__((weak)) LayerRaster::~LayerRaster() {}

__attribute__((weak)) void build_sample_grid(LayerRaster& r, int step) {
    if (step < 1) step = 1;
    r.step = (float)step;
    r.grid_columns = (int)std::ceil(300.0f / (float)step);
    r.grid_rows = (int)std::ceil(360.0f / (float)step);
    float ox = 0, oy = 0;
    if (pon(ck_offset_cross)) (r.row_lines ? oy : ox) = r.grid_offset;
    r.grid.clear();
    for (int gy = 0; gy < 360; gy += step)
        for (int gx = 0; gx < 300; gx += step) {
            PathPoint p;
            p.x = gx + ox;
            p.y = gy + oy;
            p.index = (int)r.grid.size();
            p.grid_x = p.x;
            p.grid_y = p.y;
            r.grid.push_back(p);
        }
}

__attribute__((weak)) float polar_angle_deg(float x, float y) {
    float a = 300, b = std::sqrt(x * x + y * y), c = std::sqrt((x - 300) * (x - 300) + y * y);
    float th = std::acos((b * b + a * a - c * c) / (2 * a * b)) * 180 / 3.14159265f;
    if (y == 0) return x > 0 ? 0 : 180;
    return y > 0 ? th : 360 - th;
}

__attribute__((weak)) float vertex_angle_deg(const PathPoint& p1, const PathPoint& p2, const PathPoint& p3) {
    auto dist = [](const PathPoint& u, const PathPoint& v) {
        return std::sqrt((u.x - v.x) * (u.x - v.x) + (u.y - v.y) * (u.y - v.y));
    };
    float a = dist(p1, p2), b = dist(p1, p3), c = dist(p2, p3);
    return std::acos((c * c + a * a - b * b) / (2 * a * c)) * 180 / 3.14159265f;
}

__attribute__((weak)) void clear_disc(LayerRaster& r, int cx, int cy, int base_radius) {
    float L = (float)pval(va_layer_index);
    float rad = base_radius - 15 * std::exp(-4 * (L / 31) * (L / 31));
    if (L <= 3) return;
    for (int j = (int)(cy - rad); j < cy + rad; ++j)
        for (int i = (int)(cx - rad); i < cx + rad; ++i)
            if (i >= 0 && i < 300 && j >= 0 && j < 360 &&
                std::sqrt((float)((cx - i) * (cx - i) + (cy - j) * (cy - j))) <= rad)
                r.layer_plane[j * 300 + i] = 0;
}

}  // namespace engine
