// Shared pieces of the sample-data generator: byte planes, image and STL writers, and the shape makers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sample {

// A w x h byte plane, row 0 at the bottom (the row order of BMP files and of FreeImage).
struct Plane {
    int w = 0, h = 0;
    std::vector<uint8_t> v;
    Plane() = default;
    Plane(int w_, int h_) : w(w_), h(h_), v(static_cast<size_t>(w_) * h_, 0) {}
    uint8_t& at(int x, int y) { return v[static_cast<size_t>(y) * w + x]; }
    uint8_t at(int x, int y) const { return v[static_cast<size_t>(y) * w + x]; }
    Plane mirrored() const;  // left-right
};

// Pixel rows of a BMP as they sit in the file: bottom row first, each row padded to 4 bytes.
struct BmpImage {
    int w = 0, h = 0, bpp = 0, pitch = 0;
    std::vector<uint8_t> rows;
    uint8_t* row(int y) { return rows.data() + static_cast<size_t>(y) * pitch; }
};

// Grey pixels from a plane: 32-bit puts the grey in blue, green and red and `alpha` (the pressure) in the
// fourth byte; 24-bit puts the grey in all three; 8-bit stores it as the index of a grey palette.
BmpImage make_bmp(const Plane& grey, int bpp, const Plane* alpha = nullptr);
bool write_bmp(const std::string& path, const BmpImage& img);
// An 8-bit grey PNG through FreeImage.
bool write_png_grey(const std::string& path, const Plane& grey);

// Smooth interpolation through (t, value) control points (monotone cubic; flat beyond the ends).
double curve(const std::vector<double>& ts, const std::vector<double>& vs, double t);
double smoothstep(double e0, double e1, double x);
// Chamfer distance (in pixels) of every non-zero pixel to the nearest zero pixel or the border.
std::vector<float> inside_distance(const Plane& mask);

// ---- Feet ----
struct FootParams {
    std::string name;
    bool left = true;
    int length_mm = 260;   // heel back to toe tip, rows
    bool high_arch = false;
    bool split_arch = false;  // the midfoot loses contact entirely: heel and forefoot are separate regions
    bool toe_islands = false;
    int heel_col = 70;      // column of the heel centre for a left foot (a right foot is the mirror image)
    int heel_back_row = 35; // lowest foot row
    int peak = 235;         // largest pressure value
    int canvas_w = 150, canvas_h = 360;
};

struct Foot {
    Plane value;        // 0 outside, 1..255 relative pressure inside
    int heel_x = 0, heel_y = 0;  // heel centre (pixel column, row with row 0 at the bottom)
    int first_row = -1, last_row = -1;
};

Foot make_foot(const FootParams& fp);

// ---- Insole outline, template and solid ----
struct Pt {
    double x, y;
};

// Closed outline of a LEFT insole (medial side towards +x), counter-clockwise, heel back at y = y0,
// toe front at y = y0 + length; `axis_x` is the heel's centre line.
struct InsoleOutline {
    double length, width_scale, axis_x, y0;
    // Boundary point for u in [0,1] across (0 = lateral side) on the heel (v = 0) or toe (v = 1) end, and
    // for v in [0,1] on the lateral (u = 0) or medial (u = 1) side: the four sides of the patch.
    Pt heel_end(double u) const;
    Pt toe_end(double u) const;
    Pt lateral(double v) const;
    Pt medial(double v) const;
    Pt patch(double u, double v) const;  // Coons patch over the four sides
    std::vector<Pt> polygon(int per_side) const;
    double toe_bulge = 1.0;  // set by fit_toe()
    void fit_toe();          // makes the toe end reach exactly y0 + length
};

Plane fill_polygon(const std::vector<Pt>& poly, int w, int h);
// Height of the insole's top in mm at a point, given its distance to the outline in mm.
double insole_height_mm(const InsoleOutline& o, double x, double y, double edge_mm, double arch_mm);
Plane make_template(int* first_row, int* last_row);

// ---- STL ----
struct Vec3f {
    float x, y, z;
};
struct Tri {
    Vec3f a, b, c;
};

std::vector<Tri> box_solid(float x0, float y0, float z0, float dx, float dy, float dz);
std::vector<Tri> tetra_solid(float x0, float y0, float z0, float size);
std::vector<Tri> insole_solid(int nu, int nv);
bool write_stl_ascii(const std::string& path, const std::vector<std::vector<Tri>>& solids,
                     const std::vector<std::string>& names);
bool write_stl_binary(const std::string& path, const std::vector<Tri>& tris, const std::string& header);

}  // namespace sample
