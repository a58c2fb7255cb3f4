#pragma once

// The compressed file container: one file (or stream) in, one container out, and back.
//
// Tlzrw1 is the file and stream layer over the container on memory buffers (container.h): it
// opens and creates the files, reads and writes them chunk by chunk with fixed memory, replaces an
// output file only once it is whole, reports progress, and names the files in its messages.
// Plain C++ on purpose: the tally window, the maintainer's tool and the fuzzers all share it.

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>

#include "codec/container.h"
#include "codec/errors.h"

class TLZR;

class Tlzrw1 {
 public:
  Tlzrw1();
  ~Tlzrw1();
  Tlzrw1(const Tlzrw1&) = delete;
  Tlzrw1& operator=(const Tlzrw1&) = delete;

  // The files to read and to create or replace. With UseStream set they are not opened; they only
  // name the streams in error messages (so a caller reading a file through a stream can still have
  // the file named when it is damaged).
  std::string InputFile;
  std::string OutputFile;
  // The coder Compress uses; Auto asks Advise first.
  TCompressMode CompressMode = TCompressMode::Good;
  // Auto mode picks Fast only when its samples shrink below this percentage of their size.
  int Threshold = 40;
  // Read and write the caller's streams instead of the two files.
  bool UseStream = false;
  // Called after every read and every write, so a caller with a user interface can keep it alive
  // during a long operation. May be left empty.
  std::function<void()> OnProgress;

  // Streams used when UseStream is set; they stay the caller's. Compress codes the input from its
  // current position to its end (the stream must be seekable so the size can be learnt first);
  // Decompress reads a container starting at the input's current position.
  void setInputStream(std::istream* in) { instream_ = in; }
  void setOutputStream(std::ostream* out) { outstream_ = out; }

  // Both return the number of bytes written and throw ELzrw1Exception on any failure. In file
  // mode the output is written beside OutputFile and renamed over it only once it is complete, so
  // a failure leaves no new file and never harms a file that was there before.
  std::uint64_t Compress();
  std::uint64_t Decompress();

  // Auto mode's choice for the current input: Good for small inputs (and CompressMode becomes
  // Good), otherwise Fast when two samples code below Threshold percent, else Good.
  TCompressMode Advise();

 private:
  std::unique_ptr<TLZR> lzr_;  // the Fast-mode block coder, with its hash table
  std::istream* instream_ = nullptr;
  std::ostream* outstream_ = nullptr;
};

namespace codec {

// The bytes of the container that starts at the stream's current position, read from the stream
// as Tlzrw1 reads it (bytes after a Fast-mode container are left unread or ignored). Throws
// ELzrw1Exception as Tlzrw1::Decompress does, and ELzrw1TooLarge past options.limit.
Bytes unpack(std::istream& container, const UnpackOptions& options = {});

}  // namespace codec
