// The station under load for SOAK_SECONDS (default 600): one Hostlet runs the
// whole time against a stand-in service that keeps handing out insole jobs
// and record uploads, with slow replies, dropped connections, server errors,
// a half-written image in the insole directory and the service down for a
// while; beside it a second station root runs one Hostlet after another on
// bracing, slipper and cancelled jobs (the job endpoint is asked only until
// its first accepted reply) with failing and cut-off downloads. At the end
// every insole job must have both G-code files complete and nothing else in
// the G-code directory, every record file must have been taken by the
// service exactly once or still wait, no program may have crashed, and the
// long-running Hostlet's resident memory must be within 10 % of its value
// after the first minute. The figures are printed as a table.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <set>

#include "tests/e2e/station_harness.h"
#include "tests/support/fake_service.h"

using namespace station_harness;
using testsupport::answer;
using testsupport::FakeResponse;
using testsupport::FakeService;
using Clock = std::chrono::steady_clock;

namespace {

double env_seconds(const char* name, double fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::atof(v) : fallback;
}

double since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

FakeResponse dropped(const std::string& body, size_t keep) {
    FakeResponse r = answer(200, body);
    r.truncate_at = keep;
    return r;
}

size_t count_bmps(const std::string& dir) {
    size_t n = 0;
    for (const std::string& name : Station::names_in(dir)) n += fs::path(name).extension() == ".bmp";
    return n;
}

// The records of one upload body: the numbers of its items.
std::vector<int> record_numbers(const std::string& body) {
    std::vector<int> out;
    const std::string key = "\"no\":\"";
    for (size_t at = body.find(key); at != std::string::npos; at = body.find(key, at + 1))
        out.push_back(std::atoi(body.c_str() + at + key.size()));
    return out;
}

using Faults = std::map<std::string, int>;  // injected faults by kind

// The second station root: one Hostlet per job, one job kind after another.
class JobRunner {
public:
    JobRunner(ProcessWatch& watch) : watch_(watch), svc_(st_.root) {
        ok_ = st_.ok && svc_.running();
        if (!ok_) return;
        st_.configure(svc_.base_url(), svc_.cert_path(), 9002);
        svc_.set_default(kInsolePath, answer(200, no_insole_data()));
        svc_.set_default(kJobPath, answer(200, no_job(30)));
        svc_.set_default(kRecordPath, answer(200, "{\"resultCode\":200}"));
    }
    bool ok() const { return ok_; }
    bool idle() const { return pid_ <= 0; }

    // Ends a run whose files are there (or whose download was given up, or
    // that has had 60 s) and checks it; starts the next when allowed.
    void step(Faults& f, bool may_start) {
        if (pid_ <= 0) {
            if (may_start) start_run(f);
            return;
        }
        bool done = kind_ == "give-up" ? svc_.count(path_a_) >= 3 : true;
        for (const std::string& p : expect_files_) done = done && fs::exists(p);
        if (!done && since(started_) <= 60) return;
        const std::string run = "run " + std::to_string(run_) + " (" + kind_ + "): ";
        kill(pid_, SIGTERM);
        Ended e;
        if (!watch_.wait(pid_, 15, &e)) {
            kill(pid_, SIGKILL), watch_.wait(pid_, 5);
            problems.push_back(run + "Hostlet did not end on SIGTERM");
        } else if (e.crashed() || (WIFEXITED(e.status) && WEXITSTATUS(e.status) != 0)) {
            problems.push_back(run + "Hostlet " + e.how());
        }
        pid_ = -1;
        ++runs, ++by_kind[kind_];
        const size_t before = problems.size();
        for (size_t i = 0; i < expect_files_.size(); ++i)
            if (!fs::exists(expect_files_[i]) || slurp(expect_files_[i]) != expect_body_[i])
                problems.push_back(run + expect_files_[i] + (fs::exists(expect_files_[i]) ? " not whole" : " missing"));
        if (kind_ == "give-up" && fs::exists(st_.files + "/C" + std::to_string(run_) + "_missing.gcode"))
            problems.push_back(run + "a file the service never had appeared");
        if (!Station::names_in(st_.temp).empty()) problems.push_back(run + "files left in temp/");
        good += problems.size() == before;
    }

