// The scheduler driven tick by tick on a fake clock: job mode, insole-data
// mode and its pacing, the internet check, and the file cycle with its image
// list (Bmp_List.txt: the waiting images' names, CR LF between them).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>

#include "station/bmp_list.h"
#include "station/scheduler.h"
#include "station/transfer.h"
#include "tests/station/station_fixture.h"

namespace {

using stationtest::advance_ms;
using stationtest::read_all;
using stationtest::write_all;
using testsupport::answer;

const std::string kJob = "/Mirel/getPrintToken.php";
const std::string kInsole = "/Mirel/servlet/getOrbaneInsole.php";

class Scheduler : public stationtest::StationTest {
protected:
    void online_server() {
        start_service();
        make_server();
        ASSERT_TRUE(station::check_internet(*state));
        EXPECT_EQ(ui.net_status, "ON");
    }
    void tick(int64_t after_ms = 8) {
        advance_ms(after_ms);
        station::server_tick(*state);
    }
    size_t calls(const std::string& path) { return service->count(path); }
};

// The job endpoint is asked on every tick until its first 200, and then
// never again; the reply's sleep paces the insole-data calls.
TEST_F(Scheduler, JobModeAsksEveryTickThenSwitchesOnFirst200AndSleepPacesInsoleDataCalls) {
    online_server();
    service->set_default(kJob, answer(200, R"({"resultCode":500})"));
    for (int i = 0; i < 3; ++i) tick();
    EXPECT_EQ(calls(kJob), 3u);
    EXPECT_FALSE(state->insole_mode);
    EXPECT_NEAR(ui.net_countdown, 17.0, 0.05) << "the poll watch restarts on every call";

    service->push(kJob, answer(200, R"({"resultCode":200,"sleep":3,"printid":0})"));
    service->set_default(kInsole, answer(200, R"({"resultCode":"404"})"));
    tick();
    ASSERT_TRUE(state->insole_mode);
    tick(2900);
    EXPECT_EQ(calls(kInsole), 0u);
    EXPECT_NEAR(ui.net_countdown, 3.0 - 2.9, 0.01);
    tick(200);
    EXPECT_EQ(calls(kInsole), 1u);
    tick(2500);
    EXPECT_EQ(calls(kInsole), 1u);
    tick(600);
    EXPECT_EQ(calls(kInsole), 2u);
    EXPECT_EQ(calls(kJob), 4u) << "the job endpoint is not asked again";
}

// Offline no call is made, yet the file cycle runs; insole/ deleted while
// the server runs is made again, with one line.
TEST_F(Scheduler, OfflineMakesNoCallButRunsTheFileCycle) {
    start_service("check_url = https://127.0.0.1:1\n");
    make_server();
    service->set_default(kJob, answer(200, R"({"resultCode":200,"sleep":0,"printid":0})"));
    EXPECT_FALSE(station::check_internet(*state));
    EXPECT_EQ(ui.net_status, "OFF");
    write_all(files + "/output/readme.txt", "x");
    ASSERT_EQ(rmdir(insole.c_str()), 0);
    for (int i = 0; i < 5; ++i) tick();
    tick(5100);  // a check is due and fails again
    tick(8100);
    tick(8100);
    EXPECT_TRUE(service->requests().empty());
    EXPECT_EQ(ui.net_countdown, -1) << "the countdown keeps its last value offline";
    EXPECT_EQ(ui.lines, std::vector<std::string>{"Folder " + insole + " was missing: made again"});
    EXPECT_TRUE(started.empty());
    EXPECT_FALSE(common::file_exists(insole + "/Bmp_List.txt"));
    EXPECT_EQ(platform::current_dir(), insole);
    EXPECT_FALSE(common::file_exists(files + "/output/readme.txt"));
    // No image waiting leaves an older list as it is; no folder is nothing waiting.
    write_all(insole + "/Bmp_List.txt", "old.bmp");
    tick(8100);
    EXPECT_EQ(read_all(insole + "/Bmp_List.txt"), "old.bmp");
    setenv("STATION_INSOLE_DIR", (root + "/gone").c_str(), 1);
    EXPECT_EQ(station::write_bmp_list(), station::BmpList::none_waiting);
}

TEST_F(Scheduler, InternetCheckEveryFiveSecondsStrictly) {
    online_server();
    service->set_default(kJob, answer(200, R"({"resultCode":200,"sleep":60,"printid":0})"));
    tick();  // switches to insole-data mode
    state->online = false;
    ui.net_status = "?";
    tick(5000 - 8);
    EXPECT_EQ(ui.net_status, "?") << "exactly 5 s is not yet due";
    tick(1);
    EXPECT_EQ(ui.net_status, "ON");
    EXPECT_TRUE(state->online);
}

// Roots given relative to the directory the server starts in, the CA file
// relative to the server directory: the file cycles change directory, and
// still every one finds the station and the service.
TEST_F(Scheduler, FileCycleListsImagesAndStartsStrandelWithRelativeRootsToo) {
    ASSERT_EQ(chdir(root.c_str()), 0);
    setenv("STATION_INSOLE_DIR", "insole", 1);
    setenv("STATION_FILES_DIR", "./VerdanelFiles/", 1);
    start_service();
    write_all(files + "/Hostlet/service.pem", read_all(service->cert_path()));
    write_conf("key_number = 4242\nservice_url = " + service->base_url() + "\nca_file = service.pem\n");
    make_server();
    EXPECT_EQ(state->config.ca_file, root + "/./VerdanelFiles/Hostlet/service.pem");
    ASSERT_TRUE(station::check_internet(*state));
    EXPECT_EQ(std::string(getenv("STATION_FILES_DIR")), root + "/./VerdanelFiles/") << "for the programs it starts";
    service->set_default(kJob, answer(200, R"({"resultCode":200,"sleep":60,"printid":0})"));
    service->set_default("/Mirel/servlet/braceRecord.php", answer(200, "ok"));
    for (const char* n : {"b.bmp", "a.bmp", "notes.txt"}) write_all(insole + "/" + n, "x");
    for (int cycle = 1; cycle <= 2; ++cycle) {
        SCOPED_TRACE(cycle);
        write_all(files + "/output/A12_36-L.gcode." + std::to_string(cycle), "x");
        tick(4000);
        EXPECT_NEAR(ui.file_countdown, 4.0, 0.01);
        EXPECT_EQ(started.size(), static_cast<size_t>(cycle - 1));
        tick(4100);
        EXPECT_EQ(read_all(insole + "/Bmp_List.txt"), "a.bmp\r\nb.bmp");
        EXPECT_FALSE(common::file_exists(insole + "/Bmp_List.txt.tmp"));
        ASSERT_EQ(started.size(), static_cast<size_t>(cycle));
        EXPECT_EQ(started.back(), root + "/./VerdanelFiles/Hostlet/Strandel");
        EXPECT_EQ(platform::current_dir(), root + "/VerdanelFiles/Hostlet");
        EXPECT_EQ(service->count("/Mirel/servlet/braceRecord.php"), static_cast<size_t>(cycle));
        EXPECT_TRUE(stationtest::names_in(files + "/output").empty());
        tick();
        EXPECT_NEAR(ui.file_countdown, 8.0 - 0.008, 0.001) << "the file watch restarted";
        remove((insole + "/Bmp_List.txt").c_str());
    }
}

// Strandel reads its list only as it starts: on a full disk it is not
// started, the log list says why once, and the next cycle with room writes
// the list and starts it.
TEST_F(Scheduler, ImageListThatCannotBeWrittenHoldsStrandelBackUntilItIs) {
    if (!mount_small(insole)) GTEST_SKIP() << "no tmpfs can be mounted here (root needed)";
    write_conf("key_number = 1\nservice_url = https://127.0.0.1:1\n");
    make_server();
    write_all(insole + "/a.bmp", "x");
    write_all(insole + "/filler", std::string(128 * 1024, 'x'));  // written till the disk is full
    tick(8100);
    tick(8100);
    EXPECT_TRUE(started.empty());
    EXPECT_FALSE(common::file_exists(insole + "/Bmp_List.txt"));
    EXPECT_EQ(ui.lines, std::vector<std::string>{
                            "Bmp_List.txt cannot be written (disk full or read-only?): Strandel waits until it can"});
    std::remove((insole + "/filler").c_str());
    tick(8100);
    EXPECT_EQ(read_all(insole + "/Bmp_List.txt"), "a.bmp");
    EXPECT_EQ(started.size(), 1u);
}

// Strandel is not started beside one running: a window titled "Strandel",
// or the one this server started, known by its process even once its version
// menu has retitled its window. Once that has ended, the next cycle starts one.
TEST_F(Scheduler, StrandelIsNotStartedBesideOneRunning) {
    write_conf("key_number = 1\nservice_url = https://127.0.0.1:1\n");
    make_server();
    add_holding_program("Strandel", root + "/hold");
    write_all(insole + "/a.bmp", "x");
    window_open = true;
    testing::internal::CaptureStdout();
    tick(8100);
    const std::string out = testing::internal::GetCapturedStdout();
    // The console is UTF-8 here, so the Chinese line comes out as UTF-8.
    EXPECT_NE(out.find("Strandel 視窗執行中\n"), std::string::npos) << out;
    EXPECT_EQ(looked_for, std::vector<std::string>{"Strandel"});
    window_open = false;
    tick(8100);
    tick(8100);
    EXPECT_EQ(started.size(), 1u);
    end_holding_program("Strandel", root + "/hold");
    tick(8100);
    EXPECT_EQ(started.size(), 2u);
}

// A missing or malformed station.conf is reported, and no call is made.
TEST_F(Scheduler, MissingOrMalformedConfigMakesNoCall) {
    for (const char* said : {"station.conf: cannot read", "station.conf line 3: key 'tls_verify'"}) {
        make_server();
        EXPECT_FALSE(state->config_ok);
        EXPECT_TRUE(ui.has_line(said));
        EXPECT_FALSE(station::check_internet(*state));
        EXPECT_EQ(ui.net_status, "OFF");
        write_conf("key_number = 1\nservice_url = https://127.0.0.1:1\ntls_verify = 2\n");
    }
}

}  // namespace
