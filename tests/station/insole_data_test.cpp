// The insole-data request: which replies are stored and start Fitmire.
#include <gtest/gtest.h>

#include "station/insole_data.h"
#include "tests/station/station_fixture.h"

namespace {

using stationtest::read_all;
using testsupport::answer;

const std::string kInsole = "/Mirel/servlet/getOrbaneInsole.php";

class InsoleData : public stationtest::StationTest {
protected:
    void SetUp() override {
        StationTest::SetUp();
        start_service();
        make_server();
    }
    std::string info() const { return files + "/Hostlet/insole_info_type4.txt"; }
};

// Each accepted reply replaces the stored file (CR LF lines) and starts
// Fitmire in the server directory, but not a second one while the first
// runs (by its own process or by its window).
TEST_F(InsoleData, AcceptedRepliesReplaceTheFileAndStartOneFitmireAtATime) {
    add_holding_program("Fitmire", root + "/hold");
    service->push(kInsole, answer(200, "{\"resultCode\":\"200\",\n\"ldata\":[1,2,3]}"));
    for (int n = 2; n <= 4; ++n) service->push(kInsole, answer(200, R"({"resultCode":"200","n":)" + std::to_string(n) + "}"));
    EXPECT_EQ(station::fetch_insole_data(*state), 200);
    EXPECT_EQ(service->requests()[0].body, "{\"orbane\":\"4242\"}");
    EXPECT_EQ(read_all(info()), "{\"resultCode\":\"200\",\r\n\"ldata\":[1,2,3]}");
    EXPECT_FALSE(common::file_exists(info() + ".tmp"));
    EXPECT_EQ(started, std::vector<std::string>{files + "/Hostlet/Fitmire"});
    EXPECT_EQ(platform::current_dir(), files + "/Hostlet");
    station::fetch_insole_data(*state);
    EXPECT_EQ(read_all(info()), R"({"resultCode":"200","n":2})");
    EXPECT_EQ(started.size(), 1u);
    end_holding_program("Fitmire", root + "/hold");
    window_open = true;  // a Fitmire this server did not start
    station::fetch_insole_data(*state);
    EXPECT_EQ(started.size(), 1u);
    window_open = false;
    station::fetch_insole_data(*state);
    EXPECT_EQ(started.size(), 2u);
}

TEST_F(InsoleData, RefusedRepliesWriteAndStartNothing) {
    for (const char* body : {R"({"resultCode":200})", R"({"resultCode":"500"})", "not json at all", "[\"200\"]"}) {
        service->push(kInsole, answer(200, body));
        EXPECT_EQ(station::fetch_insole_data(*state), 200) << body;
    }
    service->push(kInsole, answer(404, R"({"resultCode":"200"})"));
    EXPECT_EQ(station::fetch_insole_data(*state), 404);
    service->push(kInsole, answer(200, R"({"resultCode":"200"})", 2000));
    EXPECT_EQ(station::fetch_insole_data(*state), 0) << "past the 1500 ms time-out";
    EXPECT_FALSE(common::file_exists(info()));
    EXPECT_TRUE(started.empty());
}

}  // namespace
