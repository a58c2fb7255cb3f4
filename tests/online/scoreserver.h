// A score server on 127.0.0.1 for the high-score window's tests: it answers the post and the
// list addresses with canned bytes, records each request line, and can hold list answers back
// until told to send them.
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

class ScoreServer : public QObject {
 public:
  ScoreServer() {
    QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] { accept(); });
  }

  bool start() { return m_server.listen(QHostAddress::LocalHost, 0); }
  QString base() const { return QStringLiteral("http://127.0.0.1:%1/").arg(m_server.serverPort()); }

  // Whole replies, status line and headers included.
  QByteArray postreply = page("Thank you");
  QByteArray listreply = page("<html><body><p>The list</p></body></html>");
  bool holdlist = false;

  static QByteArray page(const QByteArray& body) {
    return "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\n\r\n" + body;
  }

  // Answers every held list request.
  void release() {
    const auto held = m_held;
    m_held.clear();
    for (const QPointer<QTcpSocket>& socket : held)
      if (socket) answer(socket, listreply);
  }

  // The request targets ("/cgi-bin/pipshift.cgi?name=..."), in arrival order.
  QList<QByteArray> targets;
  int posts() const { return count("/cgi-bin/"); }
  int lists() const { return count("/counter/"); }

 private:
  int count(const QByteArray& prefix) const {
    int n = 0;
    for (const QByteArray& target : targets) n += target.startsWith(prefix) ? 1 : 0;
    return n;
  }

  void accept() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
      QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
      QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
        QByteArray& request = m_pending[socket];
        request += socket->readAll();
        if (!request.contains("\r\n\r\n")) return;
        const QList<QByteArray> line = request.left(request.indexOf("\r\n")).split(' ');
        const QByteArray target = line.size() == 3 ? line[1] : QByteArray("?");
        m_pending.remove(socket);
        targets << target;
        if (target.startsWith("/cgi-bin/")) {
          answer(socket, postreply);
        } else if (holdlist) {
          m_held << socket;
        } else {
          answer(socket, listreply);
        }
      });
    }
  }

  static void answer(QTcpSocket* socket, const QByteArray& reply) {
    socket->write(reply);
    socket->disconnectFromHost();
  }

  QTcpServer m_server;
  QHash<QTcpSocket*, QByteArray> m_pending;
  QList<QPointer<QTcpSocket>> m_held;
};
