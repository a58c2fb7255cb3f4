#include "game/solver.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "game/deal.h"

namespace game {

namespace {

constexpr int kInfinite = 255;

// Everything about slots and bones the search asks for, looked up rather than worked out.
struct Tables {
  std::array<std::uint8_t, kSlotCount + 1> column{};
  std::array<std::uint8_t, kSlotCount + 1> row{};
  // The slot to the left in the same row; 0 in column 0.
  std::array<std::uint8_t, kSlotCount + 1> left{};
  // The bone whose home the slot is; 0 for the slot left empty at the end of each row.
  std::array<std::uint8_t, kSlotCount + 1> homebone{};
  std::array<std::uint8_t, kBoneCount + 1> home{};
  std::array<std::uint8_t, kBoneCount + 1> high{};
  std::array<std::uint8_t, kBoneCount + 1> low{};
  // The seven bones that carry each pip.
  std::array<std::array<std::uint8_t, 7>, 7> withpip{};
  // Slots of columns 1 onwards, row by row, for the hint scan.
  std::array<std::array<std::uint8_t, 7>, kRowCount> rowslots{};
  std::array<std::uint8_t, kRowCount> rowsize{};
  std::array<std::array<std::uint64_t, kBoneCount + 1>, kSlotCount + 1> zobrist{};

  Tables() {
    const Board sorted = solvedboard();
    for (int slot = 1; slot <= kSlotCount; ++slot) {
      const Point p = getcoords(slot);
      column[slot] = static_cast<std::uint8_t>(p.x);
      row[slot] = static_cast<std::uint8_t>(p.y);
      left[slot] = static_cast<std::uint8_t>(p.x == 0 ? 0 : getspot(p.x - 1, p.y));
      homebone[slot] = static_cast<std::uint8_t>(sorted[p.x][p.y]);
      if (homebone[slot] != 0) home[homebone[slot]] = static_cast<std::uint8_t>(slot);
    }
    std::array<int, 7> count{};
    for (int bone = 1; bone <= kBoneCount; ++bone) {
      high[bone] = static_cast<std::uint8_t>(gettopnum(bone));
      low[bone] = static_cast<std::uint8_t>(getbotnum(bone));
      const int top = gettopnum(bone);
      const int bottom = getbotnum(bone);
      withpip[top][count[top]++] = static_cast<std::uint8_t>(bone);
      if (bottom != top) withpip[bottom][count[bottom]++] = static_cast<std::uint8_t>(bone);
    }
    for (int r = 0; r < kRowCount; ++r) {
      rowsize[r] = static_cast<std::uint8_t>(rowlength(r) - 1);
      for (int c = 1; c < rowlength(r); ++c) {
        rowslots[r][c - 1] = static_cast<std::uint8_t>(getspot(c, r));
      }
    }
    DealRandom random(0x5eed);
    for (auto& slot : zobrist) {
      for (auto& key : slot) key = random.next();
    }
  }
};

const Tables& tables() {
  static const Tables t;
  return t;
}

struct Position {
  // slot -> bone and bone -> slot; index 0 unused.
  std::array<std::uint8_t, kSlotCount + 1> cell{};
  std::array<std::uint8_t, kBoneCount + 1> at{};
  // Bit s set while slot s is empty.
  std::uint64_t empty = 0;
  std::uint64_t hash = 0;
  int misplaced = 0;

