// The insole shape object: the foot's bitmaps, ranges, outline key points and
// contour lists, with the pixel passes (spurs, faint pixels, notches,
// boundary, thinning, eroded ring) that the outline and model builders share.
#pragma once

#include <cstdint>
#include <vector>

namespace engine {

// Every shape bitmap: 150 columns by 360 rows, pixel (x, y) at y * 150 + x,
// row y_min at the heel; "set" means non-zero.
constexpr int SHAPE_W = 150;
constexpr int SHAPE_H = 360;
constexpr int SHAPE_PIXELS = SHAPE_W * SHAPE_H;

// A pixel position; link is an index into the other contour list (or -1)
// and is carried along, never read, in the key points.
struct ShapePoint {
    int32_t x = 0;
    int32_t y = 0;
    int32_t link = -1;
};

// Same position (the link is not compared).
inline bool operator==(const ShapePoint& a, const ShapePoint& b) { return a.x == b.x && a.y == b.y; }
inline bool operator!=(const ShapePoint& a, const ShapePoint& b) { return !(a == b); }

inline bool in_shape(int x, int y) { return x >= 0 && x < SHAPE_W && y >= 0 && y < SHAPE_H; }

// Float to pixel coordinate, truncated toward zero; NaN and values no foot
// can produce are pinned far off the bitmap instead of overflowing.
inline int32_t trunc_px(float v) {
    if (!(v > -100000.0f)) return -100000;
    if (v > 100000.0f) return 100000;
    return static_cast<int32_t>(v);
}

struct InsoleShape {
    uint8_t foot_map[SHAPE_PIXELS] = {};      // cleaned foot bitmap, grey values
    uint8_t inside_mask[SHAPE_PIXELS] = {};   // filled insole: 10 inside, 0 outside
    uint8_t outline_map[SHAPE_PIXELS] = {};   // drawn outline, 0 or 255
    uint8_t ring_map[SHAPE_PIXELS] = {};      // thin boundary of the eroded foot
    uint8_t ring_work[SHAPE_PIXELS] = {};     // scratch for erosion and walks
    uint8_t edge_map[SHAPE_PIXELS] = {};      // thin boundary of the un-eroded foot
    uint8_t outline_work[SHAPE_PIXELS] = {};  // scratch copy of outline_map
    int32_t x_max = 0, y_max = 0, x_min = 0, y_min = 0;  // px
    int32_t peak_level = 0;                   // largest foot value / 5
    float foot_length = 0;                    // px
    float insole_width = 0;                   // px
    int32_t decresing_time = 0;
    uint8_t is_left = 0;
    ShapePoint p[5];
    float LENGTH_PCT[5] = {};
    float LINE_PCT[2] = {};
    ShapePoint p0_1, p0_2, p2_1, p2_2;
    float base_height = 2.0f;                 // mm; also the slicer's height offset
    std::vector<ShapePoint> top_contour;
    std::vector<ShapePoint> bottom_contour;
};

// Defaults: the fraction tables (LINE_PCT[0] from va_bm_para_2), base_height,
// empty contour lists.
void init_insole_shape(InsoleShape& shape);
// Frees both contour lists' storage.
void destroy_insole_shape(InsoleShape& shape);

// Clears, one at a time, every interior pixel with three or four empty
// 4-neighbours until none is left.
void remove_spurs(uint8_t* bitmap);
// Values below 10 in the toe half (rows (y_min + y_max) / 2 .. y_max - 1) become 0.
void clear_faint_pixels(const InsoleShape& shape, uint8_t* bitmap);
// One column-by-column in-place pass: empty pixels with three or four set
// 4-neighbours become 255 in work and paired. True when anything was set.
bool fill_notches(uint8_t* work, uint8_t* paired);
// One column-by-column in-place pass: set pixels with three or four empty
// 4-neighbours are cleared in work and paired. True when anything was cleared.
bool clear_spurs_once(uint8_t* work, uint8_t* paired);
// Clears in dst every interior pixel set in src whose four 4-neighbours are set in src.
void clear_interior(const uint8_t* src, uint8_t* dst);
// Clears in dst every interior pixel of src that has exactly two set
// 8-neighbours lying diagonally to each other (a corner of a staircase).
void thin_boundary(const uint8_t* src, uint8_t* dst);
// ring_map = thin boundary of foot_map eroded va_bm_para_1 times (less toward
// the heel end); clears outline_map.
void build_eroded_ring(InsoleShape& shape);

// Follows the boundary of region's set pixels (8-connected) from start,
// keeping the region on the right hand when clockwise (rows growing upwards)
// and on the left otherwise; start must have its left (clockwise) or right
// neighbour empty. Appends every pixel stepped on, a pixel twice where the
// region is one pixel thin. With end given: true when it is reached (end
// appended). Without: true when the walk is back at start, which is not
// appended again.
bool follow_boundary(const uint8_t* region, ShapePoint start, const ShapePoint* end, bool clockwise,
                     std::vector<ShapePoint>& out);

// Foot ranges, side and key points.
void measure_foot_ranges(InsoleShape& shape, const uint8_t* bitmap);
uint8_t decide_side(InsoleShape& shape, const uint8_t* bitmap);
void place_shape_points(InsoleShape& shape);

}  // namespace engine
