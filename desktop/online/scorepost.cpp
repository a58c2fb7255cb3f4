#include "online/scorepost.h"

#include <QUrl>

#include "product/product.h"

namespace {

const QString productword = QString::fromLatin1(product::word);

// "/" stays readable (it has no meaning inside a query value); everything outside the unreserved
// characters, "&", "=", "+", "#" and blanks included, is escaped.
QString encoded(const QString& value) {
  return QString::fromLatin1(QUrl::toPercentEncoding(value, "/"));
}

}  // namespace

QString listaddress(const QString& base) {
  return base + QStringLiteral("counter/") + productword + QStringLiteral(".shtml");
}

QString postaddress(const QString& base, const QString& name, const QString& date,
                    const QString& score) {
  return base + QStringLiteral("cgi-bin/") + productword + QStringLiteral(".cgi?name=") +
         encoded(name) + QStringLiteral("&date=") + encoded(date) + QStringLiteral("&score=") +
         encoded(score);
}

QChar dateseparator(const QLocale& locale) {
  const QString format = locale.dateFormat(QLocale::ShortFormat);
  bool quoted = false;
  for (const QChar c : format) {
    if (c == u'\'') {
      quoted = !quoted;
      continue;
    }
    // Direction marks (as in Arabic formats) are not separators either.
    if (quoted || c.isLetter() || c.isSpace() || c.category() == QChar::Other_Format) continue;
    return c;
  }
  return u'/';
}

QString postdatetext(const QDate& date, const QLocale& locale) {
  const QChar separator = dateseparator(locale);
  return QString::number(date.month()) + separator + QString::number(date.day()) + separator +
         QStringLiteral("%1").arg(date.year() % 100, 2, 10, QLatin1Char('0'));
}
