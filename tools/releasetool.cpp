// pipshift-release: the maker's tool for the release key and the installer's signature.
//
//   pipshift-release keygen SECRET PUBLIC    makes a new key pair; never replaces a key file
//   pipshift-release public SECRET PUBLIC    writes the public half of a secret key
//   pipshift-release sign SECRET FILE SIG    writes FILE's detached signature, 64 raw bytes
//   pipshift-release verify PUBLIC FILE SIG  exit 0 when SIG is PUBLIC's signature of FILE
//   pipshift-release manifest SECRET INSTALLER PRODUCT VERSION OUT
//                                            writes the signed release manifest of INSTALLER
//   pipshift-release checkmanifest PUBLIC MANIFEST [INSTALLER]
//                                            exit 0 when MANIFEST is signed by PUBLIC (and
//                                            INSTALLER has its length and hash); prints it
//   pipshift-release keyunit SECRET OUT [--create]
//                                            writes the C++ unit that builds the public key into
//                                            the program; --create makes SECRET first when it is
//                                            missing (the build's own development key)
//
// Nothing it prints ever holds a secret key's bytes.

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "installer/manifest.h"
#include "installer/signature.h"

namespace {

using signature::Bytes;

int usage() {
  std::fputs(
      "usage: pipshift-release keygen SECRET PUBLIC\n"
      "       pipshift-release public SECRET PUBLIC\n"
      "       pipshift-release sign SECRET FILE SIG\n"
      "       pipshift-release verify PUBLIC FILE SIG\n"
      "       pipshift-release manifest SECRET INSTALLER PRODUCT VERSION OUT\n"
      "       pipshift-release checkmanifest PUBLIC MANIFEST [INSTALLER]\n"
      "       pipshift-release keyunit SECRET OUT.cpp [--create]\n",
      stderr);
  return 2;
}

bool exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// A secret key held in memory, overwritten however the holder is left.
struct SecretKey {
  Bytes bytes;
  SecretKey() = default;
  SecretKey(const SecretKey&) = delete;
  SecretKey& operator=(const SecretKey&) = delete;
  ~SecretKey() { signature::wipe(bytes); }
};

// The secret key in a key file, checked to be whole.
void readsecret(const std::string& path, SecretKey& secret) {
  secret.bytes = signature::readkeyfile(path, signature::secretkeybytes);
  if (signature::publicof(secret.bytes).empty()) {
    throw signature::Error{"the key file " + path + " is not a secret release key"};
  }
}

// A new key pair; the secret half goes to a file of its own that did not exist before.
Bytes makekey(const std::string& secretpath) {
  if (exists(secretpath)) throw signature::Error{"will not replace the key file " + secretpath};
  Bytes publickey;
  SecretKey secret;
  signature::makekeypair(publickey, secret.bytes);
  signature::writesecretkey(secretpath, secret.bytes);
  return publickey;
}

Bytes publicfrom(const std::string& secretpath) {
  SecretKey secret;
  readsecret(secretpath, secret);
  return signature::publicof(secret.bytes);
}

void signfile(const std::string& secretpath, const std::string& file, const std::string& sigpath) {
  Bytes sig;
  {
    SecretKey secret;
    readsecret(secretpath, secret);
    sig = signature::signfile(file, secret.bytes);
  }
  signature::writefile(sigpath, sig);
}

bool verifyfile(const std::string& publicpath, const std::string& file,
                const std::string& sigpath) {
  const Bytes publickey = signature::readkeyfile(publicpath, signature::publickeybytes);
  std::ifstream in(sigpath, std::ios::binary);
  if (!in) throw signature::Error{"cannot read the signature " + sigpath};
  const Bytes sig((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return signature::verifyfile(file, sig, publickey);
}

// The installer's name in the manifest is its file name, as the update server publishes it.
void writemanifest(const std::string& secretpath, const std::string& installer,
                   const std::string& product, const std::string& version, const std::string& out) {
  if (!manifest::isversion(version)) {
    throw signature::Error{"\"" + version + "\" is not a dotted version (digits and dots)"};
  }
  manifest::Release release;
  release.product = product;
  release.version = version;
  const std::size_t slash = installer.rfind('/');
  release.installer = slash == std::string::npos ? installer : installer.substr(slash + 1);
  const auto hash = manifest::hashfile(installer, &release.length);
  if (!hash || release.length == 0) throw signature::Error{"cannot read " + installer};
  release.hash = *hash;
  std::string text;
  {
    SecretKey secret;
    readsecret(secretpath, secret);
    text = manifest::write(release, secret.bytes);
  }
  if (text.empty()) throw signature::Error{"cannot write a manifest for " + installer};
  signature::writefile(out, Bytes(text.begin(), text.end()));
}

bool checkmanifest(const std::string& publicpath, const std::string& path,
                   const std::string& installer) {
  const Bytes publickey = signature::readkeyfile(publicpath, signature::publickeybytes);
  std::ifstream in(path, std::ios::binary);
  if (!in) throw signature::Error{"cannot read the manifest " + path};
  std::string text;
  text.resize(manifest::maxbytes + 1);
  in.read(text.data(), std::streamsize(text.size()));
  text.resize(std::size_t(in.gcount()));
  const auto release = manifest::read(text, publickey);
  if (!release) {
    std::fprintf(stderr, "pipshift-release: %s is NOT a manifest signed by that key\n",
                 path.c_str());
    return false;
  }
  std::printf("%s: good signature: %s %s, %s, %llu bytes\n", path.c_str(), release->product.c_str(),
              release->version.c_str(), release->installer.c_str(),
              static_cast<unsigned long long>(release->length));
  if (installer.empty()) return true;
  std::uint64_t length = 0;
  const auto hash = manifest::hashfile(installer, &length);
  if (!hash || length != release->length || *hash != release->hash) {
    std::fprintf(stderr, "pipshift-release: %s is NOT the installer of that manifest\n",
                 installer.c_str());
    return false;
  }
  std::printf("%s: matches the manifest\n", installer.c_str());
  return true;
}

void keyunit(const std::string& secretpath, const std::string& out, bool create) {
  if (create && !exists(secretpath)) {
    makekey(secretpath);
    std::fprintf(stderr, "pipshift-release: made a development release key in %s\n",
                 secretpath.c_str());
  }
  const Bytes publickey = publicfrom(secretpath);
  std::ostringstream unit;
  unit << "// Made by pipshift-release from the release key at build time; not to be edited.\n"
          "#include \"installer/releasekey.h\"\n\n"
          "signature::Bytes releasepublickey() {\n"
          "  return {";
  char hex[8];
  for (std::size_t i = 0; i < publickey.size(); ++i) {
    std::snprintf(hex, sizeof hex, "0x%02x", publickey[i]);
    unit << (i == 0 ? "" : i % 8 == 0 ? ",\n          " : ", ") << hex;
  }
  unit << "};\n}\n";
  const std::string text = unit.str();
  signature::writefile(out, Bytes(text.begin(), text.end()));
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return usage();
  const std::string& command = args[0];
  try {
    if (command == "keygen" && args.size() == 3) {
      signature::writefile(args[2], makekey(args[1]));
    } else if (command == "public" && args.size() == 3) {
      signature::writefile(args[2], publicfrom(args[1]));
    } else if (command == "sign" && args.size() == 4) {
      signfile(args[1], args[2], args[3]);
    } else if (command == "verify" && args.size() == 4) {
      if (!verifyfile(args[1], args[2], args[3])) {
        std::fprintf(stderr, "pipshift-release: %s is NOT signed by that key\n", args[2].c_str());
        return 1;
      }
      std::printf("%s: good signature\n", args[2].c_str());
    } else if (command == "manifest" && args.size() == 6) {
      writemanifest(args[1], args[2], args[3], args[4], args[5]);
    } else if (command == "checkmanifest" && (args.size() == 3 || args.size() == 4)) {
      if (!checkmanifest(args[1], args[2], args.size() == 4 ? args[3] : std::string())) return 1;
    } else if (command == "keyunit" &&
               (args.size() == 3 || (args.size() == 4 && args[3] == "--create"))) {
      keyunit(args[1], args[2], args.size() == 4);
    } else {
      return usage();
    }
  } catch (const signature::Error& e) {
    std::fprintf(stderr, "pipshift-release: %s\n", e.message.c_str());
    return 1;
  }
  return 0;
}
