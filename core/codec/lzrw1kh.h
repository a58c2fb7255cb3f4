#pragma once

// LZRW1-KH, the Fast-mode block coder: LZRW1 with 4-bit match lengths and a run item.
//
// A payload starts with a flag byte: 80 hex = the chunk follows unchanged; anything else = coded.
// Coded: a 16-bit control word (high byte first) before every 16 items, most significant bit for
// the first item; bit 0 = a literal byte, bit 1 = a copy item b0 b1 (offset b0*16 + b1/16 back,
// length b1%16 + 3) or, when the offset is zero, a run item 00 h l v (v repeated h*256 + l + 16
// times). Every chunk is coded on its own.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

class TLZR {
 public:
  // Input is coded in chunks of this size.
  static constexpr std::size_t ChunkSize = 32768;
  // A coded payload may run a few bytes past the chunk's size before the coder notices that
  // coding does not pay (a control word and a run item at most), so payload buffers need room
  // for MaxWorkLength bytes; BufferSize is what the container's buffers hold.
  static constexpr std::size_t MaxWorkLength = ChunkSize + 7;
  static constexpr std::size_t BufferSize = ChunkSize + 16;
  // The longest payload a block can hold: a stored full chunk.
  static constexpr std::size_t MaxPayload = ChunkSize + 1;

  static constexpr std::uint8_t FlagCoded = 0x40;
  static constexpr std::uint8_t FlagStored = 0x80;

  // Throws ELzrw1KHCompressor when the hash table cannot be had.
  TLZR();
  ~TLZR();

  // Codes n (at most ChunkSize) bytes of src into dst; returns
  // the payload's length (1 to n + 1). dst needs room for MaxWorkLength bytes.
  std::size_t CompressBlock(const std::uint8_t* src, std::size_t n, std::uint8_t* dst);

  // Decodes a payload of length bytes into dst, which must hold ChunkSize bytes. Returns the
  // chunk's length, or nothing when the payload is damaged: an item cut off by the payload's end,
  // a copy reaching before the chunk's start, or a chunk that would pass ChunkSize bytes. Nothing
  // outside src[0, length) is read and nothing outside dst[0, ChunkSize) is written.
  static std::optional<std::size_t> DecompressBlock(const std::uint8_t* src, std::size_t length,
                                                    std::uint8_t* dst);

 private:
  // Looks for an earlier occurrence of the bytes at x in the hash table, and records x there.
  // Returns the match length (3 to 18) and sets start, or returns 0.
  static std::size_t FindMatch(std::uint32_t* table, const std::uint8_t* src, std::size_t x,
                               std::size_t n, std::size_t& start);

  std::unique_ptr<std::uint32_t[]> hash_;   // 4096 entries, 0 = empty (see lzrw1kh.cpp)
  std::unique_ptr<std::uint16_t[]> slots_;  // each position's table slot, for one chunk
};
