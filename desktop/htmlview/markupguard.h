#pragma once

#include <QString>

// Pages come from a server, and Qt's HTML importer and layout have costs a hostile page can
// blow up: time quadratic in the depth of open elements (a few thousand unclosed <div>s freeze
// the user interface for minutes), time exponential in the depth of nested tables, and time
// quadratic in the length of a word too long for a line. guardmarkup() is run over a page
// before Qt sees it: it drops the tags that would open elements beyond sane depths -- content
// is kept, a dropped tag becomes a blank and the cells of a flattened table run on as text --
// and measures the longest unbroken word, so the view can choose a wrap mode that stays linear.
struct MarkupLimits {
  int depth = 200;     // open elements of any kind
  int tabledepth = 3;  // tables inside tables
};

struct GuardedMarkup {
  QString html;               // the page, with over-deep tags dropped
  qsizetype longestword = 0;  // the longest run of text without a breaking blank
};

GuardedMarkup guardmarkup(const QString& html, const MarkupLimits& limits = {});