    int runs = 0, good = 0;
    std::map<std::string, int> by_kind;
    std::vector<std::string> problems;

private:
    void start_run(Faults& f) {
        const std::string n = std::to_string(++run_);
        static const char* kinds[] = {"bracing", "slipper", "cancel", "give-up"};
        kind_ = kinds[(run_ - 1) % 4];
        expect_files_.clear();
        expect_body_.clear();
        // A fault on the job reply first: the next tick asks again.
        switch (run_ % 4) {
        case 1: svc_.push(kJobPath, answer(200, no_job(30), 2500)), ++f["slow"]; break;
        case 2: svc_.push(kJobPath, dropped(job_reply(1, "C1", "x", "x", "", 30), 20)), ++f["dropped"]; break;
        case 3: svc_.push(kJobPath, answer(500, "oops")), ++f["500"]; break;
        default: break;
        }
        const std::string mobile = "09" + std::string(8 - std::min<size_t>(8, n.size()), '0') + n;
        const int printid = 5000 + run_;
        if (kind_ == "bracing") {
            path_a_ = "/Mirel/brace/C" + n + "_brace.gcode";
            const std::string g = service_gcode("brace " + n, 1500 + run_ * 7);
            svc_.push(kJobPath, answer(200, job_reply(printid, "C" + n, mobile, path_a_.substr(7), "", 30)));
            svc_.push(path_a_, answer(404, "not yet")), ++f["404"];
            svc_.set_default(path_a_, answer(200, g));
            expect_files_ = {st_.files + "/C" + n + "_brace.gcode"};
            expect_body_ = {g};
        } else if (kind_ == "slipper") {
            path_a_ = "/Mirel/sl/" + n + "L.gcode";
            const std::string path_b = "/Mirel/sl/" + n + "R.gcode";
            const std::string gl = service_gcode("slipper left " + n, 1200), gr = service_gcode("slipper right " + n, 1300);
            svc_.push(kJobPath, answer(200, job_reply(printid, "b001", mobile, path_a_.substr(7), path_b.substr(7), 30)));
            svc_.push(path_b, dropped(gr, gr.size() / 2)), ++f["cut"];
            svc_.set_default(path_a_, answer(200, gl));
            svc_.set_default(path_b, answer(200, gr));
            expect_files_ = {st_.files + "/" + mobile + "_iLeft.gcode", st_.files + "/" + mobile + "_iRight.gcode"};
            expect_body_ = {gl, gr};
        } else if (kind_ == "cancel") {
            svc_.push(kJobPath, answer(200, cancel_job(printid, mobile, "K" + n, 30)));
            for (const char* side : {"_iLeft.cancel", "_iRight.cancel"})
                expect_files_.push_back(st_.files + "/" + mobile + "_K" + n + side), expect_body_.push_back("");
        } else {
            // A file the service never has: the station keeps the job for later cycles and goes on.
            path_a_ = "/Mirel/brace/C" + n + "_missing.gcode";
            svc_.push(kJobPath, answer(200, job_reply(printid, "C" + n, mobile, path_a_.substr(7), "", 30)));
            svc_.set_default(path_a_, answer(404, "no such file"));
            f["404"] += 3;
        }
        started_ = Clock::now();
        pid_ = start_hostlet(st_, st_.root + "/hostlet.log");
    }

