// The print settings as the engine sees them: one id per parameter of
// param_table.def, read and written through a ParamStore that the shell
// implements over its widgets and tests implement over plain values.
#pragma once

#include <string>

namespace engine {

enum class ParamKind { VI, VS, VO, CB, LB, CH, MI };
enum class ParamFile { NONE, F, D, DF, DN, TEXT, SPECIAL };

enum ParamId {
#define PARAM(name, kind, label, mn, mx, st, start, ff, blank) name,
#include "param_table.def"
#undef PARAM
    PARAM_COUNT
};

struct ParamInfo {
    const char* name;   // also the file stem: name + ".txt"
    ParamKind kind;
    const char* label;  // UTF-8
    double minimum;
    double maximum;
    double step;
    double start;
    ParamFile file;
    double blank;       // value taken when the file exists but holds no number
};

const ParamInfo& param_info(ParamId id);

// Values are doubles for every kind: buttons hold 0 or 1, a choice its
// selected index (-1 when none). Setting a value never runs the widget's
// callback, so nothing is written back to a parameter file.
class ParamStore {
public:
    virtual ~ParamStore() = default;
    virtual double value(ParamId id) const = 0;
    virtual void set_value(ParamId id, double v) = 0;
    virtual double minimum(ParamId id) const = 0;
    virtual double maximum(ParamId id) const = 0;
    virtual void set_range(ParamId id, double mn, double mx) = 0;
    virtual void set_step(ParamId id, double step) = 0;
    virtual std::string text(ParamId id) const = 0;     // MI widgets
    virtual void set_text(ParamId id, const std::string& t) = 0;
    virtual void redraw(ParamId) {}
};

// Plain values, every parameter at its start value; for tests and for any
// caller without widgets.
class PlainParamStore : public ParamStore {
public:
    PlainParamStore();
    double value(ParamId id) const override { return values_[id]; }
    void set_value(ParamId id, double v) override { values_[id] = v; }
    double minimum(ParamId id) const override { return min_[id]; }
    double maximum(ParamId id) const override { return max_[id]; }
    void set_range(ParamId id, double mn, double mx) override { min_[id] = mn; max_[id] = mx; }
    void set_step(ParamId id, double step) override { step_[id] = step; }
    double step(ParamId id) const { return step_[id]; }
    std::string text(ParamId id) const override { return texts_[id]; }
    void set_text(ParamId id, const std::string& t) override { texts_[id] = t; }

private:
    double values_[PARAM_COUNT];
    double min_[PARAM_COUNT];
    double max_[PARAM_COUNT];
    double step_[PARAM_COUNT];
    std::string texts_[PARAM_COUNT];
};

// The store the engine reads. The shell installs its widget-backed store at
// start; until then (and in tests that do not install one) a PlainParamStore.
ParamStore& params();
void set_param_store(ParamStore* store);  // nullptr restores the plain store

inline double pval(ParamId id) { return params().value(id); }
inline bool pon(ParamId id) { return params().value(id) != 0.0; }

}  // namespace engine
