#pragma once

#include "judge.h"
#include "powerstats.h"

#include <vector>

class ReadingStore;

namespace analysis {

// The figures of one item's readings, kept beside its store: per wavelength
// the figures of all readings and of every block of BlockSize consecutive
// readings. follow() takes in what the store gained (O(1) a reading); the
// figures of any stretch of readings at one wavelength then come from the
// blocks it covers plus the partial blocks at its ends, so a zoom window costs
// (stretch / BlockSize) merges and at most 2 * BlockSize readings.
//
// Out-of-limits counts follow the judge: when its version changes they are
// counted again over the readings followed (one pass, no other figure moves).
class ItemFigures
{
public:
    static constexpr int BlockBits = 10;
    static constexpr int BlockSize = 1 << BlockBits;

    // Brings the figures up to the store: new readings are added; a store that
    // was emptied or replaced (another generation, fewer readings) is taken
    // in from its start.
    void follow(const ReadingStore &store, const Judge &judge);
    int followed() const { return m_followed; }

    // Figures of all readings followed at a wavelength.
    PowerStats whole(quint16 waveLength) const;
    // Figures of readings first..last (inclusive, clamped to those followed)
    // at a wavelength. Call follow() with the same store and judge first.
    PowerStats range(const ReadingStore &store, const Judge &judge, int first, int last,
                     quint16 waveLength) const;

    // Hours after the item's first timed reading, the time axis of the drift.
    double hoursOf(const Sample &sample) const;
    qint64 memoryBytes() const;

private:
    struct BlockFigures
    {
        int block;
        PowerStats stats;
    };
    struct WaveLengthFigures
    {
        quint16 waveLength;
        PowerStats whole;
        std::vector<BlockFigures> blocks; // in block order, only blocks holding this wavelength
    };

    void reset(const ReadingStore &store);
    void recountOutOfLimits(const ReadingStore &store, const Judge &judge);
    WaveLengthFigures &figuresFor(quint16 waveLength);
    const WaveLengthFigures *find(quint16 waveLength) const;

    quint64 m_generation = 0;
    int m_followed = 0;
    quint64 m_judgeVersion = 0;
    bool m_hasOrigin = false;
    qint64 m_originMs = 0;
    std::vector<WaveLengthFigures> m_figures; // few: one per wavelength used
    int m_lastFigures = -1;                   // index of the last wavelength looked up
};

// Adds one reading to figures: left out when not usable, otherwise counted
// with its time and verdict.
void addSample(PowerStats &stats, const Sample &sample, double hours, const Judge &judge);

} // namespace analysis
