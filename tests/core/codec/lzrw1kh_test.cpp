// The Fast-mode block coder, byte for byte, and its reader on damaged payloads.

#include "codec/lzrw1kh.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>

#include "bench/codec/reference.h"
#include "tests/core/codec/codecdata.h"

namespace {

Bytes compressblock(const Bytes& chunk) {
  TLZR lzr;
  Bytes out(TLZR::BufferSize);
  out.resize(lzr.CompressBlock(chunk.data(), chunk.size(), out.data()));
  return out;
}

// The chunk a payload decodes to; fails the test when the reader calls it damaged.
Bytes decompressblock(const Bytes& payload) {
  Bytes out(TLZR::ChunkSize);
  auto n = TLZR::DecompressBlock(payload.data(), payload.size(), out.data());
  EXPECT_TRUE(n.has_value()) << "payload read as damaged";
  out.resize(n.value_or(0));
  return out;
}

bool isdamaged(const Bytes& payload) {
  Bytes out(TLZR::ChunkSize);
  return !TLZR::DecompressBlock(payload.data(), payload.size(), out.data()).has_value();
}

Bytes repeat(const std::string& text, std::size_t times) {
  std::string s;
  for (std::size_t i = 0; i < times; ++i) s += text;
  return bytesof(s);
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// ---- the coder's exact output ------------------------------------------------------------

TEST(CompressBlock, EmptyChunkIsStoredAsTheFlagAlone) {
  EXPECT_EQ(compressblock({}), (Bytes{0x80}));
}

TEST(CompressBlock, OneAndTwoByteChunksAreAlwaysStored) {
  EXPECT_EQ(compressblock({0x41}), (Bytes{0x80, 0x41}));
  EXPECT_EQ(compressblock({0x41, 0x41}), (Bytes{0x80, 0x41, 0x41}));
}

TEST(CompressBlock, HundredEqualBytesAreOneRunItem) {
  EXPECT_EQ(compressblock(Bytes(100, 'A')), (Bytes{0x40, 0x80, 0x00, 0x00, 0x00, 0x54, 'A'}));
}

TEST(CompressBlock, RunsStartAtSixteenBytes) {
  // Fifteen equal bytes are a literal followed by a copy of offset 1 and length 14.
  EXPECT_EQ(compressblock(Bytes(15, 'a')), (Bytes{0x40, 0x40, 0x00, 'a', 0x00, 0x1B}));
  EXPECT_EQ(compressblock(Bytes(16, 'a')), (Bytes{0x40, 0x80, 0x00, 0x00, 0x00, 0x00, 'a'}));
}

TEST(CompressBlock, RunsStopAt4095Bytes) {
  EXPECT_EQ(compressblock(Bytes(5000, 'a')),
            (Bytes{0x40, 0xC0, 0x00, 0x00, 0x0F, 0xEF, 'a', 0x00, 0x03, 0x79, 'a'}));
}

TEST(CompressBlock, RepeatedTripleIsThreeLiteralsAndOneCopy) {
  EXPECT_EQ(compressblock(bytesof("abcabcabcabc")),
            (Bytes{0x40, 0x10, 0x00, 'a', 'b', 'c', 0x00, 0x36}));
}

TEST(CompressBlock, CopiesStopAtEighteenBytes) {
  // After the first copy the table holds position 3 for "abc", so the next copy reaches 18 back.
  EXPECT_EQ(compressblock(repeat("abc", 8)),
            (Bytes{0x40, 0x18, 0x00, 'a', 'b', 'c', 0x00, 0x3F, 0x01, 0x20}));
}

TEST(CompressBlock, TableLearnsOnlyPositionsWhereAMatchWasSought) {
  // "bcd" at position 6 lies inside a copy, so the later "bcd" is found at position 1, 10 back.
  EXPECT_EQ(compressblock(bytesof("abcdeabcdeZbcde")),
            (Bytes{0x40, 0x05, 0x00, 'a', 'b', 'c', 'd', 'e', 0x00, 0x52, 'Z', 0x00, 0xA1}));
}

TEST(CompressBlock, CopyOffsetsReachBack4095BytesButNot4096) {
  // Runs teach the table nothing, so "abc" at the end can only be found at position 0.
  const Bytes abc = bytesof("abc");
  EXPECT_EQ(compressblock(abc + Bytes(4092, 'z') + abc),
            (Bytes{0x40, 0x18, 0x00, 'a', 'b', 'c', 0x00, 0x0F, 0xEC, 'z', 0xFF, 0xF0}));
  EXPECT_EQ(compressblock(abc + Bytes(4093, 'z') + abc),
            (Bytes{0x40, 0x10, 0x00, 'a', 'b', 'c', 0x00, 0x0F, 0xED, 'z', 'a', 'b', 'c'}));
}

TEST(CompressBlock, SeventeenthItemGetsANewControlWord) {
  Bytes distinct;
  for (int i = 0; i < 16; ++i) distinct.push_back(static_cast<std::uint8_t>(i));
  Bytes expected{0x40, 0x00, 0x00};
  expected.insert(expected.end(), distinct.begin(), distinct.end());
  expected.insert(expected.end(), {0x80, 0x00, 0x00, 0x00, 0x54, 'Z'});
  EXPECT_EQ(compressblock(distinct + Bytes(100, 'Z')), expected);
}

TEST(CompressBlock, IncompressibleChunkIsStored) {
  const Bytes chunk = randombytes(1000, 7);
  EXPECT_EQ(compressblock(chunk), Bytes{0x80} + chunk);
  const Bytes full = randombytes(TLZR::ChunkSize, 8);
  EXPECT_EQ(compressblock(full), Bytes{0x80} + full);
}

TEST(CompressBlock, FullChunkOfZerosEndsWithALiteralAndACopy) {
  // 32768 = 8 runs of 4095 and 8 bytes more: a literal, then a copy of offset 1 and length 7.
  Bytes expected{0x40, 0xFF, 0x40};
  for (int i = 0; i < 8; ++i) expected.insert(expected.end(), {0x00, 0x0F, 0xEF, 0x00});
  expected.insert(expected.end(), {0x00, 0x00, 0x14});
  EXPECT_EQ(compressblock(Bytes(TLZR::ChunkSize, 0)), expected);
}

TEST(CompressBlock, EachChunkStartsWithAnEmptyTable) {
  // The first chunk leaves "abc" at position 4 in the table. In the second, "abc" first appears
  // inside a copy, so only a table left over could find it at position 7; a fresh one must not.
  TLZR lzr;
  Bytes out(TLZR::BufferSize);
  const Bytes first = bytesof("QQQQabc");
  lzr.CompressBlock(first.data(), first.size(), out.data());
  const Bytes second = bytesof("WabWabcabc") + Bytes(100, 'Z');
  out.resize(lzr.CompressBlock(second.data(), second.size(), out.data()));
  EXPECT_EQ(out, (Bytes{0x40, 0x10, 0x80, 'W', 'a', 'b', 0x00, 0x30, 'c', 'a', 'b', 'c', 0x00, 0x00,
                        0x54, 'Z'}));
}

TEST(CompressBlock, WritesWhatThePlainCoderWrites) {
  // The coder takes shortcuts (words at a time, slots worked out ahead, stretches of literals);
  // the plain coder codes one byte at a time as the algorithm reads. Inputs of every kind and
  // mixtures of them, so that stretches, copies and runs meet at every place.
  std::mt19937 random(11);
  std::vector<Bytes> inputs;
  for (std::size_t n : {19u, 20u, 33u, 40u, 1000u, 4097u, 32767u, 32768u})
    for (unsigned seed = 1; seed <= 2; ++seed)
      inputs.insert(inputs.end(), {textbytes(n, seed), runbytes(n, seed), randombytes(n, seed)});
  for (int round = 0; round < 40; ++round) {
    Bytes mixed;
    while (mixed.size() < TLZR::ChunkSize) {
      const std::size_t n = 1 + random() % 3000;
      const Bytes part = random() % 3 == 0   ? randombytes(n, random())
                         : random() % 2 == 0 ? textbytes(n, random())
                                             : runbytes(n, random());
      mixed.insert(mixed.end(), part.begin(), part.end());
    }
    mixed.resize(TLZR::ChunkSize - random() % 100);
    inputs.push_back(std::move(mixed));
  }
  std::uint16_t table[4096];
  for (const Bytes& input : inputs) {
    Bytes padded = input;
    padded.resize(input.size() + 2);  // the plain coder may hash two bytes past the end
    Bytes plain(TLZR::BufferSize);
    plain.resize(reference::compressblock(padded.data(), input.size(), plain.data(), table));
    ASSERT_EQ(compressblock(input), plain) << "size " << input.size();
  }
}

TEST(CompressBlock, TriplesThatDifferOnlyInTheirFirstByteNeverMatch) {
  // The coder tells a match by the table entry alone, which keeps a position's second and third
  // bytes but not its first: it relies on triples that differ only there never sharing a slot.
  // Each chunk holds all 256 such triples one after another, so each is looked up while the
  // others are in the table; one wrong match would make it differ from the plain coder.
  std::uint16_t table[4096];
  for (unsigned second = 0; second < 256; ++second) {
    for (unsigned third = 0; third < 256; third += 51) {
      Bytes chunk;
      for (unsigned first = 0; first < 256; ++first)
        chunk.insert(chunk.end(),
                     {static_cast<std::uint8_t>(first), static_cast<std::uint8_t>(second),
                      static_cast<std::uint8_t>(third)});
      Bytes padded = chunk;
      padded.resize(chunk.size() + 2);
      Bytes plain(TLZR::BufferSize);
      plain.resize(reference::compressblock(padded.data(), chunk.size(), plain.data(), table));
      ASSERT_EQ(compressblock(chunk), plain) << "second " << second << " third " << third;
    }
  }
}

TEST(CompressBlock, WritesNothingPastTheRoomItAsksFor) {
  // Coding stops soon after the output outgrows the chunk, but a control word begun just before
  // may carry it a little further: never past MaxWorkLength.
  for (std::size_t n : {100u, 4096u, 32768u}) {
    for (unsigned seed = 1; seed <= 30; ++seed) {
      const Bytes chunk = seed % 3 ? randombytes(n, seed) : textbytes(n, seed);
      Bytes out(TLZR::MaxWorkLength + 64, 0xA5);
      TLZR lzr;
      lzr.CompressBlock(chunk.data(), chunk.size(), out.data());
      ASSERT_EQ(Bytes(out.begin() + TLZR::MaxWorkLength, out.end()), Bytes(64, 0xA5))
          << "size " << n << " seed " << seed;
    }
  }
}

// ---- round trips -------------------------------------------------------------------------

TEST(BlockRoundTrip, ChunksOfEveryKindComeBackUnchanged) {
  const std::size_t sizes[] = {0,  1,  2,   3,    4,    15,   16,    17,
                               18, 19, 100, 4095, 4096, 4097, 32767, 32768};
  for (std::size_t n : sizes) {
    for (unsigned seed = 1; seed <= 3; ++seed) {
      for (const Bytes& chunk : {textbytes(n, seed), runbytes(n, seed), randombytes(n, seed),
                                 Bytes(n, static_cast<std::uint8_t>(seed))}) {
        const Bytes payload = compressblock(chunk);
        ASSERT_LE(payload.size(), n + 1);
        ASSERT_EQ(decompressblock(payload), chunk) << "size " << n << " seed " << seed;
      }
    }
  }
}

TEST(BlockRoundTrip, TextShrinksAndRunsShrinkALot) {
  EXPECT_LT(compressblock(textbytes(TLZR::ChunkSize, 1)).size(), TLZR::ChunkSize * 3 / 4);
  EXPECT_LT(compressblock(Bytes(TLZR::ChunkSize, 9)).size(), 64u);
}

// ---- the reader ---------------------------------------------------------------------------

TEST(DecompressBlock, ReadsWhatAnyCoderMayWrite) {
  // Payloads no coder of ours writes but the format allows: another flag byte read as coded, a
  // run longer than 4095, and trailing control bits.
  EXPECT_EQ(decompressblock({0x00, 0x00, 0x00, 'x'}), bytesof("x"));
  EXPECT_EQ(decompressblock({0x40, 0x80, 0x00, 0x00, 0x0F, 0xFF, 'q'}), Bytes(4111, 'q'));
  EXPECT_EQ(decompressblock({0x40, 0x00, 0x00}), Bytes{});
  EXPECT_EQ(decompressblock({0x40}), Bytes{});
  EXPECT_EQ(decompressblock({}), Bytes{});
}

TEST(DecompressBlock, OverlappingCopiesRepeatWhatTheyProduce) {
  // "ab" then a copy of offset 2 and length 18, and of offset 1 and length 5.
  EXPECT_EQ(decompressblock({0x40, 0x30, 0x00, 'a', 'b', 0x00, 0x2F, 0x00, 0x12}),
            repeat("ab", 10) + Bytes(5, 'b'));
}

TEST(DecompressBlock, DamagedPayloadsAreRefused) {
  // A copy before anything was written, and one reaching one byte before the start.
  EXPECT_TRUE(isdamaged({0x40, 0x80, 0x00, 0x00, 0x10}));
  EXPECT_TRUE(isdamaged({0x40, 0x40, 0x00, 'a', 0x00, 0x20}));
  // Items cut off by the payload's end: a copy's second byte, a run's last byte.
  EXPECT_TRUE(isdamaged({0x40, 0x40, 0x00, 'a', 0x00}));
  EXPECT_TRUE(isdamaged({0x40, 0x80, 0x00, 0x00, 0x00, 0x10}));
  // A control word with no item after it, and a coded payload too short for its control word.
  Bytes sixteen{0x40, 0x00, 0x00};
  sixteen.insert(sixteen.end(), 16, 'x');
  EXPECT_TRUE(isdamaged(sixteen + Bytes{0x80, 0x00}));
  EXPECT_TRUE(isdamaged({0x40, 0x00}));
  // A run that would pass the chunk's end: eight runs of 4095, then one of 16.
  Bytes runs{0x40, 0xFF, 0x80};
  for (int i = 0; i < 8; ++i) runs.insert(runs.end(), {0x00, 0x0F, 0xEF, 'q'});
  EXPECT_FALSE(isdamaged(runs));
  EXPECT_TRUE(isdamaged(runs + Bytes{0x00, 0x00, 0x00, 'q'}));
  // Stored data longer than a chunk.
  Bytes stored(TLZR::ChunkSize + 2, 'x');
  stored[0] = 0x80;
  EXPECT_TRUE(isdamaged(stored));
}

TEST(DecompressBlock, LiteralsAndCopiesPastTheChunkEndAreRefused) {
  // 32768 bytes from eight runs, then one literal more; or one copy more.
  Bytes payload{0x40, 0xFF, 0x00};
  for (int i = 0; i < 7; ++i) payload.insert(payload.end(), {0x00, 0x0F, 0xEF, 0x00});
  payload.insert(payload.end(), {0x00, 0x0F, 0xF7, 0x00});
  EXPECT_EQ(decompressblock(payload), Bytes(TLZR::ChunkSize, 0));
  EXPECT_TRUE(isdamaged(payload + Bytes{'x'}));
  Bytes withcopy = payload;
  withcopy[2] = 0x80;
  EXPECT_TRUE(isdamaged(withcopy + Bytes{0x00, 0x10}));
}

// A payload of random items that a coder may write: stretches of literals, copies of every
// offset and length (the short offsets that repeat a pattern most of all) and runs.
Bytes randompayload(std::mt19937& random, std::size_t target) {
  Bytes p{0x40, 0x00, 0x00};
  std::size_t control = 1;
  int items = 0;
  unsigned word = 0;
  std::size_t y = 0;
  while (y < target) {
    if (items == 16) {
      p[control] = static_cast<std::uint8_t>(word >> 8);
      p[control + 1] = static_cast<std::uint8_t>(word);
      control = p.size();
      p.insert(p.end(), {0, 0});
      items = 0;
      word = 0;
    }
    const unsigned kind = random() % 8;
    if (kind < 3 || y == 0) {
      p.push_back(static_cast<std::uint8_t>(random()));
      word <<= 1;
      y += 1;
    } else if (kind == 7 && random() % 8 == 0) {
      const unsigned count = random() % 300;
      p.insert(p.end(), {0x00, static_cast<std::uint8_t>(count >> 8),
                         static_cast<std::uint8_t>(count), static_cast<std::uint8_t>(random())});
      word = word << 1 | 1;
      y += count + 16;
    } else {
      const std::size_t reach = std::min<std::size_t>(y, 4095);
      const std::size_t offset =
          1 + (kind < 5 ? random() % std::min<std::size_t>(reach, 8) : random() % reach);
      const unsigned length = random() % 16;
      p.push_back(static_cast<std::uint8_t>(offset >> 4));
      p.push_back(static_cast<std::uint8_t>((offset & 15) << 4 | length));
      word = word << 1 | 1;
      y += length + 3;
    }
    ++items;
  }
  word <<= 16 - items;
  p[control] = static_cast<std::uint8_t>(word >> 8);
  p[control + 1] = static_cast<std::uint8_t>(word);
  return p;
}

TEST(DecompressBlock, ReadsEveryItemAsThePlainReadingDoes) {
  std::mt19937 random(7);
  for (int round = 0; round < 400; ++round) {
    const Bytes payload = randompayload(random, 100 + random() % (TLZR::ChunkSize - 400));
    const std::optional<Bytes> plain = plaindecode(payload);
    ASSERT_TRUE(plain.has_value());
    ASSERT_EQ(decompressblock(payload), *plain) << "round " << round;
  }
}

TEST(DecompressBlock, DamageIsFoundWhereverItStands) {
  // The faults above, with plenty of good payload after them, so that the reader meets them on
  // its fast path: groups of 16 literals.
  Bytes after;
  for (int group = 0; group < 12; ++group) {
    after.insert(after.end(), {0x00, 0x00});
    after.insert(after.end(), 16, 'z');
  }
  const Bytes fifteen(15, 'y');
  // After 16 literals, a copy of offset 16 is good and one of offset 17 reaches before the start.
  Bytes sixteen{0x40, 0x00, 0x00};
  for (int i = 0; i < 16; ++i) sixteen.push_back(static_cast<std::uint8_t>('a' + i));
  EXPECT_FALSE(isdamaged(sixteen + Bytes{0x80, 0x00, 0x01, 0x00} + fifteen + after));
  EXPECT_TRUE(isdamaged(sixteen + Bytes{0x80, 0x00, 0x01, 0x10} + fifteen + after));
  // A run past the chunk's end: seven runs of 4111, then an eighth, then eight literals.
  Bytes runs{0x40, 0xFF, 0x00};
  for (int i = 0; i < 8; ++i) runs.insert(runs.end(), {0x00, 0x0F, 0xFF, 'q'});
  runs.insert(runs.end(), 8, 'r');
  EXPECT_TRUE(isdamaged(runs + after));
  runs[runs.size() - 10] = 0x77;  // an eighth run of 3975 leaves room for the literals
  EXPECT_EQ(decompressblock(runs), Bytes(7 * 4111 + 3975, 'q') + Bytes(8, 'r'));
  EXPECT_TRUE(isdamaged(runs + after));
}

TEST(DecompressBlock, RandomPayloadsNeverEscapeTheBuffers) {
  // Whatever the bytes, the reader either decodes within ChunkSize or calls the payload damaged;
  // a sanitizer build turns any stray access into a failure here.
  std::mt19937 random(99);
  for (int round = 0; round < 3000; ++round) {
    Bytes payload = randombytes(1 + random() % 200, static_cast<unsigned>(round));
    payload[0] = 0x40;
    Bytes out(TLZR::ChunkSize);
    auto n = TLZR::DecompressBlock(payload.data(), payload.size(), out.data());
    if (n) {
      ASSERT_LE(*n, TLZR::ChunkSize);
    }
  }
}

}  // namespace
