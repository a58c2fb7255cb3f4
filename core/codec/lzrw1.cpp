#include "codec/lzrw1.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <istream>
#include <optional>
#include <ostream>

#include "codec/lzrw1kh.h"
#include "codec/messages.h"
#include "platform/atomicfile.h"

namespace {

using namespace codec::message;

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
    if (fd_ < 0) throw ELzrw1Exception(openinput(name_));
    struct stat st;
    if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) throw ELzrw1Exception(openinput(name_));
  }
  void usestream(std::istream* in) {
    if (!in) throw ELzrw1Exception(openinput(name_));
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

  void setsuffix(std::string suffix) { suffix_ = std::move(suffix); }

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
    if (!file_->open()) throw ELzrw1Exception(openoutput(name_));
  }
  void usestream(std::ostream* out) {
    if (!out) throw ELzrw1Exception(openoutput(name_));
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

// The number of bytes the input holds, learnt before it is read: what is left of the caller's
// stream (which in then reads), or the size of the file at path.
std::uint64_t inputsize(Input& in, bool usestream, std::istream* stream, const std::string& path,
                        const std::string& name) {
  if (usestream) {
    in.usestream(stream);
    const auto remaining = in.remaining();
    if (!remaining) throw ELzrw1Exception(nosize(name));
    return *remaining;
  }
  std::error_code error;
  const std::uint64_t size = std::filesystem::file_size(path, error);
  if (error) throw ELzrw1Exception(nosize(name));
  return size;
}

}  // namespace

std::uint64_t Tlzrw1::Compress() {
  const TCompressMode mode = CompressMode == TCompressMode::Auto ? Advise() : CompressMode;
  const std::string inName = UseStream ? streamname(InputFile, "(input stream)") : InputFile;
  const std::string outName = UseStream ? streamname(OutputFile, "(output stream)") : OutputFile;

  codec::Buffers buffers;
  Input in(inName, OnProgress);
  const std::uint64_t size = inputsize(in, UseStream, instream_, InputFile, inName);
  if (!UseStream) in.openfile(InputFile);
  codec::checkpackable(size, inName);

  Output out(outName, OnProgress);
  if (UseStream)
    out.usestream(outstream_);
  else
    out.createfile(OutputFile);
  if (mode == TCompressMode::Fast) in.setsuffix(kFastReadSuffix);
  codec::packstream(in, size, mode, out, *lzr_, buffers, inName);
  out.commit();
  return out.written();
}

std::uint64_t Tlzrw1::Decompress() {
  const std::string inName = UseStream ? streamname(InputFile, "(input stream)") : InputFile;
  const std::string outName = UseStream ? streamname(OutputFile, "(output stream)") : OutputFile;

  codec::Buffers buffers;
  Input in(inName, OnProgress);
  if (UseStream)
    in.usestream(instream_);
  else
    in.openfile(InputFile);
  Output out(outName, OnProgress);
  if (UseStream)
    out.usestream(outstream_);
  else
    out.createfile(OutputFile);
  codec::unpackstream(in, out, buffers, inName);
  out.commit();
  return out.written();
}

TCompressMode Tlzrw1::Advise() {
  const std::string inName = UseStream ? streamname(InputFile, "(input stream)") : InputFile;
  Input in(inName, OnProgress);
  const std::uint64_t size = inputsize(in, UseStream, instream_, InputFile, inName);
  if (size <= codec::kAutoSmallInput) {
    CompressMode = TCompressMode::Good;
    return TCompressMode::Good;
  }
  if (!UseStream) in.openfile(InputFile);
  codec::Buffers buffers;
  try {
    const TCompressMode mode =
        codec::advise(size, Threshold, *lzr_, buffers, [&](std::uint64_t at, std::uint8_t* chunk) {
          in.seek(at);
          in.readall(chunk, TLZR::ChunkSize);
        });
    in.rewind();
    return mode;
  } catch (...) {
    in.rewind();
    throw;
  }
}

namespace codec {

Bytes unpack(std::istream& container, const UnpackOptions& options) {
  static const std::function<void()> noprogress;
  Input in(options.name, noprogress);
  in.usestream(&container);
  // The stream's length is not known; a megabyte first, and the vector grows from there.
  return unpackstream(in, options, std::uint64_t{1} << 20);
}

}  // namespace codec
