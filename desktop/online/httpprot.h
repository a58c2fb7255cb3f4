#pragma once

// THttpCli: a small HTTP/1.0 and HTTP/1.1 client that performs one GET at a time on the
// user-interface thread and streams the response body into a device the caller owns. Get() is
// synchronous for its caller but keeps the window's events flowing while it waits, so the window
// stays usable during a long download.

#include <QAbstractSocket>
#include <QByteArray>
#include <QDateTime>
#include <QHostAddress>
#include <QHostInfo>
#include <QIODevice>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string>

class QEventLoop;
class QTcpSocket;

// The client's failure: a message and a code. Codes below 100 are the client's own (see
// THttpCli::Error*); any other code is the status of the server's response.
class EHttpException : public std::runtime_error {
 public:
  EHttpException(const QString& message, int code);
  const QString& message() const { return message_; }
  int code() const { return code_; }

 private:
  QString message_;
  int code_;
};

class THttpCli : public QObject {
  Q_OBJECT

 public:
  enum THttpState {
    httpReady,
    httpNotConnected,
    httpDnsLookup,
    httpDnsLookupDone,
    httpConnected,
    httpWaitingHeader,
    httpWaitingBody,
    httpBodyReceived,
    httpAborting,
  };

  // Codes of the client's own failures.
  static constexpr int ErrorBusy = 1;
  static constexpr int ErrorBadResponse = 3;  // received data that cannot be handled
  static constexpr int ErrorLineTooLong = 4;
  static constexpr int ErrorVersion = 5;
  static constexpr int ErrorHeaderTooLong = 6;
  static constexpr int ErrorBodyTooLong = 7;
  // Status and text left by connection failures and aborts.
  static constexpr int StatusNoConnection = 404;
  // Relocations followed in one request before the request gives up.
  static constexpr int MaxRelocations = 20;
  // The longest the client waits, in milliseconds, for any one step of a request: a host name's
  // address, the connection, the whole header of an answer, each further piece of its body. A
  // host that never answers, or answers a byte at a time, must not hold the update for ever.
  static constexpr int DefaultTimeout = 60000;
  // Longest header line the client accepts, line ending included.
  static constexpr qsizetype ReceiveBufferSize = 8192;
  // Longest whole header of one answer (interim answers and relocations each count afresh): the
  // lines are kept, and a server sending them without end must not fill the memory.
  static constexpr qsizetype MaxHeaderSize = 64 * 1024;
  // The most body bytes one request takes, whatever the caller asks for.
  static constexpr qint64 MaxBodyLimit = qint64(256) * 1024 * 1024;

  explicit THttpCli(QObject* parent = nullptr);
  ~THttpCli() override;

  // Performs a GET of RequestUrl() and returns once it has ended; the body is in BodyStream().
  // Raises EHttpException when the final status is 400 or more, when the request could not be
  // made or was aborted, and when the response could not be understood.
  void Get();
  // Ends the running request at once; the waiting Get() raises "Connection aborted on request".
  void Abort();

  // Settings. An empty text sends no line.
  const QString& RequestUrl() const { return requesturl_; }
  void setRequestUrl(const QString& url) { requesturl_ = url; }
  QIODevice* BodyStream() const { return bodystream_; }
  void setBodyStream(QIODevice* stream) { bodystream_ = stream; }
  const QString& Agent() const { return agent_; }
  void setAgent(const QString& text) { agent_ = text; }
  const QString& Accept() const { return accept_; }
  void setAccept(const QString& text) { accept_ = text; }
  const QString& RequestVer() const { return requestver_; }
  // Only "1.0" and "1.1"; anything else raises "Insupported HTTP version" (code 5).
  void setRequestVer(const QString& version);
  // See DefaultTimeout; 0 or less waits without a bound. A step that takes longer ends the
  // request with status 404 and "Connection timed out" ("can't connect: ..." before connecting).
  int Timeout() const { return timeout_; }
  void setTimeout(int milliseconds) { timeout_ = milliseconds; }
  // The most body bytes the request takes (at most MaxBodyLimit): a longer answer, announced or
  // not, ends the request with "HTTP body too long" (code 7) and nothing more is written.
  qint64 MaxBody() const { return maxbody_; }
  void setMaxBody(qint64 bytes) { maxbody_ = std::clamp<qint64>(bytes, 0, MaxBodyLimit); }
  bool NoCache() const { return nocache_; }
  void setNoCache(bool on) { nocache_ = on; }
  const QString& LocalAddr() const { return localaddr_; }
  void setLocalAddr(const QString& address) { localaddr_ = address; }
  const QString& Sender() const { return sender_; }
  void setSender(const QString& text) { sender_ = text; }
  const QString& Reference() const { return reference_; }
  void setReference(const QString& text) { reference_ = text; }
  const QString& Connection() const { return connection_; }
  void setConnection(const QString& text) { connection_ = text; }
  const QString& AcceptLanguage() const { return acceptlanguage_; }
  void setAcceptLanguage(const QString& text) { acceptlanguage_ = text; }
  const QString& Username() const { return username_; }
  void setUsername(const QString& text) { username_ = text; }
  const QString& Password() const { return password_; }
  void setPassword(const QString& text) { password_ = text; }
  const QDateTime& ModifiedSince() const { return modifiedsince_; }
  // An invalid date sends no If-Modified-Since line.
  void setModifiedSince(const QDateTime& when) { modifiedsince_ = when; }
  const QString& Cookie() const { return cookie_; }
  void setCookie(const QString& text) { cookie_ = text; }
  const QString& ContentRangeBegin() const { return rangebegin_; }
  void setContentRangeBegin(const QString& text) { rangebegin_ = text; }
  const QString& ContentRangeEnd() const { return rangeend_; }
  void setContentRangeEnd(const QString& text) { rangeend_ = text; }

