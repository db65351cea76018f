// Stopwatch over a tick counter.
#include "stopwatch.h"

namespace station {

Stopwatch::Stopwatch(CounterFn counter, int64_t freq) : frequency(freq > 0 ? freq : 1), counter_(counter) {}

void Stopwatch::start() {
    stopped = 0;
    start_count = counter_();
}

void Stopwatch::stop() {
    stopped = 1;
    end_count = counter_();
}

double Stopwatch::elapsed_seconds() {
    if (!stopped) end_count = counter_();
    start_us = start_count * (1000000.0 / frequency);
    end_us = end_count * (1000000.0 / frequency);
    return (end_us - start_us) * 0.000001;
}

}  // namespace station
