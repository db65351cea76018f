// The built Hostlet program against the stand-in service: it polls at once,
// hands an insole job to Formlet and then starts Fitmire for the insole data.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

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
    void script(const std::string& name, const std::string& body) {
        const std::string path = files + "/Hostlet/" + name;
        write_all(path, "#!/bin/sh\n" + body + "\n");
        chmod(path.c_str(), 0755);
    }
    bool wait_for(const std::string& path, int seconds) {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < until) {
            if (common::file_exists(path)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    pid_t pid = -1;
};

TEST_F(HostletProgram, PollsHandsOverAndStartsTheScaler) {
    const std::string exe = std::string(STATION_BINARY_DIR) + "/station/Hostlet";
    if (access(exe.c_str(), X_OK) != 0) GTEST_SKIP() << "Hostlet not built";
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no display";
    start_service();
    service->push("/Mirel/getPrintToken.php",
                  answer(200, R"({"resultCode":200,"token":"t","sdate":"s","edate":"e","sleep":1,"printid":8,)"
                              R"("type":"A001","bmpfile":"o/13800_8.bmp","mobile":"13800","left":"255 3","right":"250 4"})"));
    service->set_default("/Mirel/servlet/getOrbaneInsole.php", answer(200, R"({"resultCode":"200","ldata":[]})"));
    script("Formlet", "touch \"$STATION_FILES_DIR/formlet.ran\"");
    script("Fitmire", "pwd > \"$STATION_FILES_DIR/fitmire.cwd\"");

    pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (chdir(root.c_str()) != 0) _exit(126);
        FILE* log = std::freopen((root + "/hostlet.log").c_str(), "w", stdout);
        (void)log;
        execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_TRUE(wait_for(files + "/fitmire.cwd", 30)) << read_all(root + "/hostlet.log");
    EXPECT_TRUE(common::file_exists(files + "/formlet.ran"));
    EXPECT_EQ(read_all(files + "/Hostlet/insole parameters.txt"), "left 255 3\r\nright 250 4 13800\r\n");
    EXPECT_EQ(read_all(files + "/fitmire.cwd"), files + "/Hostlet\n");
    EXPECT_EQ(read_all(files + "/Hostlet/insole_info_type4.txt"), R"({"resultCode":"200","ldata":[]})");
    EXPECT_EQ(service->count("/Mirel/getPrintToken.php"), 1u);
    const std::string log = read_all(root + "/hostlet.log");
    EXPECT_NE(log.find("system_path:" + root), std::string::npos) << log;
    EXPECT_NE(log.find("printid 8"), std::string::npos) << log;
}

}  // namespace
