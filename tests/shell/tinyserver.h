#pragma once

// A small HTTP server on the loopback interface for the window tests that go online.

#include <gtest/gtest.h>
#include <QByteArrayList>
#include <QHash>
#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>

// Answers each request for a known path with its body and status, everything else with 404.
class TinyServer : public QObject {
 public:
  TinyServer() {
    connect(&server, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket* socket = server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
      }
    });
    EXPECT_TRUE(server.listen(QHostAddress::LocalHost));
  }

  QString base() const { return QStringLiteral("http://127.0.0.1:%1/").arg(server.serverPort()); }

  QHash<QByteArray, QByteArray> bodies;
  QByteArrayList requested;     // paths, without their queries
  QByteArrayList requestlines;  // the whole targets as sent

 private:
  void serve(QTcpSocket* socket) {
    buffers[socket] += socket->readAll();
    if (!buffers[socket].contains("\r\n\r\n")) return;
    const QByteArray request = buffers.take(socket);
    QByteArray path = request.split(' ').value(1);
    requestlines << path;
    // Bodies are looked up by path alone; the query (a posted score) is kept in requestlines.
    path = path.left(path.indexOf('?') < 0 ? path.size() : path.indexOf('?'));
    requested << path;
    const bool known = bodies.contains(path);
    const QByteArray body = known ? bodies.value(path) : QByteArray("no such file");
    socket->write((known ? "HTTP/1.0 200 OK\r\n" : "HTTP/1.0 404 Not Found\r\n") +
                  QByteArray("Content-Length: ") + QByteArray::number(body.size()) +
                  "\r\nConnection: close\r\n\r\n" + body);
    socket->disconnectFromHost();
  }

  QTcpServer server;
  QHash<QTcpSocket*, QByteArray> buffers;
};
