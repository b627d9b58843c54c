#pragma once

// The spread of one measured figure over a run: median and tail quantiles, interpolated between
// the nearest samples.

#include <algorithm>
#include <vector>

struct Figure {
    double median = 0;
    double p95 = 0;
    double p99 = 0;
    int samples = 0;
};

inline Figure summarise(std::vector<double> values)
{
    Figure figure;
    figure.samples = int(values.size());
    if (values.empty())
        return figure;
    std::sort(values.begin(), values.end());
    const auto at = [&](double q) {
        const double rank = q * double(values.size() - 1);
        const size_t low = size_t(rank);
        const size_t high = std::min(low + 1, values.size() - 1);
        return values[low] + (values[high] - values[low]) * (rank - double(low));
    };
    figure.median = at(0.5);
    figure.p95 = at(0.95);
    figure.p99 = at(0.99);
    return figure;
}
