// The slicer's passes over plain planes and point lists: marked pockets,
// thin cells, holes, the outline anchor and scans, layer flags, short paths,
// collinear points and the cell-to-millimetre transform.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "engine/layer_slicer.h"
#include "engine/params.h"
#include "engine/path_tracer.h"

namespace engine {

namespace {
constexpr float PI_F = 3.14159265f;

inline uint8_t at(const Plane& p, int x, int y) { return p[y * RASTER_W + x]; }
}  // namespace

// ---- cut height ------------------------------------------------------------------------

float layer_cut_z(const LayerRaster& r, float layer_index, const SliceInputs& in) {
    const float spacing = (float)pval(va_spacing);
    float z = (layer_index + 1) * spacing;
    if (r.insole_mesh_model) {
        z += in.base_height;
        if (pon(bt_whole_insole)) z -= 4 * spacing;
    } else if (in.box.model_min_z <= in.box.model_max_z) {
        // A loaded model is printed from its lowest point, wherever its file
        // puts z 0: layers counted from 0 would print in the air above a
        // model that starts higher and lose whatever lies below 0.
        z += in.box.model_min_z;
    }
    return z;
}

// ---- marked pockets --------------------------------------------------------------

void pressure_to_raster(float x, float y, float* rx, float* ry, float* angle) {
    float dx = x - 75, dy = y - 180;
    if (dx == 0 && dy == 0) {
        *rx = 156;
        *ry = 186;
        if (angle) *angle = 0;
        return;
    }
    float a = polar_angle_deg(dx, dy);
    float d = std::sqrt(dy * dy + dx * dx);
    float t = (a - 45) * PI_F / 180;
    *rx = std::cos(t) * d + 150 + 6;
    *ry = std::sin(t) * d + 180 + 6;
    if (angle) *angle = a;
}

void clear_marked_pockets(LayerRaster& r, const SliceInputs& in) {
    for (const MarkedCircle& c : in.circles) {
        float X, Y, a;
        pressure_to_raster(c.x, c.y, &X, &Y, &a);
        clear_disc(r, (int)X, (int)Y, (int)c.r);
        std::printf("new_xyra %f %f %f %f\n\n", X, Y, c.r, a);
    }
    for (const MarkedBar& b : in.bars) {
        float x1, y1, x2, y2;
        pressure_to_raster(b.v[0], b.v[1], &x1, &y1);
        pressure_to_raster(b.v[3], b.v[4], &x2, &y2);
        const int w = (int)b.v[6];
        float k = x1 != x2 ? (y1 - y2) / (x1 - x2) : 0.0f;
        if (x1 < x2) {
            for (float x = x1; x < x2; x += 1) clear_disc(r, (int)x, (int)(y1 + k * (x - x1)), w);
        } else if (x1 > x2) {
            for (float x = x2; x < x1; x += 1) clear_disc(r, (int)x, (int)(y1 + k * (x - x1)), w);
        } else {
            for (float y = std::min(y1, y2); y < std::max(y1, y2); y += 1) clear_disc(r, (int)x1, (int)y, w);
        }
    }
}

// ---- thin cells and holes -----------------------------------------------------------

void remove_thin_cells(LayerRaster& r) {
    std::copy(std::begin(r.layer_plane), std::end(r.layer_plane), std::begin(r.layer_copy));
    const Plane& c = r.layer_copy;
    for (int y = 1; y < RASTER_H - 1; ++y)
        for (int x = 1; x < RASTER_W - 1; ++x) {
            if (!at(c, x, y)) continue;
            if ((!at(c, x - 1, y) && !at(c, x + 1, y)) || (!at(c, x, y - 1) && !at(c, x, y + 1)))
                r.layer_plane[y * RASTER_W + x] = 0;
        }
}

void fill_holes(LayerRaster& r) {
    std::copy(std::begin(r.layer_plane), std::end(r.layer_plane), std::begin(r.layer_copy));
    const Plane& c = r.layer_copy;
    for (int y = 1; y < RASTER_H - 1; ++y)
        for (int x = 1; x < RASTER_W - 1; ++x) {
            if (at(c, x, y)) continue;
            int n = 0, sum = 0;
            const uint8_t v[4] = {at(c, x - 1, y), at(c, x + 1, y), at(c, x, y - 1), at(c, x, y + 1)};
            for (uint8_t s : v)
                if (s) {
                    ++n;
                    sum += s;
                }
            if (n >= 3) r.layer_plane[y * RASTER_W + x] = (uint8_t)(sum / n);
        }
    std::copy(std::begin(r.layer_plane), std::end(r.layer_plane), std::begin(r.layer_copy));
}

// ---- outline anchor and scans ---------------------------------------------------------

namespace {
void append_point(std::vector<PathPoint>& v, float x, float y) {
    PathPoint p;
    p.x = x;
    p.y = y;
    v.push_back(p);
}
}  // namespace

void find_outline_anchor(LayerRaster& r, float layer_index) {
    r.cleaned_points.clear();
    if (layer_index != 0) return;
    r.first_layer_column = 0;
    r.first_layer_row = 0;
    for (int i = 0; i < RASTER_H; ++i)
        for (int j = 0; i - j >= 1 && j < RASTER_W; ++j)
            if (at(r.layer_plane, j, i - j)) {
                r.first_layer_column = j;
                r.first_layer_row = i - j;
                append_point(r.cleaned_points, (float)j, (float)(i - j));
                return;
            }
}

void scan_outline(LayerRaster& r, float layer_index, bool whole_insole) {
    const float s = (float)(r.first_layer_row - 360) / (float)(r.first_layer_column - 300);
    const Plane& p = r.layer_plane;
    int first_x = 0, last_x = 0;
    bool any = false;
    for (int y = 359; y >= 1; --y) {
        const float bound = (y - 360) / s + 300;
        int found = -1;
        for (int x = 0; x < RASTER_W && (float)x < bound; ++x)
            if (is_edge_cell(p, (float)x, (float)y)) {
                found = x;
                break;
            }
        if (found < 0) continue;
        append_point(r.cleaned_points, (float)found, (float)y);
        if (!any) first_x = found;
        any = true;
        last_x = found;
        // x = 0 gives an infinite quotient, which never ends the scan.
        if (std::fabs((float)y / (float)found - s) < 0.1f) break;
    }
    int last_col = 0;
    if (last_x < RASTER_W) {
        for (int x = last_x; x < RASTER_W; ++x) {
            const float bound = (x - 300) * s + 360;
            for (int y = 0; y < RASTER_H && (float)y < bound; ++y) {
                if (!is_edge_cell(p, (float)x, (float)y)) continue;
                append_point(r.cleaned_points, (float)x, (float)y);
                last_col = x;
                break;
            }
        }
    }
    if (whole_insole && layer_index < 4) {
        for (int x = last_col + 1; x >= first_x + 1; --x)
            for (int y = 359; y >= 1; --y)
                if (is_edge_cell(p, (float)x, (float)y)) {
                    append_point(r.cleaned_points, (float)x, (float)y);
                    break;
                }
    }
}

// ---- layer set-up --------------------------------------------------------------------

void set_layer_flags(LayerRaster& r, float layer_index) {
    r.layer = (int)layer_index;
    if (pon(ck_offset_cross)) {
        r.cross_period = 1;
        r.row_lines = (r.layer % 2) < 1;
        r.from_low_end = (r.layer % 4) < 2;
        // An unselected entry or a spacing too small for one offset step
        // leaves the grid unshifted.
        r.grid_offset = 0;
        const int c = (int)pval(choice_interval);
        if (c >= 0 && c < (int)r.interval_values.size() && r.interval_values[c] > 0) {
            const float v = r.interval_values[c];
            const int k = (int)(2 * r.step / v);
            if (k >= 1) r.grid_offset = (float)((r.layer % k) / 2) * v;
        }
    } else {
        int n = (int)pval(va_cross);
        if (n < 1) n = 1;
        r.cross_period = n;
        r.row_lines = (r.layer % (2 * n)) < n;
        r.from_low_end = (r.layer % (4 * n)) < 2 * n;
    }
    if (pon(ck_self_def_angle)) r.row_lines = 0;
}

void set_layer_grid(LayerRaster& r, const SliceInputs& in) {
    ParamStore& ps = params();
    auto refill = [&] {
        if (in.fill_interval_choice) in.fill_interval_choice();
    };
    if (r.has_marks && r.layer >= 4) {
        ps.set_value(ck_offset_cross, 1);
        ps.set_value(va_point_space, 6);
        build_sample_grid(r, 6);
        refill();
        ps.set_value(choice_interval, 3);
    } else if (r.has_marks) {
        ps.set_value(ck_offset_cross, 0);
        ps.set_value(va_point_space, 2);
        build_sample_grid(r, 2);
        ps.set_value(choice_interval, 1);
    } else if (pon(ck_dence_bottom) && r.layer < 4) {
        ps.set_value(va_point_space, 3);
        build_sample_grid(r, 3);
        if (pon(ck_offset_cross)) refill();
        ps.set_value(choice_interval, 3);
        build_sample_grid(r, (int)pval(va_point_space));
    } else {
        ps.set_value(va_point_space, r.saved_point_space);
        build_sample_grid(r, (int)pval(va_point_space));
        if (pon(ck_offset_cross)) refill();
        ps.set_value(choice_interval, r.saved_interval_index);
        build_sample_grid(r, (int)pval(va_point_space));
    }
}

namespace {
// The layer's islands: 4-connected pieces of material, numbered from 1,
// found from the rows' runs of material (a run joins the runs it overlaps
// in the row below), which keeps the pass to one read of the plane.
struct Islands {
    struct Run {
        int16_t x0, x1;  // inclusive
        int32_t parent;
    };
    struct Info {
        int cells = 0;
        int best = 0, bx = 0, by = 0;  // its longest run along a row
    };
    std::vector<Run> runs;
    int32_t row_start[RASTER_H + 1] = {};
    std::vector<int32_t> id;  // per run
    std::vector<Info> info;   // [0] unused

