#pragma once

// The compressed container, on memory buffers.
//
// A container is the signature "WRZL" (Fast mode: LZRW1-KH blocks, see lzrw1kh.h) or "!HZL" (Good
// mode: one LZH bit stream, see lzh.h), the uncompressed size as an unsigned 32-bit little-endian
// count, then the coded data. pack and unpack turn whole buffers into containers and back; Tlzrw1
// (lzrw1.h) runs files and streams through the same steps, declared at the end of this header,
// so both write the same bytes and fail with the same messages.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "codec/errors.h"
#include "codec/lzh.h"

class TLZR;

enum class TCompressMode { Good, Fast, Auto };

namespace codec {

using Bytes = std::vector<std::uint8_t>;

// A text's bytes, to pack or unpack it without a copy.
inline std::span<const std::uint8_t> asbytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The container of data in the given mode; Auto picks Fast or Good as Tlzrw1::Advise does, with
// the same threshold (a percentage). Throws ELzrw1Exception (an input over 4 GB, no memory).
Bytes pack(std::span<const std::uint8_t> data, TCompressMode mode, int threshold = 40);

struct UnpackOptions {
  // Names the container in messages, where a file name would stand.
  std::string name = "(input stream)";
  // The most bytes the caller takes: a container that holds more fails with ELzrw1TooLarge as
  // soon as its output passes this, so a small damaged file cannot claim much memory.
  std::size_t limit = std::numeric_limits<std::size_t>::max();
};

// The bytes a whole container holds. Throws ELzrw1Exception with the message Tlzrw1::Decompress
// gives for the same bytes: no valid header, a short read, a damaged block, sizes that differ.
Bytes unpack(std::span<const std::uint8_t> container, const UnpackOptions& options = {});

// ---- the steps, over any source and sink ---------------------------------------------------

// The two working buffers of one operation, of TLZR::BufferSize bytes each.
struct Buffers {
  Buffers();  // throws ELzrw1Exception when the memory cannot be had
  std::unique_ptr<std::uint8_t[]> in;
  std::unique_ptr<std::uint8_t[]> out;
};

// Auto mode gives inputs up to this size to Good mode without sampling them.
constexpr std::uint64_t kAutoSmallInput = 98303;

// Refuses an input whose size the header cannot hold; inputname is the input's name in messages.
void checkpackable(std::uint64_t size, const std::string& inputname);

// Writes the container of the size bytes in gives, in Fast or Good mode. Throws when in gives
// more or fewer bytes than size (it changed while it was read).
void packstream(ByteSource& in, std::uint64_t size, TCompressMode mode, ByteSink& out, TLZR& lzr,
                Buffers& buffers, const std::string& inputname);

// Reads one container from in and writes the bytes it holds to out.
void unpackstream(ByteSource& in, ByteSink& out, Buffers& buffers, const std::string& inputname);
// The same into memory, as unpack does, making room at once for up to room bytes of what the
// header claims.
Bytes unpackstream(ByteSource& in, const UnpackOptions& options, std::uint64_t room);

// Auto mode's choice for an input of size bytes: Good up to kAutoSmallInput, otherwise Fast when
// two chunks, at a third and two thirds of the input (each rounded down to a whole chunk), code
// below threshold percent of their size. sample(offset, chunk) fills chunk with the
// TLZR::ChunkSize bytes at offset.
TCompressMode advise(std::uint64_t size, int threshold, TLZR& lzr, Buffers& buffers,
                     const std::function<void(std::uint64_t, std::uint8_t*)>& sample);

}  // namespace codec
