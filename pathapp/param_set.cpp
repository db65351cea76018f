// The parameter widgets: creation from the parameter table, loading at start,
// the widget-backed parameter store and every parameter callback.
#include "pathapp/param_set.h"

#include <FL/Fl.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Light_Button.H>
#include <FL/Fl_Multiline_Input.H>
#include <FL/Fl_Slider.H>
#include <FL/Fl_Value_Input.H>
#include <FL/Fl_Value_Output.H>
#include <FL/Fl_Value_Slider.H>
#include <FL/Fl_Window.H>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/file_util.h"
#include "engine/layer_raster.h"

namespace pathapp {

using namespace engine;

// ---- the program's parameter globals ----------------------------------------------
Fl_Widget* param_widgets[PARAM_COUNT] = {};  // every parameter's widget by id
namespace {
ParamHooks g_hooks;              // actions of other parts, filled in by main
RasterFields g_raster;           // the layer raster's fields the callbacks set
WidgetParamStore g_store;        // values as the engine reads them
struct RefusedFile {
    std::string file, why;
};
std::vector<RefusedFile> g_refused;  // parameter files whose value was refused; no batch job starts meanwhile
}  // namespace

ParamHooks& param_hooks() { return g_hooks; }
WidgetParamStore& widget_param_store() { return g_store; }

void set_param_raster_fields(const RasterFields& fields) { g_raster = fields; }
const RasterFields& param_raster_fields() { return g_raster; }

void set_param_raster(LayerRaster* r) {
    RasterFields f;
    if (r) {
        f.interval_values = &r->interval_values;
        f.path_request = &r->path_request;
        f.full_path_request = &r->full_path_request;
        f.height_request = &r->height_request;
        f.insole_mesh_model = &r->insole_mesh_model;
        f.run_total = &r->run_total;
        f.saved_point_space = &r->saved_point_space;
        f.saved_interval_index = &r->saved_interval_index;
    }
    g_raster = f;
}

namespace {

template <class T>
void set_field(T* field, T v) {
    if (field) *field = v;
}

Fl_Choice* choice_widget(ParamId id) { return dynamic_cast<Fl_Choice*>(param_widgets[id]); }

// A choice index as the toolkit applies it: -1 clears the selection, an index
// beyond the items leaves it as it is.
void select_choice(Fl_Choice* c, int index) {
    if (index == -1) {
        c->value(static_cast<const Fl_Menu_Item*>(nullptr));
    } else if (index >= 0 && index < c->size() - 1) {
        c->value(index);
    }
    c->redraw();
}

void write_param_file(ParamId id) {
    const ParamInfo& in = param_info(id);
    switch (in.file) {
    case ParamFile::F:
    case ParamFile::D:
    case ParamFile::DF:
    case ParamFile::DN:
        write_one_value_file(param_path(param_file_name(id)), in.file, g_store.value(id));
        break;
    case ParamFile::TEXT:
        write_text_file(param_path(param_file_name(id)), g_store.text(id));
        break;
    default:
        break;
    }
}

// True when the parameter's one-value file was there and its value was
// taken; a value outside what the parameter may hold is refused and the
// widget keeps the value it has.
bool load_one_value(ParamId id) {
    const ParamInfo& in = param_info(id);
    const std::string file = param_file_name(id);
    std::string data;
    double lo = 0, hi = 0;
    const bool judged = param_read_limits(id, lo, hi);
    if (!read_whole_file(param_path(file), data)) {
        // There but not readable (too large, no permission): its value is unknown.
        if (judged && common::file_exists(param_path(file))) refuse_param_file(file, "cannot be read", g_store.value(id));
        return false;
    }
    const OneValue v = parse_one_value(data.data(), data.size(), in.file, in.blank, judged ? nullptr : file.c_str());
    const std::string why = param_value_refusal(id, v);
    if (!why.empty()) {
        refuse_param_file(file, why, g_store.value(id));
        return false;
    }
    g_store.set_value(id, v.value);
    return true;
}

// The file a parameter's value is stored in, for the refusal list.
std::string stored_in(ParamId id) {
    if (id == va_point_space) return POINT_SPACING_FILE;
    return param_file_name(id);
}

// A value the operator set is judged as its file will be at the next start.
void judge_set_value(ParamId id) {
    OneValue v;
    v.value = g_store.value(id);
    v.number = true;
    const std::string why = param_value_refusal(id, v);
    const std::string file = stored_in(id);
    clear_param_refusal(file);
    if (!why.empty()) g_refused.push_back({file, why});
}

void rebuild_sample_grid() {
    int step = trunc_to_int(g_store.value(va_point_space));
    if (step < 1) {
        printf("point spacing %d is below 1: sample grid not rebuilt\n", step);
        return;
    }
    if (g_hooks.build_sample_grid) g_hooks.build_sample_grid(step);
}

// The first steps of a point-spacing change: grid, request, interval items.
void point_spacing_changed() {
    rebuild_sample_grid();
    set_field<uint8_t>(g_raster.path_request, 1);
    if (g_store.value(ck_offset_cross) != 0) fill_interval_choice();
}

void save_point_spacing_state() {
    int point_space = trunc_to_int(g_store.value(va_point_space));
    int index = trunc_to_int(g_store.value(choice_interval));
    write_point_spacing_file(param_path(POINT_SPACING_FILE), point_space, index);
    set_field<int32_t>(g_raster.saved_point_space, point_space);
    set_field<int32_t>(g_raster.saved_interval_index, index);
}

// The file is written whole from the image view's origin, so it is judged
// whole: mending x of a file whose y was refused leaves it refused.
void move_origin(ParamId id) {
    OriginPoint o;
    if (!g_hooks.get_origin || !g_hooks.get_origin(o)) return;
    int v = trunc_to_int(g_store.value(id));
    if (id == origin_x) o.x = v; else o.y = v;
    if (g_hooks.set_origin) g_hooks.set_origin(o);
    write_origin_point_file(param_path(ORIGIN_POINT_FILE), o);
    clear_param_refusal(ORIGIN_POINT_FILE);
    if (const std::string why = origin_refusal(o); !why.empty()) g_refused.push_back({ORIGIN_POINT_FILE, why});
}

void show_current_angle() {
    if (g_hooks.current_angle) g_store.set_value(out_current_angle, g_hooks.current_angle());
}

void param_cb(Fl_Widget* w, void* data) {
    // A field taking finished values also reports being left without an edit.
    auto* field = dynamic_cast<Fl_Value_Input*>(w);
    if (field && (field->when() & FL_WHEN_ENTER_KEY) && Fl::event() == FL_UNFOCUS && !field->input.changed()) return;
    on_param_changed(static_cast<ParamId>(reinterpret_cast<intptr_t>(data)));
}

// Parameters without a file whose change still does something.
bool has_action(ParamId id) {
    switch (id) {
    case va_interval:
    case va_cut_plane:
    case va_layer_index:
    case va_print_thickness:
    case bt_panel_toggle:
        return true;
    default:
        return param_info(id).file != ParamFile::NONE;
    }
}

}  // namespace

// ---- creation and start-up ----------------------------------------------------------

Fl_Widget* create_param_widget(ParamId id, int x, int y, int w, int h) {
    const ParamInfo& in = param_info(id);
    const char* label = in.label[0] ? in.label : nullptr;
    Fl_Widget* made = nullptr;
    switch (in.kind) {
    case ParamKind::VI: {
        auto* v = new Fl_Value_Input(x, y, w, h, label);
        v->range(in.minimum, in.maximum);
        v->step(in.step);
        v->value(in.start);
        made = v;
        break;
    }
    case ParamKind::VS: {
        auto* v = new Fl_Value_Slider(x, y, w, h, label);
        v->type(FL_HOR_SLIDER);
        v->textsize(14);
        // The two layer sliders keep their labels below them.
        if (id != va_cut_plane && id != va_layer_index) v->align(FL_ALIGN_LEFT);
        v->bounds(in.minimum, in.maximum);
        v->step(in.step);
        v->value(in.start);
        made = v;
        break;
    }
    case ParamKind::VO: {
        auto* v = new Fl_Value_Output(x, y, w, h, label);
        v->range(in.minimum, in.maximum);
        v->step(in.step);
        v->value(in.start);
        made = v;
        break;
    }
    case ParamKind::CB: {
        auto* b = new Fl_Check_Button(x, y, w, h, label);
        b->down_box(FL_DOWN_BOX);
        b->value(in.start != 0);
        made = b;
        break;
    }
    case ParamKind::LB: {
        auto* b = new Fl_Light_Button(x, y, w, h, label);
        b->value(in.start != 0);
        made = b;
        break;
    }
    case ParamKind::CH: {
        auto* c = new Fl_Choice(x, y, w, h, label);
        c->down_box(FL_BORDER_BOX);
        if (id == choice_bottom_type) {
            c->add("標準");
            c->add("足弓內縮");
            c->add("全部內縮");
        }
        made = c;
        break;
    }
    case ParamKind::MI:
        made = new Fl_Multiline_Input(x, y, w, h, label);
        break;
    }
    if (id == va_pre_extrusion) made->tooltip("要比回抽還高");
    if (id == va_back_extrusion) made->tooltip("要比預擠還低");
    param_widgets[id] = made;

    // The stored value; setting it runs no callback.
    switch (in.file) {
    case ParamFile::F:
    case ParamFile::D:
    case ParamFile::DF:
    case ParamFile::DN:
        load_one_value(id);
        break;
    case ParamFile::TEXT: {
        std::string text;
        if (read_text_file(param_path(param_file_name(id)), text)) g_store.set_text(id, text);
        break;
    }
    case ParamFile::SPECIAL:
        if (id == choice_interval) {
            made->deactivate();
            PointSpacing ps;
            if (read_point_spacing_file(param_path(POINT_SPACING_FILE), ps)) g_store.set_value(id, ps.interval_index);
            set_field<int32_t>(g_raster.saved_interval_index, trunc_to_int(g_store.value(id)));
        } else if (id == va_point_space) {
            set_field<int32_t>(g_raster.saved_point_space, 3);
            PointSpacing ps;
            if (read_point_spacing_file(param_path(POINT_SPACING_FILE), ps)) {
                OneValue v;
                v.value = ps.point_space;
                v.number = true;
                const std::string why = param_value_refusal(id, v);
                if (!why.empty()) {
                    refuse_param_file(POINT_SPACING_FILE, why, g_store.value(id));
                } else {
                    g_store.set_value(id, ps.point_space);
                    point_spacing_changed();
                }
            }
        }
        // origin_x / origin_y are shown by the image view from origin_point.txt.
        break;
    case ParamFile::NONE:
        break;
    }
    if (id == out_current_angle) show_current_angle();
    if (has_action(id)) made->callback(param_cb, reinterpret_cast<void*>(static_cast<intptr_t>(id)));
    return made;
}

void start_point_spacing() {
    // The offset check starts on whatever its file holds; its file keeps its
    // value until the operator toggles it.
    g_store.set_value(ck_offset_cross, 1);
    fill_interval_choice();
    PointSpacing ps;
    if (read_point_spacing_file(param_path(POINT_SPACING_FILE), ps)) g_store.set_value(choice_interval, ps.interval_index);
    set_field<int32_t>(g_raster.saved_point_space, trunc_to_int(g_store.value(va_point_space)));
    set_field<int32_t>(g_raster.saved_interval_index, trunc_to_int(g_store.value(choice_interval)));
}

void start_base_plate_params() {
    // The saved shape's preset first, then the sliders' own files over it.
    if (load_one_value(choice_bottom_type)) apply_bottom_preset();
    load_one_value(va_bm_para_2);
    load_one_value(va_bm_para_1);
}

// ---- refused parameter files --------------------------------------------------------

void refuse_param_file(const std::string& file, const std::string& why, double kept) {
    printf("%s: %s; refused, the value stays %g\n", file.c_str(), why.c_str(), kept);
    clear_param_refusal(file);
    g_refused.push_back({file, why});
}

void clear_param_refusal(const std::string& file) {
    for (size_t i = 0; i < g_refused.size(); ++i)
        if (file.empty() || g_refused[i].file == file) g_refused.erase(g_refused.begin() + static_cast<long>(i--));
}

std::string batch_param_blocker() {
    if (!g_refused.empty()) return g_refused.front().file + ": " + g_refused.front().why;
    // Set by a job's settings, Parameters.txt or typing, not only by its file.
    const double spacing = g_store.value(va_spacing);
    if (!(spacing > 0)) return param_file_name(va_spacing) + ": the layer spacing " + std::to_string(spacing) +
                               " is not positive";
    return "";
}

void take_typed_values_when_finished() {
    for (Fl_Widget* w : param_widgets) {
        if (auto* field = dynamic_cast<Fl_Value_Input*>(w)) field->when(FL_WHEN_RELEASE | FL_WHEN_ENTER_KEY_ALWAYS);
        // A slider likewise once it is let go, not at each step of a drag.
        if (auto* slider = dynamic_cast<Fl_Slider*>(w)) slider->when(FL_WHEN_RELEASE);
    }
}

// ---- callbacks ---------------------------------------------------------------------

void on_param_changed(ParamId id) {
    double lo = 0, hi = 0;
    if (id != origin_x && id != origin_y && param_read_limits(id, lo, hi)) judge_set_value(id);
    switch (id) {
    case va_interval:
        g_store.set_range(va_interval, g_store.minimum(va_interval), g_store.value(tx_point_space_2));
        g_store.redraw(va_interval);
        return;
    case va_bm_para_1:
    case va_bm_para_2:
        if (g_hooks.apply_base_plate) g_hooks.apply_base_plate();
        break;
    case origin_x:
    case origin_y:
        move_origin(id);
        return;
    case va_pre_extrusion:
        if (g_store.value(va_back_extrusion) > g_store.value(va_pre_extrusion))
            g_store.set_value(va_pre_extrusion, g_store.value(va_back_extrusion));
        break;
    case va_back_extrusion:
        if (g_store.value(va_pre_extrusion) < g_store.value(va_back_extrusion))
            g_store.set_value(va_back_extrusion, g_store.value(va_pre_extrusion));
        break;
    case ck_offset_cross:
        write_param_file(id);
        fill_interval_choice();
        return;
    case choice_interval:
        save_point_spacing_state();
        return;
    case va_point_space:
        point_spacing_changed();
        save_point_spacing_state();
        return;
    case tx_point_space_h:
    case tx_point_space_v:
        point_spacing_changed();
        break;
    case va_cut_plane:
    case va_layer_index:
        set_field<uint8_t>(g_raster.path_request, 1);
        if (g_hooks.set_layer_angle_on) g_hooks.set_layer_angle_on();
        return;
    case ck_self_def_angle:
        show_current_angle();
        break;
    case va_print_thickness: {
        // A spacing of zero or less gives no layer count; the maximum stays.
        double spacing = g_store.value(va_spacing);
        if (spacing > 0) {
            double top = g_store.value(va_print_thickness) / spacing - 1;
            g_store.set_range(va_layer_index, g_store.minimum(va_layer_index), top);
            g_store.redraw(va_layer_index);
        }
        return;
    }
    case bt_whole_insole:
        set_field<uint8_t>(g_raster.height_request, 1);
        break;
    case choice_bottom_type:
        apply_bottom_preset();
        write_param_file(id);
        remove(param_path(param_file_name(va_bm_para_1)).c_str());
        remove(param_path(param_file_name(va_bm_para_2)).c_str());
        return;
    case bt_panel_toggle:
        set_panel_size(g_store.value(bt_panel_toggle) != 0);
        return;
    default:
        break;
    }
    write_param_file(id);
}

// ---- interval choice and base-plate preset --------------------------------------------

std::vector<IntervalItem> interval_items(double v) {
    std::vector<IntervalItem> items;
    items.push_back({"0.300000", 0.3f});
    int n = trunc_to_int(v);
    if (n >= 1) {
        // Divisors in pairs up to the square root, so a huge spacing read
        // from a file cannot stall the program.
        std::vector<int> low, high;
        for (long long i = 1; i * i <= n; ++i) {
            if (n % i == 0) {
                low.push_back(static_cast<int>(i));
                if (i * i != n) high.push_back(static_cast<int>(n / i));
            }
        }
        low.insert(low.end(), high.rbegin(), high.rend());
        for (int d : low) {
            char buf[32];
            snprintf(buf, sizeof buf, "%d", d);
            items.push_back({buf, static_cast<float>(d)});
        }
    }
    if (n % 2 != 0) {
        char buf[64];
        snprintf(buf, sizeof buf, "%0.1f", v * 0.5);
        items.push_back({buf, static_cast<float>(v * 0.5)});
    }
    return items;
}

void fill_interval_choice() {
    Fl_Choice* c = choice_widget(choice_interval);
    if (g_store.value(ck_offset_cross) == 0) {
        if (c) c->deactivate();
        return;
    }
    if (c) {
        c->activate();
        c->clear();
    }
    if (g_raster.interval_values) g_raster.interval_values->clear();
    std::vector<IntervalItem> items = interval_items(g_store.value(va_point_space));
    for (const IntervalItem& item : items) {
        if (c) c->add(item.label.c_str());
        if (g_raster.interval_values) g_raster.interval_values->push_back(item.value);
    }
    g_store.set_value(choice_interval, static_cast<double>(items.size()) - 2);
    if (c) c->redraw();
}

void apply_bottom_preset() {
    double p1 = 8, p2 = 0.2;  // "全部內縮" and nothing selected
    switch (trunc_to_int(g_store.value(choice_bottom_type))) {
    case 0:
        p1 = 6;
        p2 = 0.14;
        break;
    case 1:
        p1 = 6;
        p2 = 0.2;
        break;
    default:
        break;
    }
    g_store.set_value(va_bm_para_1, p1);
    g_store.set_value(va_bm_para_2, p2);
    if (g_hooks.apply_base_plate) g_hooks.apply_base_plate();
}

// ---- the widget-backed store ---------------------------------------------------------

double WidgetParamStore::value(ParamId id) const {
    Fl_Widget* w = param_widgets[id];
    if (auto* v = dynamic_cast<Fl_Valuator*>(w)) return v->value();
    if (auto* b = dynamic_cast<Fl_Button*>(w)) return b->value();
    if (auto* c = dynamic_cast<Fl_Choice*>(w)) return c->value();
    if (dynamic_cast<Fl_Input_*>(w)) return 0;
    return plain_.value(id);
}

void WidgetParamStore::set_value(ParamId id, double v) {
    Fl_Widget* w = param_widgets[id];
    if (auto* val = dynamic_cast<Fl_Valuator*>(w)) {
        val->value(v);
    } else if (auto* b = dynamic_cast<Fl_Button*>(w)) {
        b->value(v != 0);
    } else if (auto* c = dynamic_cast<Fl_Choice*>(w)) {
        select_choice(c, trunc_to_int(v));
    } else if (!w) {
        plain_.set_value(id, v);
    }
}

double WidgetParamStore::minimum(ParamId id) const {
    if (auto* v = dynamic_cast<Fl_Valuator*>(param_widgets[id])) return v->minimum();
    return plain_.minimum(id);
}

double WidgetParamStore::maximum(ParamId id) const {
    if (auto* v = dynamic_cast<Fl_Valuator*>(param_widgets[id])) return v->maximum();
    return plain_.maximum(id);
}

void WidgetParamStore::set_range(ParamId id, double mn, double mx) {
    Fl_Widget* w = param_widgets[id];
    if (auto* s = dynamic_cast<Fl_Slider*>(w)) {
        s->bounds(mn, mx);
    } else if (auto* v = dynamic_cast<Fl_Valuator*>(w)) {
        v->range(mn, mx);
    }
    plain_.set_range(id, mn, mx);
}

void WidgetParamStore::set_step(ParamId id, double step) {
    if (auto* v = dynamic_cast<Fl_Valuator*>(param_widgets[id])) v->step(step);
    plain_.set_step(id, step);
}

std::string WidgetParamStore::text(ParamId id) const {
    if (auto* in = dynamic_cast<Fl_Input_*>(param_widgets[id])) return in->value();
    return plain_.text(id);
}

void WidgetParamStore::set_text(ParamId id, const std::string& t) {
    Fl_Widget* w = param_widgets[id];
    if (auto* in = dynamic_cast<Fl_Input_*>(w)) {
        in->value(t.c_str());
    } else if (!w) {
        plain_.set_text(id, t);
    }
}

void WidgetParamStore::redraw(ParamId id) {
    if (Fl_Widget* w = param_widgets[id]) w->redraw();
}

}  // namespace pathapp
