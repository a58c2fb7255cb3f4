#include "codec/lzrw1kh.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <new>

#include "codec/errors.h"
#include "codec/messages.h"

namespace {

constexpr std::size_t kHashSize = 4096;
// A table entry holds a position (15 bits), a bit that marks the entry as used (a free entry is
// 0), and the second and third bytes at the position. Two positions in one slot whose second and
// third bytes agree agree on the first too: those two fix the low byte of the 16-bit key, and the
// slot's top eight bits are then the key's high byte, which the first byte changes, times an odd
// number, plus a constant. So the entry alone tells whether three bytes match, without waiting to
// read them from the chunk.
constexpr std::uint32_t kUsed = 0x8000;
constexpr std::uint32_t kPosition = 0x7FFF;
constexpr std::uint32_t kCompared = 0xFFFF0000u | kUsed;
constexpr std::size_t kMaxOffset = 4095;
constexpr std::size_t kMinMatch = 3;
constexpr std::size_t kMaxMatch = 18;
constexpr std::size_t kMinRun = 16;
constexpr std::size_t kMaxRun = 4095;
// How many positions' table slots the coder works out ahead.
constexpr std::size_t kSlotsAhead = 1024;
// For a copy offset below 8: the smallest multiple of it that is 8 or more.
constexpr std::size_t kPatternStep[8] = {0, 8, 8, 9, 8, 10, 12, 14};
// Each byte with its bits in the opposite order.
constexpr auto kMirrored = [] {
  std::array<std::uint8_t, 256> table{};
  for (unsigned b = 0; b < 256; ++b)
    for (unsigned i = 0; i < 8; ++i)
      if (b >> i & 1) table[b] |= static_cast<std::uint8_t>(0x80 >> i);
  return table;
}();

inline std::uint64_t load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Number of leading bytes two 8-byte words share, for a little-endian load order.
inline std::size_t samebytes(std::uint64_t a, std::uint64_t b) {
  std::uint64_t diff = a ^ b;
  if (diff == 0) return 8;
  if constexpr (std::endian::native == std::endian::little)
    return static_cast<std::size_t>(std::countr_zero(diff)) / 8;
  else
    return static_cast<std::size_t>(std::countl_zero(diff)) / 8;
}

// The used bit and the second and third bytes of an entry for the position whose first eight
// bytes are word (little-endian).
inline std::uint32_t tag(std::uint64_t word) {
  return (static_cast<std::uint32_t>(word << 8) & 0xFFFF0000u) | kUsed;
}

// A 16-bit value stored high byte first, in one load.
inline unsigned get16(const std::uint8_t* p) {
  std::uint16_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap16(v);
  return v;
}

inline void put16(std::uint8_t* p, unsigned v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}

// The table slot of a position, from the three bytes that start there: 40543 times
// ((b0 * 16 xor b1) * 16 xor b2), divided by 16, and FFF hex. Only the product's low 16 bits
// count, so 16-bit arithmetic gives the same slot, and lets the compiler work out eight at once.
inline std::uint16_t slot(unsigned b0, unsigned b1, unsigned b2) {
  const auto key = static_cast<std::uint16_t>(b0 << 8 ^ b1 << 4 ^ b2);
  return static_cast<std::uint16_t>(static_cast<std::uint16_t>(key * 40543u) >> 4 & 0xFFF);
}

// The length of the match between the bytes at x and at m (3 to 18), given the xor of their
// first words, whose low three bytes are zero. At least 18 bytes follow x.
inline std::size_t matchlength(const std::uint8_t* src, std::size_t x, std::size_t m,
                               std::uint64_t diff) {
  // Counted as unsigned, which widens for free; a signed count would cost a step on the path
  // from one item to the next.
  const unsigned first = static_cast<unsigned>(std::countr_zero(diff)) / 8;
  const unsigned second =
      static_cast<unsigned>(std::countr_zero(load64(src + x + 8) ^ load64(src + m + 8))) / 8;
  std::size_t l = first < 8 ? first : 8 + second;
  if (l == 16) {
    l += src[x + 16] == src[m + 16];
    if (l == 17) l += src[x + 17] == src[m + 17];
  }
  return l;
}

// How many times src[x] repeats from x on (itself included), counting no further than limit.
inline std::size_t runlength(const std::uint8_t* src, std::size_t x, std::size_t limit) {
  const std::uint8_t b = src[x];
  std::size_t r = 1;
  if (r >= limit || src[x + 1] != b) return r;
  const std::uint64_t pattern = 0x0101010101010101ull * b;
  while (r + 8 <= limit) {
    std::size_t same = samebytes(load64(src + x + r), pattern);
    r += same;
    if (same < 8) return r;
  }
  while (r < limit && src[x + r] == b) ++r;
  return r;
}

}  // namespace

