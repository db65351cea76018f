// A station laid out in a temporary directory, a fake clock, a recording
// window side and recording program hooks, for driving the server headless.
#pragma once

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "common/file_util.h"
#include "platform/platform.h"
#include "station/server_state.h"
#include "tests/support/fake_service.h"
#include "tests/support/gl_context.h"

namespace stationtest {

// Milliseconds; far from 0 so a stopwatch never started reads as long ago.
inline int64_t& fake_now() { static int64_t now = 100000000; return now; }
inline int64_t fake_counter() { return fake_now(); }
inline void advance_ms(int64_t ms) { fake_now() += ms; }

class RecordingUi : public station::ServerUi {
public:
    void add_log_line(const std::string& line) override { lines.push_back(line); }
    void select_last_line() override { ++selects; }
    void set_net_status(bool online) override { net_status = online ? "ON" : "OFF"; }
    void set_net_countdown(double s) override { net_countdown = s; }
    void set_file_countdown(double s) override { file_countdown = s; }
    bool has_line(const std::string& prefix) const {
        for (const auto& l : lines)
            if (l.compare(0, prefix.size(), prefix) == 0) return true;
        return false;
    }
    std::vector<std::string> lines;
    int selects = 0;
    std::string net_status = "OFF";
    double net_countdown = -1, file_countdown = -1;
};

inline std::string read_all(const std::string& path) {
    std::string s;
    common::read_file(path, s);
    return s;
}

inline void write_all(const std::string& path, const std::string& data) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(f) << path;
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
}

inline std::vector<std::string> names_in(const std::string& dir) { return platform::find_files(dir, "*"); }

// The station's directories under a temp root, the fake service, and a
// server state wired to both.
class StationTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = tmp.path();
        insole = root + "/insole";
        files = root + "/VerdanelFiles";
        for (const std::string& d : {insole, files, files + "/temp", files + "/output", files + "/Hostlet"})
            mkdir(d.c_str(), 0777);
        setenv("STATION_INSOLE_DIR", insole.c_str(), 1);
        setenv("STATION_FILES_DIR", files.c_str(), 1);
        fake_now() = 100000000;
    }

    // Starts the fake service and writes a station.conf trusting its certificate.
    void start_service(const std::string& extra_conf = "",
                       const std::string& cert_names = "IP:127.0.0.1,DNS:localhost") {
        mkdir((root + "/svc").c_str(), 0777);
        service.reset(new testsupport::FakeService(root + "/svc", cert_names));
        ASSERT_TRUE(service->running());
        write_conf("key_number = 4242\nservice_url = " + service->base_url() + "\nca_file = " +
                   service->cert_path() + "\n" + extra_conf);
    }

    void TearDown() override {
        for (auto it = mounts.rbegin(); it != mounts.rend(); ++it) umount2(it->c_str(), MNT_DETACH);
    }
    // A small tmpfs over dir (root only); false when the machine does not
    // allow it. Undone at TearDown; remount(dir, MS_RDONLY) makes it read-only.
    bool mount_small(const std::string& dir) {
        if (mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=64k") != 0) return false;
        mounts.push_back(dir);
        return true;
    }
    bool remount(const std::string& dir, unsigned long flags) {
        return mount("tmpfs", dir.c_str(), "tmpfs", MS_REMOUNT | flags, "size=64k") == 0;
    }

    void write_conf(const std::string& text) { write_all(files + "/Hostlet/station.conf", text); }

    // A server as the entrance view builds it, with the fake clock, the
    // recording window and hooks that only note what they were asked.
    void make_server() {
        state.reset(new station::ServerState(&fake_counter, 1000));
        state->ui = &ui;
        state->transfer.retry_pause_ms = 1;
        state->transfer.connect_timeout_ms = 2000;
        state->transfer.stall_seconds = 1;
        state->hooks.start_program = [this](const std::string& p) {
            started.push_back(p);
            return true;
        };
        state->hooks.find_window = [this](const std::string& title) {
            looked_for.push_back(title);
            return window_open ? platform::WindowHandle(42) : platform::WindowHandle(0);
        };
        state->hooks.raise_window = [this](platform::WindowHandle w) {
            raised.push_back(w);
            return true;
        };
        state->hooks.pause = [this](int ms) { pauses.push_back(ms); };
        if (move_hook) state->hooks.move = move_hook;
        station::init_server(*state);
    }

    void add_program(const std::string& name) { write_all(files + "/Hostlet/" + name, "#!/bin/sh\n"); }
    // name as a program that runs until `hold` is removed, started and
    // watched by the platform's own hooks (and noted in `started`).
    void add_holding_program(const std::string& name, const std::string& hold) {
        const std::string path = files + "/Hostlet/" + name;
        write_all(hold, "");
        write_all(path, "#!/bin/sh\nwhile [ -e '" + hold + "' ]; do sleep 0.02; done\n");
        chmod(path.c_str(), 0755);
        real_hooks = station::platform_hooks();
        state->hooks.start_program = [this](const std::string& p) { return started.push_back(p), real_hooks.start_program(p); };
        state->hooks.program_running = real_hooks.program_running;
    }
    void end_holding_program(const std::string& name, const std::string& hold) {
        std::remove(hold.c_str());
        for (int i = 0; i < 250 && real_hooks.program_running(files + "/Hostlet/" + name); ++i) usleep(20000);
    }

    testsupport::TempDir tmp;
    std::string root, insole, files;
    std::unique_ptr<testsupport::FakeService> service;
    std::unique_ptr<station::ServerState> state;
    RecordingUi ui;
    std::vector<std::string> started, looked_for;
    std::vector<platform::WindowHandle> raised;
    std::vector<int> pauses;
    bool window_open = false;
    platform::MoveFn move_hook = nullptr;  // in place of the file moves, from the start
    station::ServerHooks real_hooks;
    std::vector<std::string> mounts;
};

}  // namespace stationtest
