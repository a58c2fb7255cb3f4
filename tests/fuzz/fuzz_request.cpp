// The score server reads whatever a client sends: the request head, the body length it announces,
// a Range header and a posted form. Whatever arrives, the parsers keep their promises: a head found
// lies within the bytes and the limits, a parsed request holds nothing that could break a header
// or a path, a range lies inside the file, and a score that passes the checks is one the list may
// show.
//
// Input: one control byte (which parts to try), a 16-bit file size for the range, then the bytes a
// client sent.
#include <string>
#include <string_view>

#include "server/httpserver.h"
#include "server/scoreform.h"
#include "tests/fuzz/fuzzsupport.h"

namespace {

using namespace pipshiftserver;

bool clean(std::string_view text) {
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\r' || c == '\n' || c == '\0' || u == 0x7F) return false;
  }
  return true;
}

// The form as a client would send it: every byte escaped, so decoding must give it back.
std::string escapeall(std::string_view text) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    out += '%';
    out += hex[u >> 4];
    out += hex[u & 15];
  }
  return out;
}

void checkhead(std::string_view data, const http::Limits& limits) {
  const http::HeadParse found = http::findhead(data, limits);
  if (found.kind == http::HeadParse::Refused) {
    FUZZ_CHECK(found.status == 414 || found.status == 431);
    return;
  }
  if (found.kind != http::HeadParse::Complete) return;
  FUZZ_CHECK(found.length > 0 && found.length <= data.size() && found.length <= limits.maxhead);
  FUZZ_CHECK(data[found.length - 1] == '\n');

  http::Request request;
  const int status = http::parsehead(data.substr(0, found.length), limits, request);
  if (status != 0) {
    FUZZ_CHECK(status == 400 || status == 431 || status == 505);
    return;
  }
  FUZZ_CHECK(!request.method.empty() && !request.target.empty());
  for (const char c : request.target) FUZZ_CHECK(static_cast<unsigned char>(c) > 0x20 && c != 0x7F);
  FUZZ_CHECK(request.path == "*" || (!request.path.empty() && request.path.front() == '/'));
  FUZZ_CHECK(request.headers.size() <= limits.maxheaders);
  for (const http::Header& h : request.headers) {
    FUZZ_CHECK(!h.name.empty() && clean(h.name) && h.name.find(':') == std::string::npos);
    FUZZ_CHECK(clean(h.value));
  }

  int lengthstatus = -1;
  const auto length = http::bodylength(request, lengthstatus);
  FUZZ_CHECK(length.has_value() == (lengthstatus == 0));
  FUZZ_CHECK(lengthstatus == 0 || lengthstatus == 400 || lengthstatus == 411);

  // The fields of the query and any body that follows the head.
  const auto fields = parseform(request.query);
  if (fields) {
    const Checked checked = checkentry(*fields);
    FUZZ_CHECK(checked.entry.has_value() != !checked.error.empty());
  }
}

void checkrange(std::string_view header, std::uint64_t size) {
  http::ByteRange range;
  const http::RangeKind kind = http::parserange(header, size, range);
  if (kind == http::RangeKind::Part) {
    FUZZ_CHECK(range.length > 0);
    FUZZ_CHECK(range.first < size && range.length <= size - range.first);
  }
}

void checkform(std::string_view text) {
  const auto fields = parseform(text);
  if (!fields) return;
  // Sent again fully escaped, the same fields come back.
  std::string again;
  for (const auto& [key, value] : *fields) {
    if (!again.empty()) again += '&';
    again += escapeall(key) + '=' + escapeall(value);
  }
  const auto reparsed = parseform(again);
  FUZZ_CHECK(reparsed && *reparsed == *fields);

  const Checked checked = checkentry(*fields);
  if (!checked.entry) {
    FUZZ_CHECK(!checked.error.empty());
    return;
  }
  const ScoreEntry& e = *checked.entry;
  FUZZ_CHECK(e.score >= 0 && e.score <= kMaxScore);
  FUZZ_CHECK(!e.name.empty() && e.name.size() <= 4 * kMaxNameChars);
  FUZZ_CHECK(!e.date.empty() && e.date.size() <= 4 * kMaxDateChars);
  FUZZ_CHECK(clean(e.name) && clean(e.date));
  // What the page shows of it cannot open or close markup.
  const std::string shown = htmlescape(e.name) + htmlescape(e.date);
  FUZZ_CHECK(shown.find_first_of("<>\"'") == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Reader in(data, size);
  const std::uint8_t parts = in.byte();
  const std::uint64_t filesize = in.word();
  const std::string_view bytes = in.rest();

  http::Limits limits;
  // Small limits too, so the refusals at the edges are reached with short inputs.
  if (parts & 1) {
    limits.maxrequestline = 64;
    limits.maxhead = 256;
    limits.maxheaders = 4;
  }
  checkhead(bytes, limits);
  checkrange(bytes, filesize);
  checkform(bytes);

  const auto decoded = http::percentdecode(bytes, (parts & 2) != 0);
  if (decoded) FUZZ_CHECK(decoded->size() <= bytes.size());
  const auto back = http::percentdecode(escapeall(bytes), (parts & 2) != 0);
  FUZZ_CHECK(back && *back == bytes);
  return 0;
}
