#include "online/httpprot.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTcpSocket>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "online/urltext.h"
#include "platform/httpdate.h"

namespace {

// Body bytes are taken from the socket in pieces this large, straight into the stream.
constexpr qint64 BodyChunk = 1 << 20;

// Error numbers in the form the rest of the system knows them, with the socket layer's text.
int errornumber(QAbstractSocket::SocketError error) {
  switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
      return ECONNREFUSED;
    case QAbstractSocket::RemoteHostClosedError:
      return ECONNRESET;
    case QAbstractSocket::HostNotFoundError:
      return EHOSTUNREACH;
    case QAbstractSocket::SocketAccessError:
      return EACCES;
    case QAbstractSocket::SocketResourceError:
      return EMFILE;
    case QAbstractSocket::SocketTimeoutError:
      return ETIMEDOUT;
    case QAbstractSocket::NetworkError:
      return ENETUNREACH;
    case QAbstractSocket::AddressInUseError:
      return EADDRINUSE;
    case QAbstractSocket::SocketAddressNotAvailableError:
      return EADDRNOTAVAIL;
    case QAbstractSocket::UnsupportedSocketOperationError:
      return EOPNOTSUPP;
    default:
      return EIO;
  }
}

QString describe(const QString& text, int number) {
  return text + QStringLiteral(" (Error #") + QString::number(number) + QLatin1Char(')');
}

// Header values go out on one line: a line break inside one would start a header of its own.
QByteArray headervalue(const QString& value) {
  QByteArray bytes = value.toLatin1();
  bytes.removeIf([](char c) { return c == '\r' || c == '\n'; });
  return bytes;
}

// The path goes into the request line as bytes, escaped where it would be unsafe there.
QByteArray requestpath(const QString& path) {
  QByteArray bytes;
  for (QChar c : path) {
    if (c.unicode() < 0x100) {
      bytes += char(c.unicode());
    } else {
      bytes += QString(c).toUtf8();
    }
  }
  return escapeunsafe(bytes);
}

bool ishttp(const QString& scheme) {
  return scheme.compare(QLatin1String("http"), Qt::CaseInsensitive) == 0;
}

}  // namespace

EHttpException::EHttpException(const QString& message, int code)
    : std::runtime_error(message.toStdString()), message_(message), code_(code) {}

THttpCli::THttpCli(QObject* parent) : QObject(parent) {
  watchdog_.setSingleShot(true);
  connect(&watchdog_, &QTimer::timeout, this, &THttpCli::timedout);
  if (auto* app = QCoreApplication::instance()) {
    connect(app, &QCoreApplication::aboutToQuit, this, &THttpCli::Abort);
  }
}

THttpCli::~THttpCli() {
  dropsocket();
}

void THttpCli::setRequestVer(const QString& version) {
  if (version != QLatin1String("1.0") && version != QLatin1String("1.1")) {
    throw EHttpException(QStringLiteral("Insupported HTTP version"), ErrorVersion);
  }
  requestver_ = version;
}

