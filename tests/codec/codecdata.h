#pragma once

// Inputs for the codec tests: deterministic, so a failure can be reproduced from its name.

#include <cstdint>
#include <random>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

inline Bytes bytesof(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

inline Bytes randombytes(std::size_t n, unsigned seed) {
  std::mt19937 random(seed);
  Bytes out(n);
  for (auto& b : out) b = static_cast<std::uint8_t>(random());
  return out;
}

// Words drawn from a small vocabulary with line breaks: repeats at all distances, like a text.
inline Bytes textbytes(std::size_t n, unsigned seed) {
  static const char* const words[] = {"domino", "bone",  "pip",   "double", "six",   "staircase",
                                      "slot",   "row",   "the",   "and",    "of",    "Quorvel",
                                      "tally",  "score", "-1000", "\r\n",   "Guest", "0"};
  std::mt19937 random(seed);
  Bytes out;
  out.reserve(n + 16);
  while (out.size() < n) {
    const std::string word = words[random() % std::size(words)];
    out.insert(out.end(), word.begin(), word.end());
    out.push_back(' ');
  }
  out.resize(n);
  return out;
}

// Runs of random lengths (1 to 5000) of random bytes: exercises runs, short repeats and literals.
inline Bytes runbytes(std::size_t n, unsigned seed) {
  std::mt19937 random(seed);
  Bytes out;
  out.reserve(n);
  while (out.size() < n) {
    const std::size_t length = 1 + random() % (random() % 4 == 0 ? 5000 : 20);
    out.insert(out.end(), std::min(length, n - out.size()), static_cast<std::uint8_t>(random()));
  }
  return out;
}
