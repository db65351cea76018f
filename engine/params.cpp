// Parameter table lookup and the plain-value parameter store.
#include "params.h"

namespace engine {

namespace {
const ParamInfo kTable[PARAM_COUNT] = {
#define PARAM(name, kind, label, mn, mx, st, start, ff, blank) \
    {#name, ParamKind::kind, label, mn, mx, st, start, ParamFile::ff, blank},
#include "param_table.def"
#undef PARAM
};

ParamStore* g_store = nullptr;
}  // namespace

const ParamInfo& param_info(ParamId id) { return kTable[id]; }

PlainParamStore::PlainParamStore() {
    for (int i = 0; i < PARAM_COUNT; ++i) {
        values_[i] = kTable[i].start;
        min_[i] = kTable[i].minimum;
        max_[i] = kTable[i].maximum;
        step_[i] = kTable[i].step;
    }
}

ParamStore& params() {
    static PlainParamStore plain;
    return g_store ? *g_store : plain;
}

void set_param_store(ParamStore* store) { g_store = store; }

}  // namespace engine
