// The entrance view and the widget side of the server's reporting.
#include "entrance_view.h"

#include <FL/Fl.H>
#include <FL/Fl_Hold_Browser.H>
#include <FL/Fl_Value_Output.H>
#include <FL/Fl_Window.H>
#include <FL/gl.h>

#include <cstdio>

#include "station/scheduler.h"

namespace station {

// ---- widgets ----------------------------------------------------------------

void FltkUi::attach(Fl_Window* window, Fl_Hold_Browser* log_list, Fl_Value_Output* net_status,
                    Fl_Value_Output* net_countdown, Fl_Value_Output* file_countdown) {
    window_ = window;
    log_list_ = log_list;
    net_status_ = net_status;
    net_countdown_ = net_countdown;
    file_countdown_ = file_countdown;
    for (const std::string& line : pending_) add_log_line(line);
    pending_.clear();
}

void FltkUi::add_log_line(const std::string& line) {
    if (!log_list_) {
        pending_.push_back(line);
        return;
    }
    log_list_->add(line.c_str());
}

void FltkUi::select_last_line() {
    if (log_list_ && log_list_->size() > 0) log_list_->select(log_list_->size());
}

void FltkUi::set_net_status(bool online) {
    if (!net_status_) return;
    net_status_->label(online ? "ON" : "OFF");
    net_status_->redraw();
    if (window_) window_->redraw();
}

void FltkUi::set_net_countdown(double seconds) {
    if (net_countdown_) net_countdown_->value(seconds);
}

void FltkUi::set_file_countdown(double seconds) {
    if (!file_countdown_) return;
    file_countdown_->value(seconds);
    // Only the countdown changes 120 times a second; repainting the whole
    // window with it gave the same picture at several times the idle CPU.
    file_countdown_->redraw();
}

// ---- the view -----------------------------------------------------------------

GL_Display_Entrance::GL_Display_Entrance() : Fl_Gl_Window(1, 1, 1, 1) {
    state.ui = &ui;
    init_server(state);
    std::printf("w %d   h %d \n", w(), h());
    std::fflush(stdout);
    Fl::add_timeout(1.0 / 120, entrance_timeout, this);
}

GL_Display_Entrance::~GL_Display_Entrance() {
    Fl::remove_timeout(entrance_timeout, this);
    state.net_watch.stop();
    state.file_watch.stop();
    state.reply.clear();
    state.ui = nullptr;
}

void entrance_timeout(void* view) {
    GL_Display_Entrance* v = static_cast<GL_Display_Entrance*>(view);
    server_tick(v->state);
    if (platform::stop_requested()) {
        // A shutdown or logout: the step in hand is over, so what is
        // pending is written and the event loop is let go.
        shut_down_server(v->state);
        while (Fl_Window* w = Fl::first_window()) w->hide();
        return;
    }
    Fl::repeat_timeout(1.0 / 120, entrance_timeout, view);
}

void GL_Display_Entrance::draw() {
    if (!valid()) {
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glClearColor(0.0f, 0.5f, 0.5f, 1.0f);
        glViewport(0, 0, w(), h());
        glMatrixMode(GL_PROJECTION);
        glOrtho(0, w(), 0, h(), 0, 1);
        glMatrixMode(GL_MODELVIEW);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        GLuint tex = 0;
        glGenTextures(1, &tex);
        texture = tex;
        glBindTexture(GL_TEXTURE_2D, tex);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, 0, 0, 0, GL_RGB, GL_UNSIGNED_BYTE, nullptr);
    }
    glColor3f(1, 1, 1);
    glEnable(GL_TEXTURE_2D);
    glBegin(GL_QUADS);
    glTexCoord2f(1, 1);
    glVertex2f(w(), h());
    glTexCoord2f(0, 1);
    glVertex2f(0, h());
    glTexCoord2f(0, 0);
    glVertex2f(0, 0);
    glTexCoord2f(1, 0);
    glVertex2f(w(), 0);
    glEnd();
    glDisable(GL_TEXTURE_2D);
    glColor3f(0, 0, 1);
    glBegin(GL_QUADS);
    glVertex2f(0, 50);
    glVertex2f(30, 50);
    glVertex2f(30, 0);
    glVertex2f(0, 0);
    glEnd();
}

int GL_Display_Entrance::handle(int event) {
    switch (event) {
    case FL_PUSH: {
        const int b = Fl::event_button();
        if (b == 1) std::printf("left mouse click \n");
        else if (b == 2) std::printf("middle mouse click \n");
        else if (b == 3) std::printf("right mouse click \n");
        return 1;
    }
    case FL_DRAG:
        std::printf("mouse position [ %d, %d ] \n", Fl::event_x(), Fl::event_y());
        return 1;
    case FL_MOVE:
        return 1;
    case FL_MOUSEWHEEL:
        std::printf("mouse wheel %d \n", Fl::event_dy());
        return 1;
    default:
        return Fl_Gl_Window::handle(event);
    }
}

}  // namespace station
