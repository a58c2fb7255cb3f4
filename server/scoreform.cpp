#include "server/scoreform.h"

#include <algorithm>
#include <cctype>
#include <system_error>

#include "server/httpserver.h"

namespace pipshiftserver {

namespace {

// Counts the characters of UTF-8 text and tells whether any is a control character or a format
// character. Nothing when the bytes are not UTF-8 at all.
struct TextShape {
  std::size_t characters = 0;
  bool hascontrol = false;
  bool hasformat = false;
};

// Unicode's format characters (category Cf): invisible, yet they steer how the text around them
// is shown. A right-to-left override turns "lanigiro" into "original", a zero-width joiner or a
// byte-order mark makes a name that looks like another's and is not.
bool isformat(char32_t cp) {
  struct Span {
    char32_t first, last;
  };
  static constexpr Span spans[] = {
      {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},   {0x06DD, 0x06DD},
      {0x070F, 0x070F},   {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x180E, 0x180E},
      {0x200B, 0x200F},   {0x202A, 0x202E},   {0x2060, 0x2064},   {0x2066, 0x206F},
      {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD}, {0x110CD, 0x110CD},
      {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001},
      {0xE0020, 0xE007F},
  };
  for (const Span& span : spans) {
    if (cp >= span.first && cp <= span.last) return true;
  }
  return false;
}

std::optional<TextShape> shapeof(std::string_view text) {
  TextShape shape;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    char32_t cp = 0;
    std::size_t extra = 0;
    if (lead < 0x80) {
      cp = lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      cp = lead & 0x1F;
      extra = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      cp = lead & 0x0F;
      extra = 2;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      cp = lead & 0x07;
      extra = 3;
    } else {
      return std::nullopt;
    }
    if (i + extra >= text.size()) return std::nullopt;
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      cp = (cp << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values past Unicode are not text.
    if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return std::nullopt;
    }
    if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) shape.hascontrol = true;
    if (isformat(cp)) shape.hasformat = true;
    ++shape.characters;
    i += extra + 1;
  }
  return shape;
}

// The single value of a field, or an error when it is missing or given more than once (a second
// "score" is how an unescaped name would try to forge one).
std::optional<std::string> single(const FormFields& fields, const std::string& key,
                                  std::string& error) {
  const auto [first, last] = fields.equal_range(key);
  if (first == last) {
    error = "The field \"" + key + "\" is missing.";
    return std::nullopt;
  }
  if (std::next(first) != last) {
    error = "The field \"" + key + "\" is given more than once.";
    return std::nullopt;
  }
  return first->second;
}

}  // namespace

std::optional<FormFields> parseform(std::string_view text) {
  FormFields fields;
  while (!text.empty()) {
    const std::size_t amp = text.find('&');
    const std::string_view pair = text.substr(0, amp);
    text = amp == std::string_view::npos ? std::string_view() : text.substr(amp + 1);
    if (pair.empty()) continue;
    const std::size_t eq = pair.find('=');
    auto key = http::percentdecode(pair.substr(0, eq), true);
    auto value = http::percentdecode(
        eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1), true);
    if (!key || !value) return std::nullopt;
    fields.emplace(std::move(*key), std::move(*value));
  }
  return fields;
}

Checked checkentry(const FormFields& fields) {
  Checked result;
  std::string& error = result.error;
  const auto name = single(fields, "name", error);
  if (!name) return result;
  const auto date = single(fields, "date", error);
  if (!date) return result;
  const auto score = single(fields, "score", error);
  if (!score) return result;

  const auto nameshape = shapeof(*name);
  if (!nameshape) {
    error = "The name is not UTF-8 text.";
    return result;
  }
  if (nameshape->characters == 0) {
    error = "The name is empty.";
    return result;
  }
  if (nameshape->characters > kMaxNameChars) {
    error = "The name is longer than " + std::to_string(kMaxNameChars) + " characters.";
    return result;
  }
  if (nameshape->hascontrol) {
    error = "The name contains control characters.";
    return result;
  }
  if (nameshape->hasformat) {
    error = "The name contains invisible formatting characters.";
    return result;
  }

  const auto dateshape = shapeof(*date);
  if (!dateshape || dateshape->characters == 0 || dateshape->characters > kMaxDateChars ||
      dateshape->hascontrol || dateshape->hasformat) {
    error =
        "The date must be printable text of 1 to " + std::to_string(kMaxDateChars) + " characters.";
    return result;
  }

  const bool digits =
      !score->empty() && score->size() <= 6 &&
      std::all_of(score->begin(), score->end(), [](char c) { return c >= '0' && c <= '9'; });
  const int value = digits ? std::stoi(*score) : -1;
  if (!digits || value > kMaxScore) {
    error = "The score must be a whole number from 0 to " + std::to_string(kMaxScore) + ".";
    return result;
  }

  result.entry = ScoreEntry{*name, *date, value};
  return result;
}

