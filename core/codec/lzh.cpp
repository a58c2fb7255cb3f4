#include "codec/lzh.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>

namespace {

constexpr int N = 4096;        // ring buffer
constexpr int F = 60;          // look-ahead, the longest match
constexpr int kThreshold = 2;  // a match must be longer than this to be coded as one
constexpr int NIL = N;         // no node in the search trees

constexpr int kSymbols = 256 - kThreshold + F;  // literals, then match lengths 3 to 60
constexpr int T = kSymbols * 2 - 1;             // nodes of the code tree
constexpr int R = T - 1;                        // its root
constexpr unsigned kMaxFreq = 0x8000;           // the root's count that makes the tree rescale

// The fixed code for the six high bits of a match position: 1 code of 3 bits, 3 of 4, 8 of 5,
// 12 of 6, 24 of 7 and 16 of 8, assigned in order (a canonical code).
struct PositionCode {
  std::array<std::uint8_t, 64> length{};
  std::array<std::uint8_t, 64> code{};
  // canonical decoding: per length, the first code and the index of the first position with it
  std::array<int, 9> first{};
  std::array<int, 9> count{};
  std::array<int, 9> index{};

  constexpr PositionCode() {
    constexpr int perLength[9] = {0, 0, 0, 1, 3, 8, 12, 24, 16};
    int i = 0;
    int next = 0;
    for (int len = 3; len <= 8; ++len) {
      first[len] = next;
      count[len] = perLength[len];
      index[len] = i;
      for (int k = 0; k < perLength[len]; ++k, ++i, ++next) {
        length[i] = static_cast<std::uint8_t>(len);
        code[i] = static_cast<std::uint8_t>(next);
      }
      next <<= 1;
    }
  }
};
constexpr PositionCode kPosition;

// Thrown inside the decoder when the bit stream runs out.
struct StreamEnded {};

}  // namespace

struct TLZH::State {
  // Ring buffer, with the first F - 1 bytes repeated after its end so that a string starting near
  // the end can be compared without wrapping.
  std::uint8_t text[N + F - 1];
  // Binary search trees over the strings in the ring: one tree per first byte, rooted at
  // rson[N + 1 + byte].
  int lson[N + 1];
  int rson[N + 257];
  int dad[N + 1];
  int matchlength;
  int matchposition;  // distance back minus one

  // Adaptive Huffman tree, kept in sibling order: freq ascending with the index, each internal
  // node's children at son and son + 1, leaves pointing at T + symbol.
  unsigned freq[T + 1];
  int prnt[T + kSymbols];
  int son[T];

  void inittree();
  void insertnode(int r);
  void deletenode(int p);

  void starthuff();
  void reconst();
  void update(int c);
};

void TLZH::State::inittree() {
  for (int i = N + 1; i <= N + 256; ++i) rson[i] = NIL;
  for (int i = 0; i < N; ++i) dad[i] = NIL;
}

// Puts the string at r into its tree, and finds on the way the longest earlier string sharing a
// prefix with it (the nearest one among equals). A string equal over all F bytes takes the place
// of the old one, which leaves the tree.
void TLZH::State::insertnode(int r) {
  const std::uint8_t* key = &text[r];
  int cmp = 1;
  int p = N + 1 + key[0];
  rson[r] = lson[r] = NIL;
  matchlength = 0;
  for (;;) {
    if (cmp >= 0) {
      if (rson[p] == NIL) {
        rson[p] = r;
        dad[r] = p;
        return;
      }
      p = rson[p];
    } else {
      if (lson[p] == NIL) {
        lson[p] = r;
        dad[r] = p;
        return;
      }
      p = lson[p];
    }
    int i = 1;
    for (; i < F; ++i)
      if ((cmp = key[i] - text[p + i]) != 0) break;
    if (i > kThreshold) {
      const int position = ((r - p) & (N - 1)) - 1;
      if (i > matchlength) {
        matchposition = position;
        matchlength = i;
        if (matchlength >= F) break;
      } else if (i == matchlength && position < matchposition) {
        matchposition = position;
      }
    }
  }
  dad[r] = dad[p];
  lson[r] = lson[p];
  rson[r] = rson[p];
  dad[lson[p]] = r;
  dad[rson[p]] = r;
  if (rson[dad[p]] == p)
    rson[dad[p]] = r;
  else
    lson[dad[p]] = r;
  dad[p] = NIL;
}

