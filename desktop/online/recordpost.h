#pragma once

#include <QObject>
#include <QString>

#include "game/record.h"

class THTTPGet;

// Sends the record of a game after its score post was accepted, so the score server can replay
// it and mark the entry verified. Fire-and-forget: the answer is not read and a failure changes
// nothing the player sees. The score post itself is not touched.
class RecordPost : public QObject {
  Q_OBJECT

 public:
  explicit RecordPost(QObject* parent = nullptr);

  // The record of the score being posted, with the name, date and score exactly as the post sends
  // them. Replaces a record kept earlier and not sent.
  void keep(const QString& name, const QString& date, const QString& score,
            const game::GameRecord& record);
  // Sends the kept record to base + "cgi-bin/pipshiftgame.cgi" and forgets it, so a post
  // accepted twice sends it once. Nothing when none is kept.
  void send(const QString& base);

  bool holding() const { return !body_.isEmpty(); }
  THTTPGet* fetch() const { return fetch_; }

  // The address and body of a record post.
  static QString address(const QString& base);
  static QString body(const QString& name, const QString& date, const QString& score,
                      const game::GameRecord& record);

 private:
  THTTPGet* fetch_;
  QString body_;
};
