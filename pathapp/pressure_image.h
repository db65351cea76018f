// The loaded insole image's data and the plain-array steps of image loading:
// the pixel copy with its marks, the slope pass, the heel floor, the heel
// point and the per-job settings file. No toolkit and no OpenGL in here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pathapp {

constexpr int IMAGE_W = 150;  // pixels of an accepted image, one millimetre each
constexpr int IMAGE_H = 360;
constexpr int PLANE_ROW = 152;  // bytes per row of the planes handed to OpenGL (4-byte rows)
constexpr uint8_t MARK_BYTE = 123;  // '{' in the first byte of rows 0 / 1

struct MarkedCircle {
    float x, y, r;
};

// Seven floats, the size of a path point; the third and sixth are never read.
struct MarkedBar {
    float x1, y1, unused1, x2, y2, unused2, w;
};

struct PressureImage {
    uint8_t foot_image[IMAGE_H][IMAGE_W] = {};
    uint8_t pressure_image[IMAGE_H][IMAGE_W] = {};
    uint8_t pressure_max = 0;
    uint8_t slope_image[IMAGE_H][PLANE_ROW] = {};
    uint8_t contour_image[IMAGE_H][PLANE_ROW] = {};
    float contour_first_row = 0;
    float contour_row_count = 0;
    std::vector<MarkedCircle> marked_circles;
    std::vector<MarkedBar> marked_bars;
    uint8_t pressure_loaded = 0;
};

// A decoded bitmap as FreeImage delivers it: row 0 first in memory (the bottom
// line of the picture), `pitch` bytes a row, `height` rows.
struct ImageBits {
    uint8_t* bits = nullptr;
    int width = 0;
    int height = 0;
    int pitch = 0;
    int bpp = 0;
    // An 8-bit image's palette as greys: foot and pressure values are read
    // through it (the marks stay raw bytes); nullptr reads bytes as they are.
    const uint8_t* grey = nullptr;
};

// Copies foot and pressure values of rows 1..359 into img, reads the marks of
// rows 0 and 1 (clearing those rows' pixels in `in` when marked), and sets
// has_marks. The image must be 150 x 360. Prints the marks cut at the row's
// end and "gp_img->pressure_max %d\n ".
void copy_image_pixels(ImageBits& in, PressureImage& img, uint8_t& has_marks, const std::string& name);

// The "Slope 30" pass: no value may exceed a side neighbour by more than
// edge_limit or a diagonal neighbour by more than 4; fills slope_image too.
void slope_pass(PressureImage& img, int edge_limit);

// Lifts the faint values (1..15) of the heel third of the foot to 16.
void raise_heel_floor(uint8_t (&foot)[IMAGE_H][IMAGE_W]);

// First and last rows (0..359) holding a non-zero foot value; false when none.
bool foot_row_extent(const uint8_t (&foot)[IMAGE_H][IMAGE_W], int& first, int& last);

// The middle of the first run of values >= 10 on the lowest such row (rows
// and columns from 1); false when no pixel reaches 10.
bool find_raw_heel_point(const uint8_t (&foot)[IMAGE_H][IMAGE_W], float& x, float& y);

// The contour image's foot values into contour_image with its first row and
// row count.
void copy_contour_pixels(const ImageBits& in, PressureImage& img);

// ---- per-job settings files ------------------------------------------------
struct JobSettings {
    int full = 0;
    char type = 0;
    int density = 0;
};

// Reads whitespace-separated tokens (each at most 63 characters); keys "full"
// and "density" take the next integer, "type" the next non-blank character.
// A longer token is skipped with a console line naming the file.
void parse_job_settings(const std::string& text, const std::string& file_name, JobSettings& out);

// The job name with its last three characters replaced by `ext` ("x.bmp",
// "txt" -> "x.txt"); false when the result would not fit `capacity` bytes
// with its terminator, or the name is shorter than three characters.
bool replace_last_three(const std::string& name, const char* ext, size_t capacity, std::string& out);

}  // namespace pathapp