void TLZH::State::deletenode(int p) {
  if (dad[p] == NIL) return;
  int q;
  if (rson[p] == NIL) {
    q = lson[p];
  } else if (lson[p] == NIL) {
    q = rson[p];
  } else {
    // Replace p by its predecessor, the rightmost node of its left subtree.
    q = lson[p];
    if (rson[q] != NIL) {
      do q = rson[q];
      while (rson[q] != NIL);
      rson[dad[q]] = lson[q];
      dad[lson[q]] = dad[q];
      lson[q] = lson[p];
      dad[lson[p]] = q;
    }
    rson[q] = rson[p];
    dad[rson[p]] = q;
  }
  dad[q] = dad[p];
  if (rson[dad[p]] == p)
    rson[dad[p]] = q;
  else
    lson[dad[p]] = q;
  dad[p] = NIL;
}

void TLZH::State::starthuff() {
  for (int i = 0; i < kSymbols; ++i) {
    freq[i] = 1;
    son[i] = i + T;
    prnt[i + T] = i;
  }
  for (int i = 0, j = kSymbols; j <= R; i += 2, ++j) {
    freq[j] = freq[i] + freq[i + 1];
    son[j] = i;
    prnt[i] = prnt[i + 1] = j;
  }
  freq[T] = 0xFFFFFFFFu;  // stops the search for a node to swap with
  prnt[R] = 0;
}

// Halves every count and builds the tree again, so old statistics fade and counts stay small.
void TLZH::State::reconst() {
  int j = 0;
  for (int i = 0; i < T; ++i)
    if (son[i] >= T) {
      freq[j] = (freq[i] + 1) / 2;
      son[j] = son[i];
      ++j;
    }
  for (int i = 0, j2 = kSymbols; j2 < T; i += 2, ++j2) {
    const unsigned f = freq[i] + freq[i + 1];
    freq[j2] = f;
    int k = j2 - 1;
    while (f < freq[k]) --k;
    ++k;
    std::memmove(&freq[k + 1], &freq[k], sizeof freq[0] * (j2 - k));
    freq[k] = f;
    std::memmove(&son[k + 1], &son[k], sizeof son[0] * (j2 - k));
    son[k] = i;
  }
  for (int i = 0; i < T; ++i) {
    const int k = son[i];
    if (k >= T)
      prnt[k] = i;
    else
      prnt[k] = prnt[k + 1] = i;
  }
}

// Counts one more of symbol c and restores the sibling order on the way up to the root.
void TLZH::State::update(int c) {
  if (freq[R] == kMaxFreq) reconst();
  c = prnt[c + T];
  do {
    const unsigned k = ++freq[c];
    int l = c + 1;
    if (k > freq[l]) {
      while (k > freq[++l]) {
      }
      --l;
      freq[c] = freq[l];
      freq[l] = k;

      const int i = son[c];
      prnt[i] = l;
      if (i < T) prnt[i + 1] = l;

      const int j = son[l];
      son[l] = i;
      prnt[j] = c;
      if (j < T) prnt[j + 1] = c;
      son[c] = j;

      c = l;
    }
  } while ((c = prnt[c]) != 0);
}

TLZH::TLZH() : state_(std::make_unique<State>()) {}
TLZH::~TLZH() = default;

namespace {

class BitWriter {
 public:
  BitWriter(ByteSink& sink, std::uint8_t* buffer, std::size_t size)
      : sink_(sink), buffer_(buffer), size_(size) {}

