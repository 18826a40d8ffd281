#include "stats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

double stats_percentile(std::vector<double> samples, double p)
{
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    auto rank = static_cast<size_t>(std::ceil(p / 100.0 * static_cast<double>(samples.size())));
    return samples[std::clamp<size_t>(rank, 1, samples.size()) - 1];
}

double stats_median(const std::vector<double> &samples)
{
    if (samples.empty()) return 0;
    std::vector<double> s = samples;
    std::sort(s.begin(), s.end());
    size_t n = s.size();
    return n % 2 ? s[n / 2] : (s[n / 2 - 1] + s[n / 2]) / 2;
}

double Figure::min() const
{
    return runs.empty() ? 0 : *std::min_element(runs.begin(), runs.end());
}
double Figure::max() const
{
    return runs.empty() ? 0 : *std::max_element(runs.begin(), runs.end());
}

std::string Figure::text(int decimals) const
{
    if (runs.empty()) return "n/a";
    char buf[96];
    if (runs.size() == 1)
        std::snprintf(buf, sizeof buf, "%.*f", decimals, median());
    else
        std::snprintf(buf, sizeof buf, "%.*f (%.*f-%.*f)", decimals, median(), decimals, min(), decimals,
                      max());
    return buf;
}
