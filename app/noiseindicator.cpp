#include "noiseindicator.h"

#include <algorithm>
#include <cmath>

namespace NoiseIndicator {

namespace {

// Row 0 holds the analysis times in columns 1..4 (its first cell is never read); column 0 of
// rows 1..4 holds the distances. The measurements were taken as single-precision values.
using Grid = float[5][5];

constexpr Grid grids[6] = {
    { { -1, 5, 10, 15, 20 },
      { 17, 0.5017f, 0.5023f, 0.5033f, 0.5046f },
      { 25, 0.5017f, 0.5023f, 0.5033f, 0.5046f },
      { 30, 0.5017f, 0.5023f, 0.5033f, 0.5046f },
      { 40, 0.5015f, 0.5016f, 0.5019f, 0.5024f } },
    { { -1, 5, 10, 15, 20 },
      { 17, 0.2639f, 0.2975f, 0.3535f, 0.432f },
      { 25, 0.2545f, 0.2598f, 0.2683f, 0.2802f },
      { 30, 0.2541f, 0.2585f, 0.2656f, 0.2755f },
      { 40, 0.0763f, 0.1477f, 0.2526f, 0.2532f } },
    { { -1, 5, 10, 15, 20 },
      { 17, 0.7557f, 0.7703f, 0.795f, 0.8297f },
      { 25, 0.7556f, 0.7703f, 0.795f, 0.8297f },
      { 30, 0.7556f, 0.7703f, 0.795f, 0.8297f },
      { 40, 0.529f, 0.5657f, 0.6377f, 0.7892f } },
    { { -1, 5, 10, 15, 20 },
      { 17, 0.7523f, 0.7561f, 0.7625f, 0.7714f },
      { 25, 0.7518f, 0.7544f, 0.7587f, 0.7647f },
      { 30, 0.7512f, 0.7524f, 0.7542f, 0.7567f },
      { 40, 0.5263f, 0.5509f, 0.6033f, 0.7325f } },
    { { -1, 5, 10, 15, 20 },
      { 17, 0.7728f, 0.8398f, 0.9519f, 1 },
      { 25, 0.5445f, 0.6756f, 0.8951f, 1 },
      { 40, 0.5444f, 0.6753f, 0.8943f, 1 },
      { 50, 0.5417f, 0.6222f, 0.7662f, 0.9384f } },
    { { -1, 5, 10, 15, 20 },
      { 17, 0.3234f, 0.5379f, 0.6133f, 0.7f },
      { 25, 0.3155f, 0.5075f, 0.6109f, 0.6959f },
      { 40, 0.2595f, 0.2821f, 0.3203f, 0.3743f },
      { 50, 0.2591f, 0.2767f, 0.3073f, 0.3541f } },
};

// First index of the pair of neighbouring axis points 1..4 that brackets v: below the axis the
// first pair, at or beyond its end the last pair, so that values outside extrapolate.
template <typename At>
int bracket(double v, At axis)
{
    if (v < axis(1))
        return 1;
    if (v >= axis(4))
        return 3;
    int low = 1;
    int high = 4;
    while (high - low > 1) {
        const int middle = (low + high) / 2;
        if (axis(middle) <= v)
            low = middle;
        else
            high = middle;
    }
    return low;
}

double along(double at, double x0, double x1, double y0, double y1)
{
    return y0 + (at - x0) * (y1 - y0) / (x1 - x0);
}

}

int tableFor(std::uint16_t expandedDeviceType, int analysisType)
{
    if (expandedDeviceType == 0xFF03)
        return analysisType < 1 ? 6 : 5;
    if (expandedDeviceType != 0xFF04 || analysisType < 0)
        return 0;
    switch (analysisType) {
    case 0: return 4;
    case 1:
    case 3: return 2;
    case 2: return 1;
    default: return 3;
    }
}

double value(int table, double distance, double time)
{
    if (table < 1 || table > 6 || !std::isfinite(distance) || !std::isfinite(time))
        return 0.0;
    const Grid& g = grids[table - 1];
    const int r = bracket(distance, [&g](int i) { return double(g[i][0]); });
    const int c = bracket(time, [&g](int i) { return double(g[0][i]); });
    const double t0 = g[0][c];
    const double t1 = g[0][c + 1];
    const double low = along(time, t0, t1, g[r][c], g[r][c + 1]);
    const double high = along(time, t0, t1, g[r + 1][c], g[r + 1][c + 1]);
    return along(distance, g[r][0], g[r + 1][0], low, high);
}

int position(double value)
{
    if (!std::isfinite(value))
        return 0;
    const double scaled = std::trunc(value * 100.0 + 0.5);
    return int(std::clamp(scaled, 0.0, 100.0));
}

}
