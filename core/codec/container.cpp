#include "codec/container.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>

#include "codec/lzrw1kh.h"
#include "codec/messages.h"

namespace codec {

namespace {

constexpr std::uint8_t kFastSignature[4] = {'W', 'R', 'Z', 'L'};
constexpr std::uint8_t kGoodSignature[4] = {'!', 'H', 'Z', 'L'};
constexpr std::size_t kHeaderSize = 8;
constexpr std::uint64_t kMaxSize = 0xFFFFFFFFu;  // the header holds a 32-bit size
// No coded byte of either mode stands for more than this many bytes of output (a run item of
// four bytes gives at most 4111), so a container of c bytes holds less than c times this.
constexpr std::uint64_t kMostExpansion = 1028;

static_assert(kMostExpansion * 4 >= 4095 + 16, "a run item stands for the most bytes");
static_assert(TLZR::BufferSize >= TLZR::MaxWorkLength + 2,
              "the output buffer holds a block's length and its payload together");

void put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t get32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

// Reads exactly n bytes, or fails with the read error naming the input.
void readall(ByteSource& in, std::uint8_t* buffer, std::size_t n, const std::string& inputname) {
  if (in.read(buffer, n) != n) throw ELzrw1Exception(message::readerror(inputname));
}

// A caller's buffer, read from the front.
class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::size_t read(std::uint8_t* buffer, std::size_t n) override {
    n = std::min(n, bytes_.size() - at_);
    if (n) std::memcpy(buffer, bytes_.data() + at_, n);
    at_ += n;
    return n;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t at_ = 0;
};

// Bytes gathered in memory, up to a limit.
class MemorySink : public ByteSink {
 public:
  MemorySink(std::size_t limit, std::uint64_t room, std::string name)
      : limit_(limit), room_(room), name_(std::move(name)) {}
  void write(const std::uint8_t* buffer, std::size_t n) override {
    if (n > limit_ - bytes_.size()) throw ELzrw1TooLarge(message::morethanlimit(name_));
    bytes_.insert(bytes_.end(), buffer, buffer + n);
  }
  // Room for what a header promises, so the bytes are not copied as the vector grows; but no
  // more than the limit, nor than the container could hold, since a damaged header may promise
  // 4 GB.
  void expect(std::uint64_t size) override {
    bytes_.reserve(static_cast<std::size_t>(std::min<std::uint64_t>({size, limit_, room_})));
  }
  Bytes& bytes() { return bytes_; }