THttpCli::Target THttpCli::spliturl(const QString& url, bool* hasuser, QString* user,
                                    QString* password) {
  Target target;
  QString rest = url;
  const qsizetype schemeend = rest.indexOf(QLatin1String("://"));
  if (schemeend >= 0) {
    if (schemeend > 0) target.scheme = rest.left(schemeend);
    rest = rest.mid(schemeend + 3);
  }
  qsizetype authorityend = rest.size();
  for (QChar stop : {QLatin1Char('/'), QLatin1Char('?'), QLatin1Char('#')}) {
    const qsizetype at = rest.indexOf(stop);
    if (at >= 0) authorityend = std::min(authorityend, at);
  }
  QString authority = rest.left(authorityend);
  QString path = rest.mid(authorityend);

  *hasuser = false;
  const qsizetype at = authority.lastIndexOf(QLatin1Char('@'));
  if (at >= 0) {
    const QString userinfo = authority.left(at);
    authority = authority.mid(at + 1);
    const qsizetype colon = userinfo.indexOf(QLatin1Char(':'));
    *hasuser = true;
    *user = colon >= 0 ? userinfo.left(colon) : userinfo;
    *password = colon >= 0 ? userinfo.mid(colon + 1) : QString();
  }

  qsizetype portcolon = -1;
  if (authority.startsWith(QLatin1Char('['))) {
    const qsizetype close = authority.indexOf(QLatin1Char(']'));
    if (close >= 0 && close + 1 < authority.size() && authority.at(close + 1) == QLatin1Char(':')) {
      portcolon = close + 1;
    }
  } else {
    portcolon = authority.indexOf(QLatin1Char(':'));
  }
  if (portcolon >= 0) {
    target.host = authority.left(portcolon);
    const QString port = authority.mid(portcolon + 1);
    if (!port.isEmpty()) target.port = port;
  } else {
    target.host = authority;
  }

  // The fragment belongs to the reader of the document, never to the server.
  const qsizetype hash = path.indexOf(QLatin1Char('#'));
  if (hash >= 0) path.truncate(hash);
  if (path.isEmpty()) {
    path = QStringLiteral("/");
  } else if (path.startsWith(QLatin1Char('?'))) {
    path.prepend(QLatin1Char('/'));
  }
  target.path = path;
  return target;
}

QString THttpCli::address(const Target& target) {
  QString text = target.scheme + QStringLiteral("://") + target.host;
  if (target.port != QLatin1String("80")) text += QLatin1Char(':') + target.port;
  return text + target.path;
}

void THttpCli::Get() {
  startrequest();
  waitready();
  if (failure_) {
    const EHttpException failure = *failure_;
    failure_.reset();
    throw failure;
  }
  if (responsecode_ >= 400) throw EHttpException(responsetext_, responsecode_);
}

void THttpCli::waitready() {
  while (state_ != httpReady) {
    if (QCoreApplication::closingDown()) {
      Abort();
      break;
    }
    QEventLoop loop;
    QEventLoop* outer = waitloop_;
    waitloop_ = &loop;
    loop.exec();
    waitloop_ = outer;
    // The loop ends early only when the application has stopped every loop on its way out.
    if (state_ != httpReady) Abort();
  }
}

void THttpCli::Abort() {
  if (state_ == httpReady) return;
  setstate(httpAborting);
  dropsocket();
  responsecode_ = StatusNoConnection;
  responsetext_ = QStringLiteral("Connection aborted on request");
  finish();
}

void THttpCli::startrequest() {
  if (state_ != httpReady) {
    throw EHttpException(QStringLiteral("HTTP component is busy"), ErrorBusy);
  }
  failure_.reset();
  relocations_ = 0;
  reused_ = false;
  location_ = requesturl_;
  bool hasuser = false;
  QString user;
  QString password;
  target_ = spliturl(requesturl_, &hasuser, &user, &password);
  if (hasuser) {
    username_ = user;
    password_ = password;
  }
  resetresponse();
  if (sameconnection(target_)) {
    reused_ = true;
    setstate(httpWaitingHeader);
    sendrequest();
    return;
  }
  dropsocket();
  connectto();
}

void THttpCli::resetresponse() {
  rcvdheader_.clear();
  headerbytes_ = 0;
  responsecode_ = 0;
  responsetext_.clear();
  responseversion_.clear();
  contentlength_ = -1;
  contenttype_.clear();
  rcvdcount_ = 0;
  skipbody_ = 0;
  serverclose_ = false;
  transferencoding_.clear();
  relocation_ = false;
  locationvalue_.clear();
  statusexpected_ = true;
  anyline_ = false;
  rcvcount_ = 0;
}

void THttpCli::ExpectResponse() {
  dropsocket();
  failure_.reset();
  relocations_ = 0;
  reused_ = false;
  resetresponse();
  setstate(httpWaitingHeader);
}

