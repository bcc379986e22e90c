#pragma once
// The simulator's clock and its one way of waiting.

#include <algorithm>
#include <chrono>
#include <csignal>
#include <thread>

// Set by SIGINT and SIGTERM: every wait ends early and the simulator stops.
inline volatile std::sig_atomic_t g_quit = 0;

inline double nowSeconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Sleeps in short slices so that SIGINT or SIGTERM ends a long measurement
// at once.
inline void sleepMs(int ms)
{
    const double end = nowSeconds() + ms / 1000.0;
    for (double left = ms / 1000.0; left > 0 && !g_quit; left = end - nowSeconds())
        std::this_thread::sleep_for(std::chrono::duration<double>(std::min(left, 0.02)));
}