  void move(int bone, int to) {
    const Tables& t = tables();
    const int from = at[bone];
    misplaced += (from == t.home[bone]) - (to == t.home[bone]);
    hash ^= t.zobrist[from][bone] ^ t.zobrist[to][bone];
    cell[from] = 0;
    cell[to] = static_cast<std::uint8_t>(bone);
    at[bone] = static_cast<std::uint8_t>(to);
    empty ^= (std::uint64_t{1} << from) | (std::uint64_t{1} << to);
  }
};

Position makeposition(const Board& board) {
  const Tables& t = tables();
  Position p;
  for (int slot = 1; slot <= kSlotCount; ++slot) {
    const int bone = boneat(board, slot);
    p.cell[slot] = static_cast<std::uint8_t>(bone);
    if (bone == 0) {
      p.empty |= std::uint64_t{1} << slot;
    } else {
      p.at[bone] = static_cast<std::uint8_t>(slot);
      p.hash ^= t.zobrist[slot][bone];
      p.misplaced += slot != t.home[bone];
    }
  }
  return p;
}

// The hint scan's verdict, found the short way: a row offers a move exactly when its first
// empty slot from column 1 on has a bone to its left, because six of the seven bones carrying
// that bone's high pip are not that bone.
bool hasmoves(const Position& p) {
  const Tables& t = tables();
  for (int r = 0; r < kRowCount; ++r) {
    for (int i = 0; i < t.rowsize[r]; ++i) {
      const int slot = t.rowslots[r][i];
      if (p.cell[slot] != 0) continue;
      if (p.cell[t.left[slot]] != 0) return true;
      break;
    }
  }
  return false;
}

// A placement into columns 1 to 7 after which the hint scan finds nothing loses the game; one
// into column 0 is never tested that way.
bool goeson(const Position& after, int slot) {
  return tables().column[slot] == 0 || hasmoves(after);
}

// At most 7 empty slots, each taking at most the 6 bones that fit it.
constexpr int kMostMoves = 64;

// The placements the game accepts from a board, as bone << 8 | slot, those that bring a bone
// home first: on the last bound they find the line soonest.
int generate(const Position& p, std::array<std::uint16_t, kMostMoves>& moves) {
  const Tables& t = tables();
  std::array<std::uint16_t, kMostMoves> others;
  int nhome = 0;
  int nother = 0;
  auto add = [&](int bone, int slot) {
    const auto m = static_cast<std::uint16_t>(bone << 8 | slot);
    if (t.home[bone] == slot) {
      moves[nhome++] = m;
    } else {
      others[nother++] = m;
    }
  };
  for (std::uint64_t e = p.empty; e != 0; e &= e - 1) {
    const int slot = std::countr_zero(e);
    if (t.column[slot] == 0) {
      // Only the row's double goes into column 0.
      add(doubleofrow(t.row[slot]), slot);
      continue;
    }
    // Never after an empty slot, and never the left neighbour itself.
    const int leftbone = p.cell[t.left[slot]];
    if (leftbone == 0) continue;
    for (int bone : t.withpip[t.high[leftbone]]) {
      if (bone != leftbone) add(bone, slot);
    }
  }
  std::copy(others.begin(), others.begin() + nother, moves.begin() + nhome);
  return nhome + nother;
}

// A graph on the bones, as bit masks: out[v] holds the bones v waits for, in[v] those waiting
// for v.
struct Waits {
  std::array<std::uint32_t, kBoneCount + 1> out{};
  std::array<std::uint32_t, kBoneCount + 1> in{};
  std::uint32_t alive = 0;

  void add(int from, int to) {
    out[from] |= std::uint32_t{1} << to;
    in[to] |= std::uint32_t{1} << from;
  }

  void remove(int v) {
    const std::uint32_t bit = std::uint32_t{1} << v;
    for (std::uint32_t m = in[v] & ~bit; m != 0; m &= m - 1) out[std::countr_zero(m)] &= ~bit;
    for (std::uint32_t m = out[v] & ~bit; m != 0; m &= m - 1) in[std::countr_zero(m)] &= ~bit;
    in[v] = out[v] = 0;
    alive &= ~bit;
  }

  // v has a single bone u waiting for it (or waits for a single bone u): every ring through v
  // runs through u, so v can be left out of the count and u waits for (is waited for by) what
  // v waited for (was waited for by).
  void mergeintopredecessor(int v, int u) {
    const std::uint32_t bit = std::uint32_t{1} << v;
    for (std::uint32_t m = out[v]; m != 0; m &= m - 1) {
      const int w = std::countr_zero(m);
      in[w] = (in[w] & ~bit) | std::uint32_t{1} << u;
    }
    out[u] = (out[u] & ~bit) | out[v];
    in[v] = out[v] = 0;
    alive &= ~bit;
  }

  void mergeintosuccessor(int v, int w) {
    const std::uint32_t bit = std::uint32_t{1} << v;
    for (std::uint32_t m = in[v]; m != 0; m &= m - 1) {
      const int u = std::countr_zero(m);
      out[u] = (out[u] & ~bit) | std::uint32_t{1} << w;
    }
    in[w] = (in[w] & ~bit) | in[v];
    in[v] = out[v] = 0;
    alive &= ~bit;
  }