TLZR::TLZR() {
  hash_.reset(new (std::nothrow) std::uint32_t[kHashSize]);
  slots_.reset(new (std::nothrow) std::uint16_t[ChunkSize]);
  if (!hash_ || !slots_) throw ELzrw1KHCompressor(codec::message::kNoHashTable);
}

TLZR::~TLZR() = default;

inline std::size_t TLZR::FindMatch(std::uint32_t* table, const std::uint8_t* src, std::size_t x,
                                   std::size_t n, std::size_t& start) {
  // Fewer than three bytes left can never make a match, and hashing them would read past the
  // chunk; what such a position would leave in the table can no longer change the output.
  if (n - x < kMinMatch) return 0;
  const std::uint32_t h = slot(src[x], src[x + 1], src[x + 2]);
  const std::uint32_t entry = table[h];
  table[h] = (std::uint32_t{src[x + 1]} << 16 | std::uint32_t{src[x + 2]} << 24) | kUsed |
             static_cast<std::uint32_t>(x);
  const std::size_t m = entry & kPosition;
  if (!(entry & kUsed) || x - m > kMaxOffset) return 0;

  const std::uint8_t* a = src + x;
  const std::uint8_t* b = src + m;
  std::size_t l;
  if (n - x >= kMaxMatch) {
    l = samebytes(load64(a), load64(b));
    if (l == 8) {
      l += samebytes(load64(a + 8), load64(b + 8));
      if (l == 16) {
        l += a[16] == b[16];
        if (l == 17) l += a[17] == b[17];
      }
    }
  } else {
    const std::size_t limit = n - x;
    l = 0;
    while (l < limit && a[l] == b[l]) ++l;
  }
  if (l < kMinMatch) return 0;
  start = m;
  return l;
}

