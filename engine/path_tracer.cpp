// Raster path tracing: probes, grid following, turns into the next grid row
// or column, the row and column line builders with their boundary caps.
#include "engine/path_tracer.h"

#include <cmath>
#include <cstdlib>

#include "engine/params.h"

namespace engine {

namespace {

enum class Probe { Right, Left, Up, Down };

inline bool cell_set(const LayerRaster& r, const Plane& p, float x, float y) {
    return r.cell(p, (int)std::floor(x), (int)std::floor(y)) != 0;
}

// Grid points pushed beyond the raster by the grid offset are never taken.
inline bool beyond_raster(const PathPoint& p) { return p.x >= RASTER_W || p.y >= RASTER_H; }

inline bool outside_raster(const PathPoint& p) {
    return p.x < 0 || p.x >= RASTER_W || p.y < 0 || p.y >= RASTER_H;
}

inline float dist2(const PathPoint& a, const PathPoint& b) {
    float dx = a.x - b.x, dy = a.y - b.y;
    return dx * dx + dy * dy;
}

void append_boundary(LayerRaster& r, float x, float y) {
    PathPoint p;
    p.x = x;
    p.y = y;
    r.current_line.push_back(p);
}

// One probe from grid point a along (dx, dy).
bool probe(LayerRaster& r, const Plane& plane, float x0, float y0, int dx, int dy, int d) {
    if (!cell_set(r, plane, x0 + dx, y0 + dy)) return false;
    for (int k = 1; k <= d; ++k) {
        float x = x0 + (float)(k * dx), y = y0 + (float)(k * dy);
        if (x < 0 || x >= RASTER_W || y < 0 || y >= RASTER_H) break;
        if (is_edge_cell(plane, x, y)) {
            append_boundary(r, x, y);
            return true;
        }
    }
    return false;
}

bool run_probe(LayerRaster& r, Probe which, int a, int d) {
    const float x = r.grid[a].x, y = r.grid[a].y;
    switch (which) {
        case Probe::Right: return probe_right(r, a, r.layer_plane, x, y, d);
        case Probe::Left: return probe_left(r, a, r.layer_plane, x, y, d);
        case Probe::Up: return probe_up(r, a, r.layer_plane, x, y, d);
        case Probe::Down: return probe_down(r, a, r.layer_plane, x, y, d);
    }
    return false;
}

void set_cursor(LayerRaster& r, bool probe_appended) {
    r.line_cursor = (int)r.current_line.size() - 1 - (probe_appended ? 1 : 0);
}

// A grid point taken while following: mark, append, probe beyond it.
void take_following(LayerRaster& r, int idx, Probe after) {
    r.grid[idx].visited = 1;
    r.current_line.push_back(r.grid[idx]);
    set_cursor(r, run_probe(r, after, idx, (int)r.step));
}

// A grid point taken at a line start or a turn: probe before, take, probe after.
void take_between_probes(LayerRaster& r, int idx, Probe before, Probe after, int d) {
    run_probe(r, before, idx, d);
    r.grid[idx].visited = 1;
    r.current_line.push_back(r.grid[idx]);
    set_cursor(r, run_probe(r, after, idx, d));
}

bool finish_follow(LayerRaster& r, bool rows, int scan_from_low) {
    int n = (int)r.current_line.size() - 1;
    int a = r.current_line[r.line_cursor].index;
    if (rows)
        turn_to_next_row(r, a, scan_from_low);
    else
        turn_to_next_column(r, a, scan_from_low);
    return r.line_cursor == n;
}

// Material runs along a scan of grid indices; the first unvisited point of
// each run is a candidate, at most MAX_TURN_CANDIDATES of them.
struct RunScan {
    int candidates[MAX_TURN_CANDIDATES];
    int count = 0;
    int runs = 0;
    bool in_run = false;

