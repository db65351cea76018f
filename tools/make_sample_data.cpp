// make_sample_data <outdir>: writes the project's drawn sample inputs (feet, insole template, pad stamp,
// colour table, STL models, a small batch) into one directory. No randomness: the same bytes every run.
//
// Files (all images 150 x 360, 1 mm per pixel, row 0 = heel end, seen from above unless noted):
//   foot_{left,right}_{large,small}_{flat,higharch}.bmp  32-bit feet; grey (foot value) in bytes 0-2, the
//                                            pressure in byte 3 (the same value); large 290 mm, small 220 mm
//   foot_left_medium_splitarch.bmp           255 mm, high arch that splits heel and forefoot apart
//   foot_left_large_flat_24bit.bmp / _8bit.bmp   the same foot, grey 24-bit and 8-bit (grey palette)
//   foot_left_large_flat_alpha200.bmp        the same foot with 200 in every pixel's pressure byte
//   foot_right_large_flat_r.bmp              byte copy of foot_right_large_flat.bmp under an "_r.bmp" name
//   foot_left_large_marked.bmp               marked: row 0 circles, row 1 bars (fill value 40)
//   foot_right_small_marked_bars.bmp         row 1 bars only; row 0 unmarked
//   foot_left_short_79rows.bmp / _80rows.bmp foot spanning rows 100-178 / 100-179
//   foot_left_120x300.bmp                    wrong size: 120 x 300
//   contour_left_large.bmp, contour_right_small.bmp   filled insole outlines (value 200), 32-bit
//   contour_left_large_outline.bmp           two-pixel ring of that outline
//   feet.txt                                 manifest: name side length_mm arch heel_x heel_y
//   255mm narrow 20220606 backmove 5mm.bmp   8-bit left insole height template, 0.2 mm per grey step
//   drop.png                                 250 x 250 8-bit grey pad stamp, round end at the top
//   lut_ancestor.txt                         256 lines "R G B"
//   box_ascii.stl, box_binary.stl, box_binary_solidheader.stl, two_solids_ascii.stl, insole_50k.stl
//   batch/                                   a job list with its images and per-job settings files
#include <FreeImage.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/sample_data.h"

using namespace sample;