  static bool single(std::uint32_t m) { return (m & (m - 1)) == 0; }

  // Takes away what no ring can need and the bones every ring through them must count anyway;
  // returns how many bones were counted.
  int reduce() {
    int counted = 0;
    bool changed = true;
    while (changed) {
      changed = false;
      for (std::uint32_t m = alive; m != 0; m &= m - 1) {
        const int v = std::countr_zero(m);
        if (!(alive >> v & 1)) continue;
        const std::uint32_t bit = std::uint32_t{1} << v;
        if (out[v] & bit) {
          ++counted;
          remove(v);
        } else if (in[v] == 0 || out[v] == 0) {
          remove(v);
        } else if (single(in[v])) {
          mergeintopredecessor(v, std::countr_zero(in[v]));
        } else if (single(out[v])) {
          mergeintosuccessor(v, std::countr_zero(out[v]));
        } else {
          continue;
        }
        changed = true;
      }
    }
    return counted;
  }

  // Takes away, over and over, every bone with no arrow in or none out, which is on no ring;
  // returns the bones left, among which are all those on a ring.
  std::uint32_t peel() {
    bool changed = true;
    while (changed) {
      changed = false;
      for (std::uint32_t m = alive; m != 0; m &= m - 1) {
        const int v = std::countr_zero(m);
        if (alive >> v & 1 && (in[v] == 0 || out[v] == 0)) {
          remove(v);
          changed = true;
        }
      }
    }
    return alive;
  }

  // A ring among the bones left, once the reductions have run: every bone left then waits for
  // another, so walking on from any one closes a ring.
  std::uint32_t ring() const {
    std::uint32_t seen = 0;
    int v = std::countr_zero(alive);
    while (!(seen >> v & 1)) {
      seen |= std::uint32_t{1} << v;
      v = std::countr_zero(out[v]);
    }
    // v is on the ring the walk closed; the same steps from it come back to it.
    const int start = v;
    std::uint32_t found = 0;
    do {
      found |= std::uint32_t{1} << v;
      v = std::countr_zero(out[v]);
    } while (v != start);
    return found;
  }

  // Whether at most `most` bones leave no ring. Any such set holds a bone of every ring, so
  // trying each bone of one ring in turn misses none. Changes the graph.
  bool breakable(int most) {
    most -= reduce();
    if (most < 0) return false;
    if (alive == 0) return true;
    if (most == 0) return false;
    for (std::uint32_t m = ring(); m != 0; m &= m - 1) {
      Waits rest = *this;
      rest.remove(std::countr_zero(m));
      if (rest.breakable(most - 1)) return true;
    }
    return false;
  }

