// A current OpenGL context for tests: GLX on the X display (Xvfb with Mesa's
// software renderer in CI), legacy profile, frame-buffer objects available.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace testsupport {

// Makes a context current on first use and keeps it for the process.
// False (with reason) when there is no display or no GLX.
bool make_gl_current(std::string* reason = nullptr);

// Fixture for tests that draw: skips when no display is available.
class GlTest : public ::testing::Test {
protected:
    void SetUp() override {
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