namespace {

std::string g_dir;
bool g_ok = true;

std::string out(const std::string& name) { return g_dir + "/" + name; }

void fail(const std::string& what) {
    std::fprintf(stderr, "make_sample_data: %s\n", what.c_str());
    g_ok = false;
}

void save_bmp(const std::string& name, const BmpImage& img) {
    if (!write_bmp(out(name), img)) fail("cannot write " + out(name));
}

bool save_text(const std::string& name, const std::string& text) {
    FILE* f = std::fopen(out(name).c_str(), "wb");
    if (!f) {
        fail("cannot write " + out(name));
        return false;
    }
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (std::fclose(f) != 0 || !ok) fail("cannot write " + out(name));
    return true;
}

struct ManifestLine {
    std::string name;
    char side;
    int length;
    bool high;
    int heel_x, heel_y;
};
std::vector<ManifestLine> g_manifest;

Foot build_checked(const FootParams& s) {
    Foot f = make_foot(s);
    // The manifest promises these; a shape change that breaks them must not slip through.
    if (f.first_row != s.heel_back_row || f.last_row - f.first_row + 1 != s.length_mm)
        fail(s.name + ": foot spans rows " + std::to_string(f.first_row) + "-" + std::to_string(f.last_row));
    if (f.value.at(f.heel_x, f.heel_y) == 0) fail(s.name + ": heel centre outside the foot");
    return f;
}

void add_manifest(const std::string& name, const FootParams& s, const Foot& f) {
    g_manifest.push_back({name, s.left ? 'L' : 'R', f.last_row - f.first_row + 1, s.high_arch || s.split_arch,
                          f.heel_x, f.heel_y});
}

// Little-endian 16-bit value into a marks row.
void put16(uint8_t* p, int v) {
    p[0] = static_cast<uint8_t>(v & 0xff);
    p[1] = static_cast<uint8_t>((v >> 8) & 0xff);
}

struct Circle {
    int x, y, r;
};
struct Bar {
    int x1, y1, x2, y2, w;
};

void mark_circles(BmpImage& img, int fill, const std::vector<Circle>& cs) {
    uint8_t* r = img.row(0);
    std::fill(r, r + img.pitch, 0);
    r[0] = 123;
    r[1] = static_cast<uint8_t>(fill);
    r[2] = static_cast<uint8_t>(cs.size());
    for (size_t i = 0; i < cs.size(); ++i) {
        uint8_t* p = r + 3 + 6 * i;
        p[0] = static_cast<uint8_t>(cs[i].x);
        put16(p + 1, cs[i].y);
        p[3] = static_cast<uint8_t>(cs[i].r);
    }
}

void mark_bars(BmpImage& img, const std::vector<Bar>& bs) {
    uint8_t* r = img.row(1);
    std::fill(r, r + img.pitch, 0);
    r[0] = 123;
    r[2] = static_cast<uint8_t>(bs.size());
    for (size_t j = 0; j < bs.size(); ++j) {
        uint8_t* p = r + 3 + 9 * j;
        p[0] = static_cast<uint8_t>(bs[j].x1);
        put16(p + 1, bs[j].y1);
        p[3] = static_cast<uint8_t>(bs[j].x2);
        put16(p + 4, bs[j].y2);
        p[6] = static_cast<uint8_t>(bs[j].w);
    }
}

void write_feet() {
    // name, left, length, high, split, islands, heel column (left), heel back row, peak
    struct Row {
        const char* name;
        bool left;
        int len;
        bool high, split, islands;
        int col, back, peak;
    };
    const Row rows[] = {
        {"foot_left_large_flat", true, 290, false, false, false, 68, 35, 235},
        {"foot_right_large_flat", false, 290, false, false, false, 68, 35, 235},
        {"foot_left_large_higharch", true, 290, true, false, true, 67, 33, 250},
        {"foot_right_large_higharch", false, 290, true, false, true, 67, 33, 250},
        {"foot_left_small_flat", true, 220, false, false, true, 70, 70, 225},
        {"foot_right_small_flat", false, 220, false, false, true, 70, 70, 225},
        {"foot_left_small_higharch", true, 220, true, false, true, 71, 68, 245},
        {"foot_right_small_higharch", false, 220, true, false, true, 71, 68, 245},
        {"foot_left_medium_splitarch", true, 255, true, true, true, 69, 50, 250},
    };
    for (const Row& r : rows) {
        FootParams s;
        s.name = r.name;
        s.left = r.left;
        s.length_mm = r.len;
        s.high_arch = r.high;
        s.split_arch = r.split;
        s.toe_islands = r.islands;
        s.heel_col = r.col;
        s.heel_back_row = r.back;
        s.peak = r.peak;
        const Foot f = build_checked(s);
        const std::string name = std::string(r.name) + ".bmp";
        save_bmp(name, make_bmp(f.value, 32, &f.value));
        add_manifest(name, s, f);

        if (s.name == "foot_left_large_flat") {
            save_bmp("foot_left_large_flat_24bit.bmp", make_bmp(f.value, 24));
            add_manifest("foot_left_large_flat_24bit.bmp", s, f);
            save_bmp("foot_left_large_flat_8bit.bmp", make_bmp(f.value, 8));
            add_manifest("foot_left_large_flat_8bit.bmp", s, f);
            // The pressure byte apart from the foot value: 200 in every pixel, inside the foot or not.
            Plane flat200(150, 360);
            std::fill(flat200.v.begin(), flat200.v.end(), uint8_t(200));
            save_bmp("foot_left_large_flat_alpha200.bmp", make_bmp(f.value, 32, &flat200));
            add_manifest("foot_left_large_flat_alpha200.bmp", s, f);
            // Pockets under the heel and the metatarsal heads; channels along the lateral arch and the toes.
            BmpImage marked = make_bmp(f.value, 32, &f.value);
            mark_circles(marked, 40, {{68, 68, 12}, {109, 247, 8}, {82, 251, 7}, {42, 242, 6}});
            mark_bars(marked, {{42, 135, 44, 205, 6}, {50, 270, 115, 275, 4}});
            save_bmp("foot_left_large_marked.bmp", marked);
            add_manifest("foot_left_large_marked.bmp", s, f);
        }
        if (s.name == "foot_right_large_flat") {
            save_bmp("foot_right_large_flat_r.bmp", make_bmp(f.value, 32, &f.value));
            add_manifest("foot_right_large_flat_r.bmp", s, f);
        }
        if (s.name == "foot_right_small_flat") {
            BmpImage bars = make_bmp(f.value, 32, &f.value);
            mark_bars(bars, {{79, 80, 79, 120, 8}, {60, 160, 62, 220, 5}, {70, 240, 110, 236, 4}});
            save_bmp("foot_right_small_marked_bars.bmp", bars);
            add_manifest("foot_right_small_marked_bars.bmp", s, f);
        }
    }

    for (int len : {79, 80}) {
        FootParams s;
        s.name = "foot_left_short_" + std::to_string(len) + "rows";
        s.length_mm = len;
        s.heel_col = 72;
        s.heel_back_row = 100;
        const Foot f = build_checked(s);
        save_bmp(s.name + ".bmp", make_bmp(f.value, 32, &f.value));
        add_manifest(s.name + ".bmp", s, f);
    }

    FootParams wrong;
    wrong.name = "foot_left_120x300";
    wrong.length_mm = 240;
    wrong.heel_col = 54;
    wrong.heel_back_row = 30;
    wrong.canvas_w = 120;
    wrong.canvas_h = 300;
    const Foot f = build_checked(wrong);
    save_bmp("foot_left_120x300.bmp", make_bmp(f.value, 32, &f.value));

    std::string text;
    for (const ManifestLine& m : g_manifest) {
        char line[256];
        std::snprintf(line, sizeof line, "%s %c %d %s %d %d\n", m.name.c_str(), m.side, m.length,
                      m.high ? "high" : "flat", m.heel_x, m.heel_y);
        text += line;
    }
    save_text("feet.txt", text);
}

void write_contours() {
    auto outline_plane = [](double len, double axis, double y0) {
        InsoleOutline o{len, 1.0, axis, y0};
        o.fit_toe();
        return fill_polygon(o.polygon(400), 150, 360);
    };
    auto valued = [](const Plane& mask, uint8_t v) {
        Plane p(mask.w, mask.h);
        for (size_t i = 0; i < p.v.size(); ++i) p.v[i] = mask.v[i] ? v : 0;
        return p;
    };
    const Plane large = outline_plane(296, 67, 32);
    save_bmp("contour_left_large.bmp", make_bmp(valued(large, 200), 32));
    save_bmp("contour_right_small.bmp", make_bmp(valued(outline_plane(226, 70, 67), 200).mirrored(), 32));
    const std::vector<float> d = inside_distance(large);
    Plane ring(150, 360);
    for (size_t i = 0; i < ring.v.size(); ++i) ring.v[i] = (d[i] > 0 && d[i] < 2.5f) ? 200 : 0;
    save_bmp("contour_left_large_outline.bmp", make_bmp(ring, 32));
}

void write_scaler_files() {
    int first = 0, last = 0;
    const Plane tmpl = make_template(&first, &last);
    if (last - first + 1 != 255) fail("template spans " + std::to_string(last - first + 1) + " rows, not 255");
    save_bmp("255mm narrow 20220606 backmove 5mm.bmp", make_bmp(tmpl, 8));

    // Teardrop: round end at the top (towards the toes), tapering to a point at the bottom; a dome in height.
    const int n = 250;
    Plane mask(n, n);
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c) {
            const double u = (c + 0.5) / n - 0.5, v = (r + 0.5) / n;
            const double rad = 0.36, cy = 0.62, tip = 0.03;
            double half = 0;
            if (v >= cy)
                half = (v - cy < rad) ? std::sqrt(rad * rad - (v - cy) * (v - cy)) : 0;
            else if (v > tip)
                half = rad * std::pow((v - tip) / (cy - tip), 0.8);
            if (std::fabs(u) < half) mask.at(c, r) = 1;
        }
    const std::vector<float> d = inside_distance(mask);
    const float dmax = *std::max_element(d.begin(), d.end());
    Plane drop(n, n);
    for (size_t i = 0; i < drop.v.size(); ++i) {
        if (d[i] <= 0) continue;
        const double k = 1 - d[i] / dmax;
        drop.v[i] = static_cast<uint8_t>(std::clamp(std::lround(255 * (1 - k * k)), 1L, 255L));
    }
    if (!write_png_grey(out("drop.png"), drop)) fail("cannot write " + out("drop.png"));