std::size_t TLZR::CompressBlock(const std::uint8_t* src, std::size_t n, std::uint8_t* dst) {
  // Locals, not members: the output bytes could alias a member, which would make the compiler
  // reload it after every byte written.
  std::uint32_t* const table = hash_.get();
  std::fill_n(table, kHashSize, 0);
  dst[0] = FlagCoded;
  unsigned w = 0;     // control word being filled
  std::size_t p = 1;  // where it goes
  int k = 0;          // items it describes so far
  std::size_t y = 3;
  std::size_t x = 0;
  // Below this position at least 18 bytes remain, so the fast path reads whole words without
  // looking at the chunk's end. It makes the same choices as FindMatch, only faster.
  const std::size_t roomy =
      std::endian::native == std::endian::little && n > kMaxMatch ? n - kMaxMatch : 0;

  // The table slots of the positions ahead, up to slotsend, worked out kSlotsAhead at a time in
  // a loop the compiler turns into vector code. An item's slot then is a load: on text, where
  // one copy follows another, the next item's position waits on this one's match length, and
  // hashing it there would lengthen that wait. (Not the whole chunk at once: a run skips
  // thousands of positions.)
  std::uint16_t* const slots = slots_.get();
  std::size_t slotsend = 0;
  auto slotsfrom = [&](std::size_t from) {
    slotsend = std::min(from + kSlotsAhead, roomy);
    for (std::size_t i = from; i < slotsend; ++i) slots[i] = slot(src[i], src[i + 1], src[i + 2]);
  };

  while (x < n && y <= n) {
    if (k == 16) {
      put16(dst + p, w);
      p = y;
      y += 2;
      k = 0;
      w = 0;
    }
    ++k;
    std::size_t r = 1;
    if (x < roomy) {
      // Keep the slots of the next 16 positions at hand, for a stretch of literals.
      if (x + 16 >= slotsend && slotsend < roomy) slotsfrom(x);
      const std::uint64_t here = load64(src + x);
      const std::uint32_t b0 = here & 0xFF;
      if (((here >> 8) & 0xFF) == b0) r = runlength(src, x, std::min(kMaxRun, n - x));
      if (r < kMinRun) {
        const std::uint32_t h = slots[x];
        const std::uint32_t entry = table[h];
        const std::uint32_t mine = tag(here) | static_cast<std::uint32_t>(x);
        table[h] = mine;
        const std::size_t m = entry & kPosition;
        // Whether the entry matches and is near are as unpredictable as a coin on some data:
        // decide both with one branch.
        if ((((entry ^ mine) & kCompared) | (x - m) >> 12) == 0) {
          const std::size_t l = matchlength(src, x, m, load64(src + m) ^ here);
          put16(dst + y, static_cast<unsigned>((x - m) << 4 | (l - kMinMatch)));
          y += 2;
          x += l;
          w = (w << 1) | 1;
        } else {
          dst[y++] = src[x++];
          w <<= 1;
          // Literals come in stretches, and on data that does not compress they are nearly all
          // there is. Take the ones after this one in a loop of their own, with one bound for
          // the control word, the chunk's end and the output's room (a literal moves all three
          // by one), up to a position where a run may start, which the loop above looks at, or
          // a copy, which ends the stretch.
          // (A control word just begun may have put y at n + 3 already.)
          const std::size_t left = std::min({static_cast<std::size_t>(16 - k),
                                             x < roomy ? roomy - x : 0, y <= n ? n + 1 - y : 0});
          std::size_t j = 0;
          std::size_t copied = 0;  // the length of the copy that ends the stretch, if one does
          for (; j < left; ++j) {
            const std::size_t at = x + j;
            const std::uint64_t v = load64(src + at);
            if (((v ^ v >> 8) & 0xFF) == 0) break;  // a run may start here
            const std::uint32_t h = slots[at];
            const std::uint32_t entry = table[h];
            const std::uint32_t mine = tag(v) | static_cast<std::uint32_t>(at);
            table[h] = mine;
            const std::size_t candidate = entry & kPosition;
            if ((((entry ^ mine) & kCompared) | (at - candidate) >> 12) == 0) {
              copied = matchlength(src, at, candidate, load64(src + candidate) ^ v);
              put16(dst + y + j,
                    static_cast<unsigned>((at - candidate) << 4 | (copied - kMinMatch)));
              break;
            }
            dst[y + j] = static_cast<std::uint8_t>(v);
          }
          x += j;
          y += j;
          k += static_cast<int>(j);
          w <<= j;
          if (copied) {
            x += copied;
            y += 2;
            ++k;
            w = (w << 1) | 1;
          }
        }
        continue;
      }
    } else {
      r = runlength(src, x, std::min(kMaxRun, n - x));
    }
    std::size_t m;
    if (r >= kMinRun) {
      dst[y] = 0;
      dst[y + 1] = static_cast<std::uint8_t>((r - kMinRun) >> 8);
      dst[y + 2] = static_cast<std::uint8_t>(r - kMinRun);
      dst[y + 3] = src[x];
      y += 4;
      x += r;
      w = (w << 1) | 1;
    } else if (std::size_t l = FindMatch(table, src, x, n, m)) {
      put16(dst + y, static_cast<unsigned>((x - m) << 4 | (l - kMinMatch)));
      y += 2;
      x += l;
      w = (w << 1) | 1;
    } else {
      dst[y++] = src[x++];
      w <<= 1;
    }
  }
  put16(dst + p, (w << (16 - k)) & 0xFFFF);
  if (y > n) {
    dst[0] = FlagStored;
    if (n) std::memcpy(dst + 1, src, n);
    return n + 1;
  }
  return y;
}

