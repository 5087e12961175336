#pragma once
// How well a chosen combination of detection distance, analysis time and analysis type rejects
// false alarms, as the maker measured it: one 4 x 4 grid of measurements per detector mode.

#include <cstdint>

namespace NoiseIndicator {

// The grid that applies to a model and analysis-type index; 0 when there is none (models
// without the indicator, or no analysis type selected).
int tableFor(std::uint16_t expandedDeviceType, int analysisType);

// Bilinear interpolation in grid 1..6 at a distance in metres and an analysis time in
// seconds; outside the measured axes the end segments are extended. 0 for an unknown grid.
double value(int table, double distance, double time);

// The indicator position 0..100 for a value of the grid.
int position(double value);

} // namespace NoiseIndicator
