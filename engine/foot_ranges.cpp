// Foot ranges, the left/right decision and the outline's key points.
#include <cmath>
#include <cstdio>

#include "engine/insole_shape.h"

namespace engine {

namespace {

inline int idx(int x, int y) { return y * SHAPE_W + x; }

// First set pixel of row y from the near side (columns 1..148) or the far
// side (columns 149..1). False when the row holds none.
bool scan_row(const uint8_t* bitmap, int y, bool far_side, int32_t& x) {
    if (y < 0 || y >= SHAPE_H) return false;
    if (far_side) {
        for (int c = SHAPE_W - 1; c >= 1; --c)
            if (bitmap[idx(c, y)]) {
                x = c;
                return true;
            }
    } else {
        for (int c = 1; c <= SHAPE_W - 2; ++c)
            if (bitmap[idx(c, y)]) {
                x = c;
                return true;
            }
    }
    return false;
}

// A high arch can leave no foot at all on a key point's row (heel and
// forefoot apart). Keeping the x of the last foot there would draw the arch
// towards a stale, often off-bitmap, point; the point moves instead to the
// nearest row that holds the foot (the heel side first on a tie). With no
// foot anywhere the point keeps its x.
void place_on_row(const uint8_t* bitmap, ShapePoint& pt, bool far_side) {
    if (scan_row(bitmap, pt.y, far_side, pt.x)) return;
    for (int d = 1; d < SHAPE_H; ++d)
        for (int y : {pt.y - d, pt.y + d})
            if (scan_row(bitmap, y, far_side, pt.x)) {
                pt.y = y;
                return;
            }
}

}  // namespace

void measure_foot_ranges(InsoleShape& s, const uint8_t* bitmap) {
    s.x_max = s.y_max = s.peak_level = 0;
    s.x_min = s.y_min = 360;
    for (int y = 1; y <= SHAPE_H - 2; ++y)
        for (int x = 1; x <= SHAPE_W - 2; ++x) {
            const uint8_t v = bitmap[idx(x, y)];
            if (!v) continue;
            if (x > s.x_max) s.x_max = x;
            if (x < s.x_min) s.x_min = x;
            if (y > s.y_max) s.y_max = y;
            if (y < s.y_min) s.y_min = y;
            if (v / 5 > s.peak_level) s.peak_level = v / 5;
        }
    s.foot_length = static_cast<float>(s.y_max - s.y_min + 1);
    s.insole_width = static_cast<float>(s.x_max - s.x_min + 1);
    const float product = s.insole_width * s.LINE_PCT[1];
    std::printf("x range %d ~ %d \n", s.x_min, s.x_max);
    std::printf("y range %d ~ %d \n", s.y_min, s.y_max);
    std::printf("insole_width * LINE_PCT[ 1 ] %f\n", product);
    s.decresing_time = trunc_px(product);
    std::printf("decresing_time %d \n", s.decresing_time);
}

uint8_t decide_side(InsoleShape& s, const uint8_t* bitmap) {
    int ymin0 = SHAPE_H, ymax0 = 0;
    for (int y = 1; y <= SHAPE_H - 2; ++y)
        for (int x = 1; x <= SHAPE_W - 2; ++x)
            if (bitmap[idx(x, y)]) {
                if (y < ymin0) ymin0 = y;
                if (y > ymax0) ymax0 = y;
            }
    const int t0 = ymax0 - (ymax0 - ymin0 + 1) / 3;
    const int first = t0 + 1 < 1 ? 1 : t0 + 1;
    const int last = ymax0 > SHAPE_H - 2 ? SHAPE_H - 2 : ymax0;

    int cmin = SHAPE_W, cmax = 0;
    for (int y = first; y <= last; ++y)
        for (int x = 1; x <= SHAPE_W - 2; ++x)
            if (bitmap[idx(x, y)]) {
                if (x < cmin) cmin = x;
                if (x > cmax) cmax = x;
            }
    long sum = 0, count = 0;
    for (int y = first; y <= last; ++y)
        for (int x = cmin; x <= cmax - 1; ++x)
            if (bitmap[idx(x, y)]) {
                sum += x;
                ++count;
            }
    s.is_left = (count > 0 && static_cast<float>(sum) / static_cast<float>(count) > static_cast<float>((cmax + cmin) / 2))
                    ? 1
                    : 0;
    return s.is_left;
}

void place_shape_points(InsoleShape& s) {
    const float L = s.foot_length;
    const float y0 = static_cast<float>(s.y_min);
    for (int i = 0; i < 5; ++i) s.p[i].y = trunc_px(L * s.LENGTH_PCT[i] + y0);
    s.p0_1.y = trunc_px(y0 + 0.62f * L);
    s.p0_2.y = trunc_px(y0 + 0.55f * L);
    s.p2_1.y = trunc_px(y0 + 0.22f * L);
    s.p2_2.y = trunc_px(y0 + 0.15f * L);
    std::printf("p0_1.y %d p0_2.y %d\n", s.p0_1.y, s.p0_2.y);
    std::printf("p2_1.y %d p2_2.y %d p[2] %d\n", s.p2_1.y, s.p2_2.y, s.p[2].y);

    const float g = s.LINE_PCT[1] * s.insole_width * 0.5f;
    const float w = s.LINE_PCT[0] * s.insole_width;
    const bool left = s.is_left == 1;
    // The pulled-in side is the near side of a right foot and the far side of a left one.
    const float sign = left ? -1.0f : 1.0f;
    auto pull = [&](ShapePoint& pt, float by) { pt.x = trunc_px(static_cast<float>(pt.x) + sign * by); };

    place_on_row(s.foot_map, s.p0_1, left);
    place_on_row(s.foot_map, s.p0_2, left);
    pull(s.p0_2, g);
    place_on_row(s.ring_map, s.p2_1, left);
    pull(s.p2_1, g);
    place_on_row(s.ring_map, s.p2_2, left);
    place_on_row(s.foot_map, s.p[0], left);
    place_on_row(s.foot_map, s.p[1], left);
    pull(s.p[1], w);
    place_on_row(s.ring_map, s.p[2], left);
    place_on_row(s.ring_map, s.p[3], !left);
    place_on_row(s.foot_map, s.p[4], !left);
}

}  // namespace engine