std::string htmlescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string scoretable(const std::vector<ScoreEntry>& ranked, std::string_view empty,
                       bool* anyverified) {
  std::string page =
      "<table border=\"1\" cellspacing=\"0\" cellpadding=\"4\" width=\"100%\" "
      "bordercolor=\"#344143\">\n"
      "<tr bgcolor=\"#4024AE\"><th><font color=\"#FFFFFF\">Rank</font></th>"
      "<th><font color=\"#FFFFFF\">Name</font></th>"
      "<th><font color=\"#FFFFFF\">Date</font></th>"
      "<th><font color=\"#FFFFFF\">Score</font></th></tr>\n";
  std::size_t rank = 0;
  bool verified = false;
  for (const ScoreEntry& e : ranked) {
    if (rank == kListLength) break;
    ++rank;
    const char* shade = rank % 2 ? "#E8E6F8" : "#FFFFFF";
    const char* ink = rank <= 3 ? "#C00000" : "#000080";
    page += "<tr bgcolor=\"";
    page += shade;
    page += "\"><td align=\"right\"><font color=\"";
    page += ink;
    page += "\">" + std::to_string(rank) + "</font></td><td><font color=\"";
    page += ink;
    page += "\">" + htmlescape(e.name) + "</font></td><td>" + htmlescape(e.date) +
            "</td><td align=\"right\"><b>" + std::to_string(e.score) + "</b>" +
            (e.verified ? std::string(kVerifiedMark) : std::string()) + "</td></tr>\n";
    verified = verified || e.verified;
  }
  if (rank == 0) {
    page += "<tr><td colspan=\"4\" align=\"center\">";
    page += empty;
    page += "</td></tr>\n";
  }
  if (anyverified) *anyverified = verified;
  return page + "</table>\n";
}

std::string renderscorepage(const std::vector<ScoreEntry>& ranked) {
  std::string page =
      "<html>\n<head>\n<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">\n"
      "<title>Pipshift High Scores</title>\n</head>\n<body bgcolor=\"#FFFFFF\">\n"
      "<h2 align=\"center\"><font color=\"#4024AE\">Pipshift High Scores</font></h2>\n"
      "<p align=\"center\">The best " +
      std::to_string(kListLength) + " cleared boards.</p>\n";
  bool anyverified = false;
  page += scoretable(ranked, "No scores yet. Be the first!", &anyverified);
  if (anyverified) page += kVerifiedLegend;
  page += "<p align=\"center\"><a href=\"";
  page += kMakerSite;
  page += "\">Quorvel Software</a></p>\n</body>\n</html>\n";
  return page;
}

std::string rendererrorpage(std::string_view title, std::string_view message) {
  return "<html>\n<head><title>" + htmlescape(title) +
         "</title></head>\n<body bgcolor=\"#FFFFFF\">\n<h2><font color=\"#C00000\">" +
         htmlescape(title) + "</font></h2>\n<p>" + htmlescape(message) + "</p>\n</body>\n</html>\n";
}

std::optional<std::filesystem::path> resolvestatic(const std::filesystem::path& root,
                                                   std::string_view requestpath) {
  namespace fs = std::filesystem;
  fs::path relative;
  std::string_view rest = requestpath;
  while (!rest.empty()) {
    const std::size_t slash = rest.find('/');
    const std::string_view segment = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (segment.empty() || segment == ".") continue;
    // Dot-files and dot-folders (".git", ".htpasswd", an editor's ".swp") are the publisher's
    // own, never published.
    if (segment.front() == '.' || segment.find('\0') != std::string_view::npos ||
        segment.find('\\') != std::string_view::npos) {
      return std::nullopt;
    }
    relative /= fs::path(std::string(segment));
  }
  if (relative.empty()) return std::nullopt;

  std::error_code ec;
  const fs::path base = fs::canonical(root, ec);
  if (ec) return std::nullopt;
  const fs::path file = fs::canonical(base / relative, ec);
  if (ec) return std::nullopt;
  // Symbolic links are resolved above, so this also catches a link that points outside.
  auto b = base.begin();
  auto f = file.begin();
  for (; b != base.end(); ++b, ++f) {
    if (f == file.end() || *f != *b) return std::nullopt;
  }
  // A link inside the folder may lead to a dot-file in it.
  for (; f != file.end(); ++f) {
    if (f->string().starts_with('.')) return std::nullopt;
  }
  if (!fs::is_regular_file(file, ec)) return std::nullopt;
  return file;
}

std::string contenttypefor(const std::filesystem::path& file) {
  std::string ext = file.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (ext == ".txt") return "text/plain";
  if (ext == ".html" || ext == ".htm" || ext == ".shtml") return "text/html";
  if (ext == ".gif") return "image/gif";
  if (ext == ".jpg" || ext == ".jpeg") return "image/jpeg";
  if (ext == ".png") return "image/png";
  return "application/octet-stream";
}

}  // namespace pipshiftserver
