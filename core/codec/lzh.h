#pragma once

// The Good-mode coder: LZSS over a 4096-byte ring buffer with a 60-byte look-ahead, matches of 3
// to 60 bytes found through binary search trees, literals and match lengths as 314 symbols under
// an adaptive Huffman code, and match positions as 6 high bits under a fixed code plus 6 low bits.
// The bit stream is written most significant bit first and padded with zero bits to a whole byte.

#include <cstddef>
#include <cstdint>
#include <memory>

// Where the coders get their bytes. read fills up to n bytes and returns fewer only at the end
// of the input; it throws on a read error.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::size_t read(std::uint8_t* buffer, std::size_t n) = 0;
};

// Where the coders put their bytes; write stores all n bytes or throws.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual void write(const std::uint8_t* buffer, std::size_t n) = 0;
  // How many bytes are about to be written, as a header claims: a sink in memory may make room
  // for them at once. Only a hint; the writes decide.
  virtual void expect(std::uint64_t) {}
};

class TLZH {
 public:
  TLZH();
  ~TLZH();
  TLZH(const TLZH&) = delete;
  TLZH& operator=(const TLZH&) = delete;

  // Codes everything the source gives until its end; returns the number of input bytes coded.
  // inBuffer and outBuffer, of bufferSize bytes each (at least 64), are the caller's I/O buffers.
  std::uint64_t Encode(ByteSource& in, ByteSink& out, std::uint8_t* inBuffer,
                       std::uint8_t* outBuffer, std::size_t bufferSize);

  enum class DecodeResult {
    Ok,         // exactly size bytes were produced, and the stream ended with them
    Truncated,  // the bit stream ended before size bytes were produced
    Overlong,   // the stream holds more than size bytes: a match runs past them, or bits or
                // bytes other than the final zero padding follow them
    Damaged,    // the stream cannot be read as codes at all
  };
  // Decodes a stream that holds size bytes and reads the source to its end: the size is the
  // whole stream's, so anything after it means the size is wrong.
  DecodeResult Decode(ByteSource& in, std::uint64_t size, ByteSink& out, std::uint8_t* inBuffer,
                      std::uint8_t* outBuffer, std::size_t bufferSize);

 private:
  struct State;
  std::unique_ptr<State> state_;
};