    void visit(const LayerRaster& r, int idx) {
        const PathPoint& g = r.grid[idx];
        bool m = cell_set(r, r.layer_plane, g.x, g.y);
        if (m && !in_run) {
            ++runs;
            if (!g.visited && count < MAX_TURN_CANDIDATES) candidates[count++] = idx;
        }
        in_run = m;
    }
};

bool grid_ready(const LayerRaster& r) {
    return r.grid_columns > 0 && r.grid_rows > 0 && !r.grid.empty() && (int)r.step > 0;
}

int lowest_material_row(const LayerRaster& r) {
    for (int y = 0; y < RASTER_H; ++y)
        for (int x = 0; x < RASTER_W; ++x)
            if (r.layer_plane[y * RASTER_W + x]) return y;
    return 0;
}

int leftmost_material_column(const LayerRaster& r) {
    for (int x = 0; x < RASTER_W; ++x)
        for (int y = 0; y < RASTER_H; ++y)
            if (r.layer_plane[y * RASTER_W + x]) return x;
    return 0;
}

bool can_start(const LayerRaster& r, int idx) {
    if (idx < 0 || idx >= (int)r.grid.size()) return false;
    const PathPoint& g = r.grid[idx];
    return !beyond_raster(g) && cell_set(r, r.layer_plane, g.x, g.y) && !g.visited;
}

// The bottom cap of a row layer: boundary cells are material cells whose
// cell below is empty.
void bottom_cap(LayerRaster& r, int first_row, float sy) {
    auto boundary = [&](int c, int j) {
        return r.cell(r.layer_plane, c, j) != 0 && r.cell(r.layer_plane, c, j - 1) == 0;
    };
    if ((float)(first_row + 1) < sy) {
        for (int t = 0; t < 150; ++t) {
            int col = r.from_low_end ? 299 - 2 * t : 2 * t;
            for (int j = (int)(sy - r.step); (float)j < sy - 1; ++j) {
                if (boundary(col, j)) {
                    append_boundary(r, (float)col, (float)j);
                    break;
                }
            }
        }
    } else {
        for (int t = 0; t < RASTER_W; ++t) {
            int col = r.from_low_end ? t : 299 - t;
            for (int j = (int)(sy + r.step - 1); (float)j >= sy; --j) {
                if (r.cell(r.layer_plane, col, j) && (float)j == sy) return;
                if (boundary(col, j)) {
                    append_boundary(r, (float)col, (float)j);
                    break;
                }
            }
        }
    }
}

// The left cap of a column layer: boundary cells are material cells whose
// left neighbour is empty.
void left_cap(LayerRaster& r, int first_col, float sx) {
    auto boundary = [&](int i, int row) {
        return r.cell(r.layer_plane, i, row) != 0 && r.cell(r.layer_plane, i - 1, row) == 0;
    };
    if ((float)(first_col + 1) < sx) {
        for (int t = 0; t < 180; ++t) {
            int row = r.from_low_end ? 359 - 2 * t : 2 * t;
            for (int i = (int)(sx - r.step); (float)i < sx - 1; ++i) {
                if (boundary(i, row)) {
                    append_boundary(r, (float)i, (float)row);
                    break;
                }
            }
        }
    } else {
        for (int t = 0; t < RASTER_H; ++t) {
            int row = r.from_low_end ? t : 359 - t;
            for (int i = (int)(sx + r.step - 1); (float)i >= sx; --i) {
                if (r.cell(r.layer_plane, i, row) && (float)i == sx) return;
                if (boundary(i, row)) {
                    append_boundary(r, (float)i, (float)row);
                    break;
                }
            }
        }
    }
}

}  // namespace

// ---- edge test and probes ----------------------------------------------------

bool is_edge_cell(const Plane& plane, float x, float y) {
    int cx = (int)std::floor(x), cy = (int)std::floor(y);
    auto at = [&](int c, int r) -> uint8_t {
        return (c < 0 || c >= RASTER_W || r < 0 || r >= RASTER_H) ? 0 : plane[r * RASTER_W + c];
    };
    if (!at(cx, cy)) return false;
    return !at(cx - 1, cy) || !at(cx + 1, cy) || !at(cx, cy - 1) || !at(cx, cy + 1);
}

bool probe_right(LayerRaster& r, int, const Plane& plane, float x, float y, int d) {
    return probe(r, plane, x, y, 1, 0, d);
}
bool probe_left(LayerRaster& r, int, const Plane& plane, float x, float y, int d) {
    return probe(r, plane, x, y, -1, 0, d);
}
bool probe_up(LayerRaster& r, int, const Plane& plane, float x, float y, int d) {
    return probe(r, plane, x, y, 0, 1, d);
}
bool probe_down(LayerRaster& r, int, const Plane& plane, float x, float y, int d) {
    return probe(r, plane, x, y, 0, -1, d);
}

// ---- following along the grid ------------------------------------------------

bool follow_row_forward(LayerRaster& r) {
    const int size = (int)r.grid.size();
    for (int i = r.current_line[r.line_cursor].index + 1; i < size; ++i) {
        const PathPoint& g = r.grid[i];
        if (beyond_raster(g)) continue;
        if (!cell_set(r, r.layer_plane, g.x, g.y)) break;
        if (g.visited) continue;
        take_following(r, i, Probe::Right);
    }
    return finish_follow(r, true, 0);
}

bool follow_row_backward(LayerRaster& r) {
    for (int i = r.current_line[r.line_cursor].index - 1;
         i >= 0 && i > r.current_line[r.line_cursor].index - r.grid_columns; --i) {
        const PathPoint& g = r.grid[i];
        if (beyond_raster(g)) continue;
        if (!cell_set(r, r.layer_plane, g.x, g.y)) break;
        if (g.visited) continue;
        take_following(r, i, Probe::Left);
    }
    return finish_follow(r, true, 1);
}

bool follow_column_up(LayerRaster& r) {
    const int size = (int)r.grid.size();
    for (int i = r.current_line[r.line_cursor].index; i < size; i += r.grid_columns) {
        const PathPoint& g = r.grid[i];
        if (beyond_raster(g)) continue;
        if (!cell_set(r, r.layer_plane, g.x, g.y)) break;
        if (g.visited) continue;
        take_following(r, i, Probe::Up);
    }
    return finish_follow(r, false, 0);
}

bool follow_column_down(LayerRaster& r) {
    for (int i = r.current_line[r.line_cursor].index - r.grid_columns; i > 0; i -= r.grid_columns) {
        const PathPoint& g = r.grid[i];
        if (beyond_raster(g)) continue;
        if (!cell_set(r, r.layer_plane, g.x, g.y)) break;
        if (g.visited) continue;
        take_following(r, i, Probe::Down);
    }
    return finish_follow(r, false, 1);
}

// ---- turns ---------------------------------------------------------------------

void turn_to_next_row(LayerRaster& r, int a, int s) {
    r.line_cursor = (int)r.current_line.size() - 1;
    const int gc = r.grid_columns;
    if (gc <= 0 || a < 0 || a >= (int)r.grid.size()) return;
    const int row = a / gc + 1;
    if (row >= r.grid_rows) return;

    RunScan scan;
    for (int j = 0; j < gc; ++j) {
        int idx = s ? row * gc + j : (row + 1) * gc - j - 1;
        if (idx >= (int)r.grid.size()) continue;
        if (outside_raster(r.grid[idx])) continue;
        scan.visit(r, idx);
    }
    if (scan.count == 0) return;

    const PathPoint& p = r.grid[a];
    const int* c = scan.candidates;
    int chosen = c[0];
    if (scan.count == 1) {
        int dist = std::abs((int)p.x - (int)r.grid[c[0]].x);
        if (r.last_run_count == 2 && scan.runs == 1 && dist > 24) {
            r.last_run_count = 1;
            return;
        }
        // A line's first turn (no run count yet) is held to the one-run limit:
        // unlimited, it would reach across empty space to any far run.
        if (r.last_run_count <= 1 && scan.runs == 1 && dist > 36) {
            r.last_run_count = 1;
            return;
        }
    } else if (scan.count == 2) {
        chosen = dist2(p, r.grid[c[1]]) < dist2(p, r.grid[c[0]]) ? c[1] : c[0];
    } else if (scan.count == 3) {
        int w = dist2(p, r.grid[c[1]]) < dist2(p, r.grid[c[0]]) ? c[1] : c[0];
        chosen = dist2(p, r.grid[w]) < dist2(p, r.grid[c[2]]) ? w : c[2];
    }
    r.last_run_count = scan.runs;
    const int d = (int)r.step;
    if (s)
        take_between_probes(r, chosen, Probe::Left, Probe::Right, d);
    else
        take_between_probes(r, chosen, Probe::Right, Probe::Left, d);
}

void turn_to_next_column(LayerRaster& r, int a, int s) {
    r.line_cursor = (int)r.current_line.size() - 1;
    const int gc = r.grid_columns, gr = r.grid_rows, st = (int)r.step;
    if (gc <= 0 || st <= 0 || a < 0 || a + 1 >= (int)r.grid.size()) return;
    const float off = (pon(ck_offset_cross) && r.row_lines == 0) ? r.grid_offset : 0.0f;
    const int col = (int)(std::floor(r.grid[a + 1].x - off) / (float)st);
    if (col < 0 || col >= gc) return;

    RunScan scan;
    for (int k = 0; k < gr; ++k) {
        int idx = s ? col + k * gc : col + (gr - 1 - k) * gc;
        if (idx >= (int)r.grid.size()) continue;
        const PathPoint& g = r.grid[idx];
        if (g.y < 0 || g.y >= RASTER_H) continue;
        scan.visit(r, idx);
    }
    if (scan.count == 0) return;

    const PathPoint& p = r.grid[a];
    const int* c = scan.candidates;
    auto d2 = [&](int i) { return dist2(p, r.grid[i]); };
    int chosen = c[0];
    switch (scan.count) {
        case 1: {
            int dist = std::abs((int)r.grid[c[0]].y - (int)p.y);
            if (r.last_run_count == 2 && scan.runs == 1 && dist > 35) return;
            if (r.last_run_count <= 1 && scan.runs == 1 && dist > 35) {  // the first turn too, as for rows
                r.last_run_count = 1;
                return;
            }
            break;
        }
        case 2:
            chosen = d2(c[1]) < d2(c[0]) ? c[1] : c[0];
            r.last_run_count = scan.runs;
            break;
        case 3:
            if (d2(c[0]) > d2(c[1]))
                chosen = d2(c[1]) > d2(c[2]) ? c[2] : c[1];
            else
                chosen = d2(c[0]) > d2(c[2]) ? c[2] : c[0];
            break;
        case 4:
            chosen = c[3];
            for (int k = 0; k < 3; ++k)
                if (d2(c[k]) < d2(chosen)) chosen = c[k];
            break;
        default:
            break;
    }
    if (scan.count >= 2 && scan.count <= 4 && std::fabs(p.y - r.grid[chosen].y) > 35) return;
    r.last_run_count = scan.runs;
    if (s)
        take_between_probes(r, chosen, Probe::Down, Probe::Up, st);
    else
        take_between_probes(r, chosen, Probe::Up, Probe::Down, st);
}

// ---- builders -------------------------------------------------------------------

void build_row_lines(LayerRaster& r) {
    if (!grid_ready(r)) return;
    const int first_row = lowest_material_row(r);
    const int gc = r.grid_columns, gr = r.grid_rows;
    bool cap_pending = true;
    // Material never changes and points are only ever marked, so the next
    // start can lie no earlier in the search order than the last one.
    int scan = 0;
    for (;;) {
        r.current_line.clear();
        int start = -1;
        for (; scan < gr * gc; ++scan) {
            const int row = scan / gc, j = scan % gc;
            const int idx = r.from_low_end ? row * gc + j : (row + 1) * gc - j - 1;
            if (can_start(r, idx)) {
                start = idx;
                break;
            }
        }
        if (start < 0) return;
        if (cap_pending) {
            bottom_cap(r, first_row, r.grid[start].y);
            cap_pending = false;
        }
        const int d = (int)r.step;
        if (r.from_low_end)
            take_between_probes(r, start, Probe::Left, Probe::Right, d);
        else
            take_between_probes(r, start, Probe::Right, Probe::Left, d);

        r.last_run_count = 0;
        int remembered = 0;
        for (;;) {
            if (r.from_low_end ? follow_row_forward(r) : follow_row_backward(r)) break;
            if (r.from_low_end ? follow_row_backward(r) : follow_row_forward(r)) break;
            if (r.line_cursor == remembered) break;
            remembered = r.line_cursor;
        }
        if (r.current_line.size() >= 2) r.lines.push_back(r.current_line);
    }
}

void build_column_lines(LayerRaster& r) {
    if (!grid_ready(r)) return;
    const int first_col = leftmost_material_column(r);
    const int gc = r.grid_columns, gr = r.grid_rows;
    bool cap_pending = true;
    int scan = 0;  // as for rows: the search never needs to look back
    for (;;) {
        r.current_line.clear();
        int start = -1;
        for (; scan < gr * gc; ++scan) {
            const int col = scan / gr, k = scan % gr;
            const int idx = r.from_low_end ? col + k * gc : col + (gr - 1 - k) * gc;
            if (can_start(r, idx)) {
                start = idx;
                break;
            }
        }
        if (start < 0) return;
        if (cap_pending) {
            left_cap(r, first_col, r.grid[start].x);
            cap_pending = false;
        }
        const int d = (int)(2 * r.step);
        if (r.from_low_end)
            take_between_probes(r, start, Probe::Down, Probe::Up, d);
        else
            take_between_probes(r, start, Probe::Up, Probe::Down, d);

        r.last_run_count = 0;
        int remembered = 0;
        for (;;) {
            if (r.from_low_end ? follow_column_up(r) : follow_column_down(r)) break;
            if (r.from_low_end ? follow_column_down(r) : follow_column_up(r)) break;
            if (r.line_cursor == remembered) break;
            remembered = r.line_cursor;
        }
        if (r.current_line.size() >= 2) r.lines.push_back(r.current_line);
    }
}

}  // namespace engine
