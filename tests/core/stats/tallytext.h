#pragma once

// Shared by the tally tests, the ones built without Qt too: the container packed in memory and a
// sample table.

#include <string>

#include "codec/container.h"
#include "stats/tallygrid.h"

// Text in the container, as the tally file holds it (Fast mode).
inline std::string packed(const std::string& text) {
  const codec::Bytes bytes = codec::pack(codec::asbytes(text), TCompressMode::Fast);
  return std::string(bytes.begin(), bytes.end());
}

// A tally table as a player who has cleared a few boards would have it.
inline TextTable sampletally() {
  TextTable t(9, 12);
  for (int c = 0; c <= 4; ++c) t.setCell(c, 0, "0");
  t.setCell(1, 0, "7");
  t.setCell(2, 0, "3");
  t.setCell(3, 0, "42");
  for (int r = 1; r <= 10; ++r) t.setCell(1, r, "-1000");
  const char* const names[] = {"Ann Lee", "  two  blanks ", "\xe9t\xe9"};  // the last is Latin-1
  const char* const scores[] = {"640", "410", "410"};
  for (int r = 1; r <= 3; ++r) {
    t.setCell(0, r, "3/" + std::to_string(r) + "/24");
    t.setCell(1, r, scores[r - 1]);
    t.setCell(2, r, names[r - 1]);
  }
  return t;
}
