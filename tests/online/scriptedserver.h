// A raw HTTP server on 127.0.0.1 for the fetch tests: it records each request's bytes exactly as
// they arrived and answers with scripted bytes, or holds the answer back until told to send it.
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

class ScriptedServer : public QObject {
 public:
  enum class Mode {
    Answer,         // send the reply, then close
    AnswerAndKeep,  // send the reply and leave the connection open
    Hold,           // keep the reply until releaseHeld()
  };

  ScriptedServer() {
    QObject::connect(&server_, &QTcpServer::newConnection, this, [this] { accept(); });
  }

  bool start() { return server_.listen(QHostAddress::LocalHost, 0); }
  quint16 port() const { return server_.serverPort(); }
  QByteArray base() const { return "http://127.0.0.1:" + QByteArray::number(port()); }

  void setReply(const QByteArray& reply, Mode mode = Mode::Answer) {
    reply_ = reply;
    mode_ = mode;
  }

  // Sends the reply to every connection held so far.
  void releaseHeld() {
    const auto held = held_;
    held_.clear();
    for (const QPointer<QTcpSocket>& s : held) {
      if (s) answer(s, true);
    }
  }

  int connections() const { return connections_; }
  const QList<QByteArray>& requests() const { return requests_; }

 private:
  void accept() {
    while (QTcpSocket* s = server_.nextPendingConnection()) {
      ++connections_;
      auto* buffer = new QByteArray;
      QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
      QObject::connect(s, &QObject::destroyed, [buffer] { delete buffer; });
      QObject::connect(s, &QTcpSocket::readyRead, this, [this, s, buffer] {
        buffer->append(s->readAll());
        if (!isComplete(*buffer)) return;
        requests_.append(*buffer);
        buffer->clear();
        if (mode_ == Mode::Hold) {
          held_.append(s);
        } else {
          answer(s, mode_ == Mode::Answer);
        }
      });
    }
  }

  void answer(QTcpSocket* s, bool close) {
    s->write(reply_);
    if (close) s->disconnectFromHost();
  }

  static bool isComplete(const QByteArray& request) {
    const qsizetype end = request.indexOf("\r\n\r\n");
    if (end < 0) return false;
    qsizetype length = 0;
    for (const QByteArray& line : request.left(end).split('\n')) {
      const QByteArray l = line.trimmed();
      if (l.toLower().startsWith("content-length:")) length = l.mid(15).trimmed().toLongLong();
    }
    return request.size() >= end + 4 + length;
  }

  QTcpServer server_;
  QByteArray reply_ = "HTTP/1.0 200 OK\r\n\r\nok";
  Mode mode_ = Mode::Answer;
  int connections_ = 0;
  QList<QByteArray> requests_;
  QList<QPointer<QTcpSocket>> held_;
};
