// The entrance view: a 1 x 1 GL window that owns the server state and the
// 1/120 s timeout driving the scheduler, and the widgets it reports to.
#pragma once

#include <FL/Fl_Gl_Window.H>

#include <string>
#include <vector>

#include "station/server_state.h"

class Fl_Hold_Browser;
class Fl_Value_Output;
class Fl_Window;

namespace station {

// The server's widgets behind ServerUi; lines logged before the log list
// exists wait until it is attached.
class FltkUi : public ServerUi {
public:
    void attach(Fl_Window* window, Fl_Hold_Browser* log_list, Fl_Value_Output* net_status,
                Fl_Value_Output* net_countdown, Fl_Value_Output* file_countdown);
    void add_log_line(const std::string& line) override;
    void select_last_line() override;
    void set_net_status(bool online) override;
    void set_net_countdown(double seconds) override;
    void set_file_countdown(double seconds) override;

private:
    Fl_Window* window_ = nullptr;
    Fl_Hold_Browser* log_list_ = nullptr;
    Fl_Value_Output* net_status_ = nullptr;
    Fl_Value_Output* net_countdown_ = nullptr;
    Fl_Value_Output* file_countdown_ = nullptr;
    std::vector<std::string> pending_;
};

class GL_Display_Entrance : public Fl_Gl_Window {
public:
    GL_Display_Entrance();
    ~GL_Display_Entrance() override;
    void draw() override;
    int handle(int event) override;

    ServerState state;
    FltkUi ui;
    unsigned int texture = 0;
};

// The toolkit timeout: one scheduler step, then re-armed.
void entrance_timeout(void* view);

}  // namespace station
