// Stopwatch over a tick counter (the performance counter in the program,
// a fake clock in tests).
#pragma once

#include <cstdint>

namespace station {

using CounterFn = int64_t (*)();

class Stopwatch {
public:
    Stopwatch(CounterFn counter, int64_t frequency);
    void start();
    void stop();
    // Seconds from the last start to the last stop, or to now while running;
    // a stopwatch never started counts from the counter's origin.
    double elapsed_seconds();

    double start_us = 0;
    double end_us = 0;
    int stopped = 0;
    int64_t frequency = 1;
    int64_t start_count = 0;
    int64_t end_count = 0;

private:
    CounterFn counter_;
};

}  // namespace station
