// The built Hostlet program against the stand-in service: it polls at once,
// hands an insole job to Formlet and then starts Fitmire for the insole data.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "station/records.h"
#include "tests/station/station_fixture.h"

// Last: Xlib's macros would clash with the test framework's names.
#include <X11/Xlib.h>

namespace {

using stationtest::read_all;
using stationtest::write_all;
using testsupport::answer;

class HostletProgram : public stationtest::StationTest {
protected:
    void TearDown() override {
        if (pid > 0) {
            kill(pid, SIGTERM);
            int status = 0;
            waitpid(pid, &status, 0);
        }
        StationTest::TearDown();
    }
    void script(const std::string& name, const std::string& body) {
        const std::string path = files + "/Hostlet/" + name;
        write_all(path, "#!/bin/sh\n" + body + "\n");
        chmod(path.c_str(), 0755);
    }
    template <class Done>
    bool wait_for(Done done, int seconds) {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (!done() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return done();
    }
    const std::string exe = std::string(STATION_BINARY_DIR) + "/station/Hostlet";
    bool runnable() const { return access(exe.c_str(), X_OK) == 0 && std::getenv("DISPLAY"); }
    pid_t start_hostlet(const std::string& log_name = "hostlet.log") {
        const pid_t p = fork();
        if (p == 0) {
            if (chdir(root.c_str()) != 0) _exit(126);
            FILE* log = std::freopen((root + "/" + log_name).c_str(), "w", stdout);
            (void)log;
            execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        if (log_name == "hostlet.log") pid = p;
        return p;
    }
    pid_t pid = -1;
};

TEST_F(HostletProgram, PollsHandsOverAndStartsTheScaler) {
    if (!runnable()) GTEST_SKIP() << "Hostlet not built, or no display";
    start_service();
    service->push("/Mirel/getPrintToken.php",
                  answer(200, R"({"resultCode":200,"token":"t","sdate":"s","edate":"e","sleep":1,"printid":8,)"
                              R"("type":"A001","bmpfile":"o/13800_8.bmp","mobile":"13800","left":"255 3","right":"250 4"})"));
    service->set_default("/Mirel/servlet/getOrbaneInsole.php", answer(200, R"({"resultCode":"200","ldata":[]})"));
    script("Formlet", "touch \"$STATION_FILES_DIR/formlet.ran\"");
    script("Fitmire", "pwd > \"$STATION_FILES_DIR/fitmire.cwd\"");

    start_hostlet();
    ASSERT_TRUE(wait_for([&] { return common::file_exists(files + "/fitmire.cwd"); }, 30)) << read_all(root + "/hostlet.log");
    EXPECT_TRUE(common::file_exists(files + "/formlet.ran"));
    EXPECT_EQ(read_all(files + "/Hostlet/insole parameters.txt"), "left 255 3\r\nright 250 4 13800\r\n");
    EXPECT_EQ(read_all(files + "/fitmire.cwd"), files + "/Hostlet\n");
    EXPECT_EQ(read_all(files + "/Hostlet/insole_info_type4.txt"), R"({"resultCode":"200","ldata":[]})");
    EXPECT_EQ(service->count("/Mirel/getPrintToken.php"), 1u);
    const std::string log = read_all(root + "/hostlet.log");
    EXPECT_NE(log.find("system_path:" + root), std::string::npos) << log;
    EXPECT_NE(log.find("printid 8"), std::string::npos) << log;
}

// Killed while the service holds record 2 of the one-by-one pass: record 1,
// which the service took, is gone already and never goes up again.
TEST_F(HostletProgram, KilledInTheMiddleOfTheRecordPassSendsNoRecordTwice) {
    if (!runnable()) GTEST_SKIP() << "Hostlet not built, or no display";
    start_service();
    const std::string path = "/Mirel/servlet/braceRecord.php";
    service->set_default("/Mirel/getPrintToken.php", answer(200, R"({"resultCode":500})"));
    service->push(path, answer(400, "one of them is bad"));
    service->push(path, answer(200, "ok"));
    service->push(path, answer(200, "ok", 3000));  // held past the kill
    service->set_default(path, answer(200, "ok"));
    for (const char* n : {"A1_36-L.gcode.1", "B2_40-R.gcode.2", "C3_38-L.gcode.3"})
        write_all(files + "/output/" + n, "x");
    start_hostlet();
    ASSERT_TRUE(wait_for([&] { return service->count(path) >= 3; }, 30)) << read_all(root + "/hostlet.log");
    EXPECT_EQ(service->count(path), 3u);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
    EXPECT_EQ(stationtest::names_in(files + "/output"),
              (std::vector<std::string>{"B2_40-R.gcode.2", "C3_38-L.gcode.3"}));

    make_server();  // the restart's first record pass
    state->online = true;
    station::upload_brace_records(*state);
    EXPECT_TRUE(stationtest::names_in(files + "/output").empty());
    int sent_1 = 0;
    for (const auto& q : service->requests()) sent_1 += q.body.find("\"no\":\"1\"") != std::string::npos;
    EXPECT_EQ(sent_1, 2) << "in the refused batch and alone, once";
}

// A second Hostlet on the station says so, on the console and in a window,
// and ends when that is closed, having touched nothing (it would have made
// temp/ again); a first one killed outright does not block the next start.
TEST_F(HostletProgram, SecondHostletSaysSoAndEndsAndAKilledOneBlocksNothing) {
    if (!runnable()) GTEST_SKIP() << "Hostlet not built, or no display";
    start_service();
    service->set_default("/Mirel/getPrintToken.php", answer(200, R"({"resultCode":500})"));
    start_hostlet();
    ASSERT_TRUE(wait_for([&] { return service->count("/Mirel/getPrintToken.php") > 0; }, 30));
    ASSERT_EQ(rmdir((files + "/temp").c_str()), 0);

    const pid_t second = start_hostlet("second.log");
    const std::string said = "Hostlet is already running for " + files + "/Hostlet: this second one ends";
    ASSERT_TRUE(wait_for([&] { return read_all(root + "/second.log").find(said) != std::string::npos; }, 30))
        << read_all(root + "/second.log");
    ASSERT_TRUE(wait_for([&] { return platform::find_window("Hostlet") != 0; }, 30));
    Display* d = XOpenDisplay(nullptr);  // the message window's close box
    ASSERT_TRUE(d);
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = platform::find_window("Hostlet");
    ev.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
    XSendEvent(d, ev.xclient.window, False, NoEventMask, &ev);
    XCloseDisplay(d);
    int status = 0;
    bool ended = false;
    ASSERT_TRUE(wait_for([&] { return ended = ended || waitpid(second, &status, WNOHANG) == second; }, 30));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    EXPECT_EQ(read_all(root + "/second.log").find("system_path:"), std::string::npos);
    EXPECT_FALSE(common::file_exists(files + "/temp"));

    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    start_hostlet();
    EXPECT_TRUE(wait_for([&] { return common::file_exists(files + "/temp"); }, 30)) << read_all(root + "/hostlet.log");
}

}  // namespace