  // The fewest bones that leave no ring. The reductions settle nearly every graph a search
  // meets; what they leave is small, and is tried from a count of rings that share no bone,
  // which no smaller set breaks. Sets onring to the bones that may be on a ring; the others are
  // on none. Changes the graph.
  int fewestbreaks(std::uint32_t& onring) {
    onring = peel();
    const int count = reduce();
    if (alive == 0) return count;
    Waits packing = *this;
    int least = 0;
    while (packing.alive != 0) {
      for (std::uint32_t m = packing.ring(); m != 0; m &= m - 1)
        packing.remove(std::countr_zero(m));
      least += 1 + packing.reduce();
    }
    while (!Waits(*this).breakable(least)) ++least;
    return count + least;
  }
};

// Every bone away from home must move; the estimate adds the bones that must move twice.
//
// If each bone moved once, straight home, then a bone could only go home after the bone on its
// home slot has left, and (for a home in column c > 0) after the bone now on its left has left,
// when that one does not fit it or is the bone itself: the rule wants a fitting left neighbour
// other than the bone. Call that "waiting". Bones that wait for one another round a ring cannot
// all move just once: one of them moves twice. So the estimate is the bones away from home plus
// the fewest bones whose removal leaves no such ring.
//
// Sets onring to a set of bones that holds every bone on a ring. A placement changes only arrows
// to or from the bone it moves, so the graph after it, less that bone, is the graph before, less
// that bone: the bones the graph after needs to break its rings are at least those the graph
// before needs, less one when the bone moved was on a ring. That bounds the estimate of every
// board a placement leads to before it is made.
int estimate(const Position& p, std::uint32_t& onring) {
  const Tables& t = tables();
  Waits waits;
  for (int bone = 1; bone <= kBoneCount; ++bone) {
    const int home = t.home[bone];
    if (p.at[bone] == home) continue;
    waits.alive |= std::uint32_t{1} << bone;
    if (const int onhome = p.cell[home]; onhome != 0) waits.add(bone, onhome);
    if (t.column[home] == 0) continue;
    const int leftslot = t.left[home];
    const int leftbone = p.cell[leftslot];
    if (leftbone == 0 || leftbone == t.homebone[leftslot]) continue;
    const bool fits =
        leftbone != bone && (t.high[leftbone] == t.high[bone] || t.high[leftbone] == t.low[bone]);
    if (!fits) waits.add(bone, leftbone);
  }
  return p.misplaced + waits.fewestbreaks(onring);
}

int estimate(const Position& p) {
  std::uint32_t onring = 0;
  return estimate(p, onring);
}

// One board and a lower bound on its distance. The board is held whole (six bits per bone's
// slot) so that two boards never share an entry's bound.
struct Entry {
  std::uint64_t a = 0;
  std::uint64_t b = 0;
  std::uint64_t c = 0;  // bits 0..47: the rest of the board; bits 56..63: the bound, 0 = unused
  std::uint64_t hash = 0;
};

struct Key {
  std::uint64_t a, b, c;
};

Key makekey(const Position& p) {
  Key k{0, 0, 0};
  for (int bone = 1; bone <= 10; ++bone) k.a = k.a << 6 | p.at[bone];
  for (int bone = 11; bone <= 20; ++bone) k.b = k.b << 6 | p.at[bone];
  for (int bone = 21; bone <= 28; ++bone) k.c = k.c << 6 | p.at[bone];
  return k;
}

// A block of zeroed memory for the table. Large blocks come straight from the system, where
// untouched pages cost nothing and, on Linux, huge pages spare the lookups most of their
// address-translation misses (the search spends much of its time waiting on the table).
class ZeroedBlock {
 public:
  ZeroedBlock() = default;
  explicit ZeroedBlock(std::size_t bytes) : bytes_(bytes) {
#if defined(__linux__)
    if (bytes >= kHugePage) {
      void* m = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (m == MAP_FAILED) throw std::bad_alloc();
      ::madvise(m, bytes, MADV_HUGEPAGE);
      data_ = m;
      mapped_ = true;
      return;
    }
#endif
    data_ = std::calloc(bytes, 1);
    if (!data_) throw std::bad_alloc();
  }
  ZeroedBlock(ZeroedBlock&& other) noexcept {
    swap(other);
  }
  ZeroedBlock& operator=(ZeroedBlock&& other) noexcept {
    ZeroedBlock gone(std::move(*this));
    swap(other);
    return *this;
  }
  ZeroedBlock(const ZeroedBlock&) = delete;
  ZeroedBlock& operator=(const ZeroedBlock&) = delete;
  ~ZeroedBlock() {
    if (!data_) return;
#if defined(__linux__)
    if (mapped_) {
      ::munmap(data_, bytes_);
      return;
    }
#endif
    std::free(data_);
  }

  void* get() const {
    return data_;
  }

 private:
  static constexpr std::size_t kHugePage = std::size_t{2} << 20;
  void swap(ZeroedBlock& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(bytes_, other.bytes_);
    std::swap(mapped_, other.mapped_);
  }
  void* data_ = nullptr;
  std::size_t bytes_ = 0;
  bool mapped_ = false;
};

// Boards already searched, with the bound each search proved. It starts small and doubles as it
// fills, up to the size it is given, so that a short search costs little memory and time. Its
// largest size is set aside once it outgrows the first, but memory never touched costs nothing,
// and doubling in place touches no more than the table in use.
class Table {
 public:
  explicit Table(std::size_t bytes) {
    limit_ = 2;
    while (limit_ * 2 * sizeof(Entry) <= bytes) limit_ *= 2;
    size_ = capacity_ = std::min(limit_, kFirstSize);
    block_ = ZeroedBlock(size_ * sizeof(Entry));
  }

