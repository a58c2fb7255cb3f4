// The container: exact Fast-mode files, round trips in every mode, every failure with its
// message, damaged containers, and what is left on disk afterwards.

#include "codec/lzrw1.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "codec/container.h"
#include "codec/lzrw1kh.h"
#include "tests/core/codec/codecdata.h"
#include "tests/support/scratchdir.h"

namespace fs = std::filesystem;

namespace {

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes le32(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
          static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

std::string asstring(const Bytes& b) {
  return std::string(b.begin(), b.end());
}

// In memory.
Bytes compressed(const Bytes& data, TCompressMode mode) {
  return codec::pack(data, mode);
}

Bytes decompressed(const Bytes& container) {
  return codec::unpack(container);
}

// The message a failing decompression gives, naming its input "tally.tld".
std::string decompresserror(const Bytes& container) {
  try {
    codec::unpack(container, {.name = "tally.tld"});
  } catch (const ELzrw1Exception& e) {
    return e.what();
  }
  return "(no error)";
}

// The same through the caller's streams.
Bytes streamcompressed(const Bytes& data, TCompressMode mode) {
  std::istringstream in(asstring(data));
  std::ostringstream out;
  Tlzrw1 doit;
  doit.UseStream = true;
  doit.CompressMode = mode;
  doit.setInputStream(&in);
  doit.setOutputStream(&out);
  const std::uint64_t written = doit.Compress();
  EXPECT_EQ(written, out.str().size());
  return bytesof(out.str());
}

std::string streamdecompresserror(const Bytes& container) {
  std::istringstream in(asstring(container));
  std::ostringstream out;
  Tlzrw1 doit;
  doit.UseStream = true;
  doit.InputFile = "tally.tld";
  doit.setInputStream(&in);
  doit.setOutputStream(&out);
  try {
    const std::uint64_t written = doit.Decompress();
    EXPECT_EQ(written, out.str().size());
    if (out.str() != asstring(codec::unpack(container))) return "(differs from memory)";
  } catch (const ELzrw1Exception& e) {
    return e.what();
  }
  return "(no error)";
}

const std::string kDamaged = "Lzrw1 decompression : the input file is damaged : tally.tld";
const std::string kReadError = "Lzrw1 : Error reading from input file : tally.tld";
const std::string kFastMismatch =
    "Lzrw1 (decompression LZRW1/KH) : Original and compressed sizes do not match !";
const std::string kGoodMismatch =
    "Lzrw1 (LZH decompression) : Original and compressed sizes do not match !";

// A reader of Fast-mode containers written straight from the format's description, to check
// the writer against something other than its own reader.
Bytes referencedecode(const Bytes& c) {
  Bytes out;
  std::size_t at = 8;
  for (;;) {
    const std::size_t length = c.at(at) | c.at(at + 1) << 8;
    const std::optional<Bytes> chunk =
        plaindecode(Bytes(c.begin() + at + 2, c.begin() + at + 2 + length));
    at += 2 + length;
    out.insert(out.end(), chunk.value().begin(), chunk.value().end());
    if (chunk->size() != 32768) break;
  }
  return out;
}

class TempDir : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(scratch_.path().empty()); }

  std::string path(const std::string& name) const { return (scratch_.path() / name).string(); }
  void write(const std::string& name, const Bytes& data) const {
    std::ofstream(path(name), std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()),
               static_cast<std::streamsize>(data.size()));
  }
  Bytes read(const std::string& name) const {
    std::ifstream in(path(name), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  // Every name in the folder, to see that nothing was left behind.
  std::vector<std::string> files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(scratch_.path()))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  static int openfiles() {
    return static_cast<int>(std::distance(fs::directory_iterator("/proc/self/fd"), {}));
  }

  // Runs op and returns its message, or "(no error)".
  template <typename Op>
  static std::string failure(Op op) {
    try {
      op();
    } catch (const ELzrw1Exception& e) {
      return e.what();
    }
    return "(no error)";
  }

  ScratchDir scratch_;
};

// ---- Fast mode, byte for byte ------------------------------------------------------------

TEST(FastContainer, EmptyInputIsElevenBytes) {
  const Bytes expected{'W', 'R', 'Z', 'L', 0, 0, 0, 0, 0x01, 0x00, 0x80};
  EXPECT_EQ(compressed({}, TCompressMode::Fast), expected);
  EXPECT_EQ(decompressed(expected), Bytes{});
}

TEST(FastContainer, FullChunkIsFollowedByAnEmptyBlock) {
  const Bytes data = randombytes(32768, 5);
  const Bytes expected =
      bytesof("WRZL") + le32(32768) + Bytes{0x01, 0x80, 0x80} + data + Bytes{0x01, 0x00, 0x80};
  EXPECT_EQ(compressed(data, TCompressMode::Fast), expected);
  EXPECT_EQ(decompressed(expected), data);
}

