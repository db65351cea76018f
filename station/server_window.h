// The server window "鞋墊下載系統" and its widgets.
#pragma once

#include <string>

class Fl_Double_Window;
class Fl_Hold_Browser;
class Fl_Output;
class Fl_Value_Output;
class Fl_Menu_Button;
class Fl_Widget;

namespace station {

class GL_Display_Entrance;

struct ServerWindow {
    Fl_Double_Window* server_window = nullptr;
    GL_Display_Entrance* entrance = nullptr;
    Fl_Hold_Browser* log_list = nullptr;
    Fl_Output* status_caption = nullptr;
    Fl_Value_Output* net_status = nullptr;
    Fl_Value_Output* net_countdown = nullptr;
    Fl_Value_Output* file_countdown = nullptr;
    Fl_Menu_Button* menu_version = nullptr;
};

// Builds the window and its widgets, wires the entrance view to them and
// makes the variant of version_file the menu's current item (title unchanged).
ServerWindow build_server_window(const std::string& version_file = "./sl_version.txt");

// The variant index stored in path: 0 when the file is missing, unreadable
// or holds a number outside 0 to 2.
int read_version_index(const std::string& path);
const char* variant_title(int index);
// Action of every "版本設定" item: the window title follows the current item.
void choose_variant_title(Fl_Widget* menu, void*);

}  // namespace station