bool THttpCli::sameconnection(const Target& target) const {
  return socket_ && socket_->state() == QAbstractSocket::ConnectedState &&
         live_.host.compare(target.host, Qt::CaseInsensitive) == 0 && live_.port == target.port &&
         live_.scheme.compare(target.scheme, Qt::CaseInsensitive) == 0;
}

void THttpCli::connectto() {
  setstate(httpNotConnected);
  if (!ishttp(target_.scheme)) {
    fail(StatusNoConnection, QStringLiteral("can't connect: unsupported scheme ") + target_.scheme);
    return;
  }
  setstate(httpDnsLookup);
  QString host = target_.host;
  if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'))) {
    host = host.mid(1, host.size() - 2);
  }
  if (host.isEmpty()) {
    fail(StatusNoConnection, QStringLiteral("can't resolve hostname to IP address"));
    return;
  }
  // An address written as digits needs no look-up. Going straight on also keeps it clear of the
  // resolver's cache, whose answers arrive as posted events, and those wait while the caller sits
  // in an event loop nested inside the handling of another posted event.
  const QHostAddress literal(host);
  if (!literal.isNull()) {
    QHostInfo info;
    info.setAddresses({literal});
    lookupid_ = -1;
    hostresolved(info);
    return;
  }
  const int id = QHostInfo::lookupHost(host, this, &THttpCli::hostresolved);
  if (state_ == httpDnsLookup) lookupid_ = id;
}

void THttpCli::hostresolved(const QHostInfo& info) {
  if (state_ != httpDnsLookup || (lookupid_ != -1 && info.lookupId() != lookupid_)) return;
  lookupid_ = -1;
  const QList<QHostAddress> addresses = info.addresses();
  if (info.error() != QHostInfo::NoError || addresses.isEmpty()) {
    fail(StatusNoConnection, QStringLiteral("can't resolve hostname to IP address"));
    return;
  }
  // The first IPv4 address, as the classic resolver would give it; else whatever there is.
  QHostAddress address = addresses.first();
  for (const QHostAddress& candidate : addresses) {
    if (candidate.protocol() == QAbstractSocket::IPv4Protocol) {
      address = candidate;
      break;
    }
  }
  setstate(httpDnsLookupDone);
  live_ = target_;

  bool portok = false;
  const uint port = target_.port.toUInt(&portok);
  if (!portok || port == 0 || port > 65535) {
    fail(StatusNoConnection, QStringLiteral("can't connect: ") +
                                 describe(QStringLiteral("Invalid port ") + target_.port, EINVAL));
    return;
  }

  socket_ = new QTcpSocket(this);
  // What the socket layer holds for us stays bounded however fast the server sends.
  socket_->setReadBufferSize(BodyChunk);
  connect(socket_, &QTcpSocket::connected, this, &THttpCli::socketconnected);
  connect(socket_, &QTcpSocket::readyRead, this, &THttpCli::socketreadyread);
  connect(socket_, &QTcpSocket::disconnected, this, &THttpCli::socketdisconnected);
  connect(socket_, &QTcpSocket::errorOccurred, this, &THttpCli::socketerror);
  connecting_ = true;
  if (!localaddr_.isEmpty() && localaddr_ != QLatin1String("0.0.0.0")) {
    const QHostAddress local(localaddr_);
    if (local.isNull() || !socket_->bind(local)) {
      const QString text = local.isNull() ? QStringLiteral("Invalid local address ") + localaddr_
                                          : socket_->errorString();
      const int number = local.isNull() ? EINVAL : errornumber(socket_->error());
      connecting_ = false;
      fail(StatusNoConnection, QStringLiteral("can't connect: ") + describe(text, number));
      return;
    }
  }
  socket_->connectToHost(address, quint16(port));
  connecting_ = false;
}