    int32_t root(int32_t i) {
        while (runs[i].parent != i) i = runs[i].parent = runs[runs[i].parent].parent;
        return i;
    }
    void build(const Plane& p) {
        runs.clear();
        for (int y = 0; y < RASTER_H; ++y) {
            row_start[y] = (int32_t)runs.size();
            const uint8_t* row = p + y * RASTER_W;
            for (int x = 0; x < RASTER_W;) {
                if (!row[x]) {
                    ++x;
                    continue;
                }
                const int x0 = x;
                while (x < RASTER_W && row[x]) ++x;
                runs.push_back({(int16_t)x0, (int16_t)(x - 1), (int32_t)runs.size()});
            }
            if (y == 0) continue;
            // Join with the overlapping runs of the row below.
            int32_t b = row_start[y - 1];
            const int32_t b_end = row_start[y];
            for (int32_t a = row_start[y]; a < (int32_t)runs.size(); ++a) {
                while (b < b_end && runs[b].x1 < runs[a].x0) ++b;
                for (int32_t k = b; k < b_end && runs[k].x0 <= runs[a].x1; ++k) {
                    const int32_t ra = root(a), rk = root(k);
                    if (ra != rk) runs[std::max(ra, rk)].parent = std::min(ra, rk);
                }
            }
        }
        row_start[RASTER_H] = (int32_t)runs.size();
        id.assign(runs.size(), 0);
        info.assign(1, Info());
        for (int y = 0; y < RASTER_H; ++y)
            for (int32_t i = row_start[y]; i < row_start[y + 1]; ++i) {
                const int32_t r = root(i);
                if (!id[r]) id[r] = (int32_t)info.size(), info.emplace_back();
                id[i] = id[r];
                Info& in = info[id[i]];
                const int len = runs[i].x1 - runs[i].x0 + 1;
                in.cells += len;
                if (len > in.best) in.best = len, in.bx = runs[i].x0, in.by = y;
            }
    }
    int32_t at(const PathPoint& q) const {
        const int x = (int)std::floor(q.x), y = (int)std::floor(q.y);
        if (x < 0 || x >= RASTER_W || y < 0 || y >= RASTER_H) return 0;
        for (int32_t i = row_start[y]; i < row_start[y + 1] && runs[i].x0 <= x; ++i)
            if (x <= runs[i].x1) return id[i];
        return 0;
    }
};

}  // namespace

void drop_short_paths(LayerRaster& r, double point_space) {
    // A short path is a stray piece beside a long one of its island; the
    // island's own paths when none is long (a toe, a pad, a post, the
    // insole's top plateau): those stay, or the island would not be printed
    // at all. Islands too small to print lose theirs.
    static Islands is;
    is.build(r.layer_plane);
    size_t longest = 0;
    for (size_t i = 0; i < r.lines.size(); ++i)
        if (r.lines[i].size() > r.lines[longest].size()) longest = i;
    const size_t n_islands = is.info.size();
    std::vector<uint8_t> covered(n_islands, 0), has_path(n_islands, 0);
    std::vector<int> seen(n_islands, 0);
    auto is_long = [&](const std::vector<PathPoint>& l) { return (double)l.size() * point_space >= 100; };
    for (const std::vector<PathPoint>& l : r.lines) {
        if (!is_long(l)) continue;
        // One point of a path in an island is no print there (a piece of one
        // point is dropped where the path crosses a gap).
        std::fill(seen.begin(), seen.end(), 0);
        for (const PathPoint& q : l)
            if (const int32_t id = is.at(q); id && ++seen[id] >= 2) covered[id] = 1;
    }
    // Short, it stays for an island that nothing long covers and is no speck.
    auto on_bare_island = [&](const std::vector<PathPoint>& l) {
        for (const PathPoint& q : l)
            if (const int32_t id = is.at(q); id && !covered[id] && is.info[id].cells >= MIN_ISLAND_CELLS) return true;
        return false;
    };
    // A layer of specks alone is the top of a peak: its longest path stays,
    // or the print would end short of the model's top.
    bool specks_only = true;
    for (size_t i = 0; i < r.lines.size() && specks_only; ++i)
        specks_only = !is_long(r.lines[i]) && !on_bare_island(r.lines[i]);
    size_t keep = 0;
    for (size_t i = 0; i < r.lines.size(); ++i) {
        const bool wanted = is_long(r.lines[i]) || (specks_only && i == longest) || on_bare_island(r.lines[i]);
        if (!wanted) continue;
        for (const PathPoint& q : r.lines[i]) has_path[is.at(q)] = 1;
        if (keep != i) r.lines[keep] = std::move(r.lines[i]);
        ++keep;
    }
    r.lines.resize(keep);
    for (size_t id = 1; id < n_islands; ++id)
        if (!has_path[id] && !covered[id] && is.info[id].cells >= MIN_ISLAND_CELLS) {
            // Too small to hold a grid point: a line along its longest row.
            const Islands::Info& in = is.info[id];
            if (in.best < 2) continue;
            std::vector<PathPoint> run(2);
            run[0].x = (float)in.bx, run[1].x = (float)(in.bx + in.best - 1);
            run[0].y = run[1].y = (float)in.by;
            r.lines.push_back(std::move(run));
        }
}

void build_layer_paths(LayerRaster& r) {
    if (r.row_lines)
        build_row_lines(r);
    else
        build_column_lines(r);
    drop_short_paths(r, pval(va_point_space));
}

// ---- gaps along a step ------------------------------------------------------------------

namespace {
inline bool material_cell(const Plane& plane, int c, int r) {
    return c >= 0 && c < RASTER_W && r >= 0 && r < RASTER_H && plane[r * RASTER_W + c] != 0;
}

// Within a cell (Euclidean, to the cell's square) of a material cell.
bool near_material(const Plane& plane, float x, float y) {
    const int cx = (int)std::floor(x), cy = (int)std::floor(y);
    for (int r = cy - 2; r <= cy + 2; ++r)
        for (int c = cx - 2; c <= cx + 2; ++c) {
            if (!material_cell(plane, c, r)) continue;
            const float dx = std::max({(float)c - x, 0.0f, x - (float)(c + 1)});
            const float dy = std::max({(float)r - y, 0.0f, y - (float)(r + 1)});
            if (dx * dx + dy * dy <= 1.0f) return true;
        }
    return false;
}
}  // namespace

float longest_gap_cells(const Plane& plane, const PathPoint& a, const PathPoint& b) {
    const float dx = b.x - a.x, dy = b.y - a.y;
    const float len = std::sqrt(dx * dx + dy * dy);
    // Tenth-cell samples. A run of samples over empty cells is a gap only
    // when some of it lies more than a cell from material: a line along a
    // stepped edge crosses the empty corner cells but is never that far out.
    // A point stands for the middle of its cell, where the nozzle puts it,
    // so cell c spans c - 0.5 to c + 0.5 here.
    const int n = std::max(1, (int)std::ceil(len * 10));
    const float piece = len / (float)n;
    float longest = 0, run = 0;
    bool far = false;
    for (int k = 0; k <= n; ++k) {
        const float t = (float)k / (float)n, x = a.x + 0.5f + t * dx, y = a.y + 0.5f + t * dy;
        if (material_cell(plane, (int)std::floor(x), (int)std::floor(y))) {
            run = 0;
            far = false;
            continue;
        }
        run += piece;
        far = far || !near_material(plane, x, y);
        if (far) longest = std::max(longest, run);
    }
    return longest;
}

namespace {
// Plastic laid over more empty space than this would be strung across it.
constexpr float GAP_LIMIT_CELLS = 2;

bool crosses_gap(const LayerRaster& r, const PathPoint& a, const PathPoint& b) {
    return longest_gap_cells(r.layer_plane, a, b) > GAP_LIMIT_CELLS;
}
}  // namespace

void split_paths_at_gaps(LayerRaster& r) {
    std::vector<std::vector<PathPoint>> out;
    out.reserve(r.lines.size());
    for (std::vector<PathPoint>& line : r.lines) {
        size_t from = 0;
        for (size_t j = 1; j < line.size(); ++j) {
            if (!crosses_gap(r, line[j - 1], line[j])) continue;
            // A piece of one point would only be travelled to and primed.
            if (j - from >= 2) out.emplace_back(line.begin() + (long)from, line.begin() + (long)j);
            from = j;
        }
        if (from == 0)
            out.push_back(std::move(line));
        else if (line.size() - from >= 2)
            out.emplace_back(line.begin() + (long)from, line.end());
    }
    r.lines.swap(out);
}

// ---- collinear points -----------------------------------------------------------------

void remove_collinear_points(std::vector<PathPoint>& pts) {
    // Each middle point p1 of a run p0, p1, p2 is dropped where the three lie
    // on one line; p0 then stays and meets the points after. The points kept
    // are compacted in one pass (erasing each from the middle cost time
    // quadratic in a path's length). The last point is never a p2.
    const size_t n = pts.size();
    if (n < 4) return;
    size_t w = 0;  // pts[w] is p0; pts[0..w] are kept
    size_t k = 1;  // pts[k] is p1, pts[k + 1] p2
    for (; k + 2 < n; ++k) {
        const PathPoint& p0 = pts[w];
        const PathPoint& p1 = pts[k];
        const PathPoint& p2 = pts[k + 1];
        // A separator is not a point of the outline: dropped, it would join
        // the pieces either side of a gap into one extruded line.
        bool drop = false;
        if (p1.x != -1) {
            drop = (p0.x == p1.x && p1.x == p2.x);
            if (!drop) {
                float k12 = (p1.y - p2.y) / (p1.x - p2.x);
                float k01 = (p0.y - p1.y) / (p0.x - p1.x);
                drop = k12 == k01;
            }
        }
        if (!drop) pts[++w] = pts[k];
    }
    for (; k < n; ++k) pts[++w] = pts[k];
    pts.resize(w + 1);
}

void prepare_contour_points(LayerRaster& r) {
    std::vector<PathPoint>& pts = r.cleaned_points;
    // Lists of fewer than three points keep their steps, but not one across
    // empty space.
    const bool whole_pass = pts.size() >= 3;
    for (size_t i = 1; i < pts.size(); ++i) {
        float dx = std::fabs(pts[i].x - pts[i - 1].x), dy = std::fabs(pts[i].y - pts[i - 1].y);
        // Not a step along a row or a column, or one across empty space.
        if ((whole_pass && dx != 1 && dy != 1) || crosses_gap(r, pts[i - 1], pts[i])) {
            PathPoint sep;
            sep.x = -1;
            pts.insert(pts.begin() + (long)i, sep);
            ++i;
        }
    }
    if (whole_pass) remove_collinear_points(pts);
}

void prune_collinear_paths(LayerRaster& r) {
    for (auto& line : r.lines)
        if (line.size() >= 3) remove_collinear_points(line);
}

// ---- cell to millimetre ----------------------------------------------------------------

CellTransform make_cell_transform(const SliceInputs& in, float layer_index) {
    CellTransform t;
    t.off_x = (int)(in.heel_point[0] - (float)in.origin_point[0]);
    t.off_y = (int)(in.heel_point[1] - (float)in.origin_point[1]);
    float turn = (float)in.current_angle;
    if (pon(ck_self_def_angle)) turn *= ((int)layer_index % 2 == 0) ? 1.0f : -1.0f;
    t.turn_deg = turn;
    return t;
}

// The render turns the model about the raster's middle, which lies between
// cells: cell x samples the model at x - 149.5 (and row y at y - 179.5). A
// point is turned back about that same middle, or every other layer of a
// turned view would sit a cell off the one below it.
constexpr float kTurnCentreX = 149.5f, kTurnCentreY = 179.5f;

void cell_to_mm(const CellTransform& t, float x, float y, float* mx, float* my) {
    float u = x - kTurnCentreX, v = y - kTurnCentreY;
    if (u == 0 && v == 0) {
        *mx = kTurnCentreX - (float)t.off_x;
        *my = kTurnCentreY - (float)t.off_y;
        return;
    }
    float a = polar_angle_deg(u, v);
    float d = std::sqrt(v * v + u * u);
    float th = (a - t.turn_deg) * PI_F / 180;
    *mx = std::cos(th) * d + kTurnCentreX - (float)t.off_x;
    *my = std::sin(th) * d + kTurnCentreY - (float)t.off_y;
}

}  // namespace engine
