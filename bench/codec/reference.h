#pragma once

// The Fast-mode block coder written as plainly as the algorithm reads, one byte at a time, with
// no shortcuts. The benchmark measures it as the baseline and checks, over the whole corpus, that
// the tuned coder's output is the same to the byte.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace reference {

inline std::size_t compressblock(const std::uint8_t* src, std::size_t n, std::uint8_t* dst,
                                 std::uint16_t* table) {
  for (int i = 0; i < 4096; ++i) table[i] = 0xFFFF;
  dst[0] = 0x40;
  std::uint32_t w = 0;
  std::size_t p = 1, y = 3, x = 0;
  int k = 0;
  while (x < n && y <= n) {
    if (k == 16) {
      dst[p] = static_cast<std::uint8_t>(w >> 8);
      dst[p + 1] = static_cast<std::uint8_t>(w);
      p = y;
      y += 2;
      k = 0;
      w = 0;
    }
    std::size_t r = 1;
    while (r < 4095 && x + r < n && src[x + r] == src[x]) ++r;
    if (r >= 16) {
      dst[y] = 0;
      dst[y + 1] = static_cast<std::uint8_t>((r - 16) / 256);
      dst[y + 2] = static_cast<std::uint8_t>((r - 16) % 256);
      dst[y + 3] = src[x];
      y += 4;
      x += r;
      w = w * 2 + 1;
    } else {
      // The hash reads up to two bytes past the chunk; the caller leaves them readable.
      const std::uint32_t b0 = src[x], b1 = src[x + 1], b2 = src[x + 2];
      const std::uint32_t h = ((40543u * ((((b0 * 16) ^ b1) * 16) ^ b2)) / 16) & 0xFFF;
      const std::size_t m = table[h];
      table[h] = static_cast<std::uint16_t>(x);
      std::size_t l = 0;
      if (m != 0xFFFF && x - m < 4096)
        while (l < 18 && x + l < n && src[x + l] == src[m + l]) ++l;
      if (l >= 3) {
        const std::uint32_t v = static_cast<std::uint32_t>((x - m) * 16 + (l - 3));
        dst[y] = static_cast<std::uint8_t>(v >> 8);
        dst[y + 1] = static_cast<std::uint8_t>(v);
        y += 2;
        x += l;
        w = w * 2 + 1;
      } else {
        dst[y++] = src[x++];
        w = w * 2;
      }
    }
    ++k;
  }
  w <<= 16 - k;
  dst[p] = static_cast<std::uint8_t>(w >> 8);
  dst[p + 1] = static_cast<std::uint8_t>(w);
  if (y > n) {
    dst[0] = 0x80;
    std::memcpy(dst + 1, src, n);
    return n + 1;
  }
  return y;
}

}  // namespace reference