  int lookup(std::uint64_t hash, const Key& k) const {
    const Entry* pair = entries() + (hash & (size_ - 2));
    for (int i = 0; i < 2; ++i) {
      if (same(pair[i], k)) return static_cast<int>(pair[i].c >> 56);
    }
    return 0;
  }

  // Asks for a board's place ahead of the lookup, which then rarely waits for memory.
  void prefetch(std::uint64_t hash) const { __builtin_prefetch(entries() + (hash & (size_ - 2))); }

  void store(std::uint64_t hash, const Key& k, int bound) {
    place({k.a, k.b, k.c | std::uint64_t(std::clamp(bound, 1, kInfinite)) << 56, hash});
    // Kept at most half full: with two places for each board few bounds are lost so, and fresh
    // memory for a table twice the size would cost more time than the lost bounds do.
    if (used_ * 2 > size_ && size_ < limit_) grow();
  }

  std::size_t bytes() const { return size_ * sizeof(Entry); }

 private:
  static constexpr std::uint64_t kBoardBits = (std::uint64_t{1} << 48) - 1;
  static constexpr std::size_t kFirstSize = std::size_t{1} << 14;

  Entry* entries() const { return static_cast<Entry*>(block_.get()); }

  // Doubles the table where it lies. A board's two places at i under the old size are at i or
  // at i + the old size under the new one, and the upper half is still empty, so each entry
  // either stays or moves to the same pair up there, where two always fit.
  void grow() {
    if (capacity_ < size_ * 2) {
      // Past the first size, the largest is set aside at once.
      ZeroedBlock whole(limit_ * sizeof(Entry));
      std::memcpy(whole.get(), block_.get(), size_ * sizeof(Entry));
      block_ = std::move(whole);
      capacity_ = limit_;
    }
    Entry* e = entries();
    const std::size_t old = size_;
    size_ *= 2;
    for (std::size_t i = 0; i < old; i += 2) {
      Entry* upper = e + i + old;
      for (int j = 0; j < 2; ++j) {
        Entry& entry = e[i + j];
        if (entry.c == 0 || (entry.hash & (size_ - 2)) == i) continue;
        (upper[0].c == 0 ? upper[0] : upper[1]) = entry;
        entry = Entry{};
      }
    }
  }

  static bool same(const Entry& e, const Key& k) {
    return e.a == k.a && e.b == k.b && (e.c & kBoardBits) == k.c;
  }

  // Each board has two places; a new board takes its own old place or an empty one, else the
  // one with the smaller bound, which is the cheaper to find again.
  void place(const Entry& entry) {
    Entry* pair = entries() + (entry.hash & (size_ - 2));
    const Key k{entry.a, entry.b, entry.c & kBoardBits};
    Entry* target = &pair[0];
    if (!same(pair[0], k)) {
      if (same(pair[1], k) || pair[1].c == 0 ||
          (pair[0].c != 0 && (pair[1].c >> 56) < (pair[0].c >> 56))) {
        target = &pair[1];
      }
    }
    if (target->c == 0) ++used_;
    *target = entry;
  }