void THttpCli::socketconnected() {
  if (sender() != socket_ || state_ != httpDnsLookupDone) return;
  setstate(httpConnected);
  setstate(httpWaitingHeader);
  sendrequest();
}

QByteArray THttpCli::buildrequest() {
  QByteArray request;
  request.reserve(512);
  auto line = [&request](const char* name, const QString& value) {
    if (value.isEmpty()) return;
    request += name;
    request += headervalue(value);
    request += "\r\n";
  };
  request += "GET " + requestpath(target_.path) + " HTTP/" + requestver_.toLatin1() + "\r\n";
  line("From: ", sender_);
  line("Accept: ", accept_);
  line("Referer: ", reference_);
  line("Connection: ", connection_);
  line("Accept-Language: ", acceptlanguage_);
  line("User-Agent: ", agent_);
  request += "Host: " + headervalue(target_.host) + "\r\n";
  if (nocache_) request += "Pragma: no-cache\r\n";
  if (modifiedsince_.isValid())
    line("If-Modified-Since: ",
         QString::fromStdString(httpdate(modifiedsince_.toSecsSinceEpoch())));
  if (!username_.isEmpty()) {
    line("Authorization: Basic ",
         QString::fromLatin1((username_ + QLatin1Char(':') + password_).toLatin1().toBase64()));
  }
  line("Cookie: ", cookie_);
  if (!rangebegin_.isEmpty() || !rangeend_.isEmpty()) {
    request += "Range: bytes=" + headervalue(rangebegin_) + '-' + headervalue(rangeend_) + "\r\n";
    rangebegin_.clear();
    rangeend_.clear();
  }
  request += "\r\n";
  return request;
}

void THttpCli::sendrequest() {
  const QByteArray request = buildrequest();
  if (socket_) socket_->write(request);
}

void THttpCli::setstate(THttpState state) {
  state_ = state;
  if (state == httpReady || timeout_ <= 0) {
    watchdog_.stop();
  } else {
    watchdog_.start(timeout_);
  }
  emit StateChange(state);
  if (state == httpReady && waitloop_) waitloop_->quit();
}

void THttpCli::socketreadyread() {
  if (sender() == socket_) drain();
}

void THttpCli::drain() {
  QTcpSocket* socket = socket_;
  while (socket && socket == socket_) {
    const qint64 available = socket->bytesAvailable();
    if (available <= 0) break;
    if (state_ == httpWaitingHeader) {
      const qint64 n = socket->read(rcvbuf_ + rcvcount_, ReceiveBufferSize - rcvcount_);
      if (n <= 0) break;
      rcvcount_ += n;
      processheaderbuffer();
    } else if (state_ == httpWaitingBody) {
      qint64 want = std::min(available, BodyChunk);
      // Bytes past the announced length are not this document's; they are dropped below.
      if (!relocation_ && contentlength_ >= 0) want = std::min(want, contentlength_ - rcvdcount_);
      if (bodychunk_.size() < want) bodychunk_.resize(BodyChunk);
      const qint64 n = socket->read(bodychunk_.data(), want);
      if (n <= 0) break;
      handlebody(bodychunk_.constData(), n);
    } else {
      socket->skip(available);
    }
  }
}

void THttpCli::ProcessReceived(const char* data, qint64 length) {
  while (length > 0) {
    if (state_ == httpWaitingHeader) {
      const qint64 n = std::min<qint64>(length, ReceiveBufferSize - rcvcount_);
      std::memcpy(rcvbuf_ + rcvcount_, data, size_t(n));
      rcvcount_ += n;
      data += n;
      length -= n;
      processheaderbuffer();
    } else if (state_ == httpWaitingBody) {
      qint64 n = length;
      if (!relocation_ && contentlength_ >= 0) n = std::min(n, contentlength_ - rcvdcount_);
      handlebody(data, n);
      data += n;
      length -= n;
    } else {
      return;
    }
  }
}

