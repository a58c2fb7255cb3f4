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
  Guard(const QString& html, const MarkupLimits& limits) : m_html(html), m_limits(limits) {}

  GuardedMarkup run() {
    const qsizetype n = m_html.size();
    qsizetype i = 0;
    qsizetype text = 0;  // start of the text not yet measured
    while ((i = m_html.indexOf(u'<', i)) >= 0) {
      measure(text, i);
      text = i;
      if (i + 1 >= n) break;
      const QChar next = m_html.at(i + 1);
      if (QStringView(m_html).mid(i, 4) == u"<!--") {
        const qsizetype end = m_html.indexOf(u"-->", i + 4);
        i = text = end < 0 ? n : end + 3;
        continue;
      }
      if (next == u'!' || next == u'?') {
        const qsizetype end = m_html.indexOf(u'>', i + 2);
        i = text = end < 0 ? n : end + 1;
        continue;
      }
      const bool closing = next == u'/';
      qsizetype j = i + 1 + (closing ? 1 : 0);
      const qsizetype namestart = j;
      while (j < n && isnamechar(m_html.at(j))) ++j;
      if (j == namestart || !m_html.at(namestart).isLetter()) {
        ++i;  // a lone "<" in the text
        continue;
      }
      const QString name = m_html.mid(namestart, j - namestart).toLower();
      const qsizetype tagend = endoftag(j);
      const bool selfclosing = tagend - 2 >= j && m_html.at(tagend - 2) == u'/';

      bool drop = false;
      if (closing)
        drop = endtag(name);
      else if (!isvoid(name) && !selfclosing)
        drop = starttag(name);
      if (drop) {
        m_changed = true;
        m_out.append(QStringView(m_html).mid(m_copied, i - m_copied));
        m_out.append(u' ');
        m_copied = tagend;
      }
      if (isbreaking(name)) m_run = 0;
      i = tagend;
      if (!closing && !drop && israwtext(name)) i = endofrawtext(name, i);
      text = i;
    }
    measure(text, n);
    if (!m_changed) return {m_html, m_longest};  // nothing dropped: the page as it came
    m_out.append(QStringView(m_html).mid(m_copied));
    return {m_out, m_longest};
  }

 private:
  // Words run on across inline tags ("a<b>b</b>c" is one word), so the run is kept between
  // calls and ended only by a blank or a breaking tag.
  void measure(qsizetype from, qsizetype to) {
    for (qsizetype k = from; k < to; ++k) {
      if (isbreakingblank(m_html.at(k))) {
        m_run = 0;
      } else if (++m_run > m_longest) {
        m_longest = m_run;
      }
    }
  }

  // Index just past the ">" closing the tag whose name ends at from. A quote opens a quoted value
  // only right after "=", so a stray apostrophe cannot swallow the rest of the page.
  qsizetype endoftag(qsizetype from) const {
    const qsizetype n = m_html.size();
    QChar quote;
    QChar lastsignificant;
    for (qsizetype k = from; k < n; ++k) {
      const QChar c = m_html.at(k);
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
    const qsizetype end = m_html.indexOf(QStringLiteral("</") + name, from, Qt::CaseInsensitive);
    return end < 0 ? m_html.size() : end;
  }

  // True when the start tag is to be dropped.
  bool starttag(const QString& name) {
    if (m_flattables > 0 && istablepart(name)) return true;
    autoclose(name);
    const bool table = name == u"table";
    if ((table && m_opentables >= m_limits.tabledepth) ||
        static_cast<qsizetype>(m_stack.size()) >= m_limits.depth) {
      ++m_dropped[name];
      if (table) ++m_flattables;
      return true;
    }
    m_stack.push_back(name);
    if (table) ++m_opentables;
    return false;
  }

  // True when the end tag belongs to a dropped start tag. Dropped elements are always the
  // innermost ones, so the first end tags of their name are theirs.
  bool endtag(const QString& name) {
    auto dropped = m_dropped.find(name);
    if (dropped != m_dropped.end() && *dropped > 0) {
      --*dropped;
      if (name == u"table") --m_flattables;
      return true;
    }
    if (m_flattables > 0 && istablepart(name)) return true;
    for (auto k = m_stack.size(); k-- > 0;) {
      if (m_stack[k] == name) {
        while (m_stack.size() > k) pop();
        break;
      }
    }
    return false;
  }

  // Elements that end where their next sibling begins, as browsers treat them.
  void autoclose(const QString& name) {
    if (m_stack.empty()) return;
    if (name == u"td" || name == u"th") {
      while (!m_stack.empty() && (m_stack.back() == u"td" || m_stack.back() == u"th")) pop();
    } else if (name == u"tr") {
      while (!m_stack.empty() && (m_stack.back() == u"td" || m_stack.back() == u"th")) pop();
      if (!m_stack.empty() && m_stack.back() == u"tr") pop();
    } else if (name == u"p" || name == u"li" || name == u"dt" || name == u"dd" ||
               name == u"option") {
      if (m_stack.back() == name) pop();
    }
  }

  void pop() {
    if (m_stack.back() == u"table") --m_opentables;
    m_stack.pop_back();
  }

  const QString& m_html;
  const MarkupLimits m_limits;
  QString m_out;
  bool m_changed = false;
  qsizetype m_copied = 0;
  std::vector<QString> m_stack;
  int m_opentables = 0;
  int m_flattables = 0;
  QHash<QString, int> m_dropped;
  qsizetype m_run = 0;
  qsizetype m_longest = 0;
};

}  // namespace

GuardedMarkup guardmarkup(const QString& html, const MarkupLimits& limits) {
  return Guard(html, limits).run();
}
