// Where the shell gets its parameter widgets: the parameter set's
// create_param_widget when it is in the tree, else a plain widget maker.
#pragma once

#include "engine/params.h"

class Fl_Widget;

#if __has_include("pathapp/param_set.h")
#include "pathapp/param_set.h"
#define STRANDEL_HAVE_PARAM_SET 1
#else
#define STRANDEL_HAVE_PARAM_SET 0
namespace pathapp {
// The widget of the parameter's kind with its label, range, step and start
// value; no file and no callback.
Fl_Widget* create_param_widget(engine::ParamId id, int x, int y, int w, int h);
}  // namespace pathapp
#endif
