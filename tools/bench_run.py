#!/usr/bin/env python3
"""Runs the station's benchmark programs and the peer slicers side by side and prints one table.

Called by tools/bench.sh (which builds, installs the peers and starts the virtual display); the
output convention of the bench programs is described at the top of tools/bench.sh.
"""
import argparse
import datetime
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

FRAME_S = 1.0 / 120.0  # the views' redraw period: one layer per frame
START_UP_S = 0.3       # allowance for the program's start-up in the whole-job target
TOOL_PROGRAMS = {"bench_gcode_check", "bench_export_insole_stl"}  # built in bench/ but tools, not benchmarks
# Sample feet whose insole models the peers slice (BENCH_PEER_IMAGES, comma separated, sets others):
# one of the batch bench's ten, as its models take the peers 10 s and more each.
PEER_IMAGES = ["foot_left_large_flat.bmp"]
BENCH_LINE = re.compile(r"^BENCH\s+(\S+)\s+(\S+)\s+(\S+)\s+(\S+)\s*$")
FITMIRE_LINE = re.compile(r"fitmire_rebuild: median ([\d.]+) ms, fastest ([\d.]+) ms, slowest ([\d.]+) ms")


# ---------------------------------------------------------------- measuring

class Run:
    """One finished child: exit status, output, wall, CPU (user+system, children included), peak RSS."""

    def __init__(self, status, output, wall_s, cpu_s, peak_mb, timed_out=False):
        self.status, self.output = status, output
        self.wall_s, self.cpu_s, self.peak_mb, self.timed_out = wall_s, cpu_s, peak_mb, timed_out

    def ok(self):
        return self.status == 0 and not self.timed_out


def measure(cmd, env=None, cwd=None, timeout=600):
    """Runs cmd and takes its resource use from wait4, so CPU and memory are the child's own."""
    with tempfile.TemporaryFile() as out:
        t0 = time.perf_counter()
        try:
            p = subprocess.Popen(cmd, stdout=out, stderr=subprocess.STDOUT, env=env, cwd=cwd,
                                 start_new_session=True)
        except OSError as e:
            return Run(127, f"cannot start {cmd[0]}: {e}", 0, 0, 0)
        timed_out = []

        def kill():
            timed_out.append(True)
            try:
                os.killpg(p.pid, signal.SIGKILL)
            except OSError:
                pass

        timer = threading.Timer(timeout, kill)
        timer.start()
        _, status, ru = os.wait4(p.pid, 0)
        wall = time.perf_counter() - t0
        timer.cancel()
        p.returncode = os.waitstatus_to_exitcode(status)
        out.seek(0)
        text = out.read().decode("utf-8", "replace")
    return Run(p.returncode, text, wall, ru.ru_utime + ru.ru_stime, ru.ru_maxrss / 1024.0, bool(timed_out))


def proc_cpu_s(pid):
    """CPU seconds used so far by a running process (the display server), or None."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    except (OSError, ValueError, IndexError):
        return None


def proc_peak_mb(pid):
    """Peak resident memory (VmHWM) of a running process, or None."""
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) / 1024.0
    except (OSError, ValueError, IndexError):
        pass
    return None


def hostlet_idle(build, src, env, runs, window_s, settle_s=5.0):
    """Runs the built Hostlet in a fresh station root whose web service does not answer and takes
    its CPU over `runs` windows of window_s seconds after settle_s: (cpu_per_min Series, peak MB,
    problem)."""
    exe = os.path.join(build, "station", "Hostlet")
    if not os.access(exe, os.X_OK):
        return None, None, "Hostlet is not built"
    root = tempfile.mkdtemp(prefix="hostlet-idle-")
    try:
        lay = subprocess.run([os.path.join(src, "tools", "lay_out_station.sh"), root, build],
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        if lay.returncode != 0:
            return None, None, "cannot lay out a station root: " + lay.stderr.strip()[-200:]
        server = os.path.join(root, "VerdanelFiles", "Hostlet")
        env = dict(env, STATION_INSOLE_DIR=os.path.join(root, "insole"),
                   STATION_FILES_DIR=os.path.join(root, "VerdanelFiles"))
        with open(os.path.join(root, "hostlet.log"), "wb") as log:
            p = subprocess.Popen([os.path.join(server, "Hostlet")], cwd=server, env=env, stdout=log,
                                 stderr=subprocess.STDOUT, start_new_session=True)
        try:
            time.sleep(settle_s)
            per_min = Series()
            for _ in range(runs):
                c0, t0 = proc_cpu_s(p.pid), time.perf_counter()
                time.sleep(window_s)
                c1, t1 = proc_cpu_s(p.pid), time.perf_counter()
                if p.poll() is not None or c0 is None or c1 is None:
                    with open(os.path.join(root, "hostlet.log"), errors="replace") as f:
                        return None, None, f"Hostlet ended early (status {p.returncode}): {last_lines(f.read())}"
                per_min.add((c1 - c0) / (t1 - t0) * 60.0)
            return per_min, proc_peak_mb(p.pid), None
        finally:
            if p.poll() is None:
                os.killpg(p.pid, signal.SIGTERM)
                try:
                    p.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    os.killpg(p.pid, signal.SIGKILL)
                    p.wait()
    finally:
        shutil.rmtree(root, ignore_errors=True)


class Series:
    """Values of one figure over the timed runs."""

    def __init__(self):
        self.values = []

    def add(self, v):
        if v is not None:
            self.values.append(v)

    def median(self):
        return statistics.median(self.values) if self.values else None

    def lo(self):
        return min(self.values) if self.values else None

    def hi(self):
        return max(self.values) if self.values else None


LOG_PREFIX = re.compile(r"^\[\d{4}-\d\d-\d\d [^\]]*\] \[0x[0-9a-f]+\] ")


def last_lines(text, n=3):
    """The last lines a program printed, without log time stamps, for a failure note."""
    lines = [LOG_PREFIX.sub("", l).strip() for l in text.strip().splitlines()]
    return " | ".join(l for l in lines[-n:] if l) or "(printed nothing)"


ENGINE_HEAD = re.compile(r"^(\S.*?)\s+(\d+) tris\s+(\d+) layers\s+([\d.]+) layers/s(.*)$")
ENGINE_STEP = re.compile(r"^\s+(\S.*?)\s+median\s+([\d.]+) ms\s+p99\s+([\d.]+) ms\s+max\s+([\d.]+) ms")


def parse_engine_table(text):
    """Figures from bench_engine_layers' own table (one block per mesh) until it prints BENCH lines:
    the first block is the engine's figure; the others and the steps go to the other figures."""
    found, block, first = [], None, True
    for line in text.splitlines():
        m = ENGINE_HEAD.match(line)
        if m:
            label = re.sub(r"[^A-Za-z0-9_.]+", "_", m.group(1) + ("_by_triangle" if m.group(5).strip() else ""))
            block = "engine_layers" if first else f"engine_layers/{label.strip('_')}"
            if first:
                found.append(("engine_layers", "mesh", m.group(1), "name"))
            first = False
            found += [(block, "layers", float(m.group(3)), "count"), (block, "layers_per_s", float(m.group(4)), "1/s")]
            continue
        m = ENGINE_STEP.match(line)
        if m and block:
            step = m.group(1)
            if step == "whole layer":
                found += [(block, "p50", float(m.group(2)), "ms"), (block, "p99", float(m.group(3)), "ms")]
                if block == "engine_layers":
                    found.append((block, "max", float(m.group(4)), "ms"))
            elif block == "engine_layers":
                key = re.sub(r"[^A-Za-z0-9]+", "_", step).strip("_")
                found += [(block, f"{key}_p50", float(m.group(2)), "ms"), (block, f"{key}_p99", float(m.group(3)), "ms")]
    return found