TEST(FastContainer, HundredEqualBytesAreOneRunItem) {
  const Bytes expected =
      bytesof("WRZL") + le32(100) + Bytes{0x07, 0x00, 0x40, 0x80, 0x00, 0x00, 0x00, 0x54, 'v'};
  EXPECT_EQ(compressed(Bytes(100, 'v'), TCompressMode::Fast), expected);
}

TEST(FastContainer, RepeatedTripleIsThreeLiteralsAndOneCopy) {
  const Bytes expected =
      bytesof("WRZL") + le32(12) + Bytes{0x08, 0x00, 0x40, 0x10, 0x00, 'a', 'b', 'c', 0x00, 0x36};
  EXPECT_EQ(compressed(bytesof("abcabcabcabc"), TCompressMode::Fast), expected);
}

TEST(FastContainer, RandomBytesAreStored) {
  const Bytes data = randombytes(5000, 11);
  const Bytes expected = bytesof("WRZL") + le32(5000) + Bytes{0x89, 0x13, 0x80} + data;
  EXPECT_EQ(compressed(data, TCompressMode::Fast), expected);
}

TEST(FastContainer, ChunksAreCodedOnTheirOwn) {
  // Two chunks of the same text: the second may not refer back into the first, so both blocks
  // are the same bytes.
  const Bytes chunk = textbytes(32768, 3);
  const Bytes c = compressed(chunk + chunk + Bytes{'!'}, TCompressMode::Fast);
  const std::size_t length = c[8] | c[9] << 8;
  const Bytes first(c.begin() + 8, c.begin() + 10 + length);
  const Bytes second(c.begin() + 10 + length, c.begin() + 12 + 2 * length);
  EXPECT_EQ(first, second);
  EXPECT_EQ(Bytes(c.end() - 4, c.end()), (Bytes{0x02, 0x00, 0x80, '!'}));
}

TEST(FastContainer, WriterAgreesWithAReaderOfTheFormat) {
  for (std::size_t n : {1000u, 32768u, 70000u, 100000u}) {
    for (const Bytes& data : {textbytes(n, 1), runbytes(n, 2), Bytes(n, 0)}) {
      const Bytes c = compressed(data, TCompressMode::Fast);
      ASSERT_EQ(Bytes(c.begin() + 4, c.begin() + 8), le32(static_cast<std::uint32_t>(n)));
      ASSERT_EQ(referencedecode(c), data) << "size " << n;
    }
  }
}

// ---- round trips ---------------------------------------------------------------------------

TEST(RoundTrip, EveryModeGivesBackEveryInput) {
  const std::size_t sizes[] = {0,     1,     2,     3,     59,    60,    61,    4096,
                               32767, 32768, 32769, 65535, 65536, 65537, 100000};
  for (TCompressMode mode : {TCompressMode::Fast, TCompressMode::Good, TCompressMode::Auto}) {
    for (std::size_t n : sizes) {
      for (const Bytes& data : {textbytes(n, 4), runbytes(n, 5), randombytes(n, 6)}) {
        const Bytes c = compressed(data, mode);
        ASSERT_EQ(decompressed(c), data) << "mode " << static_cast<int>(mode) << " size " << n;
        ASSERT_EQ(streamcompressed(data, mode), c) << "mode " << static_cast<int>(mode);
      }
    }
  }
}

TEST(RoundTrip, GoodModeWritesItsSignatureAndShrinksText) {
  const Bytes data = textbytes(200000, 8);
  const Bytes good = compressed(data, TCompressMode::Good);
  EXPECT_EQ(Bytes(good.begin(), good.begin() + 8), bytesof("!HZL") + le32(200000));
  EXPECT_LT(good.size(), data.size() / 3);
  EXPECT_LT(good.size(), compressed(data, TCompressMode::Fast).size());
  EXPECT_EQ(compressed({}, TCompressMode::Good), bytesof("!HZL") + le32(0));
}

TEST(RoundTrip, GoodModeSurvivesLongRescaledStreams) {
  // Enough symbols for the code tree to be rescaled many times, with skewed statistics.
  Bytes data = runbytes(300000, 12) + textbytes(300000, 13) + randombytes(50000, 14);
  EXPECT_EQ(decompressed(compressed(data, TCompressMode::Good)), data);
}

// ---- Good mode's format, traced from its description -----------------------------------
//
// The containers below are written out from the format's rules, not taken from our coder. The
// code tree starts with 314 leaves of count 1 (literals 0-255, then match lengths 3-60 as symbols
// 256-313) at nodes 0-313, and node 314 + k over nodes 2k and 2k + 1 up to the root, node 626. A
// symbol's code is the path from the root, each node on it giving its index's low bit. A match
// position is its distance less one: 6 high bits under the fixed code (000 for 0), then 6 low.

