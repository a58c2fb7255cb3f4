#include "online/httpget.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

#include <curl/curl.h>
#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "online/urltext.h"

namespace {

std::atomic<int> liveworkers{0};

// Copies of the component's settings, taken when a fetch starts, so later changes to the
// component never reach a running worker.
struct Request {
  QByteArray url;
  QByteArray accepttypes;
  QByteArray agent;
  QByteArray username;
  QByteArray password;
  QByteArray postquery;
  QByteArray referer;
  bool binarydata = false;
  bool usecache = false;
  THTTPGet::Limits limits;
};

}  // namespace

// What a worker shares with the user-interface thread. The worker never sees the component; the
// component is reached only through `owner`, which is read and cleared on the user-interface thread
// alone, so a destroyed component cannot be touched by a late worker.
struct THTTPGet::Job {
  Request request;
  std::atomic<bool> stop{false};

  THTTPGet* owner = nullptr;

  // The worker waits here until its completion has run (or can never run), so the handlers see a
  // worker that is still alive, as callers expect of a synchronous hand-over. The result travels
  // under the same lock, so its hand-over does not rest on how the event queue is built.
  std::mutex handovermutex;
  std::condition_variable handoverdone;
  bool released = false;
  QByteArray body;
  bool succeeded = false;
  int status = 0;

  void finish(QByteArray result, int answered) {
    std::lock_guard lock(handovermutex);
    succeeded = !result.isEmpty();
    body = std::move(result);
    status = answered;
  }

  void release() {
    {
      std::lock_guard lock(handovermutex);
      released = true;
    }
    handoverdone.notify_all();
  }

  void waitreleased() {
    std::unique_lock lock(handovermutex);
    handoverdone.wait(lock, [this] { return released; });
  }

  // Runs on the user-interface thread while the worker waits.
  static void deliver(const std::shared_ptr<Job>& job) {
    if (THTTPGet* sender = job->owner) {
      QByteArray result;
      bool ok = false;
      {
        std::lock_guard lock(job->handovermutex);
        result = job->body;
        ok = job->succeeded && !job->stop;
        sender->status_ = job->stop ? 0 : job->status;
      }
      if (ok) {
        emit sender->OnDoneString(sender, result);
      } else {
        emit sender->OnError(sender);
      }
      // Idle only now, so a StartFetch from inside the handler was ignored. A handler that
      // destroyed the component has already cleared `owner`.
      if (THTTPGet* stillthere = job->owner) {
        job->owner = nullptr;
        stillthere->running_.reset();
      }
    }
    job->release();
  }
};

namespace {

using Job = THTTPGet::Job;

const QEvent::Type kCompletionEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// Carries one finished fetch to the user-interface thread. An event that Qt throws away unrun
// (the application shutting down) still lets its worker go, so no worker waits for ever.
class CompletionEvent : public QEvent {
 public:
  explicit CompletionEvent(std::shared_ptr<Job> job)
      : QEvent(kCompletionEvent), job_(std::move(job)) {}
  ~CompletionEvent() override { job_->release(); }
  const std::shared_ptr<Job>& job() const { return job_; }

