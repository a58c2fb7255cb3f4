#include "installer/manifest.h"

#include <fcntl.h>
#include <sodium.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace manifest {

namespace {

// The line names, in the only order a manifest has them.
constexpr const char* fields[] = {"product", "version", "installer", "length", "blake2b-256"};
constexpr std::string_view signatureword = "signature ";

bool isdigit(char c) {
  return c >= '0' && c <= '9';
}

// A field value the manifest can carry: printable, no blank, not empty.
bool isword(std::string_view text) {
  if (text.empty() || text.size() > 255) return false;
  for (const char c : text) {
    if (c <= ' ' || c > '~') return false;
  }
  return true;
}

std::string tohex(const unsigned char* bytes, std::size_t size) {
  std::string hex(size * 2 + 1, '\0');
  sodium_bin2hex(hex.data(), hex.size(), bytes, size);
  hex.pop_back();
  return hex;
}

// Lower-case hex of exactly size bytes; nothing else is taken.
std::optional<signature::Bytes> fromhex(std::string_view hex, std::size_t size) {
  if (hex.size() != size * 2) return std::nullopt;
  signature::Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) {
    int value = 0;
    for (std::size_t k = 0; k < 2; ++k) {
      const char c = hex[i * 2 + k];
      int digit = -1;
      if (c >= '0' && c <= '9') digit = c - '0';
      if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
      if (digit < 0) return std::nullopt;
      value = value * 16 + digit;
    }
    bytes[i] = static_cast<unsigned char>(value);
  }
  return bytes;
}

// A plain decimal number without sign or leading zero that fits 64 bits.
std::optional<std::uint64_t> fromdecimal(std::string_view text) {
  if (text.empty() || text.size() > 19 || (text.size() > 1 && text[0] == '0')) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (!isdigit(c)) return std::nullopt;
    value = value * 10 + std::uint64_t(c - '0');
  }
  return value;
}

std::string body(const Release& release) {
  return std::string(fields[0]) + ' ' + release.product + '\n' + fields[1] + ' ' + release.version +
         '\n' + fields[2] + ' ' + release.installer + '\n' + fields[3] + ' ' +
         std::to_string(release.length) + '\n' + fields[4] + ' ' +
         tohex(release.hash.data(), release.hash.size()) + '\n';
}

}  // namespace

bool isversion(std::string_view text) {
  if (text.empty() || text.size() > maxversion) return false;
  if (!isdigit(text.front()) || !isdigit(text.back())) return false;
  char previous = '\0';
  for (const char c : text) {
    if (c == '.') {
      if (previous == '.') return false;
    } else if (!isdigit(c)) {
      return false;
    }
    previous = c;
  }
  return true;
}

int compareversions(std::string_view a, std::string_view b) {
  // Number by number; a missing number counts as 0, and leading zeros count for nothing, so
  // that no number is ever too large to compare.
  auto next = [](std::string_view& text) {
    const std::size_t dot = text.find('.');
    std::string_view number = text.substr(0, dot);
    text = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
    while (number.size() > 1 && number.front() == '0') number.remove_prefix(1);
    return number.empty() ? std::string_view("0") : number;
  };
  while (!a.empty() || !b.empty()) {
    const std::string_view x = next(a);
    const std::string_view y = next(b);
    if (x.size() != y.size()) return x.size() < y.size() ? -1 : 1;
    const int order = x.compare(y);
    if (order != 0) return order < 0 ? -1 : 1;
  }
  return 0;
}

std::string write(const Release& release, const signature::Bytes& secretkey) {
  if (!isword(release.product) || !isversion(release.version) || !isword(release.installer) ||
      release.hash.size() != hashbytes) {
    return {};
  }
  const std::string text = body(release);
  const signature::Bytes sig = signature::sign(text.data(), text.size(), secretkey);
  if (sig.size() != signature::signaturebytes) return {};
  return text + std::string(signatureword) + tohex(sig.data(), sig.size()) + '\n';
}

std::optional<Release> read(std::string_view text, const signature::Bytes& publickey) {
  if (text.size() > maxbytes || text.empty() || text.back() != '\n') return std::nullopt;
  const std::size_t signatureat = text.rfind("\nsignature ");
  if (signatureat == std::string_view::npos) return std::nullopt;
  const std::string_view signedpart = text.substr(0, signatureat + 1);
  std::string_view sigline = text.substr(signatureat + 1 + signatureword.size());
  sigline.remove_suffix(1);
  const auto sig = fromhex(sigline, signature::signaturebytes);
  if (!sig || !signature::verify(signedpart.data(), signedpart.size(), *sig, publickey)) {
    return std::nullopt;
  }

  // Signed, but still read as strictly as it was written: the same lines in the same order.
  std::string_view rest = signedpart;
  std::string_view values[std::size(fields)];
  for (std::size_t i = 0; i < std::size(fields); ++i) {
    const std::size_t end = rest.find('\n');
    if (end == std::string_view::npos) return std::nullopt;
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end + 1);
    const std::string_view name = fields[i];
    if (line.size() <= name.size() + 1 || line.substr(0, name.size()) != name ||
        line[name.size()] != ' ') {
      return std::nullopt;
    }
    values[i] = line.substr(name.size() + 1);
  }
  if (!rest.empty()) return std::nullopt;

  Release release;
  release.product = std::string(values[0]);
  release.version = std::string(values[1]);
  release.installer = std::string(values[2]);
  const auto length = fromdecimal(values[3]);
  const auto hash = fromhex(values[4], hashbytes);
  if (!isword(release.product) || !isversion(release.version) || !isword(release.installer) ||
      !length || !hash) {
    return std::nullopt;
  }
  release.length = *length;
  release.hash = *hash;
  return release;
}

std::optional<signature::Bytes> hashfile(const std::string& path, std::uint64_t* length) {
  if (!signature::ready()) return std::nullopt;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  crypto_generichash_state state;
  crypto_generichash_init(&state, nullptr, 0, hashbytes);
  std::vector<unsigned char> buffer(1 << 16);
  std::uint64_t total = 0;
  for (;;) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    crypto_generichash_update(&state, buffer.data(), std::size_t(n));
    total += std::uint64_t(n);
  }
  ::close(fd);
  signature::Bytes hash(hashbytes);
  crypto_generichash_final(&state, hash.data(), hash.size());
  if (length) *length = total;
  return hash;
}

}  // namespace manifest
