// Bmp_List.txt: the names of the waiting images, CR LF between them.
#include <gtest/gtest.h>

#include "station/bmp_list.h"
#include "tests/station/station_fixture.h"

namespace {

using stationtest::read_all;
using stationtest::write_all;

class BmpList : public stationtest::StationTest {};

using Result = station::BmpList;

TEST_F(BmpList, NamesJoinedByCrLfWithNothingAfterTheLast) {
    for (const char* n : {"b.bmp", "a.bmp", "c.bmp", "notes.txt"}) write_all(insole + "/" + n, "x");
    EXPECT_EQ(station::write_bmp_list(), Result::written);
    EXPECT_EQ(read_all(insole + "/Bmp_List.txt"), "a.bmp\r\nb.bmp\r\nc.bmp");
    EXPECT_EQ(platform::current_dir(), insole);
    EXPECT_FALSE(common::file_exists(insole + "/Bmp_List.txt.tmp"));
}

TEST_F(BmpList, NoImageOrNoFolderWritesNothingAndLeavesAnOlderList) {
    EXPECT_EQ(station::write_bmp_list(), Result::none_waiting);
    EXPECT_FALSE(common::file_exists(insole + "/Bmp_List.txt"));
    write_all(insole + "/Bmp_List.txt", "old.bmp");
    EXPECT_EQ(station::write_bmp_list(), Result::none_waiting);
    EXPECT_EQ(read_all(insole + "/Bmp_List.txt"), "old.bmp");
    setenv("STATION_INSOLE_DIR", (root + "/gone").c_str(), 1);
    EXPECT_EQ(station::write_bmp_list(), Result::none_waiting);
}

}  // namespace
