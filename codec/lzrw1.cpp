#include "codec/lzrw1.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <istream>
#include <new>
#include <optional>
#include <ostream>

#include "platform/atomicfile.h"
#include "codec/lzh.h"
#include "codec/lzrw1kh.h"

namespace {

constexpr std::uint8_t kFastSignature[4] = {'W', 'R', 'Z', 'L'};
constexpr std::uint8_t kGoodSignature[4] = {'!', 'H', 'Z', 'L'};
constexpr std::size_t kHeaderSize = 8;
constexpr std::uint64_t kMaxSize = 0xFFFFFFFFu;  // the header holds a 32-bit size
constexpr std::uint64_t kSmallInput = 98303;     // Auto mode codes inputs up to this in Good mode

static_assert(TLZR::BufferSize >= TLZR::MaxWorkLength + 2,
              "the output buffer holds a block's length and its payload together");

std::string readerror(const std::string& name) {
  return "Lzrw1 : Error reading from input file : " + name;
}
std::string writeerror(const std::string& name) {
  return "Lzrw1 : Error writing to output file : " + name;
}
std::string damaged(const std::string& name) {
  return "Lzrw1 decompression : the input file is damaged : " + name;
}
std::string changed(const std::string& name) {
  return "Lzrw1 compression : the input file changed while it was read : " + name;
}
std::string openinputerror(const std::string& name) {
  return "Lzrw1 (de)compression : Failed to open input file : " + name;
}
std::string openoutputerror(const std::string& name) {
  return "Lzrw1 (de)compression : Failed to open output file : " + name;
}
std::string sizeerror(const std::string& name) {
  return "Lzrw1 compression : Failed to obtain the size of : " + name;
}
constexpr const char* kFastMismatch =
    "Lzrw1 (decompression LZRW1/KH) : Original and compressed sizes do not match !";
constexpr const char* kGoodMismatch =
    "Lzrw1 (LZH decompression) : Original and compressed sizes do not match !";

void put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t get32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

// The two working buffers, held for one operation only.
struct Buffers {
  Buffers() {
    in.reset(new (std::nothrow) std::uint8_t[TLZR::BufferSize]);
    out.reset(new (std::nothrow) std::uint8_t[TLZR::BufferSize]);
    if (!in || !out)
      throw ELzrw1Exception("Lzrw1 (de)compression : Failed to get memory for I/O buffers !");
  }
  std::unique_ptr<std::uint8_t[]> in;
  std::unique_ptr<std::uint8_t[]> out;
};

// The input of one operation: a file opened here, or the caller's stream. Reads fill the whole
// request unless the input ends; a failure raises the read error naming the input.
class Input : public ByteSource {
 public:
  Input(const std::string& name, const std::function<void()>& progress)
      : name_(name), progress_(progress) {}
  ~Input() override {
    if (fd_ >= 0) ::close(fd_);
  }

  void openfile(const std::string& path) {
    do fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) throw ELzrw1Exception(openinputerror(name_));
    struct stat st;
    if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) throw ELzrw1Exception(openinputerror(name_));
  }
  void usestream(std::istream* in) {
    if (!in) throw ELzrw1Exception(openinputerror(name_));
    stream_ = in;
    start_ = in->tellg();
  }

  // Bytes from the current position to the end; nothing when they cannot be learnt.
  std::optional<std::uint64_t> remaining() {
    if (stream_) {
      if (start_ == std::streampos(-1)) return std::nullopt;
      stream_->seekg(0, std::ios::end);
      const std::streampos end = stream_->tellg();
      stream_->clear();
      stream_->seekg(start_);
      if (end == std::streampos(-1) || !*stream_ || end < start_) return std::nullopt;
      return static_cast<std::uint64_t>(end - start_);
    }
    struct stat st;
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
  }

  // Moves to offset bytes past where the input started.
  void seek(std::uint64_t offset) {
    if (stream_) {
      stream_->clear();
      stream_->seekg(start_ + static_cast<std::streamoff>(offset));
      if (!*stream_) throw ELzrw1Exception(readerror(name_));
    } else if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) {
      throw ELzrw1Exception(readerror(name_));
    }
  }

  // Leaves a caller's stream where it started, for a later Compress after Advise.
  void rewind() {
    if (stream_) {
      stream_->clear();
      stream_->seekg(start_);
    }
  }

  void setsuffix(const char* suffix) { suffix_ = suffix; }

  std::size_t read(std::uint8_t* buffer, std::size_t n) override {
    std::size_t got = 0;
    if (stream_) {
      try {
        stream_->read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(n));
        got = static_cast<std::size_t>(stream_->gcount());
        if (stream_->bad() || (got < n && !stream_->eof())) fail();
      } catch (const std::ios_base::failure&) {
        fail();
      }
    } else {
      while (got < n) {
        const ssize_t r = ::read(fd_, buffer + got, n - got);
        if (r < 0) {
          if (errno == EINTR) continue;
          fail();
        }
        if (r == 0) break;
        got += static_cast<std::size_t>(r);
      }
    }
    if (progress_) progress_();
    return got;
  }

  // Reads exactly n bytes, or fails with the read error.
  void readall(std::uint8_t* buffer, std::size_t n) {
    if (read(buffer, n) != n) fail();
  }

  [[noreturn]] void fail() { throw ELzrw1Exception(readerror(name_) + suffix_); }

 private:
  std::string name_;
  const std::function<void()>& progress_;
  int fd_ = -1;
  std::istream* stream_ = nullptr;
  std::streampos start_ = 0;
  std::string suffix_;
};

