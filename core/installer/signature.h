#pragma once

// Signing and checking the released installer: Ed25519 detached signatures (libsodium), 64 raw
// bytes beside the installer. The maker's secret key signs at release time; the program carries
// only the public key and starts an installer only when its signature checks out.
//
// Plain C++ without Qt: the program, the release tool and the tests share it.

#include <cstddef>
#include <string>
#include <vector>

namespace signature {

inline constexpr std::size_t publickeybytes = 32;
inline constexpr std::size_t secretkeybytes = 64;
inline constexpr std::size_t signaturebytes = 64;

using Bytes = std::vector<unsigned char>;

// A failure of the key store or of signing, with a message for the maker. The message never holds
// key material.
struct Error {
  std::string message;
};

// False when libsodium cannot be started (no entropy source); every call below then fails.
bool ready();

// True only when signature is exactly signaturebytes long, publickey exactly publickeybytes, and
// the signature was made by the key's secret half over exactly these bytes.
bool verify(const void* data, std::size_t size, const Bytes& signature, const Bytes& publickey);

// verify() over a whole file's bytes, read through a memory map so that a large installer is not
// copied into memory. False as well when the file cannot be read or is empty.
bool verifyfile(const std::string& path, const Bytes& signature, const Bytes& publickey);

// A new key pair. The secret key holds the public key in its second half.
void makekeypair(Bytes& publickey, Bytes& secretkey);

// The public half of a secret key; empty when secretkey is not a well-formed secret key (wrong
// length, or a second half that is not the first half's public key).
Bytes publicof(const Bytes& secretkey);

// The detached signature of data, or of a whole file's bytes. Empty when the secret key is not
// well formed; signfile() throws Error when the file cannot be read or is empty.
Bytes sign(const void* data, std::size_t size, const Bytes& secretkey);
Bytes signfile(const std::string& path, const Bytes& secretkey);

// Key files. A secret key file holds the secretkeybytes raw bytes and nothing else; it is created
// readable by its owner only and never overwritten. A public key file holds publickeybytes raw
// bytes. Reading throws Error when the file is missing, unreadable or of the wrong size; writing
// throws Error when the file exists already or cannot be written whole.
Bytes readkeyfile(const std::string& path, std::size_t size);
void writesecretkey(const std::string& path, const Bytes& secretkey);
// Any whole file (a signature, a public key), replacing one that is there.
void writefile(const std::string& path, const Bytes& bytes);

// Overwrites a secret key in memory before it is let go.
void wipe(Bytes& secret);

}  // namespace signature
