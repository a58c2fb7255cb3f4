// Background HTTP text fetch: one URL fetched on a worker thread, the body handed back to the
// thread the component lives on (the user-interface thread) through OnDoneString or OnError.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <chrono>
#include <cstddef>
#include <memory>

// The bounds a fetch is held to, so that a hostile or stuck server can neither exhaust memory nor
// keep a worker busy for ever. Kept together so they are changed in one place.
namespace httpgetlimits {
inline constexpr std::size_t kMaxBodyBytes = 8u * 1024u * 1024u;
inline constexpr std::chrono::milliseconds kConnectTimeout{15000};
inline constexpr std::chrono::milliseconds kFetchTimeout{60000};
}  // namespace httpgetlimits

// Where a fetch of a URL goes: the host (with any port) and the object exactly as it is sent on
// the request line. usable is false when the host is empty or cannot be a host name, in which
// case the fetch fails without connecting anywhere.
struct HttpGetTarget {
  QByteArray host;
  QByteArray object;
  bool usable = false;
};
HttpGetTarget httpgetsplit(const QByteArray& url);

class THTTPGet : public QObject {
  Q_OBJECT

 public:
  // The bounds of one fetch. Defaults are the program's; tests and tools may tighten them.
  struct Limits {
    std::size_t maxbodybytes = httpgetlimits::kMaxBodyBytes;
    std::chrono::milliseconds connecttimeout = httpgetlimits::kConnectTimeout;
    std::chrono::milliseconds fetchtimeout = httpgetlimits::kFetchTimeout;
  };

  explicit THTTPGet(QObject* parent = nullptr);
  // Stops a running fetch; nothing of its worker reaches this object afterwards.
  ~THTTPGet() override;

  QString AcceptTypes() const { return accepttypes_; }
  void setAcceptTypes(const QString& value) { accepttypes_ = value; }
  QString Agent() const { return agent_; }
  void setAgent(const QString& value) { agent_ = value; }
  bool BinaryData() const { return binarydata_; }
  void setBinaryData(bool value) { binarydata_ = value; }
  QString URL() const { return url_; }
  void setURL(const QString& value) { url_ = value; }
  bool UseCache() const { return usecache_; }
  void setUseCache(bool value) { usecache_ = value; }
  QString UserName() const { return username_; }
  void setUserName(const QString& value) { username_ = value; }
  QString Password() const { return password_; }
  void setPassword(const QString& value) { password_ = value; }
  QString PostQuery() const { return postquery_; }
  void setPostQuery(const QString& value) { postquery_ = value; }
  QString Referer() const { return referer_; }
  void setReferer(const QString& value) { referer_ = value; }
  bool WaitThread() const { return waitthread_; }
  void setWaitThread(bool value) { waitthread_ = value; }

  Limits limits() const { return limits_; }
  void setLimits(const Limits& value) { limits_ = value; }

  // Starts fetching URL in the background and returns at once; ignored while a fetch runs.
  void StartFetch();
  // Asks the running worker to stop; its completion then reports a failure.
  void AbortFetch();
  // True from StartFetch until the completion handlers have returned.
  bool busy() const { return static_cast<bool>(running_); }
  // The HTTP status of the answer to the fetch whose OnDoneString or OnError is being raised (and
  // of the last one after it), 0 when no answer came at all (no connection, a time-out). Handlers
  // tell a refusal ("429", "500") from silence by it.
  int status() const { return status_; }

  // Workers still alive in the process, including those of destroyed components.
  static int activeworkers();

  struct Job;

 signals:
  void OnDoneString(THTTPGet* Sender, const QByteArray& Result);
  void OnError(THTTPGet* Sender);

 private:
  friend struct Job;

  QString accepttypes_ = QStringLiteral("*/*");
  QString agent_ = QStringLiteral("Orvandi HTTPGet");
  bool binarydata_ = false;
  QString url_;
  bool usecache_ = false;
  QString username_;
  QString password_;
  QString postquery_;
  QString referer_;
  bool waitthread_ = false;
  Limits limits_;
  int status_ = 0;

  std::shared_ptr<Job> running_;
};
