#include "online/urltext.h"

QByteArray escapeunsafe(const QByteArray& bytes) {
  static const char hex[] = "0123456789ABCDEF";
  QByteArray out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7f) {
      out += '%';
      out += hex[u >> 4];
      out += hex[u & 0x0f];
    } else {
      out += c;
    }
  }
  return out;
}
