#pragma once

#include <QList>

#include <algorithm>
#include <ctime>

namespace linvera::bench {

/// The median of the values (the mean of the middle two for an even count); 0 for none.
inline double median(QList<double> values)
{
    if (values.isEmpty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

inline double minimum(const QList<double>& values)
{
    return values.isEmpty() ? 0.0 : *std::min_element(values.begin(), values.end());
}

inline double maximum(const QList<double>& values)
{
    return values.isEmpty() ? 0.0 : *std::max_element(values.begin(), values.end());
}

/// Processor time of the calling thread, in seconds: other processes on a busy machine do not count.
inline double threadSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

} // namespace linvera::bench
