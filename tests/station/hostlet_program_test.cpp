// The built Hostlet program against the stand-in service, killed in the
// middle of its record pass.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "station/records.h"
#include "tests/station/station_fixture.h"

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
    template <class Done>
    bool wait_for(Done done, int seconds) {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (!done() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return done();
    }
    const std::string exe = std::string(STATION_BINARY_DIR) + "/station/Hostlet";
    bool runnable() const { return access(exe.c_str(), X_OK) == 0 && std::getenv("DISPLAY"); }
    void start_hostlet() {
        pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            if (chdir(root.c_str()) != 0) _exit(126);
            FILE* log = std::freopen((root + "/hostlet.log").c_str(), "w", stdout);
            (void)log;
            execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    pid_t pid = -1;
};

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

}  // namespace
