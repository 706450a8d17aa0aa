#include "chartvalues.h"

#include <limits>

namespace {
constexpr double Inf = std::numeric_limits<double>::infinity();
}

void ChartValues::append(double value)
{
    m_values.push_back(value);
    if ((size() & FanMask) == 0)
        summarise();
}

void ChartValues::commit(int n)
{
    m_values.commit(n);
    summarise();
}

void ChartValues::clear()
{
    m_values.clear();
    m_levels.clear();
}

// Adds an entry for every block completed since the last call, level by level
// upward; a level that gained nothing cannot complete a block above it.
void ChartValues::summarise()
{
    for (int level = 1;; ++level) {
        const int below = level == 1 ? size() : m_levels[size_t(level - 2)].size();
        if (below < Fan)
            return;
        if (int(m_levels.size()) < level)
            m_levels.emplace_back();
        auto &entries = m_levels[size_t(level - 1)];
        const int wanted = below >> FanBits;
        if (entries.size() == wanted)
            return;
        while (entries.size() < wanted) {
            const int begin = entries.size() << FanBits;
            Extent e{Inf, -Inf};
            for (int child = begin; child < begin + Fan; ++child) {
                if (level == 1) {
                    const double v = at(child);
                    if (std::isfinite(v)) {
                        e.lo = std::min(e.lo, v);
                        e.hi = std::max(e.hi, v);
                    }
                } else {
                    const Extent &c = entry(level - 1, child);
                    e.lo = std::min(e.lo, c.lo);
                    e.hi = std::max(e.hi, c.hi);
                }
            }
            entries.push_back(e);
        }
    }
}

bool ChartValues::extremes(int from, int to, double *min, double *max) const
{
    int a = std::max(from, 0);
    int b = std::min(to, size() - 1);
    double lo = Inf, hi = -Inf;
    auto take = [&](int level, int index) {
        if (level == 0) {
            const double v = at(index);
            if (std::isfinite(v)) {
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
        } else {
            const Extent &e = entry(level, index);
            lo = std::min(lo, e.lo);
            hi = std::max(hi, e.hi);
        }
    };
    int level = 0;
    while (a <= b) {
        for (; a <= b && (a & FanMask) != 0; ++a)
            take(level, a);
        for (; a <= b && ((b + 1) & FanMask) != 0; --b)
            take(level, b);
        if (a > b)
            break;
        a >>= FanBits;
        b = ((b + 1) >> FanBits) - 1;
        ++level;
    }
    if (lo > hi)
        return false;
    *min = lo;
    *max = hi;
    return true;
}
