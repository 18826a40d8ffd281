// Order statistics of samples and of runs.
#pragma once

#include <string>
#include <vector>

// The p-th percentile (0-100) by nearest rank; 0 for no samples.
double stats_percentile(std::vector<double> samples, double p);
double stats_median(const std::vector<double> &samples);

// One figure measured in several runs: its median with the range it spread over.
struct Figure {
    std::vector<double> runs;
    bool empty() const { return runs.empty(); }
    double median() const { return stats_median(runs); }
    double min() const;
    double max() const;
    // "0.85 (0.80-0.92)" with the given number of decimals; "n/a" when nothing was measured.
    std::string text(int decimals) const;
};
