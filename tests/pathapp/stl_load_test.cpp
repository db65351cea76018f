// The file-name conversion in front of the STL reader keeps to its buffer.
#include <cstring>

#include "pathapp/stl_load.h"
#include "tests/support/gl_context.h"

namespace {

TEST(ToAnsiPath, ConvertsInPlaceAndRefusesWhatDoesNotFit) {
    char name[100];
    std::strcpy(name, "/tmp/\xe9\x9e\x8b\xe5\x9e\xab.stl");  // UTF-8 Chinese
    ASSERT_TRUE(pathapp::to_ansi_path(name, sizeof name));
    EXPECT_STREQ(name, "/tmp/\xe9\x9e\x8b\xe5\x9e\xab.stl");

    char small[8] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};  // no terminator inside
    EXPECT_FALSE(pathapp::to_ansi_path(small, sizeof small));
    EXPECT_EQ(small[7], 'h');
    EXPECT_FALSE(pathapp::to_ansi_path(nullptr, 10));
}

}  // namespace