  // Appends the low n bits of value (n at most 32), most significant first.
  void put(int n, std::uint32_t value) {
    acc_ = (acc_ << n) | (value & ((std::uint64_t{1} << n) - 1));
    bits_ += n;
    while (bits_ >= 8) {
      bits_ -= 8;
      buffer_[used_++] = static_cast<std::uint8_t>(acc_ >> bits_);
      if (used_ == size_) drain();
    }
  }

  void finish() {
    if (bits_ > 0) put(8 - bits_, 0);
    drain();
  }

 private:
  void drain() {
    if (used_) sink_.write(buffer_, used_);
    used_ = 0;
  }

  ByteSink& sink_;
  std::uint8_t* buffer_;
  std::size_t size_;
  std::size_t used_ = 0;
  std::uint64_t acc_ = 0;
  int bits_ = 0;
};

class ByteReader {
 public:
  ByteReader(ByteSource& source, std::uint8_t* buffer, std::size_t size)
      : source_(source), buffer_(buffer), size_(size) {}

  // The next byte, or -1 at the end of the input.
  int get() {
    if (pos_ == end_) {
      if (ended_) return -1;
      end_ = source_.read(buffer_, size_);
      pos_ = 0;
      if (end_ < size_) ended_ = true;
      if (end_ == 0) return -1;
    }
    return buffer_[pos_++];
  }

 private:
  ByteSource& source_;
  std::uint8_t* buffer_;
  std::size_t size_;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  bool ended_ = false;
};

class BitReader {
 public:
  explicit BitReader(ByteReader& bytes) : bytes_(bytes) {}

  int bit() {
    if (bits_ == 0) {
      const int b = bytes_.get();
      if (b < 0) throw StreamEnded{};
      byte_ = static_cast<unsigned>(b);
      bits_ = 8;
    }
    --bits_;
    return (byte_ >> bits_) & 1;
  }

  unsigned bits(int n) {
    unsigned v = 0;
    while (n--) v = (v << 1) | static_cast<unsigned>(bit());
    return v;
  }

  // Whether anything but zero bits to the end of the current byte is left: the writer pads the
  // last byte with zeros, so a set bit or a further byte is more of the stream.
  bool more() {
    if (byte_ & ((1u << bits_) - 1)) return true;
    return bytes_.get() >= 0;
  }

 private:
  ByteReader& bytes_;
  unsigned byte_ = 0;
  int bits_ = 0;
};

class ByteWriter {
 public:
  ByteWriter(ByteSink& sink, std::uint8_t* buffer, std::size_t size)
      : sink_(sink), buffer_(buffer), size_(size) {}
  void put(std::uint8_t b) {
    buffer_[used_++] = b;
    if (used_ == size_) drain();
  }
  void drain() {
    if (used_) sink_.write(buffer_, used_);
    used_ = 0;
  }

 private:
  ByteSink& sink_;
  std::uint8_t* buffer_;
  std::size_t size_;
  std::size_t used_ = 0;
};

}  // namespace