// The output of one operation. A file is written under a private name beside OutputFile and put in
// its place by commit, once it is whole and on the disk; until then OutputFile is untouched, and
// an output that is dropped is deleted. A caller's stream is written in place.
class Output : public ByteSink {
 public:
  Output(const std::string& name, const std::function<void()>& progress)
      : name_(name), progress_(progress) {}

  void createfile(const std::string& path) {
    file_.emplace(path);
    if (!file_->open()) throw ELzrw1Exception(openoutputerror(name_));
  }
  void usestream(std::ostream* out) {
    if (!out) throw ELzrw1Exception(openoutputerror(name_));
    stream_ = out;
  }

  void write(const std::uint8_t* buffer, std::size_t n) override {
    if (stream_) {
      try {
        stream_->write(reinterpret_cast<const char*>(buffer), static_cast<std::streamsize>(n));
      } catch (const std::ios_base::failure&) {
        fail();
      }
      if (!*stream_) fail();
    } else if (!file_->write(buffer, n)) {
      fail();
    }
    written_ += n;
    if (progress_) progress_();
  }

  void commit() {
    if (stream_) {
      try {
        stream_->flush();
      } catch (const std::ios_base::failure&) {
        fail();
      }
      if (!*stream_) fail();
      return;
    }
    if (!file_->commit()) fail();
  }

  std::uint64_t written() const { return written_; }

  [[noreturn]] void fail() { throw ELzrw1Exception(writeerror(name_)); }

 private:
  std::string name_;
  const std::function<void()>& progress_;
  std::optional<AtomicFile> file_;  // dropped with the output unless committed
  std::ostream* stream_ = nullptr;
  std::uint64_t written_ = 0;
};

}  // namespace

Tlzrw1::Tlzrw1() : lzr_(std::make_unique<TLZR>()) {}
Tlzrw1::~Tlzrw1() = default;

namespace {

std::string streamname(const std::string& name, const char* fallback) {
  return name.empty() ? fallback : name;
}

}  // namespace

