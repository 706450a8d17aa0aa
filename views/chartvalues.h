#pragma once

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

// A growing array kept in fixed chunks of 2^Bits elements: appending never
// moves what is held, and memory follows the size (at most one chunk unused).
// Chunks are not zeroed, so reserved room costs no resident memory.
template <typename T, int Bits> class ChunkedArray
{
public:
    static constexpr int ChunkSize = 1 << Bits;

    int size() const { return m_size; }
    const T &operator[](int index) const
    {
        return m_chunks[size_t(index) >> Bits][size_t(index) & (ChunkSize - 1)];
    }
    // Room after the last element, in one run of memory; commit() makes n of it count.
    T *tail(int *room)
    {
        const size_t chunk = size_t(m_size) >> Bits;
        if (chunk == m_chunks.size())
            m_chunks.emplace_back(new T[ChunkSize]);
        const int offset = m_size & (ChunkSize - 1);
        *room = ChunkSize - offset;
        return m_chunks[chunk].get() + offset;
    }
    void commit(int n) { m_size += n; }
    void push_back(const T &value)
    {
        int room = 0;
        *tail(&room) = value;
        ++m_size;
    }
    void clear()
    {
        m_chunks.clear();
        m_size = 0;
    }

private:
    std::vector<std::unique_ptr<T[]>> m_chunks;
    int m_size = 0;
};

// The values of one chart series in arrival order, and a min/max pyramid over
// them: level 1 holds the finite extremes of each aligned block of 16 values,
// level 2 of each block of 256, and so on, each level 16 times coarser. Only
// complete blocks have an entry, so appending costs amortised O(1) and no
// entry is ever revised. A question about a range of values costs about
// 2 x 15 entries per level, log16(n) levels, instead of the range's length.
//
// Non-finite values are held but take no part in any extreme or search.
class ChartValues
{
public:
    static constexpr int FanBits = 4;
    static constexpr int Fan = 1 << FanBits;

    int size() const { return m_values.size(); }
    double at(int index) const { return m_values[index]; }

    void append(double value);
    // Room for up to *room values after the last one; commit(n) adds the first
    // n of them. Lets a source write a run of values in place.
    double *tail(int *room) { return m_values.tail(room); }
    void commit(int n);
    void clear();

    // Smallest and largest finite value in [from, to] (clamped to the values
    // held); false when there is none.
    bool extremes(int from, int to, double *min, double *max) const;

    // First / last index in [from, to] holding a finite value v with
    // matches(v, v), or -1. matches(lo, hi) is asked about whole blocks with
    // finite extremes lo <= hi and must be true whenever some finite value in
    // [lo, hi] could match; blocks answered false are skipped unread.
    template <typename Matches> int findFirst(int from, int to, Matches matches) const;
    template <typename Matches> int findLast(int from, int to, Matches matches) const;

private:
    struct Extent
    {
        double lo; // +inf and -inf when the block holds no finite value
        double hi;
    };
    struct Span
    {
        int level;
        int from;
        int to;
    };
    // int indices reach 2^31 at most: eight levels of 16.
    static constexpr int MaxLevels = 9;
    static constexpr int FanMask = Fan - 1;

    const Extent &entry(int level, int index) const { return m_levels[size_t(level - 1)][index]; }
    void summarise();
    template <typename Matches> int descendFirst(int level, int index, Matches &matches) const;
    template <typename Matches> int descendLast(int level, int index, Matches &matches) const;

    ChunkedArray<double, 14> m_values;
    std::vector<ChunkedArray<Extent, 10>> m_levels; // [0] is level 1
};

template <typename Matches>
int ChartValues::descendFirst(int level, int index, Matches &matches) const
{
    if (level == 0) {
        const double v = at(index);
        return std::isfinite(v) && matches(v, v) ? index : -1;
    }
    const Extent &e = entry(level, index);
    if (!(e.lo <= e.hi) || !matches(e.lo, e.hi))
        return -1;
    const int begin = index << FanBits;
    for (int child = begin; child < begin + Fan; ++child) {
        const int found = descendFirst(level - 1, child, matches);
        if (found >= 0)
            return found;
    }
    return -1;
}

template <typename Matches>
int ChartValues::descendLast(int level, int index, Matches &matches) const
{
    if (level == 0) {
        const double v = at(index);
        return std::isfinite(v) && matches(v, v) ? index : -1;
    }
    const Extent &e = entry(level, index);
    if (!(e.lo <= e.hi) || !matches(e.lo, e.hi))
        return -1;
    const int begin = index << FanBits;
    for (int child = begin + Fan - 1; child >= begin; --child) {
        const int found = descendLast(level - 1, child, matches);
        if (found >= 0)
            return found;
    }
    return -1;
}

// Climbs from the values to coarser levels: the unaligned ends of the range
// are asked entry by entry on each level, the aligned middle moves up. The
// left ends come first in index order, then the right ends from the top down.
template <typename Matches> int ChartValues::findFirst(int from, int to, Matches matches) const
{
    int a = std::max(from, 0);
    int b = std::min(to, size() - 1);
    Span rightEnds[MaxLevels];
    int ends = 0;
    int level = 0;
    while (a <= b) {
        for (; a <= b && (a & FanMask) != 0; ++a) {
            const int found = descendFirst(level, a, matches);
            if (found >= 0)
                return found;
        }
        if (a > b)
            break;
        const int rightStart = std::max(a, (b + 1) & ~FanMask);
        if (rightStart <= b)
            rightEnds[ends++] = {level, rightStart, b};
        b = rightStart - 1;
        if (a > b)
            break;
        a >>= FanBits;
        b = ((b + 1) >> FanBits) - 1;
        ++level;
    }
    while (ends > 0) {
        const Span &span = rightEnds[--ends];
        for (int i = span.from; i <= span.to; ++i) {
            const int found = descendFirst(span.level, i, matches);
            if (found >= 0)
                return found;
        }
    }
    return -1;
}

template <typename Matches> int ChartValues::findLast(int from, int to, Matches matches) const
{
    int a = std::max(from, 0);
    int b = std::min(to, size() - 1);
    Span leftEnds[MaxLevels];
    int ends = 0;
    int level = 0;
    while (a <= b) {
        for (; a <= b && ((b + 1) & FanMask) != 0; --b) {
            const int found = descendLast(level, b, matches);
            if (found >= 0)
                return found;
        }
        if (a > b)
            break;
        const int leftEnd = std::min(b, ((a + FanMask) & ~FanMask) - 1);
        if (a <= leftEnd)
            leftEnds[ends++] = {level, a, leftEnd};
        a = leftEnd + 1;
        if (a > b)
            break;
        a >>= FanBits;
        b = ((b + 1) >> FanBits) - 1;
        ++level;
    }
    while (ends > 0) {
        const Span &span = leftEnds[--ends];
        for (int i = span.to; i >= span.from; --i) {
            const int found = descendLast(span.level, i, matches);
            if (found >= 0)
                return found;
        }
    }
    return -1;
}
