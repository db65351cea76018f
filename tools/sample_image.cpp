// Byte planes and their writers: hand-laid BMP files (exact header and byte layout), grey PNG through
// FreeImage, and the small numeric helpers the shape makers share.
#include <FreeImage.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "tools/sample_data.h"

namespace sample {

Plane Plane::mirrored() const {
    Plane m(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) m.at(w - 1 - x, y) = at(x, y);
    return m;
}

BmpImage make_bmp(const Plane& grey, int bpp, const Plane* alpha) {
    BmpImage img;
    img.w = grey.w;
    img.h = grey.h;
    img.bpp = bpp;
    img.pitch = ((grey.w * bpp + 31) / 32) * 4;
    img.rows.assign(static_cast<size_t>(img.pitch) * img.h, 0);
    const int b = bpp / 8;
    for (int y = 0; y < grey.h; ++y) {
        uint8_t* r = img.row(y);
        for (int x = 0; x < grey.w; ++x) {
            const uint8_t g = grey.at(x, y);
            uint8_t* p = r + x * b;
            for (int k = 0; k < b && k < 3; ++k) p[k] = g;
            if (b == 4) p[3] = alpha ? alpha->at(x, y) : g;
        }
    }
    return img;
}

static void put16(std::vector<uint8_t>& o, uint32_t v) {
    o.push_back(v & 0xff);
    o.push_back((v >> 8) & 0xff);
}
static void put32(std::vector<uint8_t>& o, uint32_t v) {
    put16(o, v & 0xffff);
    put16(o, v >> 16);
}

bool write_bmp(const std::string& path, const BmpImage& img) {
    const uint32_t palette = img.bpp == 8 ? 256 * 4 : 0;
    const uint32_t offset = 14 + 40 + palette;
    const uint32_t image_size = static_cast<uint32_t>(img.rows.size());
    std::vector<uint8_t> o;
    o.reserve(offset + image_size);
    o.push_back('B');
    o.push_back('M');
    put32(o, offset + image_size);
    put32(o, 0);
    put32(o, offset);
    put32(o, 40);
    put32(o, static_cast<uint32_t>(img.w));
    put32(o, static_cast<uint32_t>(img.h));
    put16(o, 1);
    put16(o, static_cast<uint32_t>(img.bpp));
    put32(o, 0);  // BI_RGB
    put32(o, image_size);
    put32(o, 3780);  // 96 dpi, as the station's images carry
    put32(o, 3780);
    put32(o, img.bpp == 8 ? 256 : 0);
    put32(o, 0);
    if (img.bpp == 8)
        for (int i = 0; i < 256; ++i) {
            o.push_back(static_cast<uint8_t>(i));
            o.push_back(static_cast<uint8_t>(i));
            o.push_back(static_cast<uint8_t>(i));
            o.push_back(0);
        }
    o.insert(o.end(), img.rows.begin(), img.rows.end());
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(o.data(), 1, o.size(), f) == o.size();
    return std::fclose(f) == 0 && ok;
}

bool write_png_grey(const std::string& path, const Plane& grey) {
    FIBITMAP* dib = FreeImage_Allocate(grey.w, grey.h, 8);
    if (!dib) return false;
    RGBQUAD* pal = FreeImage_GetPalette(dib);
    for (int i = 0; i < 256; ++i) {
        pal[i].rgbRed = pal[i].rgbGreen = pal[i].rgbBlue = static_cast<BYTE>(i);
        pal[i].rgbReserved = 0;
    }
    for (int y = 0; y < grey.h; ++y) std::memcpy(FreeImage_GetScanLine(dib, y), &grey.v[size_t(y) * grey.w], grey.w);
    const bool ok = FreeImage_Save(FIF_PNG, dib, path.c_str(), PNG_DEFAULT) != 0;
    FreeImage_Unload(dib);
    return ok;
}

double smoothstep(double e0, double e1, double x) {
    double t = (x - e0) / (e1 - e0);
    t = std::clamp(t, 0.0, 1.0);
    return t * t * (3 - 2 * t);
}

double curve(const std::vector<double>& ts, const std::vector<double>& vs, double t) {
    const size_t n = ts.size();
    if (t <= ts.front()) return vs.front();
    if (t >= ts.back()) return vs.back();
    size_t i = 0;
    while (i + 2 < n && t > ts[i + 1]) ++i;
    // Fritsch-Carlson tangents keep the outline from overshooting between control points.
    auto slope = [&](size_t k) { return (vs[k + 1] - vs[k]) / (ts[k + 1] - ts[k]); };
    auto tangent = [&](size_t k) {
        if (k == 0) return slope(0);
        if (k == n - 1) return slope(n - 2);
        const double a = slope(k - 1), b = slope(k);
        if (a * b <= 0) return 0.0;
        return 2 * a * b / (a + b);
    };
    const double h = ts[i + 1] - ts[i];
    const double s = (t - ts[i]) / h;
    const double h00 = 2 * s * s * s - 3 * s * s + 1, h10 = s * s * s - 2 * s * s + s;
    const double h01 = -2 * s * s * s + 3 * s * s, h11 = s * s * s - s * s;
    return h00 * vs[i] + h10 * h * tangent(i) + h01 * vs[i + 1] + h11 * h * tangent(i + 1);
}

std::vector<float> inside_distance(const Plane& mask) {
    const int w = mask.w, h = mask.h;
    const float big = 1e6f;
    std::vector<float> d(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) d[size_t(y) * w + x] = mask.at(x, y) ? big : 0.f;
    auto get = [&](int x, int y) { return (x < 0 || y < 0 || x >= w || y >= h) ? 0.f : d[size_t(y) * w + x]; };
    const float a = 1.f, b = 1.41421356f;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            float& v = d[size_t(y) * w + x];
            if (v == 0.f) continue;
            v = std::min({v, get(x - 1, y) + a, get(x, y - 1) + a, get(x - 1, y - 1) + b, get(x + 1, y - 1) + b});
        }
    for (int y = h - 1; y >= 0; --y)
        for (int x = w - 1; x >= 0; --x) {
            float& v = d[size_t(y) * w + x];
            if (v == 0.f) continue;
            v = std::min({v, get(x + 1, y) + a, get(x, y + 1) + a, get(x + 1, y + 1) + b, get(x - 1, y + 1) + b});
        }
    return d;
}

}  // namespace sample
