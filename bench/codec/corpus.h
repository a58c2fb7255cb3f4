#pragma once

// The benchmark's 16 MB corpus: four deterministic 4 MB parts that stand for the kinds of files a
// container meets. Every run of the benchmark measures the same bytes.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace corpus {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kPartSize = 4u << 20;

// A small, fast generator so the corpus is the same on every machine and library version.
struct XorShift {
  std::uint64_t s;
  explicit XorShift(std::uint64_t seed) : s(seed * 0x9E3779B97F4A7C15ull + 1) {}
  std::uint64_t next() {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return s;
  }
  std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(next() % n); }
};

// Prose from a vocabulary whose words are drawn with skewed frequencies, in lines and sentences.
inline Bytes text(std::size_t n = kPartSize) {
  static const char* const words[] = {
      "the",    "of",      "and",    "a",        "to",       "in",       "is",     "you",
      "that",   "it",      "he",     "was",      "for",      "on",       "are",    "as",
      "with",   "his",     "they",   "domino",   "bone",     "pips",     "double", "staircase",
      "slot",   "row",     "column", "player",   "score",    "tally",    "clicks", "seconds",
      "board",  "cleared", "moves",  "highest",  "matching", "suit",     "rule",   "empty",
      "window", "panel",   "button", "settings", "version",  "download", "server", "compressed",
      "block",  "chunk",   "stored", "coded",    "literal",  "copy",     "run",    "offset"};
  constexpr std::size_t kWords = sizeof words / sizeof words[0];
  XorShift random(1);
  Bytes out;
  out.reserve(n + 32);
  std::size_t line = 0;
  bool capital = true;
  while (out.size() < n) {
    // Squaring a uniform pick favours the first words, as real text favours short common ones.
    const std::uint32_t u = random.below(1000);
    std::string word = words[u * u / 1000 * kWords / 1000];
    if (capital) word[0] = static_cast<char>(word[0] - 32 * (word[0] >= 'a' && word[0] <= 'z'));
    capital = false;
    out.insert(out.end(), word.begin(), word.end());
    line += word.size() + 1;
    if (random.below(12) == 0) {
      out.push_back(random.below(3) ? '.' : ',');
      capital = out.back() == '.';
    }
    if (line > 70) {
      out.push_back('\n');
      line = 0;
    } else {
      out.push_back(' ');
    }
  }
  out.resize(n);
  return out;
}

// Fixed-size records as a program writes them: counters, small codes, slowly changing values,
// a name from a short list and some noise.
inline Bytes binary(std::size_t n = kPartSize) {
  static const char names[][8] = {"Guest", "Anna", "Quorvel", "Maria", "Bob", "Ling"};
  XorShift random(2);
  Bytes out;
  out.reserve(n + 64);
  std::uint32_t id = 1000;
  std::int32_t value = 0;
  while (out.size() < n) {
    std::uint8_t record[32] = {};
    id += 1 + random.below(3);
    value += static_cast<std::int32_t>(random.below(201)) - 100;
    const std::uint16_t code = static_cast<std::uint16_t>(random.below(8));
    const std::uint32_t noise = static_cast<std::uint32_t>(random.next());
    std::memcpy(record, &id, 4);
    std::memcpy(record + 4, &code, 2);
    std::memcpy(record + 8, &value, 4);
    std::memcpy(record + 12, names[random.below(6)], 8);
    std::memcpy(record + 20, &noise, random.below(4) == 0 ? 4 : 1);
    out.insert(out.end(), record, record + sizeof record);
  }
  out.resize(n);
  return out;
}

// Runs of equal bytes of every length, as in simple pictures and padded tables.
inline Bytes runs(std::size_t n = kPartSize) {
  XorShift random(3);
  Bytes out;
  out.reserve(n);
  while (out.size() < n) {
    const std::uint32_t kind = random.below(10);
    const std::size_t length = kind < 5   ? 1 + random.below(8)
                               : kind < 9 ? 16 + random.below(300)
                                          : 1000 + random.below(9000);
    out.insert(out.end(), std::min(length, n - out.size()),
               static_cast<std::uint8_t>(random.below(16) * 17));
  }
  return out;
}

// Bytes with no structure at all, as in files that are already compressed.
inline Bytes incompressible(std::size_t n = kPartSize) {
  XorShift random(4);
  Bytes out(n);
  for (std::size_t i = 0; i + 8 <= n; i += 8) {
    const std::uint64_t v = random.next();
    std::memcpy(out.data() + i, &v, 8);
  }
  return out;
}

inline Bytes all() {
  Bytes out;
  out.reserve(4 * kPartSize);
  for (const Bytes& part : {text(), binary(), runs(), incompressible()})
    out.insert(out.end(), part.begin(), part.end());
  return out;
}

}  // namespace corpus