// Appends codes given as strings of '0' and '1'; finish pads the last byte with zeros.
class BitString {
 public:
  void put(const std::string& bits) {
    for (const char b : bits) {
      byte_ = static_cast<std::uint8_t>(byte_ << 1 | (b == '1'));
      if (++used_ == 8) {
        bytes_.push_back(byte_);
        used_ = 0;
      }
    }
  }
  Bytes finish() {
    if (used_) bytes_.push_back(static_cast<std::uint8_t>(byte_ << (8 - used_)));
    used_ = 0;
    return bytes_;
  }

 private:
  Bytes bytes_;
  std::uint8_t byte_ = 0;
  int used_ = 0;
};

TEST(GoodFormat, TheRingStartsFilledWithSpaces) {
  // "   " is one match of length 3 (symbol 256: nodes 626, 625, 622, 616, 604, 581, 535, 442, 256
  // give 1000 1100) at position 0, into the spaces the ring holds before the text (000 000000).
  const Bytes container = bytesof("!HZL") + le32(3) + Bytes{0x8C, 0x00, 0x00};
  EXPECT_EQ(decompressed(container), bytesof("   "));
  EXPECT_EQ(compressed(bytesof("   "), TCompressMode::Good), container);

  // The text starts at ring byte 4036; a match 4036 back starts at the ring's first byte, a space
  // as well. High bits 63 have the last 8-bit code.
  BitString far;
  far.put("10001100");        // length 3
  far.put("11111111000011");  // position 4035
  EXPECT_EQ(decompressed(bytesof("!HZL") + le32(3) + far.finish()), bytesof("   "));
}

TEST(GoodFormat, TheCodeTreeIsRebuiltWhenItsRootCountReaches8000Hex) {
  // M runs of 60 spaces, then "x". Each run is one match of 60 (symbol 313): the first at
  // position 59, into the 60 spaces before the text (the nearest of equal strings is the last
  // inserted, 60 back), every later one at position 0. Counting symbol 313 alone moves it up the
  // tree; its code after u counts, from the update and swap rule:
  const std::pair<int, const char*> codes313[] = {
      {0, "11000101"}, {2, "1100001"}, {3, "1100010"}, {4, "101111"}, {5, "110000"}, {8, "10110"},
      {9, "10111"},    {16, "1010"},   {25, "1011"},   {32, "100"},   {57, "101"},   {64, "01"},
      {121, "10"},     {128, "11"},    {185, "0"},     {313, "1"}};
  // The root counts 314 + u. At 32454 counts it reaches 8000 hex, and the next count first halves
  // every count and rebuilds the tree: "x" (literal 120) has the code 010000100 before that
  // rebuild and 000000110 after it.
  for (const auto& [runs, xcode] : {std::pair<int, std::string>{32454, "010000100"},
                                    std::pair<int, std::string>{32455, "000000110"}}) {
    BitString stream;
    std::size_t phase = 0;
    for (int u = 0; u < runs; ++u) {
      while (phase + 1 < std::size(codes313) && codes313[phase + 1].first <= u) ++phase;
      stream.put(codes313[phase].second);
      stream.put(u == 0 ? "000111011" : "000000000");
    }
    stream.put(xcode);
    const Bytes text = Bytes(60 * static_cast<std::size_t>(runs), ' ') + bytesof("x");
    const Bytes container =
        bytesof("!HZL") + le32(static_cast<std::uint32_t>(text.size())) + stream.finish();
    EXPECT_EQ(decompressed(container), text) << runs << " runs";
    EXPECT_EQ(compressed(text, TCompressMode::Good), container) << runs << " runs";
  }
}

// ---- Auto mode ---------------------------------------------------------------------------

TEST(Advise, SmallInputsGetGoodModeAndKeepIt) {
  std::istringstream in(std::string(98303, 'x'));
  std::ostringstream out;
  Tlzrw1 doit;
  doit.UseStream = true;
  doit.CompressMode = TCompressMode::Auto;
  doit.setInputStream(&in);
  doit.setOutputStream(&out);
  doit.Compress();
  EXPECT_EQ(out.str().substr(0, 4), "!HZL");
  EXPECT_EQ(doit.CompressMode, TCompressMode::Good);
}