void THttpCli::processheaderbuffer() {
  while (state_ == httpWaitingHeader) {
    const char* newline = static_cast<const char*>(std::memchr(rcvbuf_, '\n', size_t(rcvcount_)));
    if (!newline) {
      if (rcvcount_ >= ReceiveBufferSize) {
        receivefailure(ErrorLineTooLong, QStringLiteral("HTTP line too long"));
      }
      return;
    }
    const qsizetype rawlength = newline - rcvbuf_ + 1;
    const QByteArray raw(rcvbuf_, rawlength);
    std::memmove(rcvbuf_, rcvbuf_ + rawlength, size_t(rcvcount_ - rawlength));
    rcvcount_ -= rawlength;
    QByteArray line = raw.first(rawlength - 1);
    if (line.endsWith('\r')) line.chop(1);
    processheaderline(line, raw);
  }
}

void THttpCli::processheaderline(const QByteArray& line, const QByteArray& raw) {
  if (!anyline_) {
    anyline_ = true;
    // A server that skips the header altogether starts straight with the document.
    if (line.toUpper().startsWith("<HTML>")) {
      if (contenttype_.isEmpty()) contenttype_ = QStringLiteral("text/html");
      setstate(httpWaitingBody);
      handlebody(raw.constData(), raw.size());
      takebufferedbody();
      return;
    }
  }
  headerbytes_ += raw.size();
  if (headerbytes_ > MaxHeaderSize) {
    receivefailure(ErrorHeaderTooLong, QStringLiteral("HTTP header too long"));
    return;
  }
  rcvdheader_ << QString::fromLatin1(line);

  if (statusexpected_) {
    statusexpected_ = false;
    if (line.startsWith("HTTP/1.0") || line.startsWith("HTTP/1.1")) {
      const QByteArray code = line.mid(9, 3);
      const bool digits = code.size() == 3 && std::all_of(code.begin(), code.end(), [](char c) {
                            return c >= '0' && c <= '9';
                          });
      if (!digits) {
        receivefailure(ErrorBadResponse, QStringLiteral("Invalid status line"));
        return;
      }
      responseversion_ = QString::fromLatin1(line.mid(5, 3));
      responsecode_ = code.toInt();
      responsetext_ = QString::fromLatin1(line.mid(13));
      return;
    }
  }

  if (line.isEmpty()) {
    endofheader();
    return;
  }

  const qsizetype colon = line.indexOf(':');
  if (colon < 0) return;
  const QByteArray name = line.left(colon).toLower();
  qsizetype start = colon + 1;
  while (start < line.size() && (line.at(start) == ' ' || line.at(start) == '\t')) ++start;
  const QByteArray value = line.mid(start);
  if (name == "location") {
    relocation_ = true;
    locationvalue_ = QString::fromLatin1(value);
  } else if (name == "content-length") {
    bool ok = false;
    const qint64 length = value.trimmed().toLongLong(&ok);
    if (!ok || length < 0) {
      receivefailure(ErrorBadResponse, QStringLiteral("Invalid Content-Length"));
      return;
    }
    contentlength_ = length;
  } else if (name == "content-type") {
    contenttype_ = QString::fromLatin1(value).toLower();
  } else if (name == "connection") {
    serverclose_ = value.trimmed().toLower().contains("close");
  } else if (name == "transfer-encoding") {
    transferencoding_ = QString::fromLatin1(value.trimmed()).toLower();
    if (transferencoding_ == QLatin1String("identity")) transferencoding_.clear();
  }
}

bool THttpCli::keepalive() const {
  return responseversion_ != QLatin1String("1.0") && requestver_ != QLatin1String("1.0") &&
         !serverclose_;
}

