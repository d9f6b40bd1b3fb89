// Timing shared by the comparison programs: each contender's best time over a few runs, each
// run prepared (inputs rebuilt or copied) outside the timed part.
#pragma once

#include <algorithm>
#include <chrono>
#include <functional>

namespace zancompare
{
/// Best wall time in seconds of \p work over \p runs runs, \p prepare run untimed before each.
inline double BestOf(int runs, const std::function<void()>& prepare,
                     const std::function<void()>& work)
{
    double best = 1e30;
    for (int r = 0; r < runs; ++r)
    {
        prepare();
        auto t0 = std::chrono::steady_clock::now();
        work();
        auto t1 = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
    }
    return best;
}
} // namespace zancompare
