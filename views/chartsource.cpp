#include "chartsource.h"

ChartSource::~ChartSource() = default;

void ChartSource::values(int from, int n, double *out) const
{
    for (int i = 0; i < n; ++i)
        out[i] = value(from + i);
}

int ChartSource::rangeMark(int) const
{
    return 0;
}