TEST(Advise, LargeInputsAreJudgedByTwoSamples) {
  // Random bytes everywhere except the two chunks sampled (at size/3 and 2*size/3, rounded down
  // to a chunk): those are zeros, so the samples promise a good ratio and Fast wins.
  const std::size_t size = 10 * 32768 + 123;
  Bytes data = randombytes(size, 21);
  for (std::size_t at : {size / 3 / 32768 * 32768, size * 2 / 3 / 32768 * 32768})
    std::fill(data.begin() + at, data.begin() + at + 32768, 0);
  std::istringstream in(asstring(data));
  Tlzrw1 doit;
  doit.UseStream = true;
  doit.CompressMode = TCompressMode::Auto;
  doit.setInputStream(&in);
  EXPECT_EQ(doit.Advise(), TCompressMode::Fast);
  EXPECT_EQ(doit.CompressMode, TCompressMode::Auto);
  doit.Threshold = 0;
  EXPECT_EQ(doit.Advise(), TCompressMode::Good);

  // Zeros everywhere except the samples: Good.
  Bytes inverse(size, 0);
  for (std::size_t at : {size / 3 / 32768 * 32768, size * 2 / 3 / 32768 * 32768})
    std::copy(data.begin(), data.begin() + 32768, inverse.begin() + at);
  std::istringstream in2(asstring(inverse));
  doit.Threshold = 40;
  doit.setInputStream(&in2);
  EXPECT_EQ(doit.Advise(), TCompressMode::Good);
}

TEST(Advise, TheTwoSamplesAreTakenAtAThirdAndTwoThirds) {
  // Random bytes but one zero chunk, at one sample's place. That sample codes to 38 bytes, the
  // other is stored (32769): 32807 of 65536 bytes, just over 50 percent.
  const std::size_t size = 10 * 32768 + 123;
  for (const std::size_t zeros : {size / 3 / 32768 * 32768, size * 2 / 3 / 32768 * 32768}) {
    Bytes data = randombytes(size, 22);
    std::fill(data.begin() + zeros, data.begin() + zeros + 32768, 0);
    std::istringstream in(asstring(data));
    Tlzrw1 doit;
    doit.UseStream = true;
    doit.setInputStream(&in);
    doit.Threshold = 51;
    EXPECT_EQ(doit.Advise(), TCompressMode::Fast) << "zeros at " << zeros;
    doit.Threshold = 50;
    EXPECT_EQ(doit.Advise(), TCompressMode::Good) << "zeros at " << zeros;
  }
}

TEST(Advise, AutoCompressUsesTheAdviceAndReadsTheWholeInput) {
  const Bytes data = Bytes(200000, 'z') + randombytes(1000, 3);
  std::istringstream in(asstring(data));
  std::ostringstream out;
  Tlzrw1 doit;
  doit.UseStream = true;
  doit.CompressMode = TCompressMode::Auto;
  doit.setInputStream(&in);
  doit.setOutputStream(&out);
  doit.Compress();
  EXPECT_EQ(out.str().substr(0, 4), "WRZL");
  EXPECT_EQ(decompressed(bytesof(out.str())), data);
}

// ---- streams -------------------------------------------------------------------------------

TEST(Streams, CompressCodesFromTheCurrentPositionAndDecompressStopsAtTheContainerEnd) {
  std::istringstream in("header:payload");
  in.seekg(7);
  std::stringstream out;
  out << "before|";
  Tlzrw1 doit;
  doit.UseStream = true;
  doit.CompressMode = TCompressMode::Fast;
  doit.setInputStream(&in);
  doit.setOutputStream(&out);
  doit.Compress();
  out << "|after";

  std::istringstream back(out.str());
  back.seekg(7);
  std::ostringstream plain;
  doit.setInputStream(&back);
  doit.setOutputStream(&plain);
  EXPECT_EQ(doit.Decompress(), 7u);
  EXPECT_EQ(plain.str(), "payload");
  std::string rest;
  std::getline(back, rest);
  EXPECT_EQ(rest, "|after");
}

TEST(Streams, MissingStreamsAndUnseekableInputsFail) {
  Tlzrw1 doit;
  doit.UseStream = true;
  doit.InputFile = "in.txt";
  doit.OutputFile = "out.tld";
  EXPECT_THROW(doit.Compress(), ELzrw1Exception);

  // A stream whose size cannot be learnt.
  struct Unseekable : std::streambuf {
  } buffer;
  std::istream in(&buffer);
  std::ostringstream out;
  doit.setInputStream(&in);
  doit.setOutputStream(&out);
  try {
    doit.Compress();
    FAIL() << "no error";
  } catch (const ELzrw1Exception& e) {
    EXPECT_STREQ(e.what(), "Lzrw1 compression : Failed to obtain the size of : in.txt");
  }
}

