// A bare TCP server on 127.0.0.1 for the download client's tests. It records every request as the
// bytes arrived and lets each test script the answer per request: any bytes, split or truncated,
// with the connection kept, closed or left hanging.
#pragma once

#include <QByteArray>
#include <QEventLoop>
#include <QHash>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <functional>

class RawHttpServer : public QObject {
 public:
  struct Request {
    QByteArray bytes;  // the request exactly as received, up to and including the empty line
    int connection;    // which accepted connection carried it, counted from 0
  };
  // Answers one request; socket is the connection it came on.
  using Responder = std::function<void(QTcpSocket* socket, const Request& request, int index)>;

  RawHttpServer() {
    connect(&server_, &QTcpServer::newConnection, this, [this] { accept(); });
  }

  bool start() { return server_.listen(QHostAddress::LocalHost, 0); }
  quint16 port() const { return server_.serverPort(); }
  QString url(const QString& path) const {
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path);
  }

  void setresponder(Responder responder) { responder_ = std::move(responder); }
  // The same answer to every request, then the server closes.
  void answer(const QByteArray& bytes) {
    setresponder([bytes](QTcpSocket* socket, const Request&, int) { send(socket, bytes, true); });
  }

  static void send(QTcpSocket* socket, const QByteArray& bytes, bool close) {
    socket->write(bytes);
    if (close) socket->disconnectFromHost();
  }

  const QList<Request>& requests() const { return requests_; }
  int connections() const { return connections_; }
  // Every byte received on all connections, in order of arrival.
  const QByteArray& received() const { return received_; }

 private:
  void accept() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
      const int number = connections_++;
      connect(socket, &QTcpSocket::readyRead, this, [this, socket, number] {
        const QByteArray bytes = socket->readAll();
        received_ += bytes;
        QByteArray& pending = pending_[socket];
        pending += bytes;
        for (;;) {
          const qsizetype end = pending.indexOf("\r\n\r\n");
          if (end < 0) break;
          const Request request{pending.left(end + 4), number};
          pending.remove(0, end + 4);
          requests_ << request;
          if (responder_) responder_(socket, request, int(requests_.size()) - 1);
        }
      });
      connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
      connect(socket, &QObject::destroyed, this, [this, socket] { pending_.remove(socket); });
    }
  }

  Responder responder_;
  QList<Request> requests_;
  QHash<QTcpSocket*, QByteArray> pending_;
  QByteArray received_;
  int connections_ = 0;
  // Last, so that the connections it owns go while the records above still exist.
  QTcpServer server_;
};

// Runs the event loop until done() holds or the time is up; true when done() held.
inline bool waitfor(const std::function<bool()>& done, int timeoutms = 20000) {
  QEventLoop loop;
  QTimer poll;
  QTimer limit;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
  poll.start(10);
  limit.setSingleShot(true);
  limit.start(timeoutms);
  if (!done()) loop.exec();
  return done();
}