  // What the last request left behind.
  THttpState State() const { return state_; }
  int ResponseCode() const { return responsecode_; }
  const QString& ResponseText() const { return responsetext_; }
  const QString& ResponseVersion() const { return responseversion_; }
  qint64 ContentLength() const { return contentlength_; }
  const QString& ContentType() const { return contenttype_; }
  qint64 RcvdCount() const { return rcvdcount_; }
  const QStringList& RcvdHeader() const { return rcvdheader_; }
  // The address the last request ended at, after any relocations.
  const QString& Location() const { return location_; }
  int RelocationCount() const { return relocations_; }

 signals:
  // Slots connected here must not start a request of their own: they run inside the client.
  void StateChange(THttpCli::THttpState state);
  void LocationChange(const QString& address);

 protected:
  // The receive path, also usable without a socket: ExpectResponse() readies the client for a
  // response as if a request had just been sent; ProcessReceived() takes bytes as they arrive,
  // split anywhere; ConnectionClosed() reports the end of the connection.
  void ExpectResponse();
  void ProcessReceived(const char* data, qint64 length);
  void ConnectionClosed();

 private:
  struct Target {
    QString scheme = QStringLiteral("http");
    QString host;
    QString port = QStringLiteral("80");
    QString path = QStringLiteral("/");
  };

  static Target spliturl(const QString& url, bool* hasuser, QString* user, QString* password);
  static QString address(const Target& target);
  void startrequest();
  void resetresponse();
  void waitready();
  bool sameconnection(const Target& target) const;
  void connectto();
  void hostresolved(const QHostInfo& info);
  void socketconnected();
  void socketreadyread();
  void drain();
  void socketdisconnected();
  void socketerror(QAbstractSocket::SocketError error);
  QByteArray buildrequest();
  void sendrequest();
  void setstate(THttpState state);
  void processheaderbuffer();
  void processheaderline(const QByteArray& line, const QByteArray& raw);
  bool keepalive() const;
  void endofheader();
  void takebufferedbody();
  void handlebody(const char* data, qint64 length);
  Target resolvelocation(const QString& value) const;
  void followrelocation();
  void fail(int code, const QString& text);
  void receivefailure(int code, const QString& text);
  void dropsocket();
  void finish();
  void timedout();

  // Settings.
  QString requesturl_;
  QPointer<QIODevice> bodystream_;
  QString agent_ = QStringLiteral("Mozilla/3.0 (compatible)");
  QString accept_ = QStringLiteral("image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*");
  QString requestver_ = QStringLiteral("1.0");
  bool nocache_ = false;
  QString localaddr_ = QStringLiteral("0.0.0.0");
  QString sender_;
  QString reference_;
  QString connection_;
  QString acceptlanguage_;
  QString username_;
  QString password_;
  QDateTime modifiedsince_;
  QString cookie_;
  QString rangebegin_;
  QString rangeend_;
  qint64 maxbody_ = MaxBodyLimit;

  // Working state of one request.
  THttpState state_ = httpReady;
  Target target_;
  Target live_;  // host, port and scheme of the open connection
  QTcpSocket* socket_ = nullptr;
  int lookupid_ = -1;
  bool connecting_ = false;  // inside connectToHost(): failures there are "can't connect"
  bool reused_ = false;      // the request went out on a connection kept from before
  int responsecode_ = 0;
  QString responsetext_;
  QString responseversion_;
  qint64 contentlength_ = -1;
  QString contenttype_;
  qint64 rcvdcount_ = 0;
  qint64 skipbody_ = 0;       // body of a relocation answer still to pass over
  bool serverclose_ = false;  // the server said "Connection: close"
  QString transferencoding_;  // other than identity: a body this client cannot read
  QStringList rcvdheader_;
  qsizetype headerbytes_ = 0;  // of this answer's header so far
  QString location_;
  bool relocation_ = false;
  QString locationvalue_;
  int relocations_ = 0;
  bool statusexpected_ = true;             // the next header line may be a status line
  bool anyline_ = false;                   // a line of this answer has been read
  std::optional<EHttpException> failure_;  // raised by Get() once the request has ended
  char rcvbuf_[ReceiveBufferSize];
  qsizetype rcvcount_ = 0;
  QByteArray bodychunk_;  // reused for large body reads straight from the socket
  QEventLoop* waitloop_ = nullptr;
  int timeout_ = DefaultTimeout;
  QTimer watchdog_;  // runs while a step is awaited; restarted by every step and body piece
};
