#include "online/recordpost.h"

#include <QUrl>

#include "online/httpget.h"
#include "product/product.h"

namespace {

QString encoded(const QString& value) {
  return QString::fromLatin1(QUrl::toPercentEncoding(value, "/"));
}

}  // namespace

RecordPost::RecordPost(QObject* parent) : QObject(parent), fetch_(new THTTPGet(this)) {
  fetch_->setObjectName(QStringLiteral("recordpost"));
}

QString RecordPost::address(const QString& base) {
  return base + QStringLiteral("cgi-bin/") + QString::fromLatin1(product::word) +
         QStringLiteral("game.cgi");
}

QString RecordPost::body(const QString& name, const QString& date, const QString& score,
                         const game::GameRecord& record) {
  // The same fields, encoded the same way, as the score post, so the server finds that post.
  return QStringLiteral("name=") + encoded(name) + QStringLiteral("&date=") + encoded(date) +
         QStringLiteral("&score=") + encoded(score) + QStringLiteral("&record=") +
         QString::fromLatin1(game::encoderecord(record));
}

void RecordPost::keep(const QString& name, const QString& date, const QString& score,
                      const game::GameRecord& record) {
  body_ = body(name, date, score, record);
}

void RecordPost::send(const QString& base) {
  if (body_.isEmpty()) return;
  // A record still on its way is left alone; this one is then not sent, as any failure would be.
  if (!fetch_->busy()) {
    fetch_->setURL(address(base));
    fetch_->setPostQuery(body_);
    fetch_->StartFetch();
  }
  body_.clear();
}
