// Plain parameter widgets for builds without the parameter set's files.
#include "pathapp/param_seam.h"

#if !STRANDEL_HAVE_PARAM_SET
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Light_Button.H>
#include <FL/Fl_Multiline_Input.H>
#include <FL/Fl_Value_Input.H>
#include <FL/Fl_Value_Output.H>
#include <FL/Fl_Value_Slider.H>

namespace pathapp {

Fl_Widget* create_param_widget(engine::ParamId id, int x, int y, int w, int h) {
    const engine::ParamInfo& p = engine::param_info(id);
    Fl_Valuator* v = nullptr;
    switch (p.kind) {
    case engine::ParamKind::VI: v = new Fl_Value_Input(x, y, w, h, p.label); break;
    case engine::ParamKind::VS: v = new Fl_Value_Slider(x, y, w, h, p.label); break;
    case engine::ParamKind::VO: v = new Fl_Value_Output(x, y, w, h, p.label); break;
    case engine::ParamKind::CB: {
        auto* b = new Fl_Check_Button(x, y, w, h, p.label);
        b->value(p.start != 0);
        return b;
    }
    case engine::ParamKind::LB: {
        auto* b = new Fl_Light_Button(x, y, w, h, p.label);
        b->value(p.start != 0);
        return b;
    }
    case engine::ParamKind::CH: return new Fl_Choice(x, y, w, h, p.label);
    case engine::ParamKind::MI: return new Fl_Multiline_Input(x, y, w, h, p.label);
    }
    if (p.minimum != 0 || p.maximum != 1) v->bounds(p.minimum, p.maximum);
    v->step(p.step);
    v->value(p.start);
    return v;
}

}  // namespace pathapp
#endif
