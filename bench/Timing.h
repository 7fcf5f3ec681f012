#pragma once

// Wall-clock timing of a piece of benchmark work.

#include <algorithm>
#include <chrono>
#include <functional>

inline double millisecondsOf(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// The least of several runs: the figure least disturbed by the rest of the machine.
inline double bestOf(int runs, const std::function<void()>& work)
{
    double least = 1e300;
    for (int i = 0; i < runs; ++i)
        least = std::min(least, millisecondsOf(work));
    return least;
}