    // A blue-to-red ramp.
    std::string lut;
    for (int i = 0; i < 256; ++i) {
        const double t = i / 255.0;
        auto ch = [&](double centre) { return int(std::lround(255 * std::clamp(1.5 - std::fabs(4 * t - centre), 0.0, 1.0))); };
        lut += std::to_string(ch(3)) + " " + std::to_string(ch(2)) + " " + std::to_string(ch(1)) + "\n";
    }
    save_text("lut_ancestor.txt", lut);
}

void write_stls() {
    const std::vector<Tri> box = box_solid(10, 20, 0, 20, 30, 10);
    if (!write_stl_ascii(out("box_ascii.stl"), {box}, {"box"})) fail("cannot write box_ascii.stl");
    if (!write_stl_binary(out("box_binary.stl"), box, "binary box 20 x 30 x 10 mm"))
        fail("cannot write box_binary.stl");
    if (!write_stl_binary(out("box_binary_solidheader.stl"), box, "solid box written as binary"))
        fail("cannot write box_binary_solidheader.stl");
    if (!write_stl_ascii(out("two_solids_ascii.stl"), {box, tetra_solid(50, 0, 0, 15)}, {"box", "tetra"}))
        fail("cannot write two_solids_ascii.stl");
    if (!write_stl_binary(out("insole_50k.stl"), insole_solid(49, 249), "insole_50k left insole, mm"))
        fail("cannot write insole_50k.stl");
}

