// A current OpenGL context for tests: GLX on the X display (Xvfb with Mesa's
// software renderer in CI), legacy profile, frame-buffer objects available.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace testsupport {

// Makes a context current on first use and keeps it for the process.
// False (with reason) when there is no display or no GLX.
bool make_gl_current(std::string* reason = nullptr);

// For a fresh child process only: makes current a 2.1 context from which
// Mesa has taken the frame-buffer extension, as an old card would offer.
bool make_old_gl_current();

// True when an X display can be opened; windows that are shown need one.
bool have_display();

// Fixture for tests that draw: skips when no display is available. The skip
// is taken in the constructor, so that neither a derived SetUp nor TearDown
// runs and makes OpenGL calls without a context.
class GlTest : public ::testing::Test {
protected:
    GlTest() { skip_without_gl(); }
    void SetUp() override {}

private:
    void skip_without_gl() {
        std::string why;
        if (!make_gl_current(&why)) GTEST_SKIP() << "no OpenGL context: " << why;
    }
};

// Path of a file under testdata/ or of the generated sample data.
std::string testdata(const std::string& name);
std::string sample(const std::string& name);

// A whole file's bytes ("" when it cannot be read), and a file written whole
// (false when it cannot be).
std::string slurp(const std::string& path);
bool put(const std::string& path, const std::string& bytes);

// The bytes of a 24-bit BMP file, rows bottom-up, each 4-byte aligned; px
// gives the blue, green and red bytes of each pixel.
std::string bmp24(int w, int h, void (*px)(int row, int col, unsigned char bgr[3]));

// A fresh temporary directory, removed with its contents by the destructor.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

}  // namespace testsupport
