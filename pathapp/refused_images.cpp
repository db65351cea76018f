// Setting refused job images aside and removing finished job files.
#include "pathapp/refused_images.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/file_util.h"
#include "common/job_name.h"
#include "pathapp/bmp_list.h"
#include "pathapp/pressure_image.h"
#include "platform/platform.h"

namespace pathapp {

std::string list_name_problem(const std::string& name) {
    std::string why;
    if (!common::file_name_usable(name, BMP_NAME_SIZE - 1, &why)) return why;
    return "";
}

void set_aside_job_image(const std::string& name, const std::string& why) {
    // Only a plain name in the insole directory: "..", "." or a name with a
    // slash would reach another directory.
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
        std::printf("%s: refused (%s); job skipped, nothing outside the insole directory is touched\n", name.c_str(),
                    why.c_str());
        return;
    }
    const std::string dir = platform::insole_dir();
    const std::string image = dir + "/" + name;
    if (!common::file_exists(image)) {
        std::printf("%s: refused (%s); job skipped\n", name.c_str(), why.c_str());
        return;
    }
    std::vector<std::string> files{image};
    std::string tname;
    if (replace_last_three(name, "txt", static_cast<size_t>(-1), tname) && tname != name &&
        common::file_exists(dir + "/" + tname))
        files.push_back(dir + "/" + tname);
    const std::string folder = dir + "/" + REFUSED_FOLDER;
    const std::vector<std::string> moved = platform::set_aside(files, folder);
    if (moved[0].empty())
        std::printf("%s: refused (%s); it cannot be moved into %s and stays\n", name.c_str(), why.c_str(),
                    folder.c_str());
    else
        std::printf("%s: refused (%s); set aside as %s\n", name.c_str(), why.c_str(), moved[0].c_str());
}

bool remove_job_file(const std::string& path) {
    if (std::remove(path.c_str()) == 0) return true;
    std::printf("%s cannot be removed (%s); its job will be done again\n", path.c_str(), std::strerror(errno));
    return false;
}

}  // namespace pathapp
