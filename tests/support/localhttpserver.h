// An HTTP server on 127.0.0.1 for the tests of the program's HTTP clients and of the windows that
// show their pages. It records every request exactly as it arrived, a body announced by
// Content-Length included, and answers as each test scripts it: any bytes, split or cut short,
// with the connection closed, kept or left hanging, at once or when the test releases them.
#pragma once

#include <QByteArray>
#include <QEventLoop>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <functional>
#include <utility>

class LocalHttpServer : public QObject {
 public:
  struct Request {
    QByteArray bytes;  // the request as received: its head, the empty line and any body
    int connection;    // which accepted connection carried it, counted from 0

    // The request line's target ("/cgi-bin/pipshift.cgi?name=..."); "?" when the line is not
    // a method, a target and a version.
    QByteArray target() const {
      const QList<QByteArray> line = bytes.left(bytes.indexOf("\r\n")).split(' ');
      return line.size() == 3 ? line[1] : QByteArray("?");
    }
  };
  // Answers one request; socket is the connection it came on, index its place in requests().
  using Responder = std::function<void(QTcpSocket* socket, const Request& request, int index)>;

  LocalHttpServer() {
    connect(&server_, &QTcpServer::newConnection, this, [this] { accept(); });
  }

  bool start() { return server_.listen(QHostAddress::LocalHost, 0); }
  quint16 port() const { return server_.serverPort(); }
  // "http://127.0.0.1:<port>" followed by path.
  QString url(const QString& path) const {
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path);
  }

  // Until one is set, requests are recorded and left unanswered.
  void setresponder(Responder responder) { responder_ = std::move(responder); }
  // The same answer to every request; the connection is closed after it unless close is false.
  void answer(const QByteArray& bytes, bool close = true) {
    setresponder(
        [bytes, close](QTcpSocket* socket, const Request&, int) { send(socket, bytes, close); });
  }
  // Leaves every request unanswered until release().
  void holdall() {
    setresponder([this](QTcpSocket* socket, const Request&, int) { hold(socket); });
  }
  // Keeps a request's connection for release() to answer.
  void hold(QTcpSocket* socket) { held_ << socket; }
  // Answers every connection held so far that is still open, then closes it.
  void release(const QByteArray& bytes) {
    const QList<QPointer<QTcpSocket>> held = std::exchange(held_, {});
    for (const QPointer<QTcpSocket>& socket : held) {
      if (socket) send(socket, bytes, true);
    }
  }

  static void send(QTcpSocket* socket, const QByteArray& bytes, bool close) {
    socket->write(bytes);
    if (close) socket->disconnectFromHost();
  }

  const QList<Request>& requests() const { return requests_; }
  int connections() const { return connections_; }
  // Every byte received on all connections, in order of arrival.
  const QByteArray& received() const { return received_; }

  // A port on 127.0.0.1 on which nothing listens.
  static quint16 closedport() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
  }

 private:
  // The length of the complete request at the start of pending; 0 while more is to come.
  static qsizetype completelength(const QByteArray& pending) {
    const qsizetype end = pending.indexOf("\r\n\r\n");
    if (end < 0) return 0;
    qsizetype body = 0;
    for (const QByteArray& line : pending.left(end).split('\n')) {
      const QByteArray header = line.trimmed();
      if (header.toLower().startsWith("content-length:"))
        body = header.mid(15).trimmed().toLongLong();
    }
    const qsizetype length = end + 4 + body;
    return pending.size() >= length ? length : 0;
  }

  void accept() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
      const int number = connections_++;
      connect(socket, &QTcpSocket::readyRead, this, [this, socket, number] {
        const QByteArray bytes = socket->readAll();
        received_ += bytes;
        QByteArray& pending = pending_[socket];
        pending += bytes;
        while (const qsizetype length = completelength(pending)) {
          const Request request{pending.left(length), number};
          pending.remove(0, length);
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
  QList<QPointer<QTcpSocket>> held_;
  QByteArray received_;
  int connections_ = 0;
  // Last, so that the connections it owns go while the records above still exist.
  QTcpServer server_;
};

// Turns an event loop until done() holds or the time is up; true when done() held. A loop of its
// own, unlike QTest::qWaitFor, which also runs the deferred deletions: a test may wait in here
// from inside a client's own wait for its answer.
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
