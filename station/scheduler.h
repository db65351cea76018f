// The scheduler step that the entrance view's timeout runs 120 times a second.
#pragma once

#include "station/server_state.h"

namespace station {

// One step: countdowns, the 5 s internet check, the 8 s file cycle (records,
// image list, Strandel) and, while online, the web-service calls.
void server_tick(ServerState& s);
// While a download holds the tick: the file cycle's records, image list and
// Strandel start when they are due (the pending jobs wait for the tick).
void file_cycle_while_busy(ServerState& s);
// The end asked for by a stop signal: what is not yet on disk is written.
void shut_down_server(ServerState& s);

}  // namespace station