TEST(Streams, AFailingInputIsAReadError) {
  // Claims 50000 bytes but fails (as a disk would) after the first 1000.
  struct Failing : std::streambuf {
    std::string data = std::string(50000, 'r');
    Failing() { setg(data.data(), data.data(), data.data() + 1000); }
    pos_type seekoff(off_type off, std::ios::seekdir dir, std::ios::openmode) override {
      const off_type base = dir == std::ios::beg   ? 0
                            : dir == std::ios::end ? static_cast<off_type>(data.size())
                                                   : gptr() - eback();
      const off_type at = base + off;
      if (at < 0 || at > static_cast<off_type>(data.size())) return pos_type(off_type(-1));
      if (at <= 1000) setg(eback(), eback() + at, eback() + 1000);
      return pos_type(at);
    }
    pos_type seekpos(pos_type at, std::ios::openmode mode) override {
      return seekoff(off_type(at), std::ios::beg, mode);
    }
    int_type underflow() override { throw std::runtime_error("disk error"); }
  };
  for (TCompressMode mode : {TCompressMode::Fast, TCompressMode::Good}) {
    Failing buffer;
    std::istream in(&buffer);
    std::ostringstream out;
    Tlzrw1 doit;
    doit.UseStream = true;
    doit.CompressMode = mode;
    doit.InputFile = "in.txt";
    doit.setInputStream(&in);
    doit.setOutputStream(&out);
    try {
      doit.Compress();
      ADD_FAILURE() << "no error";
    } catch (const ELzrw1Exception& e) {
      // Only a chunk read for the Fast coder names the coder.
      EXPECT_EQ(std::string(e.what()),
                mode == TCompressMode::Fast
                    ? "Lzrw1 : Error reading from input file : in.txt (LZRW1/KH)"
                    : "Lzrw1 : Error reading from input file : in.txt");
    }
  }
}

TEST(Streams, AFailingOutputIsAWriteError) {
  // A sink that takes 100 bytes and then reports a full disk.
  struct Full : std::streambuf {
    int room = 100;
    int overflow(int c) override { return room-- > 0 ? c : traits_type::eof(); }
  } buffer;
  std::ostream out(&buffer);
  std::istringstream in(asstring(randombytes(50000, 1)));
  Tlzrw1 doit;
  doit.UseStream = true;
  doit.CompressMode = TCompressMode::Fast;
  doit.OutputFile = "tally.tld";
  doit.setInputStream(&in);
  doit.setOutputStream(&out);
  try {
    doit.Compress();
    FAIL() << "no error";
  } catch (const ELzrw1Exception& e) {
    EXPECT_STREQ(e.what(), "Lzrw1 : Error writing to output file : tally.tld");
  }
}

// ---- in memory -----------------------------------------------------------------------------

TEST(Memory, UnpackTakesNoMoreThanItsLimit) {
  for (TCompressMode mode : {TCompressMode::Fast, TCompressMode::Good}) {
    const Bytes data = textbytes(70000, 7);
    const Bytes c = compressed(data, mode);
    EXPECT_EQ(codec::unpack(c, {.limit = data.size()}), data);
    EXPECT_THROW(codec::unpack(c, {.limit = data.size() - 1}), ELzrw1TooLarge);
  }
  // A few bytes claiming 4 GB of runs stop at the limit, not at the end of memory: each block
  // is eight runs of 4096.
  Bytes runs = bytesof("WRZL") + le32(0xFFFFFFFF);
  for (int i = 0; i < 1000; ++i) {
    Bytes block{0x23, 0x00, 0x40, 0xFF, 0x00};
    for (int k = 0; k < 8; ++k) block.insert(block.end(), {0x00, 0x0F, 0xF0, 'a'});
    runs.insert(runs.end(), block.begin(), block.end());
  }
  EXPECT_EQ(decompresserror(runs), kReadError);
  try {
    codec::unpack(runs, {.name = "big.tld", .limit = 100000});
    FAIL() << "no error";
  } catch (const ELzrw1TooLarge& e) {
    EXPECT_STREQ(e.what(),
                 "Lzrw1 decompression : the input file holds more than was asked for : big.tld");
  }
}

TEST(Memory, UnpackFromAStreamStartsWhereItStandsAndNamesIt) {
  const std::string container = asstring(compressed(bytesof("payload"), TCompressMode::Fast));
  std::istringstream in("header:" + container + "|after");
  in.seekg(7);
  EXPECT_EQ(codec::unpack(in), bytesof("payload"));
  std::string rest;
  std::getline(in, rest);
  EXPECT_EQ(rest, "|after");

  std::istringstream bad("not a container");
  try {
    codec::unpack(bad, {.name = "tally.tld"});
    FAIL() << "no error";
  } catch (const ELzrw1Exception& e) {
    EXPECT_STREQ(e.what(), "tally.tld : Lzrw1 decompression : this file has no valid header !");
  }
}

TEST(Memory, PackInAutoModeTakesTheAdvice) {
  const Bytes small = compressed(Bytes(98303, 'x'), TCompressMode::Auto);
  EXPECT_EQ(Bytes(small.begin(), small.begin() + 4), bytesof("!HZL"));
  // Large and compressible: Fast, unless no ratio is good enough.
  const Bytes data = textbytes(200000, 5);
  const Bytes fast = codec::pack(data, TCompressMode::Auto, 100);
  EXPECT_EQ(fast, compressed(data, TCompressMode::Fast));
  EXPECT_EQ(codec::pack(data, TCompressMode::Auto, 0), compressed(data, TCompressMode::Good));
  EXPECT_EQ(streamcompressed(data, TCompressMode::Auto), codec::pack(data, TCompressMode::Auto));
}

