// Fitmire's height planes and the pixel steps of the insole rebuild, on plain
// arrays: box, height normalising, slope limit, corner trim, arch factor,
// width/length rounding, landmarks, wedges, pad sizing and the pad stamp.
#pragma once

#include <cstddef>

namespace fitmire {

// 360 rows of 152 bytes, row 0 at the bottom; columns 0..149 carry the insole,
// 150 and 151 only pad a row to the 4-byte alignment of OpenGL transfers.
// A byte is a height in 0.2 mm steps, 0 = no insole, >= 10 counts as insole.
constexpr int kRows = 360;
constexpr int kStride = 152;
constexpr int kCols = 150;
constexpr int kInsoleMin = 10;
using Plane = unsigned char[kRows][kStride];
using FloatPlane = float[kRows][kStride];

// Foot box of the pixels >= 10; an empty plane gives y_min 360, y_max 0,
// x_min 150, x_max 0 and negative sizes.
struct Box {
    int y_min = kRows, y_max = 0, x_min = kCols, x_max = 0, height = 0, width = 0;
};
Box measure_box(const Plane& plane);
bool box_empty(const Box& b);
// Rows from the first to the last holding any height, as the path program
// counts them in the saved image (row 0 it never reads); 0 when none.
int printed_rows(const Plane& plane);

// Heights times length_ratio and height_ratio, then the lowest insole height
// brought to 10. Returns the lowest height found before the shift.
float scale_heights(Plane& plane, float length_ratio, double height_ratio);

// The 30-degree limit: repeated passes until no side step above 3 and no
// diagonal step above 4 remains (rows 2..357, columns 2..147).
void limit_slope(Plane& plane, Plane& scratch);

// Removes single pixels that stick out as the corner of a 2 x 2 square.
void trim_corners(Plane& plane);

// Arch factor d for an arch index (clamped to 0.1..0.32): 1.15 .. 1 .. 0.85.
double arch_factor(float index);
// Mirrors the plane when side_flag differs from template_side, multiplies the
// heights by the arch factor and brings the lowest height back to 10.
void apply_arch_factor(Plane& work, FloatPlane& field, float index, int side_flag, int template_side);

// Width that follows a length change at 1 mm per 5 mm, to the nearest mm.
int width_for_length(double length, int measured_length, int measured_width);

// ---- wedges and pad -----------------------------------------------------------
struct Landmark {
    int row = 0, column = 0, spare = 0;
};
struct Landmarks {
    Landmark p[5];
    Box box;  // the box the rows were taken from
};
// Landmark rows at 72 %, 64 % and 15 % of the foot box. A row outside the
// plane is clamped into it; a scan that finds no insole pixel leaves that
// column at its previous value (0 at the start).
void find_landmarks(const Plane& plane, int side, Landmarks& marks);

struct PointRC {
    float row = 0, column = 0;
};
// Raises (or lowers, negative amount_mm) P3's side of the line P1-P2: linearly
// up to the parallel through P3, by the full amount beyond it; insole pixels
// end up within 10..255, pixels of 0 are never touched. A P3 on the line gives
// a wedge without width: nothing changes and false comes back.
bool add_wedge(PointRC p1, PointRC p2, PointRC p3, Plane& plane, float amount_mm);

struct PadSize {
    float width = 0, length = 0, height = 0;
};
PadSize size_pad(const Box& box, float hv_angle);

// Anchor of the pad: crossing of the leftmost-rightmost line with the
// lowest-highest line. False when the plane has no insole pixel. When the
// lines are parallel (or one of them is a single point) the anchor is the
// middle between the lowest and the highest point.
bool find_pad_anchor(const Plane& plane, bool is_left, float& centre_x, float& centre_y);

// Scales the read-back stamp (rows stride bytes apart) to height H mm and adds
// it to the plane with its top edge on the anchor row, saturating at 255.
void add_stamp(Plane& plane, unsigned char* stamp, int stride, float w, float l, float h, float max_value,
               float centre_x, float centre_y);

}  // namespace fitmire