void THttpCli::endofheader() {
  // Interim answers of HTTP/1.1 come before the real one.
  if (responseversion_ == QLatin1String("1.1") && responsecode_ >= 100 && responsecode_ < 200) {
    rcvdheader_.clear();
    headerbytes_ = 0;
    responsecode_ = 0;
    responsetext_.clear();
    statusexpected_ = true;
    return;
  }
  // These answers never carry a body, whatever their header says.
  const bool nobody = responsecode_ == 204 || responsecode_ == 304;

  if (relocation_) {
    const Target next = resolvelocation(locationvalue_);
    // The live connection can carry the next request only once this answer's body is read.
    // A body longer than the request takes is not worth reading past: the next request goes
    // on a connection of its own.
    if (keepalive() && contentlength_ >= 0 && contentlength_ <= maxbody_ && sameconnection(next)) {
      skipbody_ = nobody ? 0 : contentlength_;
      setstate(httpWaitingBody);
      if (skipbody_ == 0) {
        followrelocation();
      } else {
        takebufferedbody();
      }
    } else {
      followrelocation();
    }
    return;
  }

  if (contentlength_ > maxbody_ && !nobody) {
    receivefailure(ErrorBodyTooLong, QStringLiteral("HTTP body too long"));
    return;
  }
  if (contentlength_ != 0 && !nobody) {
    // Written out as it came, a coded body would pass for the document itself.
    if (!transferencoding_.isEmpty()) {
      receivefailure(ErrorBadResponse,
                     QStringLiteral("Unsupported transfer encoding: ") + transferencoding_);
      return;
    }
    setstate(httpWaitingBody);
    takebufferedbody();
    if (state_ == httpWaitingBody && responsecode_ >= 400) {
      dropsocket();
      finish();
    }
    return;
  }
  setstate(httpBodyReceived);
  if (!keepalive()) dropsocket();
  finish();
}

void THttpCli::takebufferedbody() {
  if (rcvcount_ == 0) return;
  const QByteArray rest(rcvbuf_, rcvcount_);
  rcvcount_ = 0;
  qint64 n = rest.size();
  if (!relocation_ && contentlength_ >= 0) n = std::min(n, contentlength_ - rcvdcount_);
  handlebody(rest.constData(), n);
}

void THttpCli::handlebody(const char* data, qint64 length) {
  // A body that keeps coming may take as long as it needs; only silence is bounded.
  if (length > 0 && watchdog_.isActive()) watchdog_.start(timeout_);
  if (relocation_) {
    skipbody_ -= std::min(length, skipbody_);
    if (skipbody_ == 0) followrelocation();
    return;
  }
  if (contentlength_ >= 0) length = std::min(length, contentlength_ - rcvdcount_);
  if (length > maxbody_ - rcvdcount_) {
    receivefailure(ErrorBodyTooLong, QStringLiteral("HTTP body too long"));
    return;
  }
  if (length > 0) {
    if (QIODevice* stream = bodystream_.data()) {
      if (stream->write(data, length) != length) {
        receivefailure(ErrorBadResponse,
                       QStringLiteral("Cannot write to body stream: ") + stream->errorString());
        return;
      }
    }
    rcvdcount_ += length;
  }
  if (contentlength_ >= 0 && rcvdcount_ >= contentlength_) {
    setstate(httpBodyReceived);
    if (!keepalive()) dropsocket();
    finish();
  }
}

THttpCli::Target THttpCli::resolvelocation(const QString& value) const {
  Target next = target_;
  const qsizetype schemeend = value.indexOf(QLatin1String("://"));
  bool absolute = schemeend > 0;
  for (qsizetype i = 0; absolute && i < schemeend; ++i) {
    absolute = value.at(i).isLetterOrNumber() || value.at(i) == QLatin1Char('+') ||
               value.at(i) == QLatin1Char('-') || value.at(i) == QLatin1Char('.');
  }
  if (absolute) {
    bool hasuser = false;
    QString user;
    QString password;
    return spliturl(value, &hasuser, &user, &password);
  }
  QString path;
  if (value.startsWith(QLatin1Char('/'))) {
    path = value;
  } else {
    QString directory = target_.path;
    const qsizetype query = directory.indexOf(QLatin1Char('?'));
    if (query >= 0) directory.truncate(query);
    directory.truncate(directory.lastIndexOf(QLatin1Char('/')) + 1);
    path = directory + value;
  }
  const qsizetype hash = path.indexOf(QLatin1Char('#'));
  if (hash >= 0) path.truncate(hash);
  next.path = path.isEmpty() ? QStringLiteral("/") : path;
  return next;
}

