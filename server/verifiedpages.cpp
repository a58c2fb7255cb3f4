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

std::string table(const std::vector<ScoreEntry>& ranked, const char* empty) {
  std::string page =
      "<table border=\"1\" cellspacing=\"0\" cellpadding=\"4\" width=\"100%\" "
      "bordercolor=\"#344143\">\n"
      "<tr bgcolor=\"#4024AE\"><th><font color=\"#FFFFFF\">Rank</font></th>"
      "<th><font color=\"#FFFFFF\">Name</font></th>"
      "<th><font color=\"#FFFFFF\">Date</font></th>"
      "<th><font color=\"#FFFFFF\">Score</font></th></tr>\n";
  std::size_t rank = 0;
  for (const ScoreEntry& e : ranked) {
    if (rank == kListLength) break;
    ++rank;
    page += std::string("<tr bgcolor=\"") + (rank % 2 ? "#E8E6F8" : "#FFFFFF") +
            "\"><td align=\"right\">" + std::to_string(rank) + "</td><td>" + htmlescape(e.name) +
            "</td><td>" + htmlescape(e.date) + "</td><td align=\"right\"><b>" +
            std::to_string(e.score) + "</b>" + std::string(kVerifiedMark) + "</td></tr>\n";
  }
  if (rank == 0) {
    page += std::string("<tr><td colspan=\"4\" align=\"center\">") + empty + "</td></tr>\n";
  }
  return page + "</table>\n";
}

std::string tail() {
  return std::string(kVerifiedLegend) + "<p align=\"center\"><a href=\"" + std::string(kMakerSite) +
         "\">Quorvel Software</a></p>\n</body>\n</html>\n";
}

}  // namespace

std::string renderverifiedpage(const std::vector<ScoreEntry>& ranked) {
  return head("Pipshift Verified Scores") + "<p align=\"center\">The best " +
         std::to_string(kListLength) + " boards cleared in games the server replayed.</p>\n" +
         table(ranked, "No verified scores yet.") + tail();
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
         table(ranked, "No verified scores for today's deal yet.") + tail();
}

}  // namespace pipshiftserver