  ZeroedBlock block_;
  std::size_t size_ = 0;
  // Entries the block holds.
  std::size_t capacity_ = 0;
  std::size_t used_ = 0;
  std::size_t limit_ = 2;
};

// The placement that led to the board being searched, and the bone moved before it.
struct Last {
  int bone = 0;
  int from = 0;
  int slot = 0;
  int bonebefore = 0;
};

// The order in which the moves of a board are tried, as far as two moves that could be swapped
// can differ: those that bring a bone home first, then by target slot (two such moves never
// share a target).
int rank(int bone, int slot) {
  return (slot == tables().home[bone] ? 0 : 64) + slot;
}

// True when the placement of `bone` from `from` to `slot`, just made on the board p after the
// last placement, could as well have been made before the last placement, with the same board
// after both, each step one the game accepts and goes on from; and when the board before the
// last placement tried it first, not as a move of the bone moved just before (which that board
// only bounds). That board then searched the pair in the other order, and whatever it found
// holds here. p is as it was when it returns.
bool swappable(Position& p, const Last& last, int bone, int from, int slot) {
  const Tables& t = tables();
  if (last.bone == 0 || last.bonebefore == bone || rank(bone, slot) >= rank(last.bone, last.slot))
    return false;
  if (slot == last.from || from == last.slot) return false;
  // Each must find the same left neighbour in either order.
  if (t.column[slot] != 0 && t.left[slot] == last.slot) return false;
  if (t.column[last.slot] != 0 && (t.left[last.slot] == from || t.left[last.slot] == slot))
    return false;
  // The board after both is p; the board between has the last placement undone.
  if (t.column[last.slot] != 0 && !hasmoves(p)) return false;
  if (t.column[slot] == 0) return true;
  p.move(last.bone, last.from);
  const bool goeson = hasmoves(p);
  p.move(last.bone, last.slot);
  return goeson;
}

class Search {
 public:
  Search(const Position& start, const SolverOptions& options)
      : p_(start), options_(options), table_(options.tablebytes) {
    if (options.timelimit.count() > 0) {
      deadline_ = std::chrono::steady_clock::now() + options.timelimit;
      timed_ = true;
    }
  }

  Solution run() {
    Solution result;
    if (p_.misplaced == 0) {
      result.solved = result.proven = true;
      return result;
    }
    // Lines are held in a fixed array, and no game has that many clicks.
    const int most = std::clamp(options_.clicksleft, 0, kInfinite - 1);
    int bound = estimate(p_);
    while (bound <= most) {
      nextbound_ = kInfinite;
      dfs(0, bound, {});
      result.nodes = nodes_;
      if (cancelled_) {
        result.cancelled = true;
        result.outoftime = outoftime_;
        return result;
      }
      if (found_) {
        result.solved = result.proven = true;
        result.placements.assign(line_.begin(), line_.begin() + foundlength_);
        return result;
      }
      if (nextbound_ >= kInfinite) break;
      bound = nextbound_;
    }
    result.proven = true;
    return result;
  }

 private:
  // Looks at the flag and the clock at the first board and once every 1024 after: a few
  // milliseconds apart at most.
  bool stop() {
    if ((nodes_++ & 1023) != 0) return cancelled_;
    if (options_.cancel && options_.cancel->load(std::memory_order_relaxed)) cancelled_ = true;
    if (timed_ && std::chrono::steady_clock::now() >= deadline_) cancelled_ = outoftime_ = true;
    return cancelled_;
  }

  // A line that went over the bound: the next bound is the smallest of these.
  int over(int f) {
    nextbound_ = std::min(nextbound_, f);
    return f;
  }

