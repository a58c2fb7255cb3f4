// The installer's signature: made with the secret key, checked with the public key, and nothing
// but the very bytes signed, with the very key, passes.
#include "installer/signature.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "tests/support/scratchdir.h"

namespace {

using signature::Bytes;

Bytes bytesof(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

struct KeyPair {
  KeyPair() { signature::makekeypair(publickey, secret); }
  Bytes publickey;
  Bytes secret;
};

// An installer-like message: long enough to have a start, a middle and an end apart.
Bytes message() {
  Bytes m(100000);
  for (std::size_t i = 0; i < m.size(); ++i) m[i] = static_cast<unsigned char>(i * 7 + 3);
  return m;
}

std::string in(const ScratchDir& dir, const std::string& name) {
  return (dir.path() / name).string();
}

void writeall(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

TEST(Signature, VerifiesOnlyTheSignedBytesWithTheSigningKey) {
  ASSERT_TRUE(signature::ready());
  const KeyPair key;
  const KeyPair other;
  const Bytes m = message();
  const Bytes sig = signature::sign(m.data(), m.size(), key.secret);
  ASSERT_EQ(sig.size(), signature::signaturebytes);
  EXPECT_TRUE(signature::verify(m.data(), m.size(), sig, key.publickey));

  for (std::size_t at : {std::size_t(0), m.size() / 2, m.size() - 1}) {
    Bytes changed = m;
    changed[at] ^= 0x01;
    EXPECT_FALSE(signature::verify(changed.data(), changed.size(), sig, key.publickey)) << at;
  }
  EXPECT_FALSE(signature::verify(m.data(), m.size() - 1, sig, key.publickey)) << "cut short";
  Bytes longer = m;
  longer.push_back(0);
  EXPECT_FALSE(signature::verify(longer.data(), longer.size(), sig, key.publickey)) << "longer";
  EXPECT_FALSE(signature::verify(m.data(), m.size(), sig, other.publickey)) << "another key";
  EXPECT_FALSE(signature::verify(m.data(), m.size(),
                                 signature::sign(m.data(), m.size(), other.secret), key.publickey))
      << "signed by another key";
}

TEST(Signature, ASignatureOrKeyOfAnyOtherLengthFails) {
  const KeyPair key;
  const Bytes m = message();
  const Bytes sig = signature::sign(m.data(), m.size(), key.secret);
  Bytes flipped = sig;
  flipped[63] ^= 0x80;
  Bytes longer = sig;
  longer.push_back(0);
  const Bytes shorter(sig.begin(), sig.end() - 1);
  for (const Bytes& bad : {flipped, longer, shorter, Bytes{}}) {
    EXPECT_FALSE(signature::verify(m.data(), m.size(), bad, key.publickey)) << bad.size();
  }
  const Bytes halfkey(key.publickey.begin(), key.publickey.begin() + 16);
  EXPECT_FALSE(signature::verify(m.data(), m.size(), sig, halfkey));
  EXPECT_FALSE(signature::verify(m.data(), m.size(), sig, Bytes(32, 0)));
}

TEST(Signature, ASecretKeyMustBeWhole) {
  const KeyPair key;
  EXPECT_EQ(signature::publicof(key.secret), key.publickey);
  // The second half of a secret key is its public key: another one there is a damaged key.
  Bytes mixed = key.secret;
  mixed[40] ^= 0x01;
  EXPECT_TRUE(signature::publicof(mixed).empty());
  EXPECT_TRUE(signature::publicof(Bytes(key.secret.begin(), key.secret.end() - 1)).empty());
  const Bytes m = bytesof("setup");
  EXPECT_TRUE(signature::sign(m.data(), m.size(), mixed).empty());
}

TEST(Signature, FilesAreCheckedWholeThroughTheirMap) {
  ScratchDir dir;
  const KeyPair key;
  const Bytes m = message();
  const std::string path = in(dir, "pshsetup.exe");
  writeall(path, m);
  const Bytes sig = signature::signfile(path, key.secret);
  EXPECT_EQ(sig, signature::sign(m.data(), m.size(), key.secret));
  EXPECT_TRUE(signature::verifyfile(path, sig, key.publickey));

  Bytes changed = m;
  changed[m.size() / 2] ^= 0x10;
  writeall(path, changed);
  EXPECT_FALSE(signature::verifyfile(path, sig, key.publickey));

  // An empty file is no installer, even with the signature of nothing.
  writeall(path, {});
  EXPECT_FALSE(signature::verifyfile(path, signature::sign("", 0, key.secret), key.publickey));
  EXPECT_FALSE(signature::verifyfile(in(dir, "missing"), sig, key.publickey));
  EXPECT_FALSE(signature::verifyfile(dir.path().string(), sig, key.publickey)) << "a folder";
  EXPECT_THROW(signature::signfile(in(dir, "missing"), key.secret), signature::Error);
}

TEST(Signature, SecretKeyFilesAreTheOwnersAndNeverReplaced) {
  ScratchDir dir;
  const KeyPair key;
  const std::string path = in(dir, "release.key");
  signature::writesecretkey(path, key.secret);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(signature::readkeyfile(path, signature::secretkeybytes), key.secret);

  const KeyPair other;
  EXPECT_THROW(signature::writesecretkey(path, other.secret), signature::Error);
  EXPECT_EQ(signature::readkeyfile(path, signature::secretkeybytes), key.secret);

  // A file of another size is no key: neither cut short nor with anything after it.
  writeall(in(dir, "short.key"), Bytes(key.secret.begin(), key.secret.end() - 1));
  Bytes longer = key.secret;
  longer.push_back('\n');
  writeall(in(dir, "long.key"), longer);
  for (const char* name : {"short.key", "long.key", "missing.key"}) {
    EXPECT_THROW(signature::readkeyfile(in(dir, name), signature::secretkeybytes), signature::Error)
        << name;
  }
}

}  // namespace