STRANDEL_IMAGE = re.compile(r"^\s+image (\d+) (\S+)\s+(?:([\d.]+) s \(G-code (\d+) bytes\)|(no G-code))")
STRANDEL_WALL = re.compile(r"^\s+wall time ([\d.]+) s")
STRANDEL_PEAK = re.compile(r"^\s+peak resident memory ([\d.]+) MiB")
STRANDEL_EXIT = re.compile(r"^strandel_batch: .*exit status (-?\d+)")
OURS_TABLE_KEY = "sample feet, per image"


def parse_strandel_table(text, process_cpu_s):
    """(figures, problem) from bench_strandel_batch's own table until it prints BENCH lines: one job
    of several sample feet in one Strandel run, each image's time being the gap between successive
    G-code files. CPU is only known for the whole bench process (Strandel, its own Xvfb, the
    harness), so the CPU per image is that divided by the images."""
    times, missing, wall, peak, status = [], [], None, None, None
    for line in text.splitlines():
        m = STRANDEL_IMAGE.match(line)
        if m:
            if m.group(5):
                missing.append(m.group(2))
            else:
                times.append(float(m.group(3)))
            continue
        m = STRANDEL_WALL.match(line) or STRANDEL_PEAK.match(line) or STRANDEL_EXIT.match(line)
        if not m:
            continue
        if m.re is STRANDEL_WALL:
            wall = float(m.group(1))
        elif m.re is STRANDEL_PEAK:
            peak = float(m.group(1))
        else:
            status = int(m.group(1))
    if not times and not missing:
        return None, None
    if status not in (None, 0):
        return None, f"Strandel ended with exit status {status}"
    if missing:
        return None, "no G-code for " + ", ".join(missing)
    fig_ = {"images": float(len(times)), "first_image_wall": times[0], "cpu": process_cpu_s / len(times)}
    fig_["wall"] = statistics.median(times[1:]) if len(times) > 1 else times[0]
    if wall is not None:
        fig_["job_wall"] = wall
    if peak is not None:
        fig_["peak_mem"] = peak
    return fig_, None


HOSTLET_TICK = re.compile(r"^idle tick, ([^:]+):\s+([\d.]+) ns")


def parse_hostlet_table(text):
    """Figures from bench_hostlet_idle's own table (the cost of one idle scheduler tick) until it
    prints BENCH lines: at one tick per 1/120 s a minute holds 7200 ticks."""
    found = []
    ticks = {m.group(1).strip(): float(m.group(2)) for m in map(HOSTLET_TICK.match, text.splitlines()) if m}
    for label, ns in ticks.items():
        found.append(("hostlet_idle", "tick_ns_" + re.sub(r"[^A-Za-z0-9]+", "_", label).strip("_"), ns, "ns"))
    tick = ticks.get("performance counter") or (max(ticks.values()) if ticks else None)
    if tick is not None:
        found.append(("hostlet_idle", "tick_cpu_per_min", tick * 7200 / 1e9, "s"))
    return found


MEDIAN_LINE = re.compile(r"^\s*(\S[^:]*?)\s*:?\s+median\s+([\d.]+)\s*ms\s*$")


def parse_median_lines(text, name):
    """Lines "<what>: median <x> ms" of a program that prints no BENCH lines."""
    found = []
    for line in text.splitlines():
        m = MEDIAN_LINE.match(line)
        if m:
            metric = re.sub(r"[^A-Za-z0-9]+", "_", m.group(1)).strip("_") + "_median"
            found.append((name, metric, float(m.group(2)), "ms"))
    return found


