// Hand-made inputs for Fitmire's tests and benchmark: a foot-shaped height
// plane, template BMPs, a drop stamp and a colour table written with FreeImage.
#pragma once

#include <FreeImage.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "scaler/planes.h"

namespace scalertest {

// A plane on the heap (it is too large for the stack).
struct PlaneBox {
    fitmire::Plane p = {};
};

// The lowest insole height of a plane; 256 when it holds none.
inline int min_insole(const fitmire::Plane& p) {
    int m = 256;
    for (int r = 0; r < fitmire::kRows; ++r)
        for (int c = 0; c < fitmire::kCols; ++c)
            if (p[r][c] > 0) m = std::min<int>(m, p[r][c]);
    return m;
}

// A left insole: heel at row 20, toes at row 339, heights 10 (rim) to about
// 35 (arch on the inner, right-hand side of the picture), 0 outside.
inline void fill_foot(fitmire::Plane& p) {
    std::memset(p, 0, sizeof(fitmire::Plane));
    for (int r = 20; r <= 339; ++r) {
        const double t = (r - 20) / 319.0;
        const double hw = (26 + 16 * t) * std::sqrt(std::fmax(0.0, 1 - std::pow(2 * t - 1, 8)));
        const double centre = 72 + 8 * (t - 0.5);
        for (int c = 0; c < fitmire::kCols; ++c) {
            const double x = (c + 0.5 - centre) / std::fmax(hw, 1e-6);
            if (std::fabs(x) > 1) continue;
            double h = 10 + 6 * std::pow(std::fabs(x), 4);                           // rim
            h += 18 * std::exp(-std::pow((t - 0.42) / 0.12, 2)) * std::fmax(0.0, x);  // arch
            h += 4 * std::exp(-std::pow((t - 0.08) / 0.06, 2));                        // heel cup
            p[r][c] = static_cast<unsigned char>(h);
        }
    }
}

inline void grey_palette(FIBITMAP* img) {
    RGBQUAD* pal = FreeImage_GetPalette(img);
    for (int i = 0; i < 256; ++i) pal[i].rgbRed = pal[i].rgbGreen = pal[i].rgbBlue = static_cast<BYTE>(i);
}

// Writes a plane's columns 0..w-1 of rows 0..h-1 as a BMP of the given depth.
inline bool write_plane_bmp(const std::string& path, const fitmire::Plane& p, int bpp = 24, int w = 150,
                            int h = 360) {
    FIBITMAP* img = FreeImage_Allocate(w, h, bpp);
    if (!img) return false;
    if (bpp == 8) grey_palette(img);
    const int step = bpp / 8;
    for (int r = 0; r < h; ++r) {
        BYTE* line = FreeImage_GetScanLine(img, r);
        for (int c = 0; c < w; ++c) {
            const unsigned char v = (r < fitmire::kRows && c < fitmire::kStride) ? p[r][c] : 0;
            for (int k = 0; k < step; ++k) line[c * step + k] = v;
        }
    }
    FreeImage_SetDotsPerMeterX(img, 3937);
    FreeImage_SetDotsPerMeterY(img, 3937);
    const bool ok = FreeImage_Save(FIF_BMP, img, path.c_str(), 0);
    FreeImage_Unload(img);
    return ok;
}

// fill_foot's plane as a template BMP.
inline bool write_foot_bmp(const std::string& path, int bpp = 24) {
    auto foot = std::make_unique<PlaneBox>();
    fill_foot(foot->p);
    return write_plane_bmp(path, foot->p, bpp);
}

// A round stamp with a flat top of 200 in the middle, as an 8-bit grey PNG.
inline bool write_drop_png(const std::string& path, int size = 64) {
    FIBITMAP* img = FreeImage_Allocate(size, size, 8);
    if (!img) return false;
    grey_palette(img);
    const double c = (size - 1) / 2.0;
    for (int r = 0; r < size; ++r) {
        BYTE* line = FreeImage_GetScanLine(img, r);
        for (int x = 0; x < size; ++x) {
            const double d = std::hypot(x - c, r - c) / (size / 2.0);
            line[x] = static_cast<BYTE>(d >= 1 ? 0 : d < 0.4 ? 200 : 200 * (1 - d) / 0.6);
        }
    }
    const bool ok = FreeImage_Save(FIF_PNG, img, path.c_str(), 0);
    FreeImage_Unload(img);
    return ok;
}

inline bool write_lut(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) return false;
    for (int i = 0; i < 256; ++i) std::fprintf(f, "%d %d %d\n", i, 255 - i, (i * 7) % 256);
    return std::fclose(f) == 0;
}

}  // namespace scalertest
