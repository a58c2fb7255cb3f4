#include "htmlview/markupguard.h"

#include <QHash>
#include <QStringView>
#include <vector>

namespace {

bool isvoid(QStringView name) {
  static const char* const names[] = {"area",  "base", "basefont", "br",     "col",
                                      "embed", "hr",   "img",      "input",  "isindex",
                                      "link",  "meta", "param",    "source", "wbr"};
  for (const char* n : names)
    if (name == QLatin1String(n)) return true;
  return false;
}

// Elements whose content is not markup: a "<div>" inside a script is text, not an element.
bool israwtext(QStringView name) {
  return name == u"script" || name == u"style" || name == u"textarea" || name == u"title" ||
         name == u"xmp";
}

bool istablepart(QStringView name) {
  return name == u"tr" || name == u"td" || name == u"th" || name == u"thead" || name == u"tbody" ||
         name == u"tfoot" || name == u"caption" || name == u"colgroup";
}

// Tags that end a line: the words on either side of them are laid out apart.
bool isbreaking(QStringView name) {
  static const char* const names[] = {
      "address", "blockquote", "br",    "center", "dd",    "div", "dl",    "dt", "h1",
      "h2",      "h3",         "h4",    "h5",     "h6",    "hr",  "li",    "ol", "p",
      "pre",     "table",      "tbody", "td",     "tfoot", "th",  "thead", "tr", "ul"};
  for (const char* n : names)
    if (name == QLatin1String(n)) return true;
  return false;
}

// Only these let a line break; a no-break space, for one, does not.
bool isbreakingblank(QChar c) {
  return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f' || c == QChar(0x200B);
}

bool isnamechar(QChar c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
}

class Guard {
 public:
  Guard(const QString& html, const MarkupLimits& limits) : html_(html), limits_(limits) {}

  GuardedMarkup run() {
    const qsizetype n = html_.size();
    qsizetype i = 0;
    qsizetype text = 0;  // start of the text not yet measured
    while ((i = html_.indexOf(u'<', i)) >= 0) {
      measure(text, i);
      text = i;
      if (i + 1 >= n) break;
      const QChar next = html_.at(i + 1);
      if (QStringView(html_).mid(i, 4) == u"<!--") {
        const qsizetype end = html_.indexOf(u"-->", i + 4);
        i = text = end < 0 ? n : end + 3;
        continue;
      }
      if (next == u'!' || next == u'?') {
        const qsizetype end = html_.indexOf(u'>', i + 2);
        i = text = end < 0 ? n : end + 1;
        continue;
      }
      const bool closing = next == u'/';
      qsizetype j = i + 1 + (closing ? 1 : 0);
      const qsizetype namestart = j;
      while (j < n && isnamechar(html_.at(j))) ++j;
      if (j == namestart || !html_.at(namestart).isLetter()) {
        ++i;  // a lone "<" in the text
        continue;
      }
      const QString name = html_.mid(namestart, j - namestart).toLower();
      const qsizetype tagend = endoftag(j);
      const bool selfclosing = tagend - 2 >= j && html_.at(tagend - 2) == u'/';

      bool drop = false;
      if (closing)
        drop = endtag(name);
      else if (!isvoid(name) && !selfclosing)
        drop = starttag(name);
      if (drop) {
        changed_ = true;
        out_.append(QStringView(html_).mid(copied_, i - copied_));
        out_.append(u' ');
        copied_ = tagend;
      }
      if (isbreaking(name)) run_ = 0;
      i = tagend;
      if (!closing && !drop && israwtext(name)) i = endofrawtext(name, i);
      text = i;
    }
    measure(text, n);
    if (!changed_) return {html_, longest_};  // nothing dropped: the page as it came
    out_.append(QStringView(html_).mid(copied_));
    return {out_, longest_};
  }

 private:
  // Words run on across inline tags ("a<b>b</b>c" is one word), so the run is kept between
  // calls and ended only by a blank or a breaking tag.
  void measure(qsizetype from, qsizetype to) {
    for (qsizetype k = from; k < to; ++k) {
      if (isbreakingblank(html_.at(k))) {
        run_ = 0;
      } else if (++run_ > longest_) {
        longest_ = run_;
      }
    }
  }

  // Index just past the ">" closing the tag whose name ends at from. A quote opens a quoted value
  // only right after "=", so a stray apostrophe cannot swallow the rest of the page.
  qsizetype endoftag(qsizetype from) const {
    const qsizetype n = html_.size();
    QChar quote;
    QChar lastsignificant;
    for (qsizetype k = from; k < n; ++k) {
      const QChar c = html_.at(k);
      if (!quote.isNull()) {
        if (c == quote) quote = QChar();
        continue;
      }
      if ((c == u'"' || c == u'\'') && lastsignificant == u'=') {
        quote = c;
        continue;
      }
      if (c == u'>') return k + 1;
      if (!c.isSpace()) lastsignificant = c;
    }
    return n;
  }

  qsizetype endofrawtext(const QString& name, qsizetype from) const {
    const qsizetype end = html_.indexOf(QStringLiteral("</") + name, from, Qt::CaseInsensitive);
    return end < 0 ? html_.size() : end;
  }

  // True when the start tag is to be dropped.
  bool starttag(const QString& name) {
    if (flattables_ > 0 && istablepart(name)) return true;
    autoclose(name);
    const bool table = name == u"table";
    if ((table && opentables_ >= limits_.tabledepth) ||
        static_cast<qsizetype>(stack_.size()) >= limits_.depth) {
      ++dropped_[name];
      if (table) ++flattables_;
      return true;
    }
    stack_.push_back(name);
    if (table) ++opentables_;
    return false;
  }

  // True when the end tag belongs to a dropped start tag. Dropped elements are always the
  // innermost ones, so the first end tags of their name are theirs.
  bool endtag(const QString& name) {
    auto dropped = dropped_.find(name);
    if (dropped != dropped_.end() && *dropped > 0) {
      --*dropped;
      if (name == u"table") --flattables_;
      return true;
    }
    if (flattables_ > 0 && istablepart(name)) return true;
    for (auto k = stack_.size(); k-- > 0;) {
      if (stack_[k] == name) {
        while (stack_.size() > k) pop();
        break;
      }
    }
    return false;
  }

  // Elements that end where their next sibling begins, as browsers treat them.
  void autoclose(const QString& name) {
    if (stack_.empty()) return;
    if (name == u"td" || name == u"th") {
      while (!stack_.empty() && (stack_.back() == u"td" || stack_.back() == u"th")) pop();
    } else if (name == u"tr") {
      while (!stack_.empty() && (stack_.back() == u"td" || stack_.back() == u"th")) pop();
      if (!stack_.empty() && stack_.back() == u"tr") pop();
    } else if (name == u"p" || name == u"li" || name == u"dt" || name == u"dd" ||
               name == u"option") {
      if (stack_.back() == name) pop();
    }
  }

  void pop() {
    if (stack_.back() == u"table") --opentables_;
    stack_.pop_back();
  }

  const QString& html_;
  const MarkupLimits limits_;
  QString out_;
  bool changed_ = false;
  qsizetype copied_ = 0;
  std::vector<QString> stack_;
  int opentables_ = 0;
  int flattables_ = 0;
  QHash<QString, int> dropped_;
  qsizetype run_ = 0;
  qsizetype longest_ = 0;
};

}  // namespace

GuardedMarkup guardmarkup(const QString& html, const MarkupLimits& limits) {
  return Guard(html, limits).run();
}