def parse_bench_lines(text, prog=""):
    """[(name, metric, value, unit)] from the BENCH lines of a program's output; value is a float
    when it reads as one, else the text (file paths). Programs that print no BENCH lines yet are
    read from their own tables."""
    found = []
    for line in text.splitlines():
        m = BENCH_LINE.match(line.strip())
        if not m:
            continue
        name, metric, value, unit = m.groups()
        try:
            value = float(value)
        except ValueError:
            pass
        found.append((name, metric, value, unit))
    if not any(n.startswith("engine_layers") for n, *_ in found):
        found += parse_engine_table(text)
    if not any(n.startswith("hostlet_idle") for n, *_ in found):
        found += parse_hostlet_table(text)
    if not any(n.startswith("fitmire_rebuild") for n, *_ in found):
        m = FITMIRE_LINE.search(text)
        if m:
            found += [("fitmire_rebuild", "median", float(m.group(1)), "ms"),
                      ("fitmire_rebuild", "min", float(m.group(2)), "ms"),
                      ("fitmire_rebuild", "max", float(m.group(3)), "ms")]
    if not found and prog:
        found = parse_median_lines(text, prog[len("bench_"):] if prog.startswith("bench_") else prog)
    return found


# ---------------------------------------------------------------- G-code checks

def sanity_check_gcode(path):
    """(ok, message, layers) for any slicer's G-code: not empty, has extruding G1 moves, and the Z of
    every extruding move never goes down."""
    try:
        size = os.path.getsize(path)
    except OSError:
        return False, "missing", 0
    if size == 0:
        return False, "empty file", 0
    z, e, relative = 0.0, 0.0, False
    extruding_moves = 0
    layer_zs = []
    min_x = min_y = float("inf")
    max_x = max_y = float("-inf")
    with open(path, errors="replace") as f:
        for raw in f:
            line = raw.split(";", 1)[0].strip()
            if not line:
                continue
            word = line.split(None, 1)[0]
            if word == "M83":
                relative = True
            elif word == "M82":
                relative = False
            elif word == "G92":
                for w in line.split()[1:]:
                    if w[:1] == "E":
                        e = float(w[1:] or 0)
            elif word in ("G1", "G0"):
                d = {}
                for w in line.split()[1:]:
                    if w[:1] in "XYZE" and len(w) > 1:
                        try:
                            d[w[0]] = float(w[1:])
                        except ValueError:
                            return False, f"bad number in \"{line}\"", 0
                if "Z" in d:
                    z = d["Z"]
                if "E" in d:
                    new_e = e + d["E"] if relative else d["E"]
                    if new_e > e and ("X" in d or "Y" in d):
                        extruding_moves += 1
                        if layer_zs and z < layer_zs[-1] - 1e-9:
                            return False, f"Z goes down from {layer_zs[-1]} to {z} while extruding", 0
                        if not layer_zs or z > layer_zs[-1] + 1e-9:
                            layer_zs.append(z)
                        min_x, max_x = min(min_x, d.get("X", min_x)), max(max_x, d.get("X", max_x))
                        min_y, max_y = min(min_y, d.get("Y", min_y)), max(max_y, d.get("Y", max_y))
                    e = new_e
    if extruding_moves == 0:
        return False, "no extruding G1 moves", 0
    return True, (f"{extruding_moves} extruding moves, {len(layer_zs)} layers, "
                  f"X {min_x:.1f}..{max_x:.1f} Y {min_y:.1f}..{max_y:.1f}"), len(layer_zs)


def project_check_gcode(checker, path):
    """(ok, message) from the project's own checker, through its command-line wrapper."""
    if not checker:
        ok, msg, _ = sanity_check_gcode(path)
        return ok, "sanity only (project checker not built): " + msg
    r = measure([checker, path], timeout=120)
    lines = [l.strip() for l in r.output.strip().splitlines() if l.strip()]
    if not lines:
        return r.ok(), f"exit {r.status}"
    return r.ok(), "; ".join(lines[:3])[:400] + (f" (+{len(lines) - 3} lines)" if len(lines) > 3 else "")


# ---------------------------------------------------------------- peers

def prusa_cmd(stl, out, layer_mm, nozzle_mm):
    w = f"{nozzle_mm:g}"
    return ["prusa-slicer", "--export-gcode", "-o", out,
            "--layer-height", f"{layer_mm:g}", "--first-layer-height", f"{layer_mm:g}",
            "--nozzle-diameter", w, "--extrusion-width", w, "--first-layer-extrusion-width", w,
            "--perimeters", "1", "--no-extra-perimeters",
            "--fill-density", "100%", "--fill-pattern", "rectilinear",
            "--top-fill-pattern", "rectilinear", "--bottom-fill-pattern", "rectilinear",
            "--no-support-material", "--skirts", "0", "--brim-width", "0",
            "--bed-shape", "0x0,300x0,300x360,0x360", "--center", "150,180",
            "--loglevel", "1", stl]


def cura_cmd(defs_dir, stl, out, layer_mm, nozzle_mm):
    # Without its front end CuraEngine takes every setting's default value and evaluates no
    # formulas, so everything that follows from the layer height and line width is given here.
    w = f"{nozzle_mm:g}"
    h = f"{layer_mm:g}"
    settings = {
        "machine_width": "300", "machine_depth": "360", "machine_height": "100",
        "machine_center_is_zero": "false", "center_object": "true",
        "layer_height": h, "layer_height_0": h, "infill_sparse_thickness": h,
        "machine_nozzle_size": w, "line_width": w, "wall_line_width": w, "wall_line_width_0": w,
        "wall_line_width_x": w, "infill_line_width": w, "skin_line_width": w,
        "initial_layer_line_width_factor": "100", "material_diameter": "1.75",
        "wall_line_count": "1", "infill_sparse_density": "100", "infill_line_distance": w,
        "infill_pattern": "lines", "top_layers": "0", "bottom_layers": "0", "top_bottom_thickness": "0",
        "support_enable": "false", "adhesion_type": "none",
    }
    cmd = ["CuraEngine", "slice", "-j", os.path.join(defs_dir, "fdmprinter.def.json")]
    for k, v in settings.items():
        cmd += ["-s", f"{k}={v}"]
    return cmd + ["-l", stl, "-o", out]


