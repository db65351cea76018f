// The whole station, each job on a fresh Hostlet (the job endpoint is asked
// only until its first accepted reply). An insole job: the stand-in service
// hands out the job and then its insole data; Hostlet writes the hand-off
// file and starts Fitmire, which saves both insole images; the next file
// cycle lists them and starts Strandel, which writes both G-code files and
// ends; a record file in the output directory reaches the service; Hostlet
// closes with its window. A bracing job stopped mid-way downloads its file
// whole on the next start; a cancelled insole job leaves the two empty cancel
// files, asks for Formlet (missing here) and starts nothing else, and neither
// does a second Hostlet on the station.
#include <gtest/gtest.h>

#include "common/job_name.h"
#include "station_harness.h"
#include "tests/support/fake_service.h"

using namespace station_harness;
using testsupport::answer;

namespace {

class StationJob : public ::testing::Test {
protected:
    void SetUp() override {
        if (!station_display().ok()) GTEST_SKIP() << "no Xvfb";
        ASSERT_TRUE(st.ok) << "station root not laid out: are the three programs built?";
        ASSERT_TRUE(svc.running());
        st.configure(svc.base_url(), svc.cert_path(), 77);
        svc.set_default(kInsolePath, answer(200, no_insole_data()));
        svc.set_default(kRecordPath, answer(200, "{\"resultCode\":200}"));
        log = st.root + "/hostlet.log";
    }
    void TearDown() override {
        if (hostlet > 0 && !watch.wait(hostlet, 0)) kill(hostlet, SIGKILL), watch.wait(hostlet, 10);
    }
    void start() {
        hostlet = start_hostlet(st, log);
        ASSERT_GT(hostlet, 0);
    }
    // Closes the server and checks it ended by itself with status 0.
    void close_and_check() {
        ASSERT_TRUE(close_window(kHostletTitle)) << "no Hostlet window\n" << tail(slurp(log));
        Ended end;
        ASSERT_TRUE(watch.wait(hostlet, 30, &end)) << "Hostlet still running after its window was closed";
        EXPECT_TRUE(end.clean()) << "Hostlet " << end.how() << "\n" << tail(slurp(log));
        hostlet = -1;
    }