std::uint64_t Tlzrw1::Compress() {
  const TCompressMode mode = CompressMode == TCompressMode::Auto ? Advise() : CompressMode;
  const std::string inName = UseStream ? streamname(InputFile, "(input stream)") : InputFile;
  const std::string outName = UseStream ? streamname(OutputFile, "(output stream)") : OutputFile;

  Buffers buffers;
  Input in(inName, OnProgress);
  std::uint64_t size;
  if (UseStream) {
    in.usestream(inStream_);
    auto remaining = in.remaining();
    if (!remaining) throw ELzrw1Exception(sizeerror(inName));
    size = *remaining;
  } else {
    std::error_code error;
    size = std::filesystem::file_size(InputFile, error);
    if (error) throw ELzrw1Exception(sizeerror(inName));
    in.openfile(InputFile);
  }
  if (size > kMaxSize)
    throw ELzrw1Exception("Lzrw1 compression : the input file is larger than 4 GB : " + inName);

  Output out(outName, OnProgress);
  if (UseStream)
    out.usestream(outStream_);
  else
    out.createfile(OutputFile);

  std::uint8_t* const ib = buffers.in.get();
  std::uint8_t* const ob = buffers.out.get();
  std::memcpy(ob, mode == TCompressMode::Fast ? kFastSignature : kGoodSignature, 4);
  put32(ob + 4, static_cast<std::uint32_t>(size));
  out.write(ob, kHeaderSize);

  std::uint64_t total = 0;
  if (mode == TCompressMode::Fast) {
    in.setsuffix(" (LZRW1/KH)");
    for (;;) {
      const std::size_t n = in.read(ib, TLZR::ChunkSize);
      total += n;
      if (total > size) throw ELzrw1Exception(changed(inName));
      const std::size_t length = lzr_->CompressBlock(ib, n, ob + 2);
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
  if (total != size) throw ELzrw1Exception(changed(inName));
  out.commit();
  return out.written();
}

std::uint64_t Tlzrw1::Decompress() {
  const std::string inName = UseStream ? streamname(InputFile, "(input stream)") : InputFile;
  const std::string outName = UseStream ? streamname(OutputFile, "(output stream)") : OutputFile;

  Buffers buffers;
  Input in(inName, OnProgress);
  if (UseStream)
    in.usestream(inStream_);
  else
    in.openfile(InputFile);
  Output out(outName, OnProgress);
  if (UseStream)
    out.usestream(outStream_);
  else
    out.createfile(OutputFile);

  std::uint8_t* const ib = buffers.in.get();
  std::uint8_t* const ob = buffers.out.get();
  in.readall(ib, 4);
  const bool fast = std::memcmp(ib, kFastSignature, 4) == 0;
  if (!fast && std::memcmp(ib, kGoodSignature, 4) != 0)
    throw ELzrw1Exception(inName + " : Lzrw1 decompression : this file has no valid header !");
  in.readall(ib, 4);
  const std::uint64_t size = get32(ib);

  if (fast) {
    std::uint64_t total = 0;
    for (;;) {
      in.readall(ib, 2);
      const std::size_t length = std::size_t{ib[0]} | std::size_t{ib[1]} << 8;
      if (length > TLZR::MaxPayload) throw ELzrw1Exception(damaged(inName));
      in.readall(ib, length);
      const std::optional<std::size_t> n = TLZR::DecompressBlock(ib, length, ob);
      if (!n) throw ELzrw1Exception(damaged(inName));
      total += *n;
      // No need to write on past the size the header promised: the file is wrong already.
      if (total > size) throw ELzrw1Exception(kFastMismatch);
      if (*n) out.write(ob, *n);
      if (*n != TLZR::ChunkSize) break;
    }
    if (total != size) throw ELzrw1Exception(kFastMismatch);
  } else {
    TLZH lzh;
    switch (lzh.Decode(in, size, out, ib, ob, TLZR::BufferSize)) {
      case TLZH::DecodeResult::Ok:
        break;
      case TLZH::DecodeResult::Truncated:
      case TLZH::DecodeResult::Overlong:
        throw ELzrw1Exception(kGoodMismatch);
      case TLZH::DecodeResult::Damaged:
        throw ELzrw1Exception(damaged(inName));
    }
  }
  out.commit();
  return out.written();
}

TCompressMode Tlzrw1::Advise() {
  const std::string inName = UseStream ? streamname(InputFile, "(input stream)") : InputFile;
  Input in(inName, OnProgress);
  std::uint64_t size;
  if (UseStream) {
    in.usestream(inStream_);
    auto remaining = in.remaining();
    if (!remaining) throw ELzrw1Exception(sizeerror(inName));
    size = *remaining;
  } else {
    std::error_code error;
    size = std::filesystem::file_size(InputFile, error);
    if (error) throw ELzrw1Exception(sizeerror(inName));
  }
  if (size <= kSmallInput) {
    CompressMode = TCompressMode::Good;
    return TCompressMode::Good;
  }
  if (!UseStream) in.openfile(InputFile);
  Buffers buffers;
  std::uint64_t coded = 0;
  const std::uint64_t samples[2] = {size / 3 / TLZR::ChunkSize * TLZR::ChunkSize,
                                    size * 2 / 3 / TLZR::ChunkSize * TLZR::ChunkSize};
  try {
    for (std::uint64_t at : samples) {
      in.seek(at);
      in.readall(buffers.in.get(), TLZR::ChunkSize);
      coded += lzr_->CompressBlock(buffers.in.get(), TLZR::ChunkSize, buffers.out.get());
    }
  } catch (...) {
    in.rewind();
    throw;
  }
  in.rewind();
  const std::uint64_t sampled = 2 * TLZR::ChunkSize;
  return coded * 100 < sampled * static_cast<std::uint64_t>(std::max(Threshold, 0))
             ? TCompressMode::Fast
             : TCompressMode::Good;
}
