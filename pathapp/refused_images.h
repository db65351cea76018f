// Job images the path program can never print (wrong size, a foot too short,
// no insole model, a name too long or unusable) are set aside with their
// settings file in "refused/" under the insole directory, where the station
// server's list writer does not look, so no one starts the program for them
// again. And the removal of finished job files, reported when it fails.
#pragma once

#include <string>

namespace pathapp {

constexpr char REFUSED_FOLDER[] = "refused";

// Why a Bmp_List.txt name cannot name a file of the insole directory (a path
// separator, a drive colon, "..", a control byte, empty or over 127 bytes);
// empty when it can.
std::string list_name_problem(const std::string& name);

// Moves the insole directory's image `name` and its "txt" settings file
// there into the refused folder, with one console line naming the image and
// `why`. A name that does not stay inside the insole directory touches
// nothing.
void set_aside_job_image(const std::string& name, const std::string& why);

// Removes a job file whose work is done; false, with a console line saying
// that the job will come again, when it cannot be removed.
bool remove_job_file(const std::string& path);

}  // namespace pathapp