std::optional<std::size_t> TLZR::DecompressBlock(const std::uint8_t* src, std::size_t length,
                                                 std::uint8_t* dst) {
  if (length < 2) return 0;
  if (src[0] == FlagStored) {
    if (length - 1 > ChunkSize) return std::nullopt;
    std::memcpy(dst, src + 1, length - 1);
    return length - 1;
  }
  if (length < 3) return std::nullopt;

  // The control word is held mirrored, the first item's bit lowest, with a marker bit above the
  // sixteen: its trailing zeros count the literals ahead (never past the word's end), which the
  // processor counts in one step, and once every item bit is used the word is the marker alone.
  constexpr std::uint32_t kMarker = 0x10000;
  constexpr std::uint32_t kSpent = 1;
  auto controlword = [src](std::size_t at) {
    return std::uint32_t{kMirrored[src[at]]} | std::uint32_t{kMirrored[src[at + 1]]} << 8 | kMarker;
  };
  std::uint32_t w = controlword(1);
  std::size_t x = 3;
  std::size_t y = 0;

  // The fast loop decodes a control word's items at a time while they lie well inside both
  // buffers: with 82 payload bytes left (the word, 16 items of 4 bytes, and 16 to read literals
  // in one piece) and 312 chunk bytes (16 copies of 18, and 24 to write them in words), none of
  // them can read or write past either end, so it copies in whole words and checks only what the
  // payload itself could get wrong. A run may fill much of the chunk at once: the room is looked
  // at again after one. Words may be written a few bytes past an item's end; later items
  // overwrite them.
  while (length - x >= 82 && ChunkSize - y >= 312) {
    if (w == kSpent) {
      w = controlword(x);
      x += 2;
    }
    for (;;) {
      // The literals before the next copy or run, none or many: copying 16 bytes either way
      // spares a branch that text makes as unpredictable as a coin. (The marker keeps w from
      // being zero, which the builtin may assume where countr_zero could not.)
      const unsigned count = static_cast<unsigned>(__builtin_ctz(w));
      std::memcpy(dst + y, src + x, 16);
      x += count;
      y += count;
      w >>= count;
      if (w == kSpent) break;
      const unsigned item = get16(src + x);
      const std::size_t offset = item >> 4;
      // One test for the two rare cases: a run (offset 0) and a copy reaching before the chunk.
      if (offset - 1 >= y) {
        if (offset != 0) return std::nullopt;
        const std::size_t count = ((item & 15) << 8 | src[x + 2]) + kMinRun;
        if (count > ChunkSize - y) return std::nullopt;
        std::memset(dst + y, src[x + 3], count);
        y += count;
        x += 4;
        w >>= 1;
        break;
      }
      std::uint8_t* const out = dst + y;
      const std::uint8_t* const from = out - offset;
      if (offset >= 8) {
        // Word by word: each word's source lies wholly behind it, and words copied later may
        // read what earlier ones wrote, as the byte-by-byte definition does.
        std::memcpy(out, from, 8);
        std::memcpy(out + 8, from + 8, 8);
        if ((item & 15) > 16 - kMinMatch) std::memcpy(out + 16, from + 16, 8);
      } else {
        // A short pattern repeats: once its first 8 bytes are out, the rest lies a whole number
        // of patterns (at least 8 bytes) back and can be copied in words.
        for (std::size_t i = 0; i < 8; ++i) out[i] = from[i];
        const std::size_t back = kPatternStep[offset];
        std::memcpy(out + 8, out + 8 - back, 8);
        std::memcpy(out + 16, out + 16 - back, 8);
      }
      y += (item & 15) + kMinMatch;
      x += 2;
      w >>= 1;
    }
  }

  while (x < length) {
    if (w == kSpent) {
      // A control word is only written when an item follows it.
      if (length - x < 3) return std::nullopt;
      w = controlword(x);
      x += 2;
    }
    if ((w & 1) == 0) {
      // A stretch of literals; zero bits past the payload's end describe nothing.
      const std::size_t count = std::min(static_cast<std::size_t>(std::countr_zero(w)), length - x);
      if (count > ChunkSize - y) return std::nullopt;
      std::memcpy(dst + y, src + x, count);
      x += count;
      y += count;
      w >>= count;
      continue;
    }
    if (length - x < 2) return std::nullopt;
    const unsigned b0 = src[x];
    const unsigned b1 = src[x + 1];
    const std::size_t offset = b0 << 4 | b1 >> 4;
    if (offset == 0) {
      if (length - x < 4) return std::nullopt;
      const std::size_t count = (b1 << 8 | src[x + 2]) + kMinRun;
      if (count > ChunkSize - y) return std::nullopt;
      std::memset(dst + y, src[x + 3], count);
      y += count;
      x += 4;
    } else {
      const std::size_t count = (b1 & 15) + kMinMatch;
      if (offset > y || count > ChunkSize - y) return std::nullopt;
      for (std::size_t i = 0; i < count; ++i) dst[y + i] = dst[y + i - offset];
      y += count;
      x += 2;
    }
    w >>= 1;
  }
  return y;
}
