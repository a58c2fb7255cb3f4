// The pages of verified scores: every verified entry, and the deal of the day's.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "server/scoreform.h"

namespace pipshiftserver {

// The best verified entries, already in rank order.
std::string renderverifiedpage(const std::vector<ScoreEntry>& ranked);

// What the solver found for the day's deal: nothing yet, or its fewest placements (none when no
// line sorts it within the clicks).
struct DailyBest {
  bool known = false;
  std::optional<int> fewest;
};

// The day's (UTC, "YYYY-MM-DD") verified entries for its deal, in rank order, with the
// solver's best line for the deal.
std::string renderdailypage(int deal, const std::string& day, const DailyBest& best,
                            const std::vector<ScoreEntry>& ranked);

}  // namespace pipshiftserver