std::uint64_t TLZH::Encode(ByteSource& in, ByteSink& out, std::uint8_t* inBuffer,
                           std::uint8_t* outBuffer, std::size_t bufferSize) {
  State& st = *state_;
  ByteReader reader(in, inBuffer, bufferSize);
  BitWriter writer(out, outBuffer, bufferSize);

  std::uint64_t coded = 0;
  int s = 0;
  int r = N - F;
  std::memset(st.text, ' ', r);
  std::memset(st.text + r, 0, sizeof st.text - r);
  int len = 0;
  for (int c; len < F && (c = reader.get()) >= 0; ++len)
    st.text[r + len] = static_cast<std::uint8_t>(c);
  if (len == 0) return 0;
  coded = len;

  st.starthuff();
  st.inittree();
  for (int i = 1; i <= F; ++i) st.insertnode(r - i);
  st.insertnode(r);

  auto encodechar = [&](int c) {
    // Walk from the leaf to the root; the branch taken at each node is the node's parity.
    std::uint64_t path = 0;
    int depth = 0;
    for (int k = st.prnt[c + T]; k != R; k = st.prnt[k]) {
      if (depth == 64) throw std::logic_error("LZH code tree deeper than 64");
      path |= std::uint64_t(k & 1) << depth;
      ++depth;
    }
    while (depth > 32) {
      depth -= 32;
      writer.put(32, static_cast<std::uint32_t>(path >> depth));
    }
    writer.put(depth, static_cast<std::uint32_t>(path));
    st.update(c);
  };

  do {
    if (st.matchlength > len) st.matchlength = len;
    if (st.matchlength <= kThreshold) {
      st.matchlength = 1;
      encodechar(st.text[r]);
    } else {
      encodechar(255 - kThreshold + st.matchlength);
      const int high = st.matchposition >> 6;
      writer.put(kPosition.length[high], kPosition.code[high]);
      writer.put(6, static_cast<std::uint32_t>(st.matchposition & 63));
    }
    const int last = st.matchlength;
    int i = 0;
    for (int c; i < last && (c = reader.get()) >= 0; ++i) {
      st.deletenode(s);
      st.text[s] = static_cast<std::uint8_t>(c);
      if (s < F - 1) st.text[s + N] = static_cast<std::uint8_t>(c);
      s = (s + 1) & (N - 1);
      r = (r + 1) & (N - 1);
      st.insertnode(r);
      ++coded;
    }
    // At the end of the input the look-ahead drains instead of refilling.
    for (; i < last; ++i) {
      st.deletenode(s);
      s = (s + 1) & (N - 1);
      r = (r + 1) & (N - 1);
      if (--len) st.insertnode(r);
    }
  } while (len > 0);
  writer.finish();
  return coded;
}

TLZH::DecodeResult TLZH::Decode(ByteSource& in, std::uint64_t size, ByteSink& out,
                                std::uint8_t* inBuffer, std::uint8_t* outBuffer,
                                std::size_t bufferSize) {
  State& st = *state_;
  ByteReader bytes(in, inBuffer, bufferSize);
  BitReader reader(bytes);
  if (size == 0) return reader.more() ? DecodeResult::Overlong : DecodeResult::Ok;
  ByteWriter writer(out, outBuffer, bufferSize);

  std::memset(st.text, ' ', N - F);
  std::memset(st.text + (N - F), 0, sizeof st.text - (N - F));
  st.starthuff();
  int r = N - F;
  std::uint64_t count = 0;
  auto emit = [&](std::uint8_t c) {
    writer.put(c);
    st.text[r] = c;
    r = (r + 1) & (N - 1);
  };

  try {
    while (count < size) {
      int c = st.son[R];
      while (c < T) c = st.son[c + reader.bit()];
      c -= T;
      st.update(c);
      if (c < 256) {
        emit(static_cast<std::uint8_t>(c));
        ++count;
        continue;
      }
      // The position's high bits under the fixed code, then its six low bits.
      int high = -1;
      int code = 0;
      for (int len = 1; len <= 8 && high < 0; ++len) {
        code = (code << 1) | reader.bit();
        if (kPosition.count[len] && code - kPosition.first[len] < kPosition.count[len] &&
            code >= kPosition.first[len])
          high = kPosition.index[len] + code - kPosition.first[len];
      }
      if (high < 0) {  // cannot happen: every 8-bit string starts with one of the codes
        writer.drain();
        return DecodeResult::Damaged;
      }
      const int position = (high << 6) | static_cast<int>(reader.bits(6));
      const int length = c - 255 + kThreshold;
      if (static_cast<std::uint64_t>(length) > size - count) {
        writer.drain();
        return DecodeResult::Overlong;
      }
      int from = (r - position - 1) & (N - 1);
      for (int k = 0; k < length; ++k) {
        emit(st.text[from]);
        from = (from + 1) & (N - 1);
      }
      count += length;
    }
    // The header's size must be the stream's own: a container whose size was lowered would
    // otherwise read as a shorter file without a word.
    if (reader.more()) {
      writer.drain();
      return DecodeResult::Overlong;
    }
  } catch (const StreamEnded&) {
    writer.drain();
    return DecodeResult::Truncated;
  }
  writer.drain();
  return DecodeResult::Ok;
}
