// Building the server window: log list, status fields, countdowns, and the
// "版本設定" menu whose items set the variant title.
#include "server_window.h"

#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Hold_Browser.H>
#include <FL/Fl_Menu_Button.H>
#include <FL/Fl_Output.H>
#include <FL/Fl_Value_Output.H>

#include <cstdio>

#include "station/entrance_view.h"

namespace station {

int read_version_index(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f) return 0;
    int index = 0;
    if (std::fscanf(f, "%d", &index) != 1) index = 0;
    std::fclose(f);
    if (index < 0 || index > 2) {
        std::printf("%s: variant %d unknown, using 0\n", path.c_str(), index);
        index = 0;
    }
    return index;
}

const char* variant_title(int index) {
    switch (index) {
    case 1: return "Fitmire (Normal)";
    case 2: return "Fitmire (A4)";
    default: return "Fitmire (Quenor)";
    }
}

void choose_variant_title(Fl_Widget* menu, void*) {
    Fl_Menu_* m = static_cast<Fl_Menu_*>(menu);
    if (m->window()) m->window()->label(variant_title(m->value()));
}

ServerWindow build_server_window(const std::string& version_file) {
    ServerWindow sw;
    sw.server_window = new Fl_Double_Window(754, 930, "鞋墊下載系統");
    sw.entrance = new GL_Display_Entrance();

    sw.log_list = new Fl_Hold_Browser(35, 155, 680, 453);
    sw.log_list->textsize(20);
    sw.log_list->format_char(0);  // reply texts are shown as they are, never as format codes

    sw.status_caption = new Fl_Output(155, 79, 79, 16, "網路狀態");
    sw.status_caption->box(FL_NO_BOX);
    sw.status_caption->labelsize(20);
    sw.status_caption->align(FL_ALIGN_TOP);
    sw.status_caption->textsize(18);

    sw.net_status = new Fl_Value_Output(295, 55, 25, 33, "OFF");
    sw.net_status->box(FL_FLAT_BOX);
    sw.net_status->labelsize(26);
    sw.net_status->labelcolor(FL_RED);
    sw.net_status->textcolor(sw.net_status->color());

    sw.net_countdown = new Fl_Value_Output(240, 116, 63, 34, "網路下次檢查時間 (S) ");
    sw.net_countdown->labelsize(20);
    sw.net_countdown->step(0.01);
    sw.net_countdown->textsize(20);
    sw.net_countdown->textcolor(FL_RED);

    sw.file_countdown = new Fl_Value_Output(650, 111, 63, 34, "檔案下次檢查時間 (S) ");
    sw.file_countdown->labelsize(20);
    sw.file_countdown->step(0.01);
    sw.file_countdown->textsize(20);
    sw.file_countdown->textcolor(FL_BLUE);

    sw.menu_version = new Fl_Menu_Button(665, 890, 85, 35, "版本設定");
    sw.menu_version->box(FL_THIN_UP_BOX);
    sw.menu_version->labelcolor(40);
    sw.menu_version->add("十月版", 0, choose_variant_title);
    sw.menu_version->add("一般版", 0, choose_variant_title);
    sw.menu_version->add("A4版", 0, choose_variant_title);
    sw.menu_version->value(read_version_index(version_file));

    sw.entrance->ui.attach(sw.server_window, sw.log_list, sw.net_status, sw.net_countdown, sw.file_countdown);
    return sw;
}

}  // namespace station
