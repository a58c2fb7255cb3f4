#include "server/verifiedpages.h"

#include "game/game.h"

namespace pipshiftserver {

namespace {

std::string head(const std::string& title) {
  return "<html>\n<head>\n<meta http-equiv=\"Content-Type\" content=\"text/html; "
         "charset=utf-8\">\n<title>" +
         title + "</title>\n</head>\n<body bgcolor=\"#FFFFFF\">\n" +
         "<h2 align=\"center\"><font color=\"#4024AE\">" + title + "</font></h2>\n";
}

std::string tail() {
  return std::string(kVerifiedLegend) + "<p align=\"center\"><a href=\"" + std::string(kMakerSite) +
         "\">Quorvel Software</a></p>\n</body>\n</html>\n";
}

}  // namespace

std::string renderverifiedpage(const std::vector<ScoreEntry>& ranked) {
  return head("Pipshift Verified Scores") + "<p align=\"center\">The best " +
         std::to_string(kListLength) + " boards cleared in games the server replayed.</p>\n" +
         scoretable(ranked, "No verified scores yet.") + tail();
}

std::string renderdailypage(int deal, const std::string& day, const DailyBest& best,
                            const std::vector<ScoreEntry>& ranked) {
  std::string intro = "<p align=\"center\">Deal " + std::to_string(deal) + ", the deal of " +
                      htmlescape(day) + " (UTC). ";
  if (!best.known) {
    intro += "Its best line is still being worked out.";
  } else if (!best.fewest) {
    intro += "No line sorts it within " + std::to_string(game::kClicksPerGame) + " clicks.";
  } else {
    const int bonus = 2 * (game::kClicksPerGame - *best.fewest);
    intro += "Its best line sorts it in " + std::to_string(*best.fewest) +
             " placements, for a click bonus of " + std::to_string(bonus) + ".";
  }
  intro += "</p>\n";
  return head("Pipshift Deal of the Day") + intro +
         scoretable(ranked, "No verified scores for today's deal yet.") + tail();
}

}  // namespace pipshiftserver
