#include "itemfigures.h"

#include "readingstore.h"

#include <algorithm>

namespace analysis {

namespace {
constexpr double MsPerHour = 3600.0 * 1000.0;

bool outside(Verdict v)
{
    return v == Verdict::Low || v == Verdict::High;
}
} // namespace

void addSample(PowerStats &stats, const Sample &s, double hours, const Judge &judge)
{
    if (!s.usable) {
        stats.addLeftOut();
        if (s.range != 0 && outside(judge.verdict(s)))
            ++stats.outOfLimits;
        return;
    }
    stats.add(s.dBm, s.mW, s.hasTime, hours, outside(judge.verdict(s)));
}

double ItemFigures::hoursOf(const Sample &s) const
{
    return s.hasTime && m_hasOrigin ? double(s.timeMs - m_originMs) / MsPerHour : 0.0;
}

void ItemFigures::reset(const ReadingStore &store)
{
    m_generation = store.generation();
    m_followed = 0;
    m_hasOrigin = false;
    m_originMs = 0;
    m_figures.clear();
    m_lastFigures = -1;
}

ItemFigures::WaveLengthFigures &ItemFigures::figuresFor(quint16 waveLength)
{
    if (m_lastFigures >= 0 && m_figures[size_t(m_lastFigures)].waveLength == waveLength)
        return m_figures[size_t(m_lastFigures)];
    for (size_t i = 0; i < m_figures.size(); ++i) {
        if (m_figures[i].waveLength == waveLength) {
            m_lastFigures = int(i);
            return m_figures[i];
        }
    }
    m_figures.push_back({waveLength, PowerStats(), {}});
    m_lastFigures = int(m_figures.size() - 1);
    return m_figures.back();
}

const ItemFigures::WaveLengthFigures *ItemFigures::find(quint16 waveLength) const
{
    for (const WaveLengthFigures &f : m_figures) {
        if (f.waveLength == waveLength)
            return &f;
    }
    return nullptr;
}

void ItemFigures::follow(const ReadingStore &store, const Judge &judge)
{
    if (store.generation() != m_generation || store.size() < m_followed)
        reset(store);
    if (judge.version() != m_judgeVersion) {
        recountOutOfLimits(store, judge);
        m_judgeVersion = judge.version();
    }
    for (int i = m_followed; i < store.size(); ++i) {
        const Sample s = sampleAt(store, i);
        if (s.usable && s.hasTime && !m_hasOrigin) {
            m_hasOrigin = true;
            m_originMs = s.timeMs;
        }
        const double hours = hoursOf(s);
        WaveLengthFigures &f = figuresFor(s.waveLength);
        addSample(f.whole, s, hours, judge);
        const int block = i >> BlockBits;
        if (f.blocks.empty() || f.blocks.back().block != block)
            f.blocks.push_back({block, PowerStats()});
        addSample(f.blocks.back().stats, s, hours, judge);
    }
    m_followed = store.size();
}

void ItemFigures::recountOutOfLimits(const ReadingStore &store, const Judge &judge)
{
    std::vector<size_t> cursor(m_figures.size(), 0);
    for (WaveLengthFigures &f : m_figures) {
        f.whole.outOfLimits = 0;
        for (BlockFigures &b : f.blocks)
            b.stats.outOfLimits = 0;
    }
    const int n = std::min(m_followed, store.size());
    for (int i = 0; i < n; ++i) {
        const Sample s = sampleAt(store, i);
        if (!outside(judge.verdict(s)))
            continue;
        WaveLengthFigures &f = figuresFor(s.waveLength);
        size_t &c = cursor[size_t(&f - m_figures.data())];
        const int block = i >> BlockBits;
        while (f.blocks[c].block < block)
            ++c;
        ++f.whole.outOfLimits;
        ++f.blocks[c].stats.outOfLimits;
    }
}

PowerStats ItemFigures::whole(quint16 waveLength) const
{
    const WaveLengthFigures *f = find(waveLength);
    return f ? f->whole : PowerStats();
}

PowerStats ItemFigures::range(const ReadingStore &store, const Judge &judge, int first, int last,
                              quint16 waveLength) const
{
    PowerStats out;
    first = std::max(first, 0);
    last = std::min({last, m_followed - 1, store.size() - 1});
    if (first > last)
        return out;
    const WaveLengthFigures *f = find(waveLength);
    if (!f)
        return out;
    auto scan = [&](int from, int to) {
        for (int i = from; i <= to; ++i) {
            if (store.waveLength(i) != waveLength)
                continue;
            const Sample s = sampleAt(store, i);
            addSample(out, s, hoursOf(s), judge);
        }
    };
    // Whole blocks inside the stretch come from their figures; the rest is read.
    const int firstWhole = (first + BlockSize - 1) >> BlockBits;
    const int lastWhole = ((last + 1) >> BlockBits) - 1;
    if (firstWhole > lastWhole) {
        scan(first, last);
        return out;
    }
    scan(first, (firstWhole << BlockBits) - 1);
    auto it = std::lower_bound(f->blocks.begin(), f->blocks.end(), firstWhole,
                               [](const BlockFigures &b, int block) { return b.block < block; });
    for (; it != f->blocks.end() && it->block <= lastWhole; ++it)
        out.merge(it->stats);
    scan((lastWhole + 1) << BlockBits, last);
    return out;
}

qint64 ItemFigures::memoryBytes() const
{
    qint64 bytes = qint64(m_figures.capacity() * sizeof(WaveLengthFigures));
    for (const WaveLengthFigures &f : m_figures)
        bytes += qint64(f.blocks.capacity() * sizeof(BlockFigures));
    return bytes;
}

} // namespace analysis