 private:
  std::shared_ptr<Job> job_;
};

// Lives on the user-interface thread for the whole run and is never destroyed, so a worker can
// always post to it, whatever became of the component that started the fetch.
class Dispatcher : public QObject {
 public:
  bool event(QEvent* e) override {
    if (e->type() == kCompletionEvent) {
      Job::deliver(static_cast<CompletionEvent*>(e)->job());
      return true;
    }
    return QObject::event(e);
  }
};

Dispatcher* dispatcher() {
  static Dispatcher* const instance = [] {
    auto* d = new Dispatcher;
    if (QCoreApplication* app = QCoreApplication::instance()) d->moveToThread(app->thread());
    return d;
  }();
  return instance;
}

// libcurl is opened on the first fetch instead of being linked: it brings two dozen libraries
// (TLS, Kerberos, LDAP, SSH, ...) that would otherwise all be loaded and relocated before the
// first window appears, for a fetch that may come late or never. These are all the entry points
// the fetch uses; the header's declarations fix their types.
struct CurlLibrary {
  decltype(&curl_global_init) global_init = nullptr;
  decltype(&curl_easy_init) easy_init = nullptr;
  decltype(&curl_easy_setopt) easy_setopt = nullptr;
  decltype(&curl_easy_perform) easy_perform = nullptr;
  decltype(&curl_easy_cleanup) easy_cleanup = nullptr;
  decltype(&curl_slist_append) slist_append = nullptr;
  decltype(&curl_slist_free_all) slist_free_all = nullptr;
};

template <typename Function>
bool resolve(void* library, const char* name, Function& entry) {
  entry = reinterpret_cast<Function>(dlsym(library, name));
  return entry != nullptr;
}

// Opening libcurl also sets OpenSSL up, and a program that ends meanwhile tears OpenSSL down under
// the worker's feet. So a worker opens it only under this lock and only for a fetch still wanted,
// and a component going away calls its fetch off under the same lock: once it is gone, and the
// program perhaps ending, no opening is under way on its behalf.
std::mutex curlopening;

// Opened and initialised once, by whichever worker comes first, and kept for the process's life.
// nullptr when the library or one of its entry points is missing: every fetch then fails.
const CurlLibrary* curllibrary() {
  static const CurlLibrary* const loaded = []() -> const CurlLibrary* {
    void* library = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
    if (!library) return nullptr;
    static CurlLibrary curl;
    const bool complete = resolve(library, "curl_global_init", curl.global_init) &&
                          resolve(library, "curl_easy_init", curl.easy_init) &&
                          resolve(library, "curl_easy_setopt", curl.easy_setopt) &&
                          resolve(library, "curl_easy_perform", curl.easy_perform) &&
                          resolve(library, "curl_easy_cleanup", curl.easy_cleanup) &&
                          resolve(library, "curl_slist_append", curl.slist_append) &&
                          resolve(library, "curl_slist_free_all", curl.slist_free_all);
    if (!complete) return nullptr;
    curl.global_init(CURL_GLOBAL_DEFAULT);
    return &curl;
  }();
  return loaded;
}

// The library for a fetch still wanted, opened if need be; nullptr when the fetch was called off
// or the library cannot be had.
const CurlLibrary* curlfor(const Job& job) {
  std::lock_guard opening(curlopening);
  return job.stop ? nullptr : curllibrary();
}

// URL split: an optional "http://" in any letter case, the host up to the first "/", the object
// from that "/" on. A host may name a port ("host:8080"); self-hosted servers need one.
struct Target {
  QByteArray host;
  QByteArray object;
};

Target spliturl(const QByteArray& url) {
  QByteArray rest = url;
  if (rest.left(7).toLower() == "http://") rest = rest.mid(7);
  const qsizetype slash = rest.indexOf('/');
  if (slash < 0) return {QByteArray(), rest};
  return {rest.left(slash), rest.mid(slash)};
}

bool hostisusable(const QByteArray& host) {
  if (host.isEmpty()) return false;
  for (char c : host) {
    const auto u = static_cast<unsigned char>(c);
    // "@" would smuggle credentials into the address; the rest cannot belong to a host name.
    if (u <= 0x20 || u >= 0x7f || c == '@' || c == '?' || c == '#' || c == '\\') return false;
  }
  return true;
}

bool isheadersafe(const QByteArray& value) {
  return !value.contains('\r') && !value.contains('\n') && !value.contains('\0');
}

// The state of one transfer as the curl callbacks see it.
struct Transfer {
  Job* job = nullptr;
  QByteArray body;
  int status = 0;
  qint64 contentlength = -1;  // -1: no usable Content-Length header
  bool sawcontentlength = false;
  bool complete = false;  // all bytes a valid Content-Length announced have arrived
};

size_t onheader(char* data, size_t size, size_t count, void* userdata) {
  auto* t = static_cast<Transfer*>(userdata);
  const size_t n = size * count;
  if (t->job->stop) return 0;
  const QByteArray line(data, static_cast<qsizetype>(n));

  if (line.startsWith("HTTP/")) {
    // A new response begins (an interim 1xx is followed by the real one).
    const QList<QByteArray> parts = line.simplified().split(' ');
    t->status = parts.size() > 1 ? parts[1].toInt() : 0;
    t->contentlength = -1;
    t->sawcontentlength = false;
    return n;
  }

  const QByteArray trimmed = line.trimmed();
  if (trimmed.isEmpty()) {
    if (t->status >= 100 && t->status < 200) return n;
    const Request& r = t->job->request;
    // A binary body is only trusted when its length is announced; it is then not read at all.
    if (r.binarydata && t->contentlength < 0) return 0;
    if (t->contentlength > static_cast<qint64>(r.limits.maxbodybytes)) return 0;
    if (t->contentlength == 0) t->complete = true;
    return n;
  }

  const qsizetype colon = trimmed.indexOf(':');
  if (colon > 0 && trimmed.left(colon).trimmed().toLower() == "content-length") {
    if (t->sawcontentlength) return n;  // the first header counts, as it always has
    t->sawcontentlength = true;
    const QByteArray value = trimmed.mid(colon + 1).trimmed();
    // A value that is not a plain decimal number is ignored: the body is then read to its end.
    const bool digitsonly =
        !value.isEmpty() && value.size() <= 18 &&
        std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (digitsonly) t->contentlength = value.toLongLong();
  }
  return n;
}

size_t onbody(char* data, size_t size, size_t count, void* userdata) {
  auto* t = static_cast<Transfer*>(userdata);
  const size_t n = size * count;
  if (t->job->stop || t->complete) return 0;
  qsizetype take = static_cast<qsizetype>(n);
  if (t->contentlength >= 0) take = std::min<qint64>(take, t->contentlength - t->body.size());
  if (static_cast<size_t>(t->body.size()) + static_cast<size_t>(take) >
      t->job->request.limits.maxbodybytes) {
    return 0;
  }
  t->body.append(data, take);
  if (t->contentlength >= 0 && t->body.size() >= t->contentlength) {
    // Everything announced has arrived; a server that keeps the connection open must not make
    // the fetch wait for its time limit. Ending the transfer here is recognised as success.
    t->complete = true;
    return 0;
  }
  return n;
}

int onprogress(void* userdata, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<Transfer*>(userdata)->job->stop ? 1 : 0;
}

// Handles exist only once the library is loaded.
struct CurlDeleter {
  void operator()(CURL* c) const { curllibrary()->easy_cleanup(c); }
};
struct SlistDeleter {
  void operator()(curl_slist* l) const { curllibrary()->slist_free_all(l); }
};

bool addheader(std::unique_ptr<curl_slist, SlistDeleter>& list, const QByteArray& header) {
  curl_slist* grown = curllibrary()->slist_append(list.get(), header.constData());
  if (!grown) return false;
  list.release();
  list.reset(grown);
  return true;
}

// Returns the body on success; an empty array means the fetch failed. status: the status of the
// answer the server gave, 0 when none came.
QByteArray perform(Job& job, int& status) {
  const Request& r = job.request;
  if (job.stop) return {};

  const HttpGetTarget target = httpgetsplit(r.url);
  if (!target.usable) return {};
  for (const QByteArray* v : {&r.accepttypes, &r.agent, &r.username, &r.password, &r.referer}) {
    if (!isheadersafe(*v)) return {};
  }

  const CurlLibrary* curl = curlfor(job);
  if (!curl) return {};
  std::unique_ptr<CURL, CurlDeleter> handle(curl->easy_init());
  if (!handle) return {};
  CURL* c = handle.get();

  const QByteArray base = "http://" + target.host + "/";
  curl->easy_setopt(c, CURLOPT_URL, base.constData());
  curl->easy_setopt(c, CURLOPT_REQUEST_TARGET, target.object.constData());
  curl->easy_setopt(c, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
  curl->easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http");
  curl->easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
  // The program reads no environment variables, so no proxy is taken from http_proxy and the
  // like: an empty proxy name switches curl's own lookup off.
  curl->easy_setopt(c, CURLOPT_PROXY, "");
  curl->easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl->easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS,
                    static_cast<long>(r.limits.connecttimeout.count()));
  curl->easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(r.limits.fetchtimeout.count()));
  // The connect time-out bounds the name lookup too, but a lookup the resolver has not given up
  // on would still be waited for when the handle is cleaned up: a name that never resolves would
  // hold the worker, and with it the component, long after the fetch has failed.
  curl->easy_setopt(c, CURLOPT_QUICK_EXIT, 1L);
  // The body's length is judged here, so that a malformed header is ignored instead of ending
  // the fetch, and a length beyond the limit is refused before anything is read.
  curl->easy_setopt(c, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);

