// G-code output: job start, per-layer outline and path blocks, end of job.
#include "engine/gcode_writer.h"

#include <cerrno>
#include <cstdarg>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/params.h"
#include "platform/platform.h"

namespace engine {

namespace {

struct JobFiles {
    std::string open_path;   // as mapped, the file being written
    std::string final_path;  // as mapped, empty when the file keeps its name
    bool write_failed = false;
};

JobFiles& job() {
    static JobFiles j;
    return j;
}

float pf(ParamId id) { return (float)pval(id); }
int pi(ParamId id) { return (int)pval(id); }

float seg_len(const PathPoint& a, const PathPoint& b) {
    float dx = b.x - a.x, dy = b.y - a.y;
    return std::sqrt(dx * dx + dy * dy);
}

// All output goes through here so a failed write is noticed once.
void out(LayerRaster& r, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void out(LayerRaster& r, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int n = std::vfprintf(r.gcode_file, fmt, ap);
    va_end(ap);
    if (n < 0) job().write_failed = true;
}

// The travel to a new start: retract, lift, move, lower (and prime).
struct Moves {
    LayerRaster& r;
    float z, z_up;
    void retract(float e) { out(r, "G1 E%.3f F%d\n", e, pi(va_back_speed)); }
    void travel_prefix(float e) {
        retract(e);
        out(r, "G1 F%d \n", pi(va_empty_speed));
        out(r, "G1 Z%.2f  \n", z_up);
    }
    void lower() { out(r, "G1 Z%.2f \n", z); }
};

void write_outline_block(LayerRaster& r, const SliceInputs& in, const CellTransform& t, Moves& mv) {
    prepare_contour_points(r);
    const float ext = pf(va_extrusion);
    auto E = [&] { return r.e_length * ext + r.e_base; };
    auto travel_to = [&](float X, float Y) {
        r.e_base -= pf(va_back_extrusion);
        mv.travel_prefix(E());
        out(r, "G1 X%.2f Y%.2f\n", X, Y);
        mv.lower();
        r.e_base += pf(va_pre_extrusion);
        mv.retract(E());
        out(r, "G1 F%d\n", pi(va_other_speed));
    };
    if (r.layer == 0) {
        travel_to(25, 10);
        r.e_length += 150;
        out(r, "G1 X%.2f Y%.2f E%.3f\n", 25.0, 160.0, E());
    }
    const std::vector<PathPoint>& pts = r.cleaned_points;
    const size_t n = pts.size();
    for (size_t i = 0; i < n; ++i) {
        bool travel = false;
        float d = 0;
        if (pts[i].x == -1) {
            while (i < n && pts[i].x == -1) ++i;
            if (i >= n) break;
            travel = true;
        } else if (i == 0) {
            travel = true;
            std::printf("x y %f %f\n", pts[0].x - 150, pts[0].y - 180);
        } else {
            d = seg_len(pts[i - 1], pts[i]);
            if (d > 10 && i + 1 < n && vertex_angle_deg(pts[i - 1], pts[i], pts[i + 1]) < 120) travel = true;
        }
        float X, Y;
        cell_to_mm(t, pts[i].x, pts[i].y, &X, &Y);
        if (travel) {
            travel_to(X, Y);
        } else {
            r.run_total = (int)((float)r.run_total + d);
            r.e_length += d * 0.6f;
            out(r, "G1 X%.2f Y%.2f E%.3f\n", X, Y, E());
        }
    }
    (void)in;
    r.e_length = r.layer_distance = r.e_base = 0;
    out(r, "\n\nG92 E0\n");
}

void write_path_block(LayerRaster& r, const SliceInputs& in, const CellTransform& t, Moves& mv, float f) {
    auto E = [&] { return r.e_length + r.e_base; };
    const bool contour_mode = pon(ck_contour_mode);
    const float e_min = pf(va_extrusion_min), e_max = pf(va_extrusion_max);
    const float r0 = in.contour_first_row, rn = in.contour_row_count;
    for (size_t pi_ = 0; pi_ < r.lines.size(); ++pi_) {
        const std::vector<PathPoint>& path = r.lines[pi_];
        if (path.empty()) continue;
        r.e_base -= pf(va_back_extrusion);
        mv.travel_prefix(E());
        float X, Y;
        cell_to_mm(t, path[0].x, path[0].y, &X, &Y);
        out(r, "G1 X%.2f Y%.2f \n", X, Y);
        mv.lower();
        if (r.layer != 0) {
            r.e_base += pf(va_pre_extrusion);
            mv.retract(E());
            out(r, "G1 F%d \n", pi(va_other_speed));
        } else {
            r.e_base += pi_ == 0 ? 26.0f : pf(va_pre_extrusion);
            mv.retract(E());
            out(r, "G1 F%d \n", pi(va_first_speed));
        }
        for (size_t j = 1; j < path.size(); ++j) {
            float s = seg_len(path[j - 1], path[j]);
            r.layer_distance += s;
            r.run_total = (int)((float)r.run_total + s);
            cell_to_mm(t, path[j].x, path[j].y, &X, &Y);
            float e;
            if (contour_mode) {
                // A contour image without set rows has no gradient: extrude at the minimum.
                float k = rn > 0 ? std::fabs(Y + (float)t.off_y - r0) / rn : 0.0f;
                e = s * (k * (e_max - e_min) + e_min);
            } else {
                e = s * f;
            }
            r.e_segment = e;
            r.e_length += e;
            out(r, "G1 X%.2f Y%.2f E%.3f\n", X, Y, E());
        }
        out(r, "\n");
    }
}

}  // namespace

float& z_skip_offset() {
    static float z = 0;
    return z;
}

const std::string& gcode_open_path() { return job().open_path; }
const std::string& gcode_final_path() { return job().final_path; }

bool begin_gcode_file(LayerRaster& r, const std::string& path, const std::string& final_path) {
    ParamStore& ps = params();
    r.layer_distance = 0;
    r.layers_written = 0;
    ps.set_value(out_time, 0);
    if (r.gcode_file) {  // a job left open: finish its file before starting anew
        std::fclose(r.gcode_file);
        r.gcode_file = nullptr;
    }
    // A file written to be moved into place is created, never opened over:
    // one at that name (a download the station server left in temp/) is not
    // ours to empty, so the job writes under a free numbered name beside it.
    // The operator's own "Save G-Code" choice is written where chosen.
    const std::string asked = platform::map_path(path);
    std::string mapped = asked;
    FILE* f = final_path.empty() ? std::fopen(asked.c_str(), "w") : platform::create_file_free_name(asked, mapped);
    if (!f) {
        std::printf("ERROR: cannot open G-code file %s for writing: %s; job abandoned\n", mapped.c_str(),
                    std::strerror(errno));
        r.gcode_file_open = 0;
        r.path_request = 0;
        r.full_path_request = 0;
        job() = JobFiles();
        return false;
    }
    r.gcode_file = f;
    r.gcode_file_open = 1;
    // Heights are lowered only by the skipped layers of this job; an offset
    // left from an earlier job would put this one's first layers below the bed.
    z_skip_offset() = 0;
    job().open_path = mapped;
    job().final_path = final_path.empty() ? std::string() : platform::map_path(final_path);
    job().write_failed = false;
    out(r, "%s\n", ps.text(tx_begin_area).c_str());
    ps.set_value(va_cut_plane, 0);
    r.path_request = 1;
    r.full_path_request = 1;
    return true;
}

void write_gcode_layer(LayerRaster& r, const SliceInputs& in) {
    if (!r.gcode_file_open || !r.gcode_file || r.lines.empty()) return;
    const float L = pf(va_layer_index);
    r.layer = (int)L;
    const float t1 = pf(va_thick_of_first_layer);
    float print_z;
    if (r.has_marks)
        print_z = L < 4 ? t1 * (L + 1) : (L - 3) * pf(va_spacing) + 4 * t1;
    else
        print_z = pf(va_spacing) * L + pf(va_first_layer_height);
    float f = pf(va_extrusion);
    if (L < 2 && r.has_marks) f = pf(va_extrusion) * 1.5f;
    if (print_z < pf(va_start_layer)) {
        z_skip_offset() = print_z;
        return;
    }
    // The first layer a job prints lies on the bed: the layers below it had
    // nothing to print (the tip of a model standing on a point), and a layer
    // laid above them would be laid in the air.
    if (r.layers_written == 0 && z_skip_offset() == 0)
        z_skip_offset() = print_z - (r.has_marks ? t1 : pf(va_first_layer_height));
    Moves mv{r, print_z - z_skip_offset(), print_z + pf(va_up_move) - z_skip_offset()};
    ++r.layers_written;

    out(r, "\n\nG1 Z%.2f\n", mv.z);
    params().set_value(out_time, pval(out_time) + r.layer_distance);
    r.e_length = r.layer_distance = r.e_base = 0;
    out(r, "\n\nG92 E0\n");
    const CellTransform t = make_cell_transform(in, L);
    if (pon(bt_contour)) write_outline_block(r, in, t, mv);
    split_paths_at_gaps(r);  // first: a step that collinear pruning makes may span a gap
    prune_collinear_paths(r);
    if (!pon(ck_z_path_off)) write_path_block(r, in, t, mv, f);
}

void abandon_gcode_job(LayerRaster& r, const char* why) {
    r.path_request = 0;
    r.full_path_request = 0;
    if (r.gcode_file) {
        std::fclose(r.gcode_file);
        r.gcode_file = nullptr;
    }
    if (r.gcode_file_open) {
        std::printf("ERROR: %s; G-code file %s abandoned\n", why, job().open_path.c_str());
        r.gcode_file_open = 0;
        job() = JobFiles();
    } else {
        std::printf("ERROR: %s\n", why);
    }
}

void end_gcode_run(LayerRaster& r, const SliceInputs& in) {
    ParamStore& ps = params();
    ps.set_value(out_extrusion_length, r.run_total);
    r.path_request = 0;
    r.full_path_request = 0;
    if (r.gcode_file_open) {
        bool ok = !job().write_failed;
        if (r.gcode_file) {
            out(r, "\n%s", ps.text(tx_end_area).c_str());
            if (std::ferror(r.gcode_file) || job().write_failed) ok = false;
            if (std::fclose(r.gcode_file) != 0) ok = false;
            r.gcode_file = nullptr;
        }
        JobFiles& j = job();
        if (!ok) {
            std::printf("ERROR: writing G-code file %s failed; the file is incomplete and stays where it is\n",
                        j.open_path.c_str());
        } else if (r.layers_written == 0) {
            // Start and end text alone would print nothing yet pass for a
            // finished job: the file goes, and the caller learns of it.
            ok = std::remove(j.open_path.c_str()) == 0;
            std::printf("ERROR: no layer of the model has a path to print; G-code file %s %s\n", j.open_path.c_str(),
                        ok ? "removed" : "cannot be removed");
        } else if (!j.final_path.empty() && j.final_path != j.open_path) {
            // The final name may be another job's file (a slipper download of
            // the same customer): it is never replaced. The new file then
            // waits in temp/ under a numbered name, which no later job of
            // this name writes over.
            const platform::MoveResult m = platform::rename_no_replace(j.open_path, j.final_path);
            std::string kept;
            if (m == platform::MoveResult::target_exists &&
                platform::move_to_free_name(j.open_path, j.open_path, 2, kept) == platform::MoveResult::moved)
                std::printf("ERROR: %s exists and is not replaced; the new G-code waits at %s\n",
                            j.final_path.c_str(), kept.c_str());
            else if (m != platform::MoveResult::moved)
                std::printf("ERROR: cannot move G-code file %s to %s: %s; it stays at %s\n", j.open_path.c_str(),
                            j.final_path.c_str(), m == platform::MoveResult::target_exists ? "name taken" : std::strerror(errno),
                            j.open_path.c_str());
        }
        if (r.layers_written > 0) std::printf("End Saving\n");
        r.gcode_file_open = 0;
        // Minutes at the work speed; with no work speed set there is no estimate.
        const double speed = pval(va_other_speed);
        ps.set_value(out_time, speed > 0 ? pval(out_time) / speed / 60 : 0.0);
        j = JobFiles();
    }
    if (in.batch_job_running && in.batch_job_done) in.batch_job_done();
}

}  // namespace engine
