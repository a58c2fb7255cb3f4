#include "installer/signature.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace signature {

namespace {

static_assert(publickeybytes == crypto_sign_PUBLICKEYBYTES);
static_assert(secretkeybytes == crypto_sign_SECRETKEYBYTES);
static_assert(signaturebytes == crypto_sign_BYTES);

std::string why(const std::string& what, const std::string& path, int error) {
  return what + " " + path + ": " + std::strerror(error);
}

// A whole regular file mapped read-only for the life of the object.
class Mapped {
 public:
  explicit Mapped(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      error_ = errno;
      return;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
      error_ = errno;
    } else if (!S_ISREG(st.st_mode)) {
      error_ = EINVAL;
    } else if (st.st_size == 0) {
      error_ = ENODATA;
    } else {
      void* at = ::mmap(nullptr, std::size_t(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
      if (at == MAP_FAILED) {
        error_ = errno;
      } else {
        data_ = at;
        size_ = std::size_t(st.st_size);
      }
    }
    ::close(fd);
  }
  ~Mapped() {
    if (data_) ::munmap(data_, size_);
  }
  Mapped(const Mapped&) = delete;
  Mapped& operator=(const Mapped&) = delete;

  bool ok() const { return data_ != nullptr; }
  int error() const { return error_; }
  const void* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  void* data_ = nullptr;
  std::size_t size_ = 0;
  int error_ = 0;
};

// Writes all of bytes to a file descriptor; false with errno set when any byte cannot be written.
bool writeall(int fd, const unsigned char* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    bytes += n;
    size -= std::size_t(n);
  }
  return true;
}

}  // namespace

bool ready() {
  static const bool started = sodium_init() >= 0;
  return started;
}

bool verify(const void* data, std::size_t size, const Bytes& signature, const Bytes& publickey) {
  if (!ready() || signature.size() != signaturebytes || publickey.size() != publickeybytes) {
    return false;
  }
  return crypto_sign_verify_detached(signature.data(), static_cast<const unsigned char*>(data),
                                     size, publickey.data()) == 0;
}

bool verifyfile(const std::string& path, const Bytes& signature, const Bytes& publickey) {
  const Mapped file(path);
  return file.ok() && verify(file.data(), file.size(), signature, publickey);
}

void makekeypair(Bytes& publickey, Bytes& secretkey) {
  if (!ready()) throw Error{"the system offers no source of random numbers for a new key"};
  publickey.assign(publickeybytes, 0);
  secretkey.assign(secretkeybytes, 0);
  crypto_sign_keypair(publickey.data(), secretkey.data());
}

Bytes publicof(const Bytes& secretkey) {
  if (!ready() || secretkey.size() != secretkeybytes) return {};
  // The key is well formed when its stored public half is the one its seed makes.
  unsigned char seed[crypto_sign_SEEDBYTES];
  crypto_sign_ed25519_sk_to_seed(seed, secretkey.data());
  Bytes publickey(publickeybytes);
  Bytes remade(secretkeybytes);
  crypto_sign_seed_keypair(publickey.data(), remade.data(), seed);
  sodium_memzero(seed, sizeof seed);
  const bool same = sodium_memcmp(remade.data(), secretkey.data(), secretkeybytes) == 0;
  wipe(remade);
  return same ? publickey : Bytes{};
}

Bytes sign(const void* data, std::size_t size, const Bytes& secretkey) {
  if (publicof(secretkey).empty()) return {};
  Bytes signature(signaturebytes);
  crypto_sign_detached(signature.data(), nullptr, static_cast<const unsigned char*>(data), size,
                       secretkey.data());
  return signature;
}

Bytes signfile(const std::string& path, const Bytes& secretkey) {
  const Mapped file(path);
  if (!file.ok()) throw Error{why("cannot read", path, file.error())};
  return sign(file.data(), file.size(), secretkey);
}

Bytes readkeyfile(const std::string& path, std::size_t size) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw Error{why("cannot read the key file", path, errno)};
  // One byte more than wanted tells a longer file from a whole key.
  Bytes key(size + 1);
  std::size_t have = 0;
  while (have < key.size()) {
    const ssize_t n = ::read(fd, key.data() + have, key.size() - have);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      wipe(key);
      throw Error{why("cannot read the key file", path, error)};
    }
    if (n == 0) break;
    have += std::size_t(n);
  }
  ::close(fd);
  if (have != size) {
    wipe(key);
    throw Error{"the key file " + path + " is not a key: it should hold exactly " +
                std::to_string(size) + " bytes"};
  }
  key.resize(size);
  return key;
}

void writesecretkey(const std::string& path, const Bytes& secretkey) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) throw Error{why("cannot create the key file", path, errno)};
  const bool written = writeall(fd, secretkey.data(), secretkey.size()) && ::fsync(fd) == 0;
  const int error = errno;
  if (::close(fd) != 0 || !written) {
    ::unlink(path.c_str());
    throw Error{why("cannot write the key file", path, written ? errno : error)};
  }
}

void writefile(const std::string& path, const Bytes& bytes) {
  const std::string temporary = path + ".new";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw Error{why("cannot create", temporary, errno)};
  const bool written = writeall(fd, bytes.data(), bytes.size()) && ::fsync(fd) == 0;
  const int error = errno;
  if (::close(fd) != 0 || !written || ::rename(temporary.c_str(), path.c_str()) != 0) {
    const int late = written ? errno : error;
    ::unlink(temporary.c_str());
    throw Error{why("cannot write", path, late)};
  }
}

void wipe(Bytes& secret) {
  if (!secret.empty()) sodium_memzero(secret.data(), secret.size());
  secret.clear();
}

}  // namespace signature