# ---------------------------------------------------------------- table

def fmt(v, digits=3):
    if v is None:
        return "n/a"
    if isinstance(v, str):
        return v
    if v == 0:
        return "0"
    if float(v).is_integer() and abs(v) < 1e6:
        return f"{v:.0f}"
    a = abs(v)
    if a >= 100:
        return f"{v:.0f}"
    if a >= 10:
        return f"{v:.1f}"
    if a >= 1:
        return f"{v:.2f}"
    return f"{v:.{digits}f}"


class Table:
    def __init__(self):
        self.rows = []

    def section(self, title):
        self.rows.append(("section", title))

    def note(self, text):
        self.rows.append(("note", text))

    def row(self, what, series_or_value, unit="", target="", status=""):
        if isinstance(series_or_value, Series):
            s = series_or_value
            med, lo, hi = s.median(), s.lo(), s.hi()
            spread = f"[{fmt(lo)} .. {fmt(hi)}]" if s.values and len(s.values) > 1 else ""
        else:
            med, spread = series_or_value, ""
        self.rows.append(("row", what, fmt(med), spread, unit, target, status))

    def print(self, out=sys.stdout):
        widths = [0] * 7
        for r in self.rows:
            if r[0] == "row":
                for i in range(1, 7):
                    widths[i] = max(widths[i], len(r[i]))
        for r in self.rows:
            if r[0] == "section":
                print(f"\n{r[1]}", file=out)
            elif r[0] == "note":
                print(f"  {r[1]}", file=out)
            else:
                _, what, med, spread, unit, target, status = r
                print(f"  {what:<{widths[1]}}  {med:>{widths[2]}} {unit:<{widths[4]}}  {spread:<{widths[3]}}"
                      f"  {target:<{widths[5]}}  {status}".rstrip(), file=out)


def verdict(ok):
    if ok is None:
        return "n/a"
    return "met" if ok else "MISSED"


# ---------------------------------------------------------------- main