 private:
  Bytes bytes_;
  std::size_t limit_;
  std::uint64_t room_;
  std::string name_;
};

}  // namespace

Buffers::Buffers() {
  in.reset(new (std::nothrow) std::uint8_t[TLZR::BufferSize]);
  out.reset(new (std::nothrow) std::uint8_t[TLZR::BufferSize]);
  if (!in || !out) throw ELzrw1Exception(message::kNoMemory);
}

void checkpackable(std::uint64_t size, const std::string& inputname) {
  if (size > kMaxSize) throw ELzrw1Exception(message::toolarge(inputname));
}

void packstream(ByteSource& in, std::uint64_t size, TCompressMode mode, ByteSink& out, TLZR& lzr,
                Buffers& buffers, const std::string& inputname) {
  std::uint8_t* const ib = buffers.in.get();
  std::uint8_t* const ob = buffers.out.get();
  std::memcpy(ob, mode == TCompressMode::Fast ? kFastSignature : kGoodSignature, 4);
  put32(ob + 4, static_cast<std::uint32_t>(size));
  out.write(ob, kHeaderSize);

  std::uint64_t total = 0;
  if (mode == TCompressMode::Fast) {
    for (;;) {
      const std::size_t n = in.read(ib, TLZR::ChunkSize);
      total += n;
      if (total > size) throw ELzrw1Exception(message::changed(inputname));
      const std::size_t length = lzr.CompressBlock(ib, n, ob + 2);
      ob[0] = static_cast<std::uint8_t>(length);
      ob[1] = static_cast<std::uint8_t>(length >> 8);
      out.write(ob, length + 2);
      if (n < TLZR::ChunkSize) break;
    }
  } else {
    TLZH lzh;
    total = lzh.Encode(in, out, ib, ob, TLZR::BufferSize);
  }
  // The header promised size bytes; a container that disagrees with itself could not be read.
  if (total != size) throw ELzrw1Exception(message::changed(inputname));
}

void unpackstream(ByteSource& in, ByteSink& out, Buffers& buffers, const std::string& inputname) {
  std::uint8_t* const ib = buffers.in.get();
  std::uint8_t* const ob = buffers.out.get();
  readall(in, ib, 4, inputname);
  const bool fast = std::memcmp(ib, kFastSignature, 4) == 0;
  if (!fast && std::memcmp(ib, kGoodSignature, 4) != 0)
    throw ELzrw1Exception(message::noheader(inputname));
  readall(in, ib, 4, inputname);
  const std::uint64_t size = get32(ib);
  out.expect(size);

  if (fast) {
    std::uint64_t total = 0;
    for (;;) {
      readall(in, ib, 2, inputname);
      const std::size_t length = std::size_t{ib[0]} | std::size_t{ib[1]} << 8;
      if (length > TLZR::MaxPayload) throw ELzrw1Exception(message::damaged(inputname));
      readall(in, ib, length, inputname);
      const std::optional<std::size_t> n = TLZR::DecompressBlock(ib, length, ob);
      if (!n) throw ELzrw1Exception(message::damaged(inputname));
      total += *n;
      // No need to write on past the size the header promised: the file is wrong already.
      if (total > size) throw ELzrw1Exception(message::kFastMismatch);
      if (*n) out.write(ob, *n);
      if (*n != TLZR::ChunkSize) break;
    }
    if (total != size) throw ELzrw1Exception(message::kFastMismatch);
  } else {
    TLZH lzh;
    switch (lzh.Decode(in, size, out, ib, ob, TLZR::BufferSize)) {
      case TLZH::DecodeResult::Ok:
        break;
      case TLZH::DecodeResult::Truncated:
      case TLZH::DecodeResult::Overlong:
        throw ELzrw1Exception(message::kGoodMismatch);
      case TLZH::DecodeResult::Damaged:
        throw ELzrw1Exception(message::damaged(inputname));
    }
  }
}

TCompressMode advise(std::uint64_t size, int threshold, TLZR& lzr, Buffers& buffers,
                     const std::function<void(std::uint64_t, std::uint8_t*)>& sample) {
  if (size <= kAutoSmallInput) return TCompressMode::Good;
  const std::uint64_t samples[2] = {size / 3 / TLZR::ChunkSize * TLZR::ChunkSize,
                                    size * 2 / 3 / TLZR::ChunkSize * TLZR::ChunkSize};
  std::uint64_t coded = 0;
  for (const std::uint64_t at : samples) {
    sample(at, buffers.in.get());
    coded += lzr.CompressBlock(buffers.in.get(), TLZR::ChunkSize, buffers.out.get());
  }
  const std::uint64_t sampled = 2 * TLZR::ChunkSize;
  return coded * 100 < sampled * static_cast<std::uint64_t>(std::max(threshold, 0))
             ? TCompressMode::Fast
             : TCompressMode::Good;
}

namespace {

// Fast mode straight from the caller's bytes: each chunk is coded where it lies, and only its
// payload is copied into the container.
Bytes packfast(std::span<const std::uint8_t> data, TLZR& lzr, std::uint8_t* payload) {
  Bytes out;
  // Fast mode grows a chunk by 3 bytes at most.
  out.reserve(kHeaderSize + data.size() + 3 * (data.size() / TLZR::ChunkSize + 1));
  std::uint8_t header[kHeaderSize];
  std::memcpy(header, kFastSignature, 4);
  put32(header + 4, static_cast<std::uint32_t>(data.size()));
  out.insert(out.end(), header, header + kHeaderSize);
  for (std::size_t at = 0;; at += TLZR::ChunkSize) {
    const std::size_t n = std::min(TLZR::ChunkSize, data.size() - at);
    const std::size_t length = lzr.CompressBlock(data.data() + at, n, payload + 2);
    payload[0] = static_cast<std::uint8_t>(length);
    payload[1] = static_cast<std::uint8_t>(length >> 8);
    out.insert(out.end(), payload, payload + length + 2);
    if (n < TLZR::ChunkSize) break;
  }
  return out;
}

}  // namespace

Bytes pack(std::span<const std::uint8_t> data, TCompressMode mode, int threshold) {
  const std::string name = "(input buffer)";
  checkpackable(data.size(), name);
  TLZR lzr;
  Buffers buffers;
  if (mode == TCompressMode::Auto) {
    mode = advise(data.size(), threshold, lzr, buffers, [&](std::uint64_t at, std::uint8_t* chunk) {
      std::memcpy(chunk, data.data() + at, TLZR::ChunkSize);
    });
  }
  if (mode == TCompressMode::Fast) return packfast(data, lzr, buffers.out.get());
  MemorySource in(data);
  MemorySink out(std::numeric_limits<std::size_t>::max(), 0, "(output buffer)");
  // Fast mode grows a chunk by 3 bytes at most; Good mode usually shrinks it.
  out.bytes().reserve(kHeaderSize + data.size() + 3 * (data.size() / TLZR::ChunkSize + 1));
  packstream(in, data.size(), mode, out, lzr, buffers, name);
  return std::move(out.bytes());
}

Bytes unpackstream(ByteSource& in, const UnpackOptions& options, std::uint64_t room) {
  Buffers buffers;
  MemorySink out(options.limit, room, options.name);
  unpackstream(in, out, buffers, options.name);
  return std::move(out.bytes());
}

namespace {

// A Fast-mode container straight from the caller's bytes: each block is decoded where it lies
// into the result's own room. It fails as unpackstream does on the same bytes, with the same
// messages, in the same order.
Bytes unpackfast(std::span<const std::uint8_t> container, const UnpackOptions& options) {
  const std::string& name = options.name;
  if (container.size() < kHeaderSize) throw ELzrw1Exception(message::readerror(name));
  const std::uint64_t size = get32(container.data() + 4);
  Bytes out;
  out.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(
                  {size, options.limit, container.size() * kMostExpansion})) +
              TLZR::ChunkSize);
  std::size_t at = kHeaderSize;
  std::uint64_t total = 0;
  for (;;) {
    if (container.size() - at < 2) throw ELzrw1Exception(message::readerror(name));
    const std::size_t length = std::size_t{container[at]} | std::size_t{container[at + 1]} << 8;
    at += 2;
    if (length > TLZR::MaxPayload) throw ELzrw1Exception(message::damaged(name));
    if (container.size() - at < length) throw ELzrw1Exception(message::readerror(name));
    // The decoder wants a whole chunk's room; what it does not fill is cut off again below.
    const std::size_t have = out.size();
    out.resize(have + TLZR::ChunkSize);
    const std::optional<std::size_t> n =
        TLZR::DecompressBlock(container.data() + at, length, out.data() + have);
    if (!n) throw ELzrw1Exception(message::damaged(name));
    at += length;
    total += *n;
    if (total > size) throw ELzrw1Exception(message::kFastMismatch);
    if (*n > options.limit - have) throw ELzrw1TooLarge(message::morethanlimit(name));
    out.resize(have + *n);
    if (*n != TLZR::ChunkSize) break;
  }
  if (total != size) throw ELzrw1Exception(message::kFastMismatch);
  return out;
}

}  // namespace

Bytes unpack(std::span<const std::uint8_t> container, const UnpackOptions& options) {
  if (container.size() >= 4 && std::memcmp(container.data(), kFastSignature, 4) == 0)
    return unpackfast(container, options);
  MemorySource in(container);
  return unpackstream(in, options, container.size() * kMostExpansion);
}

}  // namespace codec
