#pragma once

// A small HTTP server on the loopback interface for the window tests that go online.

#include <gtest/gtest.h>
#include <QByteArrayList>
#include <QHash>

#include "tests/support/localhttpserver.h"

// Answers each request for a known path with its body, everything else with 404.
class TinyServer {
 public:
  TinyServer() {
    http.setresponder([this](QTcpSocket* socket, const LocalHttpServer::Request& request, int) {
      const QByteArray target = request.target();
      requestlines << target;
      // Bodies are looked up by path alone; the query (a posted score) is kept in requestlines.
      const QByteArray path = target.split('?').first();
      requested << path;
      const bool known = bodies.contains(path);
      const QByteArray body = known ? bodies.value(path) : QByteArray("no such file");
      const QByteArray status =
          statuses.value(path, known ? QByteArray("200 OK") : QByteArray("404 Not Found"));
      LocalHttpServer::send(socket,
                            "HTTP/1.0 " + status +
                                "\r\nContent-Length: " + QByteArray::number(body.size()) +
                                "\r\nConnection: close\r\n\r\n" + body,
                            true);
    });
    EXPECT_TRUE(http.start());
  }

  QString base() const { return http.url(QStringLiteral("/")); }

  QHash<QByteArray, QByteArray> bodies;
  // The status line's code and words by path, where not "200 OK" (or "404 Not Found").
  QHash<QByteArray, QByteArray> statuses;
  QByteArrayList requested;     // paths, without their queries
  QByteArrayList requestlines;  // the whole targets as sent

 private:
  // Last, so that it stops answering before the records above go.
  LocalHttpServer http;
};