void write_batch() {
    std::error_code ec;
    std::filesystem::create_directories(out("batch"), ec);
    FootParams s;
    s.length_mm = 290;
    s.heel_col = 68;
    s.heel_back_row = 35;
    const Foot left = make_foot(s);
    s.left = false;
    const Foot right = make_foot(s);
    FootParams shortfoot;
    shortfoot.length_mm = 79;
    shortfoot.heel_col = 72;
    shortfoot.heel_back_row = 100;
    const Foot tiny = make_foot(shortfoot);
    save_bmp("batch/20220606001_iLeft.bmp", make_bmp(left.value, 32, &left.value));
    save_bmp("batch/20220606001_iRight.bmp", make_bmp(right.value, 32, &right.value));
    save_bmp("batch/short_iLeft.bmp", make_bmp(tiny.value, 32, &tiny.value));
    save_text("batch/20220606001_iLeft.txt", "full 1\ntype s\n");
    save_text("batch/20220606001_iRight.txt", "density 2\n");
    // The last name has no line end, as a list cut short can end.
    save_text("batch/Bmp_List.txt", "20220606001_iLeft.bmp\n20220606001_iRight.bmp\nshort_iLeft.bmp");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_sample_data <output directory>\n");
        return 2;
    }
    g_dir = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(g_dir, ec);
    if (ec) {
        std::fprintf(stderr, "make_sample_data: cannot create %s: %s\n", g_dir.c_str(), ec.message().c_str());
        return 1;
    }
    FreeImage_Initialise(FALSE);
    write_feet();
    write_contours();
    write_scaler_files();
    write_stls();
    write_batch();
    FreeImage_DeInitialise();
    return g_ok ? 0 : 1;
}