  // Searches on from the current board, g placements in, for a line of at most `bound`
  // placements. Returns a lower bound on the length of any line through this board (g + its
  // distance), or sets found_ (or cancelled_).
  int dfs(int g, int bound, const Last& last) {
    if (stop()) return kInfinite;
    const Tables& t = tables();
    const Key key = makekey(p_);
    const int known = table_.lookup(p_.hash, key);
    if (g + known > bound) return over(g + known);
    std::uint32_t onring = 0;
    const int estimated = estimate(p_, onring);
    const int h = std::max(estimated, known);
    if (g + h > bound) return over(g + h);
    // The bones that breaking the rings takes, at least (see estimate).
    const int breaks = estimated - p_.misplaced;

    std::array<std::uint16_t, kMostMoves> moves;
    int count = generate(p_, moves);

    // What each placement's board needs at least, known before making it: the bones away from
    // home after it, and those that must move twice (see estimate). Those that pass have their
    // table places fetched all together, so the lookups below seldom wait for memory.
    int best = kInfinite;
    int kept = 0;
    for (int i = 0; i < count; ++i) {
      const int bone = moves[i] >> 8;
      const int slot = moves[i] & 0xff;
      const int from = p_.at[bone];
      const int away = p_.misplaced - (slot == t.home[bone]) + (from == t.home[bone]);
      const int after = away + std::max(0, breaks - static_cast<int>(onring >> bone & 1));
      if (away > 0 && g + 1 + after > bound) {
        best = std::min(best, over(g + 1 + after));
        continue;
      }
      table_.prefetch(p_.hash ^ t.zobrist[from][bone] ^ t.zobrist[slot][bone]);
      moves[kept++] = moves[i];
    }
    count = kept;

    for (int i = 0; i < count; ++i) {
      const int bone = moves[i] >> 8;
      const int slot = moves[i] & 0xff;
      const int from = p_.at[bone];
      const int away = p_.misplaced - (slot == t.home[bone]) + (from == t.home[bone]);
      p_.move(bone, slot);
      line_[g] = {slot, bone};
      if (away == 0) {
        found_ = true;
        foundlength_ = g + 1;
        p_.move(bone, from);
        return g + 1;
      }
      int value = kInfinite;
      if (goeson(p_, slot)) {
        if (bone == last.bone) {
          // Moving the same bone again ends on a board the board before reaches in one
          // placement, so it is searched from there; here it only bounds this board.
          value = g + 1 + std::max(estimate(p_), table_.lookup(p_.hash, makekey(p_)));
        } else if (swappable(p_, last, bone, from, slot)) {
          // The board before, at g - 1, tried this placement first and found every line through
          // it longer than the bound; the last placement takes that board to this one's child,
          // so the child is at most one placement nearer: no line through it fits the bound
          // either. Any line that is skipped so has its pair of placements the other way round
          // in a line of the same length that is not, so a shortest line is still met.
          value = bound + 1;
        } else {
          value = dfs(g + 1, bound, {bone, from, slot, last.bone});
        }
      }
      p_.move(bone, from);
      if (found_ || cancelled_) return kInfinite;
      best = std::min(best, value);
    }
    if (best - g > h) table_.store(p_.hash, key, best - g);
    return best;
  }

  Position p_;
  SolverOptions options_;
  Table table_;
  std::array<Placement, 256> line_{};
  std::uint64_t nodes_ = 0;
  bool found_ = false;
  bool cancelled_ = false;
  bool outoftime_ = false;
  bool timed_ = false;
  std::chrono::steady_clock::time_point deadline_{};
  int foundlength_ = 0;
  int nextbound_ = kInfinite;
};

}  // namespace

bool wellformed(const Board& board) {
  std::array<int, kBoneCount + 1> seen{};
  for (int c = 0; c < kColumnCount; ++c) {
    for (int r = 0; r < 8; ++r) {
      const int bone = board[c][r];
      if (bone == 0) continue;
      if (bone < 0 || bone > kBoneCount || r >= columnlength(c)) return false;
      if (++seen[bone] > 1) return false;
    }
  }
  return std::all_of(seen.begin() + 1, seen.end(), [](int n) { return n == 1; });
}

int solverestimate(const Board& board) {
  if (!wellformed(board)) throw std::invalid_argument("the board does not hold each bone once");
  return estimate(makeposition(board));
}

std::vector<SearchStep> searchsteps(const Board& board) {
  if (!wellformed(board)) throw std::invalid_argument("the board does not hold each bone once");
  Position p = makeposition(board);
  std::array<std::uint16_t, kMostMoves> moves;
  const int count = generate(p, moves);
  std::vector<SearchStep> steps;
  for (int i = 0; i < count; ++i) {
    const int bone = moves[i] >> 8;
    const int slot = moves[i] & 0xff;
    const int from = p.at[bone];
    p.move(bone, slot);
    SearchStep step;
    step.placement = {slot, bone};
    step.sorts = p.misplaced == 0;
    step.loses = !step.sorts && !goeson(p, slot);
    steps.push_back(step);
    p.move(bone, from);
  }
  return steps;
}

bool searchskips(const Board& board, const Placement& last, const Placement& next) {
  if (!wellformed(board)) throw std::invalid_argument("the board does not hold each bone once");
  Position p = makeposition(board);
  const int lastfrom = p.at[last.bone];
  p.move(last.bone, last.slot);
  const int nextfrom = p.at[next.bone];
  p.move(next.bone, next.slot);
  return swappable(p, {last.bone, lastfrom, last.slot, 0}, next.bone, nextfrom, next.slot);
}

Solution solve(const Board& board, const SolverOptions& options) {
  if (!wellformed(board)) throw std::invalid_argument("the board does not hold each bone once");
  Search search(makeposition(board), options);
  return search.run();
}

}  // namespace game