// ---- damaged containers ------------------------------------------------------------------

TEST(DamagedContainer, HeaderAndSizeFaultsGiveTheirMessages) {
  EXPECT_EQ(decompresserror(bytesof("PK\3\4 not a container")),
            "tally.tld : Lzrw1 decompression : this file has no valid header !");
  // Too short for a signature, a size or a block length: read errors.
  EXPECT_EQ(decompresserror(bytesof("WR")), kReadError);
  EXPECT_EQ(decompresserror(bytesof("WRZL") + Bytes{1, 0}), kReadError);
  EXPECT_EQ(decompresserror(bytesof("WRZL") + le32(5)), kReadError);

  const Bytes good = compressed(bytesof("hello"), TCompressMode::Fast);
  Bytes bigger = good;
  bigger[4] = 6;
  EXPECT_EQ(decompresserror(bigger), kFastMismatch);
  Bytes smaller = good;
  smaller[4] = 4;
  EXPECT_EQ(decompresserror(smaller), kFastMismatch);

  Bytes goodmode = compressed(bytesof("hello hello hello"), TCompressMode::Good);
  goodmode[4] = 200;  // more than the stream holds
  EXPECT_EQ(decompresserror(goodmode), kGoodMismatch);
}

TEST(DamagedContainer, AGoodModeStreamHoldingMoreThanItsHeaderSaysIsASizeMismatch) {
  // A 33-byte file whose header is lowered to 32: the last literal is left over.
  const Bytes text = bytesof("Thirty-three bytes, no repeats!?\n");
  ASSERT_EQ(text.size(), 33u);
  Bytes lowered = compressed(text, TCompressMode::Good);
  ASSERT_EQ(decompressed(lowered), text);
  lowered[4] = 32;
  EXPECT_EQ(decompresserror(lowered), kGoodMismatch);
  // Lowered further, whole bytes of stream are left over.
  Bytes halved = compressed(textbytes(400, 3), TCompressMode::Good);
  halved[4] = 144;
  halved[5] = 0;
  EXPECT_EQ(decompresserror(halved), kGoodMismatch);
  // Anything after the stream, zeros included.
  const Bytes whole = compressed(text, TCompressMode::Good);
  EXPECT_EQ(decompresserror(whole + Bytes{0}), kGoodMismatch);
  EXPECT_EQ(decompresserror(whole + bytesof("trailing")), kGoodMismatch);
  EXPECT_EQ(decompresserror(bytesof("!HZL") + le32(0) + Bytes{0}), kGoodMismatch);
  EXPECT_EQ(decompressed(bytesof("!HZL") + le32(0)), Bytes{});

  // Three spaces as one match of length 3 (see GoodFormat below): 8C 00 00.
  const Bytes spaces = bytesof("!HZL") + le32(3) + Bytes{0x8C, 0x00, 0x00};
  ASSERT_EQ(decompressed(spaces), bytesof("   "));
  // A header of 2 leaves the match running past the size.
  Bytes two = spaces;
  two[4] = 2;
  EXPECT_EQ(decompresserror(two), kGoodMismatch);
  // A set bit in the last byte's padding is the start of a code the size left no room for.
  EXPECT_EQ(decompresserror(bytesof("!HZL") + le32(3) + Bytes{0x8C, 0x00, 0x01}), kGoodMismatch);
}

TEST(DamagedContainer, TruncatedBlocksAreReadErrors) {
  const Bytes good = compressed(textbytes(70000, 2), TCompressMode::Fast);
  for (std::size_t cut : {good.size() - 1, good.size() - 3, std::size_t{9}, std::size_t{100}})
    EXPECT_EQ(decompresserror(Bytes(good.begin(), good.begin() + cut)), kReadError)
        << "cut at " << cut;
  // Bytes after the last block are no concern of the container.
  EXPECT_EQ(decompresserror(good + bytesof("trailing")), "(no error)");
}

TEST(DamagedContainer, BlockFaultsSayTheFileIsDamagedAndNameIt) {
  const Bytes header = bytesof("WRZL") + le32(40000);
  // A block longer than a stored full chunk.
  EXPECT_EQ(decompresserror(header + Bytes{0x02, 0x80} + Bytes(32770, 0)), kDamaged);
  // A copy reaching before the chunk's start.
  EXPECT_EQ(decompresserror(header + Bytes{0x05, 0x00, 0x40, 0x80, 0x00, 0x00, 0x10}), kDamaged);
  // A run past the chunk's end: eight runs of 4095, then one of 16.
  Bytes runs{0x27, 0x00, 0x40, 0xFF, 0x80};
  for (int i = 0; i < 9; ++i) runs.insert(runs.end(), {0x00, 0x0F, 0xEF, 'a'});
  runs[runs.size() - 3] = 0x00;
  runs[runs.size() - 2] = 0x00;
  EXPECT_EQ(decompresserror(header + runs), kDamaged);
  // An item cut off by its block's end.
  EXPECT_EQ(decompresserror(header + Bytes{0x05, 0x00, 0x40, 0x40, 0x00, 'a', 0x00}), kDamaged);
}

