// The board between the HTTP layer and the store, on a store of our own that records what it
// is asked: posts committed in groups, the page rebuilt only when the best list changes.
#include "server/scoreboard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <future>

using namespace pipshiftserver;

namespace {

class RecordingStore : public ScoreStore {
 public:
  using ScoreStore::add;
  std::vector<std::int64_t> add(const std::vector<ScoreEntry>& entries, bool announce) override {
    std::unique_lock lock(mutex);
    batches.push_back(entries.size());
    announced.push_back(announce);
    ++inadd;
    changed.notify_all();
    changed.wait(lock, [this] { return open; });
    --inadd;
    if (failnext) {
      failnext = false;
      throw DbError("disk full");
    }
    std::vector<std::int64_t> ids;
    for (const ScoreEntry& e : entries) {
      rows.push_back(e);
      ids.push_back(static_cast<std::int64_t>(rows.size()));
    }
    return ids;
  }
  void markverified(const std::vector<Verification>& marks) override {
    std::lock_guard lock(mutex);
    for (const Verification& m : marks) rows.at(static_cast<std::size_t>(m.id - 1)).verified = true;
  }
  std::vector<ScoreEntry> bestverified(std::size_t) override { return {}; }
  std::vector<ScoreEntry> bestofday(int, const std::string&, std::size_t) override { return {}; }
  std::vector<ScoreEntry> best(std::size_t limit) override {
    std::lock_guard lock(mutex);
    ++bestqueries;
    std::vector<ScoreEntry> sorted = rows;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const ScoreEntry& a, const ScoreEntry& b) { return a.score > b.score; });
    if (sorted.size() > limit) sorted.resize(limit);
    return sorted;
  }
  std::size_t count() override { return rows.size(); }
  bool changedelsewhere() override {
    std::lock_guard lock(mutex);
    return std::exchange(foreignchange, false);
  }

  std::mutex mutex;
  std::condition_variable changed;
  bool open = true;  // false holds add() until opened
  int inadd = 0;
  bool failnext = false;
  bool foreignchange = false;
  int bestqueries = 0;
  std::vector<std::size_t> batches;
  std::vector<bool> announced;
  std::vector<ScoreEntry> rows;
};

ScoreBoard::Settings quick() {
  ScoreBoard::Settings s;
  s.watchinterval = std::chrono::milliseconds(5);
  return s;
}

// Posts and waits for the answer.
bool postandwait(ScoreBoard& board, ScoreEntry e) {
  std::promise<bool> stored;
  board.post(std::move(e), [&stored](bool ok) { stored.set_value(ok); });
  return stored.get_future().get();
}

TEST(ScoreBoard, PostsThatArriveDuringACommitAreCommittedTogether) {
  auto owned = std::make_unique<RecordingStore>();
  RecordingStore& store = *owned;
  ScoreBoard board(std::move(owned), quick());
  {
    std::lock_guard lock(store.mutex);
    store.open = false;
  }
  std::atomic<int> answered{0};
  board.post({"first", "1", 5}, [&](bool ok) { answered += ok; });
  {
    std::unique_lock lock(store.mutex);
    store.changed.wait(lock, [&] { return store.inadd == 1; });
  }
  for (int i = 0; i < 20; ++i) {
    std::string name = "p";
    name += std::to_string(i);
    board.post({name, "1", i}, [&](bool ok) { answered += ok; });
  }
  {
    std::lock_guard lock(store.mutex);
    store.open = true;
    store.changed.notify_all();
  }
  board.stop();
  EXPECT_EQ(answered.load(), 21);
  ASSERT_EQ(store.batches.size(), 2u);  // two commits, not twenty-one
  EXPECT_EQ(store.batches[0], 1u);
  EXPECT_EQ(store.batches[1], 20u);
  EXPECT_EQ(store.rows.size(), 21u);
}

TEST(ScoreBoard, ThePageIsRebuiltOnlyWhenTheBestHundredChange) {
  auto owned = std::make_unique<RecordingStore>();
  RecordingStore& store = *owned;
  for (int i = 0; i < 100; ++i) {
    std::string name = "old";
    name += std::to_string(i);
    store.rows.push_back({name, "1", 500});
  }
  ScoreBoard board(std::move(owned), quick());
  const auto first = board.page();
  const int queries = store.bestqueries;
  for (int i = 0; i < 50; ++i) EXPECT_EQ(board.page(), first);  // a view costs no query
  EXPECT_EQ(store.bestqueries, queries);

  // Equal to the last place ranks below it: the list stays as it was.
  ASSERT_TRUE(postandwait(board, {"tie", "1", 500}));
  ASSERT_TRUE(postandwait(board, {"low", "1", 3}));
  EXPECT_EQ(store.bestqueries, queries);
  EXPECT_EQ(board.page(), first);
  EXPECT_FALSE(store.announced.back());

  // Once the poster hears "stored", the page already shows the score.
  std::promise<bool> seen;
  board.post({"NewTop", "1", 800}, [&](bool ok) {
    seen.set_value(ok && board.page()->find("NewTop") != std::string::npos);
  });
  EXPECT_TRUE(seen.get_future().get());
  EXPECT_TRUE(store.announced.back());
  EXPECT_EQ(store.bestqueries, queries);  // our own post is merged in, not queried back
  EXPECT_EQ(board.page()->find(">tie<"), std::string::npos);
}

TEST(ScoreBoard, AChangeMadeElsewhereReachesThePage) {
  auto owned = std::make_unique<RecordingStore>();
  RecordingStore& store = *owned;
  ScoreBoard board(std::move(owned), quick());
  {
    std::lock_guard lock(store.mutex);
    store.rows.push_back({"Elsewhere", "1", 42});
    store.foreignchange = true;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (board.page()->find("Elsewhere") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_NE(board.page()->find("Elsewhere"), std::string::npos);
}

TEST(ScoreBoard, AFailedCommitIsReportedAndShowsNothing) {
  auto owned = std::make_unique<RecordingStore>();
  RecordingStore& store = *owned;
  ScoreBoard board(std::move(owned), quick());
  store.failnext = true;
  EXPECT_FALSE(postandwait(board, {"Lost", "1", 700}));
  EXPECT_EQ(board.page()->find("Lost"), std::string::npos);
  EXPECT_TRUE(postandwait(board, {"Kept", "1", 600}));
  EXPECT_NE(board.page()->find("Kept"), std::string::npos);
  board.stop();
  EXPECT_FALSE(postandwait(board, {"Late", "1", 1}));  // refused at once, not left hanging
}

}  // namespace