    ProcessWatch watch;
    Station st;
    testsupport::FakeService svc{st.root};
    std::string log;
    pid_t hostlet = -1;
};

// The longest job name the station takes: Fitmire saves it and the path
// program prints it (the suffix "_iRight.gcode" fills its 128-byte paths).
TEST_F(StationJob, InsoleJobFromServiceToGcodeAndRecordUpload) {
    const std::string mobile = "0912345678" + std::string(common::kMaxJobNameBytes - 10, '5');
    svc.push(kJobPath, answer(200, insole_job(101, mobile, 3)));
    svc.set_default(kJobPath, answer(200, no_job(3)));
    svc.push(kInsolePath, answer(200, insole_data(mobile)));
    ASSERT_TRUE(put(st.output + "/A12_36-L.gcode.t1", ""));
    start();

    const std::string left = st.files + "/" + mobile + "_iLeft.gcode", right = st.files + "/" + mobile + "_iRight.gcode";
    ASSERT_TRUE(wait_until([&] { return fs::exists(left) && fs::exists(right); }, 200)) << tail(slurp(log));
    // Strandel ends by itself once its list is done.
    ASSERT_TRUE(wait_until([&] { return !watch.ended("Strandel").empty() && !platform::find_window("Strandel"); }, 60))
        << tail(slurp(log));
    std::string why;
    EXPECT_TRUE(complete_gcode(left, &why)) << why;
    EXPECT_TRUE(complete_gcode(right, &why)) << why;
    // The insole data the service handed out is kept in the server directory.
    EXPECT_NE(slurp(st.server + "/insole_info_type4.txt").find("\"pressureleftside\":\"12\""), std::string::npos);

    // Fitmire took the hand-off file, saved both sides and ended; every
    // Strandel run ended by itself with status 0.
    EXPECT_FALSE(fs::exists(st.server + "/insole parameters.txt"));
    const auto fitmire = watch.ended("Fitmire");
    ASSERT_EQ(fitmire.size(), 1u) << tail(slurp(log));
    EXPECT_TRUE(fitmire[0].clean()) << fitmire[0].how();
    for (const Ended& e : watch.ended("Strandel")) EXPECT_TRUE(e.clean()) << "Strandel " << e.how();

    // Nothing but the two G-code files in the G-code directory; the images
    // were taken up and the temporary directory is empty.
    EXPECT_EQ(Station::names_in(st.files), (std::vector<std::string>{mobile + "_iLeft.gcode", mobile + "_iRight.gcode"}));
    EXPECT_TRUE(Station::names_in(st.temp).empty());
    for (const std::string& n : Station::names_in(st.insole))
        EXPECT_EQ(n.find(".bmp"), std::string::npos) << "left in the insole directory: " << n;

    // The record file reached the service and left the output directory.
    ASSERT_TRUE(wait_until([&] { return svc.count(kRecordPath) >= 1 && Station::names_in(st.output).empty(); }, 30))
        << tail(slurp(log));
    std::string upload;
    for (const auto& r : svc.requests())
        if (r.path == kRecordPath) upload = r.body;
    EXPECT_EQ(upload, "{\"arrays\":[{\"type\":\"L\",\"no\":\"12\",\"size\":\"36\",\"timestamp\":\"t1\"}]}");
    close_and_check();
}

// A stop signal (a hang-up, as when its terminal closes) in the middle of a
// bracing download ends Hostlet cleanly within seconds, the try not repeated,
// the job saved and no half file left. The next start fetches the file whole.
TEST_F(StationJob, StopMidDownloadLosesNoJob) {
    const std::string gcode = service_gcode("brace", 3000), path = "/Mirel/brace/C13.gcode";
    const std::string placed = st.files + "/C13.gcode", pending = st.server + "/pending downloads.json";
    testsupport::FakeResponse slow = answer(200, gcode);
    slow.drip_ms = 2;  // some 500 bytes a second: minutes for the file
    svc.push(kJobPath, answer(200, job_reply(513, "C13", "0911000111", "brace/C13.gcode", "", 30)));
    svc.set_default(kJobPath, answer(200, no_job(30)));
    svc.set_default(path, slow);
    start();
    ASSERT_TRUE(wait_until([&] { return svc.count(path) > 0; }, 60)) << tail(slurp(log));
    kill(hostlet, SIGHUP);
    Ended end;
    ASSERT_TRUE(watch.wait(hostlet, 10, &end)) << "Hostlet still running after SIGHUP";
    hostlet = -1;
    EXPECT_TRUE(end.clean()) << end.how() << "\n" << tail(slurp(log));
    EXPECT_EQ(slurp(log).find("trying again"), std::string::npos) << tail(slurp(log));
    EXPECT_TRUE(Station::names_in(st.temp).empty());
    EXPECT_NE(slurp(pending).find("brace/C13.gcode"), std::string::npos);

    svc.set_default(path, answer(200, gcode));
    start();
    ASSERT_TRUE(wait_until([&] { return fs::exists(placed) && !fs::exists(pending); }, 60)) << tail(slurp(log));
    EXPECT_EQ(slurp(placed), gcode);
    EXPECT_TRUE(Station::names_in(st.temp).empty());
    close_and_check();
    EXPECT_TRUE(watch.ended("Fitmire").empty() && watch.ended("Strandel").empty());
}

TEST_F(StationJob, CancelledJobLeavesTwoCancelFilesAndStartsNothingNorDoesASecondHostlet) {
    svc.push(kJobPath, answer(200, cancel_job(401, "0933000333", "A1", 2)));
    svc.set_default(kJobPath, answer(200, no_job(2)));
    start();

    const std::string l = st.files + "/0933000333_A1_iLeft.cancel", r = st.files + "/0933000333_A1_iRight.cancel";
    ASSERT_TRUE(wait_until([&] { return fs::exists(l) && fs::exists(r); }, 60)) << tail(slurp(log));
    EXPECT_EQ(fs::file_size(l) + fs::file_size(r), 0u);
    // The hand-off file is still written, as for every insole job.
    EXPECT_EQ(slurp(st.server + "/insole parameters.txt"),
              "left 0.25 245 0 0 0 0 0 0\r\nright 0.3 250 0 0 0 0 0 0 0933000333\r\n");
    // A few more insole-data calls without data start no program.
    ASSERT_TRUE(wait_until([&] { return svc.count(kInsolePath) >= 2; }, 30)) << tail(slurp(log));
    // A second Hostlet says so and ends once its message is closed, having
    // asked the service nothing (the first asks for jobs no more), even
    // though the server directory was deleted under the first.
    const size_t asked = svc.count(kJobPath);
    const std::string second_log = st.root + "/second.log";
    fs::copy_file(st.server + "/Hostlet", st.root + "/Hostlet");
    fs::remove_all(st.server);
    const pid_t second = start_process(st.root + "/Hostlet", st.root, st.env(), second_log);
    ASSERT_TRUE(wait_until([&] { return platform::find_window("Hostlet") != 0; }, 30)) << slurp(second_log);
    EXPECT_EQ(slurp(second_log), "Hostlet is already running for " + st.server + ": this second one ends\n");
    ASSERT_TRUE(close_window("Hostlet"));
    Ended end;
    ASSERT_TRUE(watch.wait(second, 30, &end));
    EXPECT_EQ(end.how(), "exit 1");
    EXPECT_EQ(svc.count(kJobPath), asked);
    close_and_check();
    EXPECT_TRUE(watch.ended("Fitmire").empty() && watch.ended("Strandel").empty());
    EXPECT_EQ(slurp(log).find("Generating Insoles"), std::string::npos);
    EXPECT_NE(slurp(log).find("Formlet missing: " + st.server + "/Formlet"), std::string::npos);
}

}  // namespace