void THttpCli::followrelocation() {
  ++relocations_;
  if (relocations_ > MaxRelocations) {
    fail(StatusNoConnection, QStringLiteral("Too many relocations"));
    return;
  }
  const Target next = resolvelocation(locationvalue_);
  const bool reuse = keepalive() && sameconnection(next);
  target_ = next;
  location_ = address(next);
  emit LocationChange(location_);
  resetresponse();
  if (reuse) {
    reused_ = true;
    setstate(httpWaitingHeader);
    sendrequest();
    return;
  }
  reused_ = false;
  dropsocket();
  connectto();
}

void THttpCli::socketdisconnected() {
  if (sender() != socket_) return;
  // Whatever arrived just before the close still belongs to the answer.
  drain();
  if (sender() == socket_) ConnectionClosed();
}

void THttpCli::ConnectionClosed() {
  switch (state_) {
    case httpReady:
      dropsocket();  // an idle kept-alive connection went away
      return;
    case httpWaitingHeader:
      // A kept-alive connection the server dropped just as the request went out: try afresh.
      if (reused_ && !anyline_ && rcvcount_ == 0) {
        reused_ = false;
        dropsocket();
        connectto();
        return;
      }
      dropsocket();
      if (relocation_) {
        followrelocation();
      } else {
        finish();
      }
      return;
    case httpWaitingBody:
      dropsocket();
      if (relocation_) {
        followrelocation();
      } else {
        finish();
      }
      return;
    default:
      dropsocket();
      finish();
      return;
  }
}

void THttpCli::socketerror(QAbstractSocket::SocketError error) {
  if (sender() != socket_) return;
  // A close by the server is the normal end of many answers; disconnected() reports it.
  if (error == QAbstractSocket::RemoteHostClosedError) {
    if (socket_->state() == QAbstractSocket::UnconnectedState) {
      drain();
      if (sender() == socket_) ConnectionClosed();
    }
    return;
  }
  if (state_ == httpReady) {
    dropsocket();
    return;
  }
  QString text = describe(socket_->errorString(), errornumber(error));
  if (connecting_) text.prepend(QStringLiteral("can't connect: "));
  fail(StatusNoConnection, text);
}

void THttpCli::timedout() {
  if (state_ == httpReady) return;
  const bool connecting =
      state_ == httpNotConnected || state_ == httpDnsLookup || state_ == httpDnsLookupDone;
  QString text = describe(QStringLiteral("Connection timed out"), ETIMEDOUT);
  if (connecting) text.prepend(QStringLiteral("can't connect: "));
  fail(StatusNoConnection, text);
}

void THttpCli::fail(int code, const QString& text) {
  dropsocket();
  responsecode_ = code;
  responsetext_ = text;
  finish();
}

void THttpCli::receivefailure(int code, const QString& text) {
  failure_ = EHttpException(text, code);
  dropsocket();
  finish();
}

void THttpCli::dropsocket() {
  if (lookupid_ != -1) {
    QHostInfo::abortHostLookup(lookupid_);
    lookupid_ = -1;
  }
  if (!socket_) return;
  QTcpSocket* socket = socket_;
  socket_ = nullptr;
  socket->disconnect(this);
  socket->abort();
  socket->deleteLater();
}

void THttpCli::finish() {
  rcvcount_ = 0;
  skipbody_ = 0;
  if (state_ != httpReady) setstate(httpReady);
}
