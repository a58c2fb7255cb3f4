// What the score server accepts and shows: the checks on a posted score, the list page, and the
// mapping of request paths onto the published files.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "game/game.h"
#include "product/product.h"

namespace pipshiftserver {

// The highest score a game can reach: every click and every second left over, counted twice.
inline constexpr int kMaxScore = 2 * (game::kClicksPerGame + game::kSecondsPerGame);
inline constexpr std::size_t kMaxNameChars = 10;
inline constexpr std::size_t kMaxDateChars = 16;
inline constexpr std::size_t kListLength = 100;
inline constexpr std::string_view kMakerSite = product::makerurl;

struct ScoreEntry {
  std::string name;
  std::string date;
  int score = 0;
  // Its game record was replayed and held up.
  bool verified = false;
  bool operator==(const ScoreEntry&) const = default;
};

// Form fields by name; a field given twice keeps both values, so ambiguity can be refused.
using FormFields = std::multimap<std::string, std::string>;

// Splits "a=1&b=2" and decodes '+' and %XX. Returns nothing when an escape is malformed.
std::optional<FormFields> parseform(std::string_view text);

// The checked entry, or the reason it is refused, in words for the person who sent it.
struct Checked {
  std::optional<ScoreEntry> entry;
  std::string error;
};
Checked checkentry(const FormFields& fields);

std::string htmlescape(std::string_view text);

// What follows the score of an entry whose game record held up, and the line under a list that
// has one.
inline constexpr std::string_view kVerifiedMark = " <font color=\"#008000\">&#10004;</font>";
inline constexpr std::string_view kVerifiedLegend =
    "<p align=\"center\"><font color=\"#008000\">&#10004;</font> a game the server replayed "
    "move by move from its record.</p>\n";

// The high-score page for entries already in rank order.
std::string renderscorepage(const std::vector<ScoreEntry>& ranked);
// The ranked table every score page shows: the first kListLength entries, verified ones marked,
// or one row saying `empty`. Tells whether any entry shown was verified.
std::string scoretable(const std::vector<ScoreEntry>& ranked, std::string_view empty,
                       bool* anyverified = nullptr);

// A small page explaining a refusal.
std::string rendererrorpage(std::string_view title, std::string_view message);

// Maps a decoded request path onto a regular file under root, or nothing when the path would
// leave root (by "..", a symbolic link or anything else) or names no regular file.
std::optional<std::filesystem::path> resolvestatic(const std::filesystem::path& root,
                                                   std::string_view requestpath);

std::string contenttypefor(const std::filesystem::path& file);

}  // namespace pipshiftserver
