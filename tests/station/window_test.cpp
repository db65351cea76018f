// The server window: its log list, the variant menu, and a short run of the
// event loop with the entrance view's timeout.
#include <gtest/gtest.h>

#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Hold_Browser.H>
#include <FL/Fl_Menu_Button.H>
#include <FL/Fl_Value_Output.H>

#include <chrono>

#include "station/entrance_view.h"
#include "station/server_window.h"
#include "tests/station/station_fixture.h"

namespace {

using stationtest::write_all;

class ServerWindowTest : public stationtest::StationTest {
protected:
    // The window is shown: without a display the toolkit would end the program.
    void SetUp() override {
        if (!testsupport::have_display()) GTEST_SKIP() << "no X display";
        StationTest::SetUp();
    }
    void TearDown() override {
        delete sw.server_window;  // takes the entrance view and its timeout with it
        StationTest::TearDown();
    }
    station::ServerWindow sw;
};

// Start messages (the missing station.conf) reach the log list; reply text
// is shown as is. The stored variant selects its item (an unknown one the
// first) but not the title; choosing one does.
TEST_F(ServerWindowTest, LogListShowsTextAsIsAndTheStoredVariantSelectsItsItem) {
    for (const auto& c : {std::make_pair("7", 0), std::make_pair("junk", 0), std::make_pair("2", 2)}) {
        write_all(root + "/v.txt", c.first);
        EXPECT_EQ(station::read_version_index(root + "/v.txt"), c.second) << c.first;
    }
    write_all(root + "/sl_version.txt", "1\n");
    sw = station::build_server_window(root + "/sl_version.txt");
    ASSERT_GE(sw.log_list->size(), 1);
    EXPECT_EQ(std::string(sw.log_list->text(1)).compare(0, 24, "station.conf: cannot rea"), 0);
    sw.entrance->ui.add_log_line("@b@C1 phone");
    sw.entrance->ui.select_last_line();
    EXPECT_STREQ(sw.log_list->text(sw.log_list->size()), "@b@C1 phone");
    EXPECT_EQ(sw.log_list->value(), sw.log_list->size());
    ASSERT_EQ(sw.menu_version->size(), 4);  // three items and the terminator
    EXPECT_EQ(sw.menu_version->value(), 1);
    EXPECT_STREQ(sw.server_window->label(), "鞋墊下載系統");
    sw.menu_version->value(2);
    station::choose_variant_title(sw.menu_version, nullptr);
    EXPECT_STREQ(sw.server_window->label(), "Fitmire (A4)");
}

TEST_F(ServerWindowTest, RunsUnderTheEventLoop) {
    // The file cycle's stopwatch starts while the window is built, so its
    // countdown can show no more than 8 s less the time since then.
    const auto before = std::chrono::steady_clock::now();
    sw = station::build_server_window(root + "/none.txt");
    sw.server_window->end();
    sw.server_window->show();
    // Until the entrance view's timeout has ticked twice and set the countdown each time.
    double first = 0, second = 0;
    while (second == 0 && std::chrono::steady_clock::now() < before + std::chrono::seconds(60)) {
        Fl::wait(0.01);
        const double v = sw.file_countdown->value();
        (first == 0 ? first : v != first ? second : first) = v;
    }
    const double since = std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
    ASSERT_NE(second, 0) << "the countdown was not set twice within 60 s";
    EXPECT_LT(second, first);
    EXPECT_LT(second, 8.0);
    EXPECT_GE(second, 8.0 - since);
    sw.server_window->hide();
    Fl::wait(0);
}

}  // namespace
