#pragma once

// Inputs for the codec tests, deterministic so a failure can be reproduced from its name, and
// the Fast-mode block format read as plainly as it is described, to check the coders against.

#include <cstdint>
#include <optional>
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

// The format read one item at a time, as plainly as it is described; nullopt where the plain
// reading would step outside the chunk.
inline std::optional<Bytes> plaindecode(const Bytes& p) {
  if (p.size() < 2) return Bytes{};
  if (p[0] == 0x80) return Bytes(p.begin() + 1, p.end());
  Bytes out;
  unsigned control = p[1] << 8 | p[2];
  int left = 16;
  for (std::size_t x = 3; x < p.size();) {
    if (left == 0) control = p[x] << 8 | p[x + 1], x += 2, left = 16;
    if (control & 0x8000) {
      const std::size_t offset = p[x] * 16 + p[x + 1] / 16;
      if (offset == 0) {
        out.insert(out.end(), p[x + 1] * 256 + p[x + 2] + 16, p[x + 3]);
        x += 4;
      } else {
        if (offset > out.size()) return std::nullopt;
        for (int i = 0; i < p[x + 1] % 16 + 3; ++i) out.push_back(out[out.size() - offset]);
        x += 2;
      }
    } else {
      out.push_back(p[x++]);
    }
    if (out.size() > 32768) return std::nullopt;
    control <<= 1;
    --left;
  }
  return out;
}
