// Fitmire's main window: the controls in creation order with their actions,
// the persisted 30-degree switch, the hand-off poller and start-up.
#include "scaler_window.h"

#include <FL/Enumerations.H>
#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Text_Display.H>
#include <FL/Fl_Value_Input.H>
#include <FL/Fl_Value_Slider.H>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "common/cjk_font.h"
#include "common/file_dialog.h"
#include "display_image.h"
#include "handoff.h"
#include "platform/platform.h"

namespace fitmire {

// ---- the program's widgets ------------------------------------------------------
Fl_Double_Window* scaler_window = nullptr;
Fl_Button* bt_load_left = nullptr;
Fl_Button* bt_load_right = nullptr;
Fl_Button* bt_save = nullptr;
Fl_Button* bt_restore = nullptr;
Fl_Value_Slider* va_width = nullptr;
Fl_Check_Button* bt_degree_30 = nullptr;
Fl_Value_Slider* va_length = nullptr;
Fl_Value_Slider* va_height_ratio = nullptr;
Fl_Button* bt_inner_arch = nullptr;
Fl_Button* bt_outer_arch = nullptr;
Fl_Button* bt_inner_heel = nullptr;
Fl_Button* bt_outer_heel = nullptr;
Fl_Button* bt_whole_heel = nullptr;
Fl_Value_Input* va_inner_arch = nullptr;
Fl_Value_Input* va_outer_arch = nullptr;
Fl_Value_Input* va_inner_heel = nullptr;
Fl_Value_Input* va_outer_heel = nullptr;
Fl_Value_Input* va_whole_heel = nullptr;
Fl_Value_Input* va_left_arch_index = nullptr;
Fl_Value_Input* va_right_arch_index = nullptr;
Fl_Value_Slider* va_pad_width = nullptr;
Fl_Value_Slider* va_pad_length = nullptr;
Fl_Value_Slider* va_pad_height = nullptr;
Fl_Check_Button* ck_pad = nullptr;
Fl_Check_Button* ck_vary_height = nullptr;
Fl_Check_Button* ck_vary_width = nullptr;
Fl_Value_Slider* va_hv_angle = nullptr;
GL_Display_Image* scaler_view = nullptr;

namespace {
const char kHandoffFile[] = "./insole parameters.txt";
const char kRefusedFolder[] = "./refused";  // hand-off files whose job is not done
const char kDegree30File[] = "bt_degree_30.txt";
poll_state the_poll_state;  // the poller's state, armed by start-up
}  // namespace

// ---- controls as values ----------------------------------------------------------

ScalerControls read_controls() {
    ScalerControls c;
    if (!va_width) return c;  // before the window exists: the start values
    c.width = va_width->value(), c.width_min = va_width->minimum(), c.width_max = va_width->maximum();
    c.length = va_length->value(), c.length_min = va_length->minimum(), c.length_max = va_length->maximum();
    c.height_ratio = va_height_ratio->value();
    c.degree_30 = bt_degree_30->value() != 0;
    c.vary_height = ck_vary_height->value() != 0;
    c.vary_width = ck_vary_width->value() != 0;
    c.left_arch_index = va_left_arch_index->value();
    c.right_arch_index = va_right_arch_index->value();
    c.pad = ck_pad->value() != 0;
    c.pad_width = va_pad_width->value(), c.pad_length = va_pad_length->value();
    c.pad_height = va_pad_height->value();
    c.hv_angle = va_hv_angle->value();
    c.inner_arch = va_inner_arch->value(), c.outer_arch = va_outer_arch->value();
    c.inner_heel = va_inner_heel->value(), c.outer_heel = va_outer_heel->value();
    c.whole_heel = va_whole_heel->value();
    return c;
}

void write_controls(const ScalerControls& c) {
    if (!va_width) return;
    va_width->bounds(c.width_min, c.width_max);
    va_width->value(c.width);
    va_length->bounds(c.length_min, c.length_max);
    va_length->value(c.length);
    va_height_ratio->value(c.height_ratio);
    va_left_arch_index->value(c.left_arch_index);
    va_right_arch_index->value(c.right_arch_index);
    va_pad_width->value(c.pad_width);
    va_pad_length->value(c.pad_length);
    va_pad_height->value(c.pad_height);
}

// ---- actions ----------------------------------------------------------------------

namespace {

void mark_rebuild() {
    if (!scaler_view) return;
    scaler_view->needs_rebuild = true;
    scaler_view->redraw();
}

// Runs one view action on the controls' values and puts the results back.
template <typename F>
void with_controls(F action) {
    if (!scaler_view) return;
    ScalerControls c = read_controls();
    action(c);
    write_controls(c);
    scaler_view->redraw();
}

void load_cb(Fl_Widget*, void* side) {
    if (scaler_view) scaler_view->open_template_dialog(static_cast<int>(reinterpret_cast<intptr_t>(side)));
}

void save_cb(Fl_Widget*, void*) {
    if (!scaler_view) return;
    std::string name;
    if (common::choose_file("Save The Diabetic Insole", nullptr, true, name)) scaler_view->save_scaled_bmp(name.c_str());
}

void restore_cb(Fl_Widget*, void*) {
    with_controls([](ScalerControls& c) { scaler_view->restore_measured(c); });
}
void width_cb(Fl_Widget*, void*) {
    with_controls([](ScalerControls& c) { scaler_view->apply_width(c); });
}
void length_cb(Fl_Widget*, void*) {
    with_controls([](ScalerControls& c) { scaler_view->apply_length(c); });
}

void degree_30_cb(Fl_Widget*, void*) {
    if (FILE* f = std::fopen(kDegree30File, "w")) {
        std::fprintf(f, "%d", bt_degree_30->value());
        std::fclose(f);
    }
    mark_rebuild();
}

void rebuild_cb(Fl_Widget*, void*) { mark_rebuild(); }

void arch_index_cb(Fl_Widget*, void* side) {
    if (scaler_view) scaler_view->current_side = static_cast<int>(reinterpret_cast<intptr_t>(side));
    mark_rebuild();
}

void wedge_cb(Fl_Widget*, void* which) {
    if (!scaler_view) return;
    scaler_view->press_wedge(static_cast<Wedge>(reinterpret_cast<intptr_t>(which)), read_controls());
    scaler_view->redraw();
}

void* as_data(intptr_t v) { return reinterpret_cast<void*>(v); }

Fl_Button* make_button(int x, int y, int w, int h, const char* label, Fl_Color colour) {
    Fl_Button* b = new Fl_Button(x, y, w, h, label);
    b->box(FL_PLASTIC_UP_BOX);
    b->color(colour);
    return b;
}

Fl_Value_Slider* make_slider(int x, int y, int w, int h, const char* label, double lo, double hi, double step,
                             double value, Fl_Callback* cb) {
    Fl_Value_Slider* s = new Fl_Value_Slider(x, y, w, h, label);
    s->type(FL_HOR_SLIDER);
    s->textsize(14);
    s->align(FL_ALIGN_LEFT);
    s->bounds(lo, hi);
    s->step(step);
    s->value(value);
    if (cb) s->callback(cb);
    return s;
}

Fl_Value_Input* make_input(int x, int y, int w, int h, const char* label, double lo, double hi, double step,
                           double value) {
    Fl_Value_Input* v = new Fl_Value_Input(x, y, w, h, label);
    v->bounds(lo, hi);
    v->step(step);
    v->value(value);
    return v;
}

Fl_Check_Button* make_check(int x, int y, int w, int h, const char* label, int value, Fl_Callback* cb) {
    Fl_Check_Button* b = new Fl_Check_Button(x, y, w, h, label);
    b->down_box(FL_DOWN_BOX);
    b->value(value);
    if (cb) b->callback(cb);
    return b;
}

void tick_label(int x, int y, int w, int h, const char* label) {
    Fl_Text_Display* t = new Fl_Text_Display(x, y, w, h, label);
    t->box(FL_NO_BOX);
    t->align(FL_ALIGN_LEFT);
}

}  // namespace

// ---- start-up -----------------------------------------------------------------------

void build_scaler_window() {
    scaler_window = new Fl_Double_Window(206, 430, "Fitmire");
    // Sides follow the labels: the left-foot button loads a left template (0),
    // the right-foot button a right one (1), as everywhere else in the program.
    bt_load_left = make_button(205, 37, 83, 35, "讀取(左足)", FL_GREEN);
    bt_load_left->callback(load_cb, as_data(0));
    bt_load_right = make_button(205, 74, 83, 35, "讀取(右足)", FL_GREEN);
    bt_load_right->callback(load_cb, as_data(1));
    bt_save = make_button(289, 37, 83, 35, "儲存", FL_RED);
    bt_save->callback(save_cb);
    bt_restore = make_button(373, 37, 83, 35, "還原", FL_BLUE);
    bt_restore->callback(restore_cb);
    va_width = make_slider(372, 114, 190, 29, "寬度(mm)", 0, 150, 1, 0, width_cb);
    tick_label(439, 146, 16, 18, "50%");
    tick_label(504, 140, 15, 30, "100%");
    tick_label(559, 146, 20, 18, "150%");
    bt_degree_30 = make_check(477, 192, 80, 25, "30度限制", 0, degree_30_cb);
    if (FILE* f = std::fopen(kDegree30File, "r")) {
        int on = 0;
        if (std::fscanf(f, "%d", &on) != 1) on = 0;
        std::fclose(f);
        bt_degree_30->value(on);
    }
    va_length = make_slider(374, 85, 191, 28, "長度(mm)", 0, 150, 1, 0, length_cb);
    va_height_ratio = make_slider(372, 162, 184, 25, "高度(比例)", 0.1, 2, 0.01, 1, rebuild_cb);
    bt_inner_arch = new Fl_Button(274, 231, 79, 29, "內 足弓");
    bt_inner_arch->callback(wedge_cb, as_data(static_cast<intptr_t>(Wedge::inner_arch)));
    bt_outer_arch = new Fl_Button(574, 231, 79, 29, "外 足弓");
    bt_outer_arch->callback(wedge_cb, as_data(static_cast<intptr_t>(Wedge::outer_arch)));
    bt_inner_heel = new Fl_Button(284, 466, 79, 29, "內 足跟");
    bt_inner_heel->callback(wedge_cb, as_data(static_cast<intptr_t>(Wedge::inner_heel)));
    bt_outer_heel = new Fl_Button(579, 461, 79, 29, "外 足跟");
    bt_outer_heel->callback(wedge_cb, as_data(static_cast<intptr_t>(Wedge::outer_heel)));
    bt_whole_heel = new Fl_Button(404, 606, 79, 29, "全足跟");
    bt_whole_heel->callback(wedge_cb, as_data(static_cast<intptr_t>(Wedge::whole_heel)));
    va_inner_arch = make_input(319, 283, 55, 27, "內足弓", 0, 50, 0.2, 3);
    va_outer_arch = make_input(619, 283, 55, 27, "外足弓", 0, 50, 0.2, 3);
    va_inner_heel = make_input(329, 513, 55, 27, "內足跟", 0, 50, 0.2, 3);
    va_outer_heel = make_input(624, 503, 55, 27, "外足跟", 0, 50, 0.2, 3);
    va_whole_heel = make_input(539, 608, 55, 27, "全足跟", 0, 50, 0.2, 3);
    va_left_arch_index = make_input(862, 338, 57, 24, "左足弓指標", 0, 1, 0.01, 0.27);
    va_left_arch_index->callback(arch_index_cb, as_data(0));
    va_right_arch_index = make_input(862, 368, 57, 24, "右足弓指標", 0, 1, 0.01, 0.27);
    va_right_arch_index->callback(arch_index_cb, as_data(1));
    va_pad_width = make_slider(857, 463, 105, 20, "蹠骨寬", 0, 100, 1, 7, rebuild_cb);
    va_pad_length = make_slider(857, 482, 105, 20, "蹠骨長", 0, 240, 1, 17, rebuild_cb);
    va_pad_height = make_slider(857, 502, 105, 20, "蹠骨墊高(mm)", 0, 9, 0.2, 5, rebuild_cb);
    ck_pad = make_check(857, 435, 90, 19, "蹠骨墊片", 1, rebuild_cb);
    ck_pad->labelsize(16);
    ck_pad->labelcolor(FL_RED);
    ck_pad->color(0);
    ck_vary_height = make_check(585, 84, 162, 30, "根據長度比例變動高度", 1, nullptr);
    ck_vary_width = make_check(584, 117, 162, 30, "根據長度比例變動寬度", 1, nullptr);
    va_hv_angle = make_slider(847, 93, 190, 29, "HV Angle", 0, 90, 0.1, 15, nullptr);

    scaler_view = new GL_Display_Image(30, 35, 150, 360);
    scaler_view->box(FL_BORDER_BOX);
    scaler_view->color(49);
    scaler_view->selection_color(49);
    scaler_view->labelfont(0);
    scaler_view->labelsize(14);
    scaler_view->labelcolor(0);
    scaler_view->align(FL_ALIGN_TOP);
    scaler_view->end();
    scaler_window->end();

    Fl::add_timeout(1.0 / 120, poll_tick, &the_poll_state);
}

void free_scaler_window() {
    Fl::remove_timeout(poll_tick, &the_poll_state);
    delete scaler_window;  // its children go with it
    scaler_window = nullptr;
    bt_load_left = bt_load_right = bt_save = bt_restore = nullptr;
    bt_inner_arch = bt_outer_arch = bt_inner_heel = bt_outer_heel = bt_whole_heel = nullptr;
    va_width = va_length = va_height_ratio = va_pad_width = va_pad_length = va_pad_height = va_hv_angle = nullptr;
    va_inner_arch = va_outer_arch = va_inner_heel = va_outer_heel = va_whole_heel = nullptr;
    va_left_arch_index = va_right_arch_index = nullptr;
    bt_degree_30 = ck_pad = ck_vary_height = ck_vary_width = nullptr;
    scaler_view = nullptr;
}

// ---- hand-off poller ------------------------------------------------------------------

bool poll_fires(poll_state& state, uint32_t now_second) {
    state.now_second = now_second;
    state.fire = state.now_second != state.last_second && state.now_second % 2 == 0;
    state.last_second = state.now_second;
    return state.fire;
}

namespace {

[[noreturn]] void end_program(int status) {
    std::fflush(stdout);
    std::exit(status);
}

// Takes the hand-off file out of the poller's way before it is read: it waits
// in "refused/" beside it until its job is done, so a job that cannot be
// finished is never lost. The path to read it from ("" when it cannot be read).
std::string take_handoff_file() {
    const std::vector<std::string> kept = platform::set_aside({kHandoffFile}, kRefusedFolder);
    if (!kept[0].empty()) return kept[0];
    std::printf("%s cannot be moved into %s; it is read where it is\n", kHandoffFile, kRefusedFolder);
    return "";
}

}  // namespace

void read_insole_parameters(poll_state& state) {
    if (!scaler_view) return;
    if (poll_fires(state, static_cast<uint32_t>(std::time(nullptr)))) {
        std::printf("Loop Check! %ld\n", static_cast<long>(state.now_second));
        if (handoff_waiting(kHandoffFile)) {
            std::printf("Read it ~ \n\n");
            const std::string kept = take_handoff_file();
            const std::string kept_as = kept.empty() ? std::string(kHandoffFile) : kept;
            if (!scaler_view->has_template()) {
                // Nothing can be rendered: waiting would only hold the job.
                std::printf("%s: no insole template is loaded, so no insole can be made; the hand-off file is kept "
                            "as %s\n",
                            kHandoffFile, kept_as.c_str());
                end_program(1);
            }
            Handoff h;
            std::memcpy(h.left_values, scaler_view->left_values, sizeof h.left_values);
            std::memcpy(h.right_values, scaler_view->right_values, sizeof h.right_values);
            std::string problems;
            const bool read = read_insole_parameters_file(kept_as, h, &problems, stdout);
            if (!problems.empty()) {
                std::printf("%s%s: %s\n", h.line_open ? "\n" : "", kHandoffFile, problems.c_str());
                h.line_open = false;
            }
            if (!read) {
                std::printf("%s: no job is taken from it; the hand-off file is kept as %s\n", kHandoffFile,
                            kept_as.c_str());
                end_program(0);
            }
            const bool taken = scaler_view->accept_handoff(h, kHandoffFile, kept);
            // Each file is taken once; one that could not be kept aside goes
            // only when its job was taken, so a refused one stays where it is.
            if (taken && kept.empty() && std::remove(kHandoffFile) != 0)
                std::printf("%s cannot be removed\n", kHandoffFile);
            // The insoles are made in the view's draw, and a window that
            // another one (the path program's) covered before it was first
            // drawn gets no draw at all: bring it to the top for the job. The
            // expose this raise brings saves nothing by itself.
            if (taken) {
                if (scaler_window && scaler_window->shown()) scaler_window->show();
            } else if (scaler_view->close_job()) {
                end_program(0);
            }
        }
    }
    ScalerControls c = read_controls();
    if (scaler_view->left_pending || scaler_view->right_pending) {
        scaler_view->apply_pending(c);
        write_controls(c);
    }
    scaler_view->redraw();
}

void poll_tick(void* state) {
    read_insole_parameters(*static_cast<poll_state*>(state));
    Fl::repeat_timeout(1.0 / 120, poll_tick, state);
}

int run(int argc, char** argv) {
    // One line at a time, so the log is whole even when the program is killed.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    common::use_cjk_font();
    build_scaler_window();
    scaler_window->show(argc, argv);
    const int status = Fl::run();
    free_scaler_window();
    return status;
}

}  // namespace fitmire
