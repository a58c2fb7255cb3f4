#pragma once

// What both solver benchmarks measure with: processor time of the calling thread, a nearest-rank
// percentile, and milliseconds to about three figures.

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace solverbench {

inline double threadms() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// Nearest rank: the smallest time that at least the given share of the times did not exceed.
inline double rank(std::vector<double> times, double share) {
  std::sort(times.begin(), times.end());
  std::size_t index = static_cast<std::size_t>(share * times.size() + 0.999999);
  index = std::clamp<std::size_t>(index, 1, times.size());
  return times[index - 1];
}

// Milliseconds to about three figures: 0.052, 4.81, 37.2, 2948.
inline std::string ms(double value) {
  const int decimals = value < 1 ? 3 : value < 10 ? 2 : value < 100 ? 1 : 0;
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// "median X ms, p99 Y ms, max Z ms" of the times.
inline std::string spread(const std::vector<double>& times) {
  return "median " + ms(rank(times, 0.5)) + " ms, p99 " + ms(rank(times, 0.99)) + " ms, max " +
         ms(rank(times, 1.0)) + " ms";
}

// The most memory the process has held, in MiB.
inline long peakmib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return (usage.ru_maxrss + 1023) / 1024;
}

}  // namespace solverbench
