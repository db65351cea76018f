// The scheduler step that the entrance view's timeout runs 120 times a second.
#pragma once

#include "station/server_state.h"

namespace station {

// One step: countdowns, the 5 s internet check, the 8 s file cycle (records,
// image list, Strandel) and, while online, the web-service calls.
void server_tick(ServerState& s);

}  // namespace station
