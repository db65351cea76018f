// The whole station on one insole job: the stand-in service hands out the
// job and then its insole data; Hostlet writes the hand-off file and starts
// Fitmire, which saves both insole images; the next file cycle lists them and
// starts Strandel, which writes both G-code files and ends; a record file in
// the output directory reaches the service; Hostlet closes with its window.
#include <gtest/gtest.h>

#include "common/job_name.h"
#include "station_harness.h"
#include "tests/support/fake_service.h"

using namespace station_harness;
using testsupport::answer;

namespace {

// The longest job name the station takes: Fitmire saves it and the path
// program prints it (the suffix "_iRight.gcode" fills its 128-byte paths).
const std::string kMobile = "0912345678" + std::string(common::kMaxJobNameBytes - 10, '5');

TEST(StationFlow, InsoleJobFromServiceToGcodeAndRecordUpload) {
    if (!station_display().ok()) GTEST_SKIP() << "no Xvfb";
    ProcessWatch watch;
    Station st;
    ASSERT_TRUE(st.ok) << "station root not laid out: are the three programs built?";
    testsupport::FakeService svc(st.root);
    ASSERT_TRUE(svc.running());
    st.configure(svc.base_url(), svc.cert_path(), 4242);

    svc.push(kJobPath, answer(200, insole_job(101, kMobile, 3)));
    svc.set_default(kJobPath, answer(200, no_job(3)));
    svc.push(kInsolePath, answer(200, insole_data(kMobile)));
    svc.set_default(kInsolePath, answer(200, no_insole_data()));
    svc.set_default(kRecordPath, answer(200, "{\"resultCode\":200}"));
    ASSERT_TRUE(put(st.output + "/A12_36-L.gcode.t1", ""));

    const std::string log = st.root + "/hostlet.log";
    const pid_t hostlet = start_hostlet(st, log);
    ASSERT_GT(hostlet, 0);

    const std::string left = st.files + "/" + kMobile + "_iLeft.gcode", right = st.files + "/" + kMobile + "_iRight.gcode";
    const bool written = wait_until([&] { return fs::exists(left) && fs::exists(right); }, 200);
    ASSERT_TRUE(written) << tail(slurp(log));
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
    EXPECT_EQ(Station::names_in(st.files), (std::vector<std::string>{kMobile + "_iLeft.gcode", kMobile + "_iRight.gcode"}));
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

    // Closing the window ends the server.
    ASSERT_TRUE(close_window(kHostletTitle));
    Ended end;
    ASSERT_TRUE(watch.wait(hostlet, 30, &end)) << "Hostlet still running after its window was closed";
    EXPECT_TRUE(end.clean()) << "Hostlet " << end.how() << "\n" << tail(slurp(log));
}

}  // namespace