TEST(DamagedContainer, HugeDeclaredSizesCostNothing) {
  // A Good-mode header promising 4 GB over a few bytes of stream, and a Fast-mode one over a
  // short block: both end with an error as soon as the input runs out.
  EXPECT_EQ(decompresserror(bytesof("!HZL") + le32(0xFFFFFFFF) + randombytes(64, 3)),
            kGoodMismatch);
  EXPECT_EQ(decompresserror(bytesof("WRZL") + le32(0xFFFFFFFF) + Bytes{0x02, 0x00, 0x80, 'x'}),
            kFastMismatch);
}

TEST(DamagedContainer, MutatedContainersFailCleanlyOrDecode) {
  // Any change to a valid container either still decodes (to something) or raises an
  // ELzrw1Exception; nothing else escapes and, under the sanitizers, nothing strays.
  const Bytes fast = compressed(textbytes(40000, 9) + Bytes(3000, 7), TCompressMode::Fast);
  const Bytes good = compressed(textbytes(6000, 9), TCompressMode::Good);
  std::mt19937 random(1);
  for (const Bytes* source : {&fast, &good}) {
    for (int round = 0; round < 300; ++round) {
      Bytes c = *source;
      const int changes = 1 + random() % 4;
      for (int i = 0; i < changes; ++i)
        c[8 + random() % (c.size() - 8)] ^= static_cast<std::uint8_t>(1 + random() % 255);
      if (random() % 4 == 0) c.resize(8 + random() % (c.size() - 8));
      const std::string message = decompresserror(c);
      ASSERT_TRUE(message == "(no error)" || message == kDamaged || message == kReadError ||
                  message == kFastMismatch || message == kGoodMismatch)
          << message;
      ASSERT_EQ(streamdecompresserror(c), message);
    }
  }
}

// ---- files ---------------------------------------------------------------------------------

TEST_F(TempDir, FilesRoundTripAndReportWhatTheyWrote) {
  const Bytes data = textbytes(100000, 1);
  write("in.txt", data);
  Tlzrw1 doit;
  doit.CompressMode = TCompressMode::Fast;
  doit.InputFile = path("in.txt");
  doit.OutputFile = path("tally.tld");
  const std::uint64_t written = doit.Compress();
  EXPECT_EQ(written, fs::file_size(path("tally.tld")));
  EXPECT_EQ(read("tally.tld"), compressed(data, TCompressMode::Fast));

  doit.InputFile = path("tally.tld");
  doit.OutputFile = path("out.txt");
  EXPECT_EQ(doit.Decompress(), data.size());
  EXPECT_EQ(read("out.txt"), data);
  EXPECT_EQ(files(), (std::vector<std::string>{"in.txt", "out.txt", "tally.tld"}));
}

TEST_F(TempDir, OpenAndSizeFailuresNameTheFile) {
  Tlzrw1 doit;
  doit.CompressMode = TCompressMode::Fast;
  doit.InputFile = path("missing.txt");
  doit.OutputFile = path("out.tld");
  EXPECT_EQ(failure([&] { doit.Compress(); }),
            "Lzrw1 compression : Failed to obtain the size of : " + path("missing.txt"));
  EXPECT_EQ(failure([&] { doit.Decompress(); }),
            "Lzrw1 (de)compression : Failed to open input file : " + path("missing.txt"));
  fs::create_directory(path("folder"));
  doit.InputFile = path("folder");
  EXPECT_EQ(failure([&] { doit.Decompress(); }),
            "Lzrw1 (de)compression : Failed to open input file : " + path("folder"));

  write("in.txt", bytesof("data"));
  doit.InputFile = path("in.txt");
  doit.OutputFile = path("no/such/folder/out.tld");
  EXPECT_EQ(
      failure([&] { doit.Compress(); }),
      "Lzrw1 (de)compression : Failed to open output file : " + path("no/such/folder/out.tld"));
  doit.OutputFile = path("folder");
  EXPECT_EQ(failure([&] { doit.Compress(); }),
            "Lzrw1 (de)compression : Failed to open output file : " + path("folder"));
  EXPECT_EQ(files(), (std::vector<std::string>{"folder", "in.txt"}));
}

