// The one limit on a job name (the customer's mobile that names an insole job)
// shared by all three programs, so a name one program accepts is one the next
// can finish.
#pragma once

namespace common {

// The path program formats "C:\VerdanelFiles\temp\<name>_iRight.gcode" into a
// 128-byte buffer: 22 + name + 13 + 1 <= 128 leaves 92 bytes for the name.
// Hostlet hands over no longer name, Fitmire saves none and the path program
// prints every one up to it.
constexpr int kMaxJobNameBytes = 92;

}  // namespace common