def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--build", required=True, help="release build directory")
    ap.add_argument("--out", required=True, help="work directory for outputs")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--spacings", default="0.1,0.3", help="layer heights in mm, comma separated")
    ap.add_argument("--nozzle", type=float, default=0.4)
    ap.add_argument("--stl", action="append", default=[], help="insole STL for the peers (fallback)")
    ap.add_argument("--cura-defs", default="", help="directory holding fdmprinter.def.json")
    ap.add_argument("--display", default="", help="X display for our programs")
    ap.add_argument("--display-pid", type=int, default=0, help="the virtual display's process id")
    ap.add_argument("--notes", action="append", default=[], help="lines to print under the title")
    args = ap.parse_args()
    runs = max(5, args.runs)
    # The programs run in scratch directories: every path they are given is absolute.
    args.build, args.out = os.path.abspath(args.build), os.path.abspath(args.out)
    args.stl = [os.path.abspath(p) for p in args.stl]
    args.cura_defs = os.path.abspath(args.cura_defs) if args.cura_defs else ""
    spacings = [float(s) for s in args.spacings.split(",") if s.strip()]
    os.makedirs(args.out, exist_ok=True)
    bench_dir = os.path.join(args.build, "bench")
    programs = sorted(p for p in (os.listdir(bench_dir) if os.path.isdir(bench_dir) else [])
                      if p.startswith("bench_") and os.access(os.path.join(bench_dir, p), os.X_OK)
                      and os.path.isfile(os.path.join(bench_dir, p)))
    checker = os.path.join(bench_dir, "bench_gcode_check") if "bench_gcode_check" in programs else ""
    exporter = os.path.join(bench_dir, "bench_export_insole_stl") if "bench_export_insole_stl" in programs else ""
    programs = [p for p in programs if p not in TOOL_PROGRAMS]

    ours_env = dict(os.environ)
    if args.display:
        ours_env["DISPLAY"] = args.display
    ours_env.setdefault("LIBGL_ALWAYS_SOFTWARE", "1")
    ours_env["BENCH_RUNS"] = str(runs)
    peer_env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}

    def log(msg):
        print(f"bench: {msg}", file=sys.stderr, flush=True)

    table = Table()
    failures = []  # (what, message) of programs that did not finish
    checks = []    # (file, ok, message)

    # --- figure programs: every bench program but the whole-job one, warm-up + runs each
    figures = {}   # (name, metric) -> Series
    texts = {}     # (name, metric) -> the last text value (names, files)
    units = {}
    order = []
    for prog in programs:
        if prog == "bench_strandel_batch":
            continue
        path = os.path.join(bench_dir, prog)
        cwd = tempfile.mkdtemp(prefix=prog + "-", dir=args.out)
        log(f"{prog}: warm-up + {runs} runs")
        for i in range(runs + 1):
            r = measure([path], env=ours_env, cwd=cwd, timeout=300)
            if not r.ok():
                tail = last_lines(r.output)
                failures.append((prog, f"{'timed out' if r.timed_out else f'exit {r.status}'}: {tail}"))
                break
            if i == 0:
                continue
            found = parse_bench_lines(r.output, prog)
            if not found:
                failures.append((prog, "printed no BENCH lines: " + last_lines(r.output, 2)))
                break
            for name, metric, value, unit in found:
                if isinstance(value, str):
                    texts[(name, metric)] = value
                    if unit == "file" and metric == "gcode":
                        ok, msg = project_check_gcode(checker, value)
                        checks.append((f"{name}: {value}", ok, msg))
                    continue
                key = (name, metric)
                if key not in figures:
                    figures[key] = Series()
                    order.append(key)
                figures[key].add(value)
                units[key] = unit
            figures.setdefault((prog, "__process_peak_mb"), Series()).add(r.peak_mb)
            # The engine bench's own table names no file; it writes this one (a shared path: a
            # bench run elsewhere at the same time can overwrite it).
            legacy = "/tmp/bench_engine_layers.gcode"
            if prog == "bench_engine_layers" and ("engine_layers", "gcode") not in texts and \
                    os.path.isfile(legacy) and os.path.getmtime(legacy) >= time.time() - r.wall_s - 1:
                ok, msg = project_check_gcode(checker, legacy)
                checks.append((f"engine_layers: {legacy}", ok, msg))
        shutil.rmtree(cwd, ignore_errors=True)

    idle_window = float(os.environ.get("BENCH_IDLE_SECONDS", "12"))
    log(f"Hostlet: idle, {runs} windows of {idle_window:g} s")
    src = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    idle_cpu, idle_peak, idle_problem = hostlet_idle(args.build, src, ours_env, runs, idle_window)

    def fig(name, *metrics):
        for m in metrics:
            if (name, m) in figures and figures[(name, m)].values:
                return figures[(name, m)]
        return None

    # --- ours, whole job: one call of bench_strandel_batch per run and layer height
    ours_prog = os.path.join(bench_dir, "bench_strandel_batch") if "bench_strandel_batch" in programs else ""
    ours = {}          # (spacing, image) -> {metric: Series}
    ours_files = {}    # (spacing, image) -> {kind: path}
    ours_spacing_ok = {}
    display_cpu = {s: Series() for s in spacings}

    def run_ours(spacing, record):
        cwd = os.path.join(args.out, f"ours-{spacing:g}")
        os.makedirs(cwd, exist_ok=True)
        env = dict(ours_env, BENCH_SPACING_MM=f"{spacing:g}", BENCH_OUT_DIR=cwd)
        x0 = proc_cpu_s(args.display_pid) if args.display_pid else None
        r = measure([ours_prog], env=env, cwd=cwd, timeout=900)
        x1 = proc_cpu_s(args.display_pid) if args.display_pid else None
        if not r.ok():
            tail = last_lines(r.output)
            failures.append((f"bench_strandel_batch ({spacing:g} mm)",
                             f"{'timed out' if r.timed_out else f'exit {r.status}'}: {tail}"))
            return None
        per_image = {}
        honoured = None
        for name, metric, value, unit in parse_bench_lines(r.output):
            if not name.startswith("strandel_batch"):
                continue
            image = name.split("/", 1)[1] if "/" in name else "(job)"
            if metric == "spacing" and isinstance(value, float):
                honoured = abs(value - spacing) < 1e-6
                continue
            if isinstance(value, str):
                ours_files.setdefault((spacing, image), {})[metric] = value
                continue
            per_image.setdefault(image, {})[metric] = value
        ours_spacing_ok[spacing] = honoured
        for name, metric, value, unit in parse_bench_lines(r.output):
            if name.startswith("strandel_batch") and metric == "gcode" and isinstance(value, str):
                ok, msg = project_check_gcode(checker, value)
                checks.append((f"ours {name} {spacing:g} mm: {value}" + ("" if record else " (warm-up)"), ok, msg))
        if not per_image:
            table_figures, problem = parse_strandel_table(r.output, r.cpu_s)
            if problem:
                failures.append((f"bench_strandel_batch ({spacing:g} mm)", problem))
                return None
            if table_figures:
                per_image[OURS_TABLE_KEY] = table_figures
        if not per_image:  # the program reported nothing of its own: the process as a whole
            per_image["(job)"] = {}
        for image, m in per_image.items():
            if image == "(job)" or len(per_image) == 1:
                m.setdefault("wall", r.wall_s)
                m.setdefault("cpu", r.cpu_s)
                m.setdefault("peak_mem", r.peak_mb)
        if record:
            for image, m in per_image.items():
                for metric, value in m.items():
                    ours.setdefault((spacing, image), {}).setdefault(metric, Series()).add(value)
            if x0 is not None and x1 is not None:
                display_cpu[spacing].add(x1 - x0)
        return per_image

    ours_spacings = []
    if ours_prog:
        for s in spacings:
            log(f"bench_strandel_batch: warm-up at {s:g} mm")
            if s != spacings[0] and ours_spacing_ok.get(spacings[0]) is None:
                continue  # it says nothing of the layer height: it runs at va_spacing's start value
            if run_ours(s, record=False) is not None and ours_spacing_ok.get(s) is not False:
                ours_spacings.append(s)

    # --- the insoles the peers slice: ours exported as STL when available, else the fallback
    stls = {}  # image -> path
    for (s, image), files in sorted(ours_files.items()):
        if "stl" in files and os.path.isfile(files["stl"]):
            stls.setdefault(image, files["stl"])
    for p in args.stl:
        if os.path.isfile(p):
            stls.setdefault(os.path.splitext(os.path.basename(p))[0], p)
            break
    # The sample feet's insole models, written by the program's own STL writer.
    exported = []
    images = [os.path.join(args.build, "sample", n) for n in
              os.environ.get("BENCH_PEER_IMAGES", ",".join(PEER_IMAGES)).split(",") if n.strip()]
    images = [p for p in images if os.path.isfile(p)]
    if exporter and images and not any(image in stls for (_, image) in ours_files):
        stl_dir = os.path.join(args.out, "insole-models")
        os.makedirs(stl_dir, exist_ok=True)
        r = measure([exporter, stl_dir] + images, timeout=300)
        for name, metric, value, unit in parse_bench_lines(r.output):
            if metric == "stl" and isinstance(value, str) and os.path.isfile(value):
                image = name.split("/", 1)[1]
                stls[image] = value
                exported.append(image)
        if not r.ok():
            failures.append(("bench_export_insole_stl", f"exit {r.status}: " + last_lines(r.output)))
    peers = [("PrusaSlicer", "prusa-slicer")]
    if args.cura_defs and os.path.isfile(os.path.join(args.cura_defs, "fdmprinter.def.json")):
        peers.append(("CuraEngine", "CuraEngine"))
    peers = [(n, exe) for n, exe in peers if shutil.which(exe)]
    peer_stats = {}   # (peer, spacing, image) -> {wall, cpu, peak_mem: Series}
    peer_layers = {}  # (peer, spacing, image) -> layers from the G-code
    ratios = {}       # (label, spacing, image, metric) -> Series of per-run ratios

    def peer_run(peer, spacing, image, stl, record):
        out = os.path.join(args.out, f"{peer}-{image}-{spacing:g}.gcode")
        if os.path.exists(out):
            os.remove(out)
        cmd = prusa_cmd(stl, out, spacing, args.nozzle) if peer == "PrusaSlicer" else \
            cura_cmd(args.cura_defs, stl, out, spacing, args.nozzle)
        r = measure(cmd, env=peer_env, cwd=args.out, timeout=600)
        if not r.ok():
            tail = last_lines(r.output)
            failures.append((f"{peer} {image} {spacing:g} mm", f"exit {r.status}: {tail}"))
            return None
        ok, msg, layers = sanity_check_gcode(out)
        checks.append((os.path.basename(out) + ("" if record else " (warm-up)"), ok, "sanity: " + msg))
        peer_layers[(peer, spacing, image)] = layers
        if record:
            st = peer_stats.setdefault((peer, spacing, image), {k: Series() for k in ("wall", "cpu", "peak_mem")})
            st["wall"].add(r.wall_s)
            st["cpu"].add(r.cpu_s)
            st["peak_mem"].add(r.peak_mb)
        return r

    def add_ratio(label, spacing, image, metric, num, den):
        if num is not None and den:
            ratios.setdefault((label, spacing, image, metric), Series()).add(num / den)

    for s in spacings:
        for image, stl in stls.items():
            for peer, _ in peers:
                log(f"{peer}: warm-up on {image} at {s:g} mm")
                peer_run(peer, s, image, stl, record=False)
    # Every run slices at every layer height, so the cost of one more layer is also taken run by run.
    marginal_runs = Series()
    per_image_runs = {}  # peer -> this run's results on the exported feet
    for i in range(runs):
        prusa_wall = {}
        for s in spacings:
            log(f"side by side, run {i + 1} of {runs}, {s:g} mm")
            ours_now = run_ours(s, record=True) if s in ours_spacings else None
            for image, stl in stls.items():
                now = {peer: peer_run(peer, s, image, stl, record=True) for peer, _ in peers}
                p, c = now.get("PrusaSlicer"), now.get("CuraEngine")
                if p:
                    prusa_wall[(s, image)] = p.wall_s
                if p and c:
                    add_ratio("CuraEngine / PrusaSlicer", s, image, "wall", c.wall_s, p.wall_s)
                    add_ratio("CuraEngine / PrusaSlicer", s, image, "cpu", c.cpu_s, p.cpu_s)
                    add_ratio("CuraEngine / PrusaSlicer", s, image, "peak_mem", c.peak_mb, p.peak_mb)
                # Ours pairs with the STL of its own image; a single job pairs with a single STL.
                ours_image = image if image in (ours_now or {}) else None
                if ours_image is None and ours_now and len(ours_now) == 1 and len(stls) == 1:
                    ours_image = next(iter(ours_now))
                o = ours_now.get(ours_image) if ours_image else None
                for peer, r in now.items():
                    if o and r:
                        for metric, theirs in (("wall", r.wall_s), ("cpu", r.cpu_s), ("peak_mem", r.peak_mb)):
                            add_ratio(f"ours / {peer}", s, ours_image, metric, o.get(metric), theirs)
                if image in exported:
                    for peer, r in now.items():
                        if r:
                            per_image_runs.setdefault(peer, []).append(r)
            # The batch bench's per-image figure against the peers' median over the exported feet.
            o = (ours_now or {}).get(OURS_TABLE_KEY)
            for peer, rs in per_image_runs.items():
                if o and rs:
                    for metric, attr in (("wall", "wall_s"), ("cpu", "cpu_s"), ("peak_mem", "peak_mb")):
                        add_ratio(f"ours / {peer}", s, OURS_TABLE_KEY, metric, o.get(metric),
                                  statistics.median(getattr(x, attr) for x in rs))
            per_image_runs.clear()
        if len(spacings) >= 2 and stls:
            image = next(iter(stls))
            lo_s, hi_s = min(spacings), max(spacings)
            la = peer_layers.get(("PrusaSlicer", lo_s, image))
            lb = peer_layers.get(("PrusaSlicer", hi_s, image))
            if (lo_s, image) in prusa_wall and (hi_s, image) in prusa_wall and la and lb and la != lb:
                marginal_runs.add((prusa_wall[(lo_s, image)] - prusa_wall[(hi_s, image)]) / (la - lb) * 1000.0)

    # ------------------------------------------------------------ the table
    now = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    cpu_model = ""
    try:
        with open("/proc/cpuinfo") as f:
            cpu_model = next((l.split(":", 1)[1].strip() for l in f if l.startswith("model name")), "")
    except OSError:
        pass
    load = " / ".join(f"{x:.1f}" for x in os.getloadavg())
    print(f"\nInsole station benchmark, {now}; {cpu_model}, {os.cpu_count()} cores, load average {load}")
    print(f"Each figure: median [min .. max] over {runs} runs after one warm-up; ratios taken run by run.")
    for n in args.notes:
        print(n)

    # PrusaSlicer's marginal cost of one more layer: wall at the thin minus the thick layers over the
    # difference in layers, on the same insole in the same run
    marginal = marginal_runs.median()

    table.section("Engine, one layer (bench_engine_layers)")
    p50 = fig("engine_layers", "p50", "p50_ms")
    p99 = fig("engine_layers", "p99", "p99_ms")
    lps = fig("engine_layers", "layers_per_s", "layers_per_second")
    if p50 is None and p99 is None:
        table.row("per layer p50 / p99", "n/a", "", "p99 <= 8.3 ms", "n/a (bench_engine_layers not built yet)")
    else:
        if ("engine_layers", "mesh") in texts:
            table.note(f"mesh: {texts[('engine_layers', 'mesh')]}")
        table.row("per layer p50", p50 if p50 else "n/a", "ms")
        table.row("per layer p99", p99 if p99 else "n/a", "ms", "<= 8.3 ms (one frame)",
                  verdict(p99.median() <= 8.3) if p99 else "n/a")
        goal = marginal / 4 if marginal and marginal > 0 else None
        table.row("per layer p99, toward 2 ms", p99 if p99 else "n/a", "ms",
                  f"<= {fmt(goal)} ms (PrusaSlicer per layer / 4, ~2 ms)" if goal else "<= PrusaSlicer per layer / 4 (~2 ms)",
                  verdict(p99.median() <= goal) if (p99 and goal) else "n/a")
        table.row("layers per second", lps if lps else "n/a", "1/s")
        nl = fig("engine_layers", "layers")
        if nl:
            table.row("layers", nl, "")
    if marginal is not None:
        table.row("PrusaSlicer's cost of one more layer", marginal_runs, "ms")
        table.note(f"(wall at {min(spacings):g} mm minus wall at {max(spacings):g} mm over the layer difference, run by run)")

    table.section("Whole job, ours: Strandel batch under Xvfb (bench_strandel_batch)")
    if not ours_prog:
        table.row("wall / CPU / peak memory per image", "n/a", "", "", "n/a (bench_strandel_batch not built yet)")
    elif not ours:
        table.row("wall / CPU / peak memory per image", "n/a", "", "", "n/a (no figures; see failures)")
    for s in spacings:
        if ours_prog and ours and s not in ours_spacings:
            why = "it does not print the layer height it used (BENCH strandel_batch spacing)" \
                if ours_spacing_ok.get(spacings[0]) is None else "it did not run at this layer height"
            table.note(f"{s:g} mm: n/a ({why})")
    for (s, image), m in sorted(ours.items()):
        honoured = ours_spacing_ok.get(s)
        table.note(f"{image}, {s:g} mm layers" + ("" if honoured else " (va_spacing's start value; not confirmed)") + ":")
        if image == OURS_TABLE_KEY:
            table.note("  (from bench_strandel_batch's own table: one Strandel run over its sample feet; wall per image")
            table.note("   = gap between successive G-code files, median over the images after the first; CPU per image")
            table.note("   = the whole bench process (Strandel, its own Xvfb, the harness) / images)")
        layers = m.get("layers")
        wall = m.get("wall")
        table.row("  layers", layers if layers else "n/a (not reported)", "")
        table.row("  wall", wall if wall else "n/a", "s")
        if m.get("first_image_wall"):
            table.row("  wall of the first image, start-up included", m["first_image_wall"], "s")
        if m.get("job_wall"):
            images = m.get("images")
            table.row(f"  wall of the whole run" + (f" ({fmt(images.median())} images)" if images else ""),
                      m["job_wall"], "s")
        budget_wall = m.get("first_image_wall") or wall
        if layers and budget_wall and layers.median() is not None and budget_wall.median() is not None:
            budget = layers.median() * FRAME_S + START_UP_S
            table.row("  layers x 1/120 s + 0.3 s", budget, "s")
            table.row("  wall / that", budget_wall.median() / budget, "", "<= 1.10",
                      verdict(budget_wall.median() <= 1.10 * budget))
        else:
            table.row("  wall / (layers x 1/120 s + 0.3 s)", "n/a", "", "<= 1.10", "n/a (layers not reported)")
        table.row("  CPU (user+system)", m.get("cpu") or "n/a", "s")
        table.row("  peak memory", m.get("peak_mem") or "n/a", "MB")
        for peer, _ in peers:
            for metric, label, limit in (("cpu", "CPU", 1 / 3), ("peak_mem", "peak memory", 1.0),
                                         ("wall", "wall", None)):
                r = ratios.get((f"ours / {peer}", s, image, metric))
                if r is None:
                    continue
                target, status = "", ""
                if peer == "PrusaSlicer" and limit is not None:
                    target = "<= 1/3" if limit < 1 else "< 1"
                    status = verdict(r.median() <= limit if limit < 1 else r.median() < limit)
                table.row(f"  {label}, ours / {peer}", r, "", target, status)
        if not any((f"ours / {peer}", s, image, "wall") in ratios for peer, _ in peers):
            table.note("  ratios to the peers: n/a (no peer run at this layer height)")
        elif image == OURS_TABLE_KEY and exported:
            table.note(f"  (ratios: against the peers' median over {', '.join(exported)}, run by run)")
        elif image not in stls:
            table.note(f"  (the peers slice {', '.join(stls)}, not this image's own mesh: its STL is not exported yet)")
    if display_cpu and any(v.values and v.hi() > 0 for v in display_cpu.values()):
        for s, v in display_cpu.items():
            if v.values:
                table.row(f"virtual display's CPU during one job, {s:g} mm (not counted above)", v, "s")

    table.section("Peers on the same insole (fully dense, 1 perimeter, line spacing = nozzle "
                  f"{args.nozzle:g} mm, no support/skirt/brim, bed 300 x 360, centred)")
    if not stls:
        table.note("n/a: no insole STL to slice")
    for image, stl in stls.items():
        how = " (the insole model the program builds from the sample foot, written by its STL writer)" \
            if image in exported else ""
        table.note(f"insole {image}: {stl}{how}")
    if not peers:
        table.note("n/a: neither prusa-slicer nor CuraEngine is available")
    for s in spacings:
        for image in stls:
            for peer, _ in peers:
                st = peer_stats.get((peer, s, image))
                layers = peer_layers.get((peer, s, image))
                label = f"{peer}, {s:g} mm" + (f", {layers} layers" if layers else "")
                if not st:
                    table.row(label, "n/a", "", "", "failed (see below)")
                    continue
                table.row(f"{label}: wall", st["wall"], "s")
                table.row(f"{label}: CPU (user+system)", st["cpu"], "s")
                table.row(f"{label}: peak memory", st["peak_mem"], "MB")
            for metric, unit in (("wall", ""), ("cpu", ""), ("peak_mem", "")):
                r = ratios.get(("CuraEngine / PrusaSlicer", s, image, metric))
                if r:
                    table.row(f"CuraEngine / PrusaSlicer, {s:g} mm: {metric}", r, unit)

    table.section("Fitmire insole rebuild (bench_fitmire_rebuild)")
    fr = fig("fitmire_rebuild", "median", "p50", "median_ms")
    if fr:
        table.row("rebuild, median", fr, "ms", "<= 20 ms", verdict(fr.median() <= 20))
        for metric in ("min", "max", "p99"):
            s_ = fig("fitmire_rebuild", metric)
            if s_:
                table.row(f"rebuild, {metric} in a run", s_, "ms")
    else:
        table.row("rebuild", "n/a", "", "<= 20 ms", "n/a (bench_fitmire_rebuild not built yet)"
                  if "bench_fitmire_rebuild" not in programs else "n/a (no figure; see failures)")

    table.section("Hostlet idle")
    if idle_cpu:
        table.note(f"the Hostlet program in a fresh station root under Xvfb, its web service not answering;")
        table.note(f"{runs} windows of {idle_window:g} s after 5 s")
        table.row("Hostlet CPU per minute idle", idle_cpu, "s", "<= 0.6 s (1 % of one core)",
                  verdict(idle_cpu.median() <= 0.6))
        table.row("Hostlet peak memory (VmHWM)", idle_peak if idle_peak is not None else "n/a", "MB")
    else:
        table.row("Hostlet CPU per minute idle", "n/a", "", "<= 0.6 s (1 % of one core)", f"n/a ({idle_problem})")
    hi = fig("hostlet_idle", "cpu_per_min", "cpu_per_minute")
    derived = hi is None and fig("hostlet_idle", "tick_cpu_per_min")
    if derived:
        hi = derived
    hm = fig("hostlet_idle", "peak_mem", "peak_memory")
    if hi or hm:
        table.note("bench_hostlet_idle" + (": one idle scheduler tick x 7200 ticks a minute (no event loop)" if derived else ""))
        table.row("scheduler CPU per minute idle", hi or "n/a", "s", "<= 0.6 s",
                  verdict(hi.median() <= 0.6) if hi else "n/a")
        if hm:
            table.row("peak memory", hm, "MB")
        for key in [k for k in order if k[0] == "hostlet_idle" and k[1].startswith("tick_ns_")]:
            table.row(f"idle tick, {key[1][8:].replace('_', ' ')}", figures[key], "ns")
    else:
        table.note("bench_hostlet_idle: " + ("not built yet" if "bench_hostlet_idle" not in programs
                                             else "no figure; see failures"))

    shown = {"engine_layers": {"p50", "p50_ms", "p99", "p99_ms", "layers_per_s", "layers_per_second", "layers"},
             "fitmire_rebuild": {"median", "p50", "median_ms", "min", "max", "p99"},
             "hostlet_idle": {"cpu_per_min", "cpu_per_minute", "peak_mem", "peak_memory", "tick_cpu_per_min"}}
    others = [k for k in order if k[1] not in shown.get(k[0], set())
              and not (k[0] == "hostlet_idle" and k[1].startswith("tick_ns_"))]
    if others:
        table.section("Other figures the bench programs printed")
        for k in others:
            table.row(f"{k[0]} {k[1]}", figures[k], units.get(k, ""))
    proc_rows = [(k[0], v) for k, v in figures.items() if k[1] == "__process_peak_mb" and v.values]
    if proc_rows:
        table.section("Peak memory of each bench process")
        for prog, v in proc_rows:
            table.row(prog, v, "MB")

    table.section("G-code checks (every file written, warm-up included)")
    if not checks:
        table.note("none: no G-code was written")
    by_file = {}
    for what, ok, msg in checks:
        f = by_file.setdefault(what.replace(" (warm-up)", ""), {"ok": 0, "failed": 0, "ok_msg": "", "bad_msg": ""})
        f["ok" if ok else "failed"] += 1
        f["ok_msg" if ok else "bad_msg"] = f["ok_msg" if ok else "bad_msg"] or msg
    for what, f in by_file.items():
        if f["failed"]:
            table.note(f"FAILED {f['failed']} of {f['ok'] + f['failed']}: {what}: {f['bad_msg']}")
        else:
            table.note(f"ok {f['ok']} of {f['ok']}: {what}: {f['ok_msg']}")

    if failures:
        table.section("Programs that did not finish")
        counted = {}
        for what, msg in failures:
            counted[(what, msg)] = counted.get((what, msg), 0) + 1
        for (what, msg), n in counted.items():
            table.note(f"{what}: {msg}" + (f" ({n} times)" if n > 1 else ""))
    table.print()
    print()
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except KeyboardInterrupt:
        sys.exit(130)
