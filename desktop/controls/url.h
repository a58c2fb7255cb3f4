#pragma once

#include <QObject>
#include <QString>

// The kinds of link the opener knows; each puts its own prefix in front of the address.
enum TURLType {
  utFile,
  utFtp,
  utGopher,
  utHttp,
  utHttps,
  utMailto,
  utNews,
  utTelnet,
  utWais,
  utnone
};

// Hands a web address (or another kind of link) to the desktop, which opens it with the user's
// default handler. It has no face of its own; windows keep one to open their links.
class TURL : public QObject {
  Q_OBJECT

 public:
  explicit TURL(QObject* parent = nullptr) : QObject(parent) {}

  QString URL() const { return url_; }
  void setURL(const QString& value) { url_ = value; }
  TURLType URLType() const { return urltype_; }
  void setURLType(TURLType value) { urltype_ = value; }

  static QString prefix(TURLType type);
  // The address handed to the desktop: the kind's prefix, then URL as it stands. Nothing is cut
  // off however long it is.
  QString address() const { return prefix(urltype_) + url_; }

  // Opens the address; true when the desktop accepted it. An empty URL opens nothing. A refusal
  // is silent: nothing is shown and nothing changes.
  bool OpenURL();

 private:
  QString url_;
  TURLType urltype_ = utHttp;
};
