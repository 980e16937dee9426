// Where a band-limited signal reaches its largest magnitude, to a small
// fraction of a sample: the delay of an impulse response.
#pragma once

#include <cstddef>
#include <span>

// The largest magnitude among samples [first, last) of a circular buffer,
// taken round the circle (a negative `first` starts before the buffer's end),
// and around it the maximum of the signal between the samples, read through
// windowed-sinc interpolation (precise to about a hundredth of a sample for
// content below 0.95 of half the sample rate). Returns a position in
// [first - 1, last]; `first` < `last` and `last` - `first` <= size.
double PeakPosition(std::span<const double> circular, long long first, long long last);

// The signal between the samples at `position` (any real number, taken
// round the circle), by the same interpolation.
double InterpolatedSample(std::span<const double> circular, double position);