  if (!r.agent.isEmpty()) curl->easy_setopt(c, CURLOPT_USERAGENT, r.agent.constData());
  if (!r.referer.isEmpty()) curl->easy_setopt(c, CURLOPT_REFERER, r.referer.constData());
  if (!r.username.isEmpty() || !r.password.isEmpty()) {
    curl->easy_setopt(c, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    curl->easy_setopt(c, CURLOPT_USERNAME, r.username.constData());
    curl->easy_setopt(c, CURLOPT_PASSWORD, r.password.constData());
  }

  std::unique_ptr<curl_slist, SlistDeleter> headers;
  // "Name;" is curl's way of sending a header with an empty value.
  bool listed = addheader(
      headers, r.accepttypes.isEmpty() ? QByteArray("Accept;") : "Accept: " + r.accepttypes);
  if (!r.usecache) {
    listed = listed && addheader(headers, "Cache-Control: no-cache") &&
             addheader(headers, "Pragma: no-cache");
  }
  if (!r.postquery.isEmpty()) {
    listed = listed && addheader(headers, "Content-Type: application/x-www-form-urlencoded") &&
             addheader(headers, "Expect:");
    curl->easy_setopt(c, CURLOPT_POST, 1L);
    curl->easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(r.postquery.size()));
    curl->easy_setopt(c, CURLOPT_POSTFIELDS, r.postquery.constData());
  }
  if (!listed) return {};
  curl->easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());

  Transfer transfer;
  transfer.job = &job;
  curl->easy_setopt(c, CURLOPT_HEADERFUNCTION, onheader);
  curl->easy_setopt(c, CURLOPT_HEADERDATA, &transfer);
  curl->easy_setopt(c, CURLOPT_WRITEFUNCTION, onbody);
  curl->easy_setopt(c, CURLOPT_WRITEDATA, &transfer);
  curl->easy_setopt(c, CURLOPT_XFERINFOFUNCTION, onprogress);
  curl->easy_setopt(c, CURLOPT_XFERINFODATA, &transfer);
  curl->easy_setopt(c, CURLOPT_NOPROGRESS, 0L);

  const CURLcode rc = curl->easy_perform(c);
  if (job.stop) return {};
  status = transfer.status;
  const bool finished = rc == CURLE_OK || (rc == CURLE_WRITE_ERROR && transfer.complete);
  if (!finished) return {};
  return transfer.body;
}