TEST_F(TempDir, FailedDecompressionLeavesNoOutputAndNoOpenFile) {
  const int before = openfiles();
  Tlzrw1 doit;
  doit.InputFile = path("bad.tld");
  doit.OutputFile = path("temp.txt");
  const Bytes good = compressed(textbytes(50000, 4), TCompressMode::Fast);
  const Bytes cases[] = {
      bytesof("no header here"), Bytes(good.begin(), good.end() - 10),
      Bytes(good.begin(), good.begin() + 4) + le32(3) + Bytes(good.begin() + 8, good.end())};
  const std::string expected[] = {
      path("bad.tld") + " : Lzrw1 decompression : this file has no valid header !",
      "Lzrw1 : Error reading from input file : " + path("bad.tld"), kFastMismatch};
  for (int i = 0; i < 3; ++i) {
    write("bad.tld", cases[i]);
    EXPECT_EQ(failure([&] { doit.Decompress(); }), expected[i]);
    EXPECT_EQ(files(), std::vector<std::string>{"bad.tld"});
  }
  EXPECT_EQ(openfiles(), before);
}

TEST_F(TempDir, AFailureLeavesAnEarlierOutputFileAsItWas) {
  write("temp.txt", bytesof("the player's own file"));
  write("bad.tld", bytesof("WRZL") + le32(100) + Bytes{0x05, 0x00, 0x40, 0x80, 0x00, 0x00, 0x10});
  Tlzrw1 doit;
  doit.InputFile = path("bad.tld");
  doit.OutputFile = path("temp.txt");
  EXPECT_EQ(failure([&] { doit.Decompress(); }),
            "Lzrw1 decompression : the input file is damaged : " + path("bad.tld"));
  EXPECT_EQ(read("temp.txt"), bytesof("the player's own file"));
  EXPECT_EQ(files(), (std::vector<std::string>{"bad.tld", "temp.txt"}));
}

TEST_F(TempDir, AFullDiskIsAWriteErrorAndKeepsTheOldFile) {
  write("in.txt", randombytes(300000, 2));
  write("tally.tld", bytesof("old tally"));
  // Files may not grow past 64 KB while this runs: the write past it fails as on a full disk.
  struct rlimit old;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  auto oldsignal = ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 65536;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  Tlzrw1 doit;
  doit.CompressMode = TCompressMode::Fast;
  doit.InputFile = path("in.txt");
  doit.OutputFile = path("tally.tld");
  const std::string message = failure([&] { doit.Compress(); });
  ::setrlimit(RLIMIT_FSIZE, &old);
  ::signal(SIGXFSZ, oldsignal);
  EXPECT_EQ(message, "Lzrw1 : Error writing to output file : " + path("tally.tld"));
  EXPECT_EQ(read("tally.tld"), bytesof("old tally"));
  EXPECT_EQ(files(), (std::vector<std::string>{"in.txt", "tally.tld"}));
}

TEST_F(TempDir, CompressingAFileOntoItselfReplacesIt) {
  const Bytes data = textbytes(80000, 6);
  write("data", data);
  Tlzrw1 doit;
  doit.CompressMode = TCompressMode::Fast;
  doit.InputFile = path("data");
  doit.OutputFile = path("data");
  doit.Compress();
  EXPECT_EQ(read("data"), compressed(data, TCompressMode::Fast));
  doit.Decompress();
  EXPECT_EQ(read("data"), data);
}

TEST_F(TempDir, AnOutputThatIsALinkStaysALink) {
  write("real.tld", bytesof("old"));
  fs::create_symlink(path("real.tld"), path("link.tld"));
  write("in.txt", bytesof("some text"));
  Tlzrw1 doit;
  doit.CompressMode = TCompressMode::Fast;
  doit.InputFile = path("in.txt");
  doit.OutputFile = path("link.tld");
  doit.Compress();
  EXPECT_TRUE(fs::is_symlink(path("link.tld")));
  EXPECT_EQ(read("real.tld"), compressed(bytesof("some text"), TCompressMode::Fast));
  EXPECT_EQ(files(), (std::vector<std::string>{"in.txt", "link.tld", "real.tld"}));
}

TEST_F(TempDir, ProgressIsReportedAndCanAbort) {
  write("in.txt", textbytes(200000, 2));
  Tlzrw1 doit;
  doit.CompressMode = TCompressMode::Fast;
  doit.InputFile = path("in.txt");
  doit.OutputFile = path("out.tld");
  int calls = 0;
  doit.OnProgress = [&] { ++calls; };
  doit.Compress();
  // Seven chunks read and seven blocks and a header written, at the least.
  EXPECT_GE(calls, 15);

  // A caller that gives up from the callback gets its own exception and no file.
  fs::remove(path("out.tld"));
  doit.OnProgress = [&] {
    if (--calls < 10) throw ELzrw1Exception("cancelled");
  };
  EXPECT_EQ(failure([&] { doit.Compress(); }), "cancelled");
  EXPECT_EQ(files(), std::vector<std::string>{"in.txt"});
}

}  // namespace
