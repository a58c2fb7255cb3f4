// The background fetch's address comes from the settings file and the program's own texts, so it
// can hold anything. Whatever it holds, the split gives a host that cannot smuggle anything into
// the connection and an object that cannot break the request line, and the "http://" prefix is
// recognised in any letter case.
#include <QByteArray>

#include "online/httpget.h"
#include "tests/fuzz/fuzzsupport.h"

namespace {

bool safeonthewire(const QByteArray& bytes) {
  for (char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7f) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QByteArray url(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const HttpGetTarget target = httpgetsplit(url);

  if (target.usable) {
    FUZZ_CHECK(!target.host.isEmpty());
    FUZZ_CHECK(safeonthewire(target.host));
    for (char c : {'/', '@', '?', '#', '\\'}) FUZZ_CHECK(!target.host.contains(c));
    FUZZ_CHECK(target.object.startsWith('/'));
    FUZZ_CHECK(safeonthewire(target.object));
    // The host is the address's own text, right after any prefix.
    const QByteArray rest = url.left(7).toLower() == "http://" ? url.mid(7) : url;
    FUZZ_CHECK(rest.startsWith(target.host + '/'));
  }

  // The prefix in capitals or in lower case leads to the same place.
  const HttpGetTarget upper = httpgetsplit("HTTP://" + url);
  const HttpGetTarget lower = httpgetsplit("http://" + url);
  FUZZ_CHECK(upper.host == lower.host && upper.object == lower.object &&
             upper.usable == lower.usable);
  return 0;
}
