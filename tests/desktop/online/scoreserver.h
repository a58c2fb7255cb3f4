// A score server on 127.0.0.1 for the high-score window's tests: it answers the post and the
// list addresses with canned bytes and can hold list answers back until told to send them.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include "tests/support/localhttpserver.h"

class ScoreServer : public LocalHttpServer {
 public:
  ScoreServer() {
    setresponder([this](QTcpSocket* socket, const Request& request, int) {
      if (request.target().startsWith("/cgi-bin/")) {
        send(socket, postreply, true);
      } else if (holdlist) {
        hold(socket);
      } else {
        send(socket, listreply, true);
      }
    });
  }

  QString base() const { return url(QStringLiteral("/")); }

  // Whole replies, status line and headers included.
  QByteArray postreply = page("Thank you");
  QByteArray listreply = page("<html><body><p>The list</p></body></html>");
  bool holdlist = false;

  static QByteArray page(const QByteArray& body) {
    return "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\n\r\n" + body;
  }

  // Answers every held list request.
  void releaselists() { release(listreply); }

  // The request targets ("/cgi-bin/pipshift.cgi?name=..."), in arrival order.
  QList<QByteArray> targets() const {
    QList<QByteArray> all;
    for (const Request& request : requests()) all << request.target();
    return all;
  }
  int posts() const { return count("/cgi-bin/"); }
  int lists() const { return count("/counter/"); }

 private:
  int count(const QByteArray& prefix) const {
    int n = 0;
    for (const Request& request : requests()) n += request.target().startsWith(prefix) ? 1 : 0;
    return n;
  }
};