    ProcessWatch& watch_;
    Station st_;
    FakeService svc_;
    bool ok_ = false;
    pid_t pid_ = -1;
    int run_ = 0;
    std::string kind_, path_a_;
    std::vector<std::string> expect_files_, expect_body_;
    Clock::time_point started_;
};

TEST(StationSoak, WholeStationUnderLoadAndFaults) {
    const double duration = env_seconds("SOAK_SECONDS", 600);
    const double down_for = env_seconds("SOAK_DOWN_SECONDS", std::min(60.0, duration / 4));
    const double down_at = duration / 2;
    const double rss_at = std::min(60.0, duration / 2);
    if (!station_display().ok()) GTEST_SKIP() << "no Xvfb";
    ProcessWatch watch;

    // ---- the long-running station ----
    Station st;
    ASSERT_TRUE(st.ok) << "station root not laid out: are the three programs built?";
    // Thicker layers: more jobs through the path program in the time.
    put(st.server + "/va_spacing.txt", "0.500000");
    std::vector<testsupport::FakeRequest> served;  // requests of services already taken down
    std::unique_ptr<FakeService> svc(new FakeService(st.root));
    ASSERT_TRUE(svc->running());
    const int port = svc->port();
    st.configure(svc->base_url(), svc->cert_path(), 9001);
    auto bring_up = [&] {
        if (!svc) svc.reset(new FakeService(st.root, "IP:127.0.0.1,DNS:localhost", port));
        svc->set_default(kJobPath, answer(200, no_job(4)));
        svc->set_default(kInsolePath, answer(200, no_insole_data()));
        svc->set_default(kRecordPath, answer(200, "{\"resultCode\":200}"));
        return svc->running();
    };
    bring_up();

    Faults faults;
    // Faults on the job endpoint before the first job goes through.
    svc->push(kJobPath, answer(200, insole_job(1, "S0000", 4), 2500)), ++faults["slow"];
    svc->push(kJobPath, dropped(insole_job(1, "S0000", 4), 30)), ++faults["dropped"];
    svc->push(kJobPath, answer(500, "error")), ++faults["500"];
    svc->push(kJobPath, answer(200, "<html>busy</html>")), ++faults["not JSON"];
    svc->push(kJobPath, answer(200, "{\"resultCode\":0,\"sleep\":4,\"printid\":0}"));
    svc->push(kJobPath, answer(200, insole_job(1, "S0000", 4)));

    const std::string log = st.root + "/hostlet.log";
    const auto t0 = Clock::now();
    const pid_t hostlet = start_hostlet(st, log);
    ASSERT_GT(hostlet, 0);

    JobRunner runner(watch);
    ASSERT_TRUE(runner.ok());

    std::vector<std::string> jobs{"S0000"};  // job names (mobile) of the insole jobs
    enum class Phase { await_handoff, await_taken, ready } phase = Phase::await_handoff;
    bool data_pushed = false;  // the current job's insole data is queued
    size_t data_needs = 0;     // insole-data requests after which it has been handed out
    double data_pushed_at = 0, next_record = 2, half_done_at = 0;
    bool service_down = false, service_was_down = false, half_written = false, half_bad = false;
    long rss_first = -1;
    int record_seq = 0;
    std::set<int> records_made;
    std::vector<std::string> problems, extra_gcode;
    const std::string handoff = st.server + "/insole parameters.txt";
    const std::string half_image = slurp(std::string(STATION_SAMPLE_DIR) + "/foot_left_large_flat.bmp");
    const std::string half_path = st.insole + "/halfwritten_iLeft.bmp";

    auto push_data = [&](const std::string& name, int fault) {
        size_t queued = 1;
        switch (fault % 5) {
        case 1: svc->push(kInsolePath, answer(200, insole_data(name), 2500)), ++faults["slow"]; break;
        case 2: svc->push(kInsolePath, dropped(insole_data(name), 5)), ++faults["dropped"]; break;
        case 3: svc->push(kInsolePath, answer(500, "error")), ++faults["500"]; break;
        case 4: svc->push(kInsolePath, answer(200, "not json")), ++faults["not JSON"]; break;
        default: queued = 0; break;
        }
        svc->push(kInsolePath, answer(200, insole_data(name)));
        data_needs = svc->count(kInsolePath) + queued + 1;
        data_pushed = true;
        data_pushed_at = since(t0);
    };
    // Insole jobs one after another: the hand-off file (the first from the
    // job reply, later ones written here as the job poll writes it), then
    // the insole data that starts Fitmire on it.
    auto step_insole = [&](bool may_issue) {
        if (service_down) return;
        const bool waiting = fs::exists(handoff);
        if (phase == Phase::await_handoff) {
            if (waiting) phase = Phase::await_taken;
        } else if (phase == Phase::await_taken) {
            if (!waiting) {
                phase = Phase::ready;
            } else if (!data_pushed) {
                push_data(jobs.back(), static_cast<int>(jobs.size()));
            } else if (since(t0) - data_pushed_at > 30) {
                problems.push_back("job " + jobs.back() + ": hand-off file not taken 30 s after its data");
                push_data(jobs.back(), 0);
            }
        } else if (may_issue && count_bmps(st.insole) <= 4) {  // the path program a little behind, not far
            const std::string num = std::to_string(jobs.size());
            const std::string next = "S" + std::string(4 - num.size(), '0') + num;
            const int length = 240 + static_cast<int>(jobs.size() % 5) * 5;
            put(handoff + ".tmp", "left 0.25 " + std::to_string(length) + " 0 0 0 0 0 0\r\nright 0.3 " +
                                      std::to_string(length + 3) + " 0 0 0 0 0 0 " + next + "\r\n");
            fs::rename(handoff + ".tmp", handoff);
            jobs.push_back(next);
            data_pushed = false;
            phase = Phase::await_taken;
        }
    };

    while (since(t0) < duration) {
        const double t = since(t0);

        // The service goes down for a while, then comes back on its port.
        if (!service_was_down && !service_down && t >= down_at) {
            auto now = svc->requests();
            served.insert(served.end(), now.begin(), now.end());
            if (data_pushed && svc->count(kInsolePath) < data_needs) data_pushed = false;  // gone with it
            svc.reset();
            service_down = true;
        }
        if (service_down && t >= down_at + down_for) {
            ASSERT_TRUE(bring_up()) << "the stand-in service could not come back on port " << port;
            service_down = false;
            service_was_down = true;
            faults["down s"] = static_cast<int>(std::lround(down_for));
            data_needs = 0;
        }
        step_insole(true);

        // Record files keep coming; now and then the upload meets a fault.
        if (t >= next_record) {
            ++record_seq;
            put(st.output + "/R" + std::to_string(record_seq) + "_" + std::to_string(34 + record_seq % 10) + "-" +
                    (record_seq % 2 ? "L" : "R") + ".gcode.t" + std::to_string(record_seq),
                "");
            records_made.insert(record_seq);
            next_record = t + 3;
            if (svc && record_seq % 7 == 3) svc->push(kRecordPath, answer(500, "error")), ++faults["500"];
            if (svc && record_seq % 7 == 5) svc->push(kRecordPath, dropped("{\"resultCode\":200}", 3)), ++faults["dropped"];
            if (svc && record_seq % 11 == 6) svc->push(kRecordPath, answer(200, "{\"resultCode\":200}", 3000)), ++faults["slow"];
        }

        // A slow writer: half an image for 20 s, then the rest of it. No
        // G-code may come of the half; the whole one is an ordinary job.
        if (!half_written && t >= duration * 0.3) {
            put(half_path, half_image.substr(0, half_image.size() / 2));
            half_written = true;
            half_done_at = t + 20;
            ++faults["half image"];
        }
        if (half_written && half_done_at > 0) {
            half_bad = half_bad || fs::exists(st.files + "/halfwritten_iLeft.gcode");
            if (t >= half_done_at) {
                std::ofstream(half_path, std::ios::binary | std::ios::app) << half_image.substr(half_image.size() / 2);
                half_done_at = -1;
                extra_gcode.push_back("halfwritten_iLeft.gcode");
            }
        }

        if (rss_first < 0 && t >= rss_at) rss_first = rss_kb(hostlet);
        runner.step(faults, true);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }

    // ---- drain: no new work; let what is under way finish ----
    if (service_down) bring_up(), service_down = false;
    std::set<std::string> expected(extra_gcode.begin(), extra_gcode.end());
    for (const std::string& j : jobs) expected.insert({j + "_iLeft.gcode", j + "_iRight.gcode"});
    wait_until(
        [&] {
            runner.step(faults, false);
            step_insole(false);
            for (const std::string& g : expected)
                if (!fs::exists(st.files + "/" + g)) return false;
            return runner.idle() && !fs::exists(handoff);
        },
        300);
    // Let the path program finish with the refused image and the last record cycle go by.
    wait_until([&] { return !platform::find_window("Strandel") && count_bmps(st.insole) == 0; }, 60);
    std::this_thread::sleep_for(std::chrono::seconds(10));
    while (!runner.idle()) {
        runner.step(faults, false);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    const long rss_end = rss_kb(hostlet);
    const double total = since(t0);

    ASSERT_TRUE(close_window(kHostletTitle)) << "no Hostlet window";
    Ended hostlet_end{};
    const bool hostlet_ended = watch.wait(hostlet, 30, &hostlet_end);
    if (!hostlet_ended) kill(hostlet, SIGKILL), watch.wait(hostlet, 5);

    // Anything of ours still running now was left behind.
    int left_running = 0;
    for (const auto& e : fs::directory_iterator("/proc")) {
        const std::string pid = e.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        std::istringstream status(slurp("/proc/" + pid + "/status"));
        std::string line, name;
        long ppid = 0;
        while (std::getline(status, line)) {
            if (line.rfind("Name:", 0) == 0) name = line.substr(line.find_first_not_of(" \t", 5));
            if (line.rfind("PPid:", 0) == 0) ppid = std::atol(line.c_str() + 5);
        }
        if (ppid == getpid() && (name == "Fitmire" || name == "Strandel" || name == "Hostlet")) {
            ++left_running;
            problems.push_back("left running at the end: " + name + " (pid " + pid + ")");
            kill(std::atoi(pid.c_str()), SIGKILL);
        }
    }

    // ---- the figures ----
    int complete = 0;
    for (const std::string& g : expected) {
        std::string why;
        if (!fs::exists(st.files + "/" + g)) problems.push_back(g + " missing");
        else if (!complete_gcode(st.files + "/" + g, &why)) problems.push_back(why);
    }
    for (const std::string& j : jobs)
        complete += complete_gcode(st.files + "/" + j + "_iLeft.gcode") && complete_gcode(st.files + "/" + j + "_iRight.gcode");
    int others = 0;
    for (const std::string& n : Station::names_in(st.files))
        if (!expected.count(n)) ++others, problems.push_back("not expected in the G-code directory: " + n);
    for (const std::string& n : Station::names_in(st.temp)) ++others, problems.push_back("left in temp/: " + n);

    std::map<int, int> taken;  // record number -> uploads the service took
    int upload_requests = 0;
    if (svc) {
        auto now = svc->requests();
        served.insert(served.end(), now.begin(), now.end());
    }
    for (const auto& r : served) {
        if (r.path != kRecordPath) continue;
        ++upload_requests;
        if (r.status != 200) continue;  // a 200 cut off after its header was still taken
        for (int no : record_numbers(r.body)) ++taken[no];
    }
    std::set<int> waiting;
    for (const std::string& n : Station::names_in(st.output))
        if (n.size() > 1 && n[0] == 'R') waiting.insert(std::atoi(n.c_str() + 1));
    int once = 0, twice = 0, lost = 0, still = 0;
    for (int no : records_made) {
        const int k = taken.count(no) ? taken[no] : 0;
        if (k == 1 && !waiting.count(no)) ++once;
        else if (k == 0 && waiting.count(no)) ++still;
        else if (k == 0) ++lost;
        else ++twice;
    }

    int crashes = 0;
    std::map<std::string, int> ended_count;
    for (const Ended& e : watch.ended()) {
        ++ended_count[e.program];
        const bool ours = e.program == "Fitmire" || e.program == "Strandel" || e.program == "Hostlet";
        if (e.crashed() || (ours && WIFEXITED(e.status) && WEXITSTATUS(e.status) != 0))
            ++crashes, problems.push_back("crashed or failed: " + e.program + " (pid " + std::to_string(e.pid) + "): " + e.how());
    }
    const double rss_change = rss_first > 0 ? 100.0 * (rss_end - rss_first) / rss_first : 0;
    problems.insert(problems.end(), runner.problems.begin(), runner.problems.end());

    const auto n = [](long v) { return std::to_string(v); };
    char rss[96];
    std::snprintf(rss, sizeof rss, "%ld kB at %.0f s, %ld kB at end (%+.1f %%)", rss_first, rss_at, rss_end, rss_change);
    std::string fault_text;
    for (const auto& [kind, count] : faults) fault_text += (fault_text.empty() ? "" : ", ") + kind + " " + n(count);
    const struct {
        std::string what, value;
        bool ok;
    } rows[] = {
        {"insole jobs (Fitmire + Strandel through Hostlet)", n(jobs.size()), true},
        {"  with both G-code files complete", n(complete) + " of " + n(jobs.size()), complete == int(jobs.size())},
        {"  other files in the G-code directory or temp/", n(others), others == 0},
        {"image written slowly: G-code only once whole",
         extra_gcode.empty() ? "not reached" : half_bad ? "G-code made from the half" : "yes",
         !extra_gcode.empty() && !half_bad},
        {"job runs on a fresh Hostlet (bracing/slipper/cancel/give-up)",
         n(runner.by_kind["bracing"]) + "/" + n(runner.by_kind["slipper"]) + "/" + n(runner.by_kind["cancel"]) + "/" +
             n(runner.by_kind["give-up"]), true},
        {"  runs with their files whole (or given up)", n(runner.good) + " of " + n(runner.runs), runner.good == runner.runs},
        {"record files made", n(records_made.size()), true},
        {"  taken by the service exactly once", n(once), true},
        {"  still waiting in output/", n(still), true},
        {"  taken twice or more", n(twice), twice == 0},
        {"  lost (neither taken nor waiting)", n(lost), lost == 0},
        {"  upload requests", n(upload_requests), true},
        {"programs ended (Hostlet/Fitmire/Strandel)",
         n(ended_count["Hostlet"]) + "/" + n(ended_count["Fitmire"]) + "/" + n(ended_count["Strandel"]), true},
        {"  crashed or failed", n(crashes), crashes == 0},
        {"  left running at the end (then killed)", n(left_running), left_running == 0},
        {"long-running Hostlet closed by its window", hostlet_ended ? hostlet_end.how() : "still running",
         hostlet_ended && hostlet_end.clean()},
        {"Hostlet resident memory", rss, rss_first > 0 && std::fabs(rss_change) <= 10.0},
        {"faults injected", fault_text, true},
    };
    std::printf("\nstation soak: %.0f s of work, %.0f s in all (service down %.0f s from %.0f s)\n", duration, total,
                down_for, down_at);
    std::printf("| %-60s | %-44s | %-4s |\n|%s|%s|%s|\n", "figure", "value", "", std::string(62, '-').c_str(),
                std::string(46, '-').c_str(), std::string(6, '-').c_str());
    for (const auto& r : rows) {
        std::printf("| %-60s | %-44s | %-4s |\n", r.what.c_str(), r.value.c_str(), r.ok ? "ok" : "FAIL");
        if (!r.ok) ADD_FAILURE() << r.what << ": " << r.value;
    }
    std::printf("\n");
    std::fflush(stdout);
    for (const std::string& p : problems) ADD_FAILURE() << p;
    if (std::getenv("SOAK_KEEP_LOG")) fs::copy_file(log, std::getenv("SOAK_KEEP_LOG"), fs::copy_options::overwrite_existing);
}

}  // namespace
