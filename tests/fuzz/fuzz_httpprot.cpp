// The download client's receive path, fed what a server could send, as the socket would hand it
// over: in one piece, or cut at arbitrary points. However the bytes are cut, the client reads the
// same answer; it writes nothing to the body stream that the server did not send as body, never
// more than an announced length, and always ends ready when told the connection closed.
//
// Input: a flags byte, a count k, k 16-bit cut positions, then the server's bytes.
#include <QBuffer>
#include <QCoreApplication>
#include <QList>

#include <algorithm>
#include <vector>

#include "online/httpprot.h"
#include "tests/fuzz/fuzzsupport.h"
#include "tests/support/fulldisk.h"

namespace {

class FedClient : public THttpCli {
 public:
  using THttpCli::ConnectionClosed;
  using THttpCli::ExpectResponse;
  void feed(const QByteArray& bytes) { ProcessReceived(bytes.constData(), bytes.size()); }
};

struct Result {
  int code = 0;
  QString text;
  QString version;
  QByteArray body;
  QStringList header;
  qint64 length = -1;
  qint64 received = 0;
  QString type;
  THttpCli::THttpState state = THttpCli::httpReady;
  int relocations = 0;
  QString location;
  bool operator==(const Result&) const = default;
};

enum Flags : std::uint8_t {
  kVersion11 = 1,
  kClose = 2,
  kNoStream = 4,
  kFullDisk = 8,
};

Result receive(const QByteArray& answer, const std::vector<qsizetype>& cuts, std::uint8_t flags) {
  Result r;
  {
    FedClient client;
    if (flags & kVersion11) client.setRequestVer(QStringLiteral("1.1"));
    FullDisk sink((flags & kFullDisk) ? qint64(flags >> 4) * 97 : qint64(1) << 40);
    if (!(flags & kNoStream)) client.setBodyStream(&sink);
    client.ExpectResponse();
    qsizetype at = 0;
    for (qsizetype cut : cuts) {
      client.feed(answer.mid(at, cut - at));
      at = cut;
    }
    client.feed(answer.mid(at));
    if (flags & kClose) client.ConnectionClosed();

    r.code = client.ResponseCode();
    r.text = client.ResponseText();
    r.version = client.ResponseVersion();
    r.body = sink.written;
    r.header = client.RcvdHeader();
    r.length = client.ContentLength();
    r.received = client.RcvdCount();
    r.type = client.ContentType();
    r.state = client.State();
    r.relocations = client.RelocationCount();
    r.location = client.Location();

    // Nothing but the server's own bytes, and never beyond an announced length.
    if (!(flags & kNoStream)) {
      FUZZ_CHECK(r.body.size() == r.received);
      FUZZ_CHECK(r.body.isEmpty() || answer.contains(r.body));
    }
    FUZZ_CHECK(r.length < 0 || r.received <= r.length);
    FUZZ_CHECK(r.relocations <= THttpCli::MaxRelocations + 1);
    // A closed connection ends the request, unless it went on to a relocation's host.
    if (flags & kClose)
      FUZZ_CHECK(r.state == THttpCli::httpReady || r.state == THttpCli::httpDnsLookup);
    client.Abort();
    FUZZ_CHECK(client.State() == THttpCli::httpReady);
  }
  // Lookups the client started may still post their answers; with the client gone they are
  // dropped here, so nothing piles up from one input to the next.
  QCoreApplication::processEvents();
  return r;
}

void describe(const char* how, const Result& r) {
  std::fprintf(stderr,
               "%s: status %d \"%s\" version \"%s\" state %d length %lld received %lld type \"%s\""
               " relocations %d location \"%s\" body %lld bytes, header:\n",
               how, r.code, qPrintable(r.text), qPrintable(r.version), int(r.state),
               static_cast<long long>(r.length), static_cast<long long>(r.received),
               qPrintable(r.type), r.relocations, qPrintable(r.location),
               static_cast<long long>(r.body.size()));
  for (const QString& line : r.header) std::fprintf(stderr, "  %s\n", qPrintable(line));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  static QCoreApplication app(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Reader input(data, size);
  const std::uint8_t flags = input.byte();
  const int count = input.byte() & 15;
  std::vector<qsizetype> cuts;
  for (int i = 0; i < count; ++i) cuts.push_back(input.word());
  const std::string_view rest = input.rest();
  const QByteArray answer(rest.data(), qsizetype(rest.size()));
  for (qsizetype& cut : cuts) cut %= answer.size() + 1;
  std::sort(cuts.begin(), cuts.end());

  Result whole = receive(answer, {}, flags);
  Result pieces = receive(answer, cuts, flags);
  // How much fits on a full disk depends on the pieces the writes came in, and so does how much
  // of an error answer's body came with its header and was written before the connection was
  // dropped; nothing else may.
  if ((flags & kFullDisk) || (whole.code >= 400 && pieces.code == whole.code)) {
    whole.body = pieces.body = {};
    whole.received = pieces.received = 0;
  }
  if (!(whole == pieces)) {
    describe("in one piece", whole);
    describe("cut", pieces);
  }
  FUZZ_CHECK(whole == pieces);
  return 0;
}