void runworker(std::shared_ptr<Job> job, Dispatcher* target) {
  int status = 0;
  try {
    QByteArray body = perform(*job, status);
    job->finish(std::move(body), status);
  } catch (...) {
    // Nothing may escape a worker; whatever went wrong is a failed fetch.
    job->finish({}, status);
  }
  QCoreApplication::postEvent(target, new CompletionEvent(job));
  job->waitreleased();
  job.reset();
  liveworkers.fetch_sub(1);
}

}  // namespace

THTTPGet::THTTPGet(QObject* parent) : QObject(parent) {}

THTTPGet::~THTTPGet() {
  {
    // Waits for an opening of libcurl under way; see curlopening.
    std::lock_guard opening(curlopening);
    AbortFetch();
  }
  if (running_) {
    running_->owner = nullptr;
    // The worker need not wait for a hand-over that will deliver nothing.
    running_->release();
    running_.reset();
  }
}

void THTTPGet::StartFetch() {
  if (running_) return;

  auto job = std::make_shared<Job>();
  Request& r = job->request;
  r.url = url_.toUtf8();
  r.accepttypes = accepttypes_.toUtf8();
  r.agent = agent_.toUtf8();
  r.username = username_.toUtf8();
  r.password = password_.toUtf8();
  r.postquery = postquery_.toUtf8();
  r.referer = referer_.toUtf8();
  r.binarydata = binarydata_;
  r.usecache = usecache_;
  r.limits = limits_;
  job->owner = this;

  // Recorded as running before the worker exists, so its completion can never be missed.
  running_ = job;
  Dispatcher* target = dispatcher();
  liveworkers.fetch_add(1);
  try {
    std::thread(runworker, job, target).detach();
  } catch (const std::system_error&) {
    // No thread to be had: report the failure the usual way, later, on this thread.
    liveworkers.fetch_sub(1);
    QCoreApplication::postEvent(target, new CompletionEvent(job));
  }

  if (waitthread_) QCoreApplication::processEvents();
}

void THTTPGet::AbortFetch() {
  if (running_) running_->stop = true;
}

int THTTPGet::activeworkers() {
  return liveworkers.load();
}

HttpGetTarget httpgetsplit(const QByteArray& url) {
  const Target target = spliturl(url);
  return {target.host, escapeunsafe(target.object), hostisusable(target.host)};
}
