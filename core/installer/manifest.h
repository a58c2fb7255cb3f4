#pragma once

// The release manifest: what the maker vouches for in one signed text, so that a program offered
// an update knows which version it is getting and exactly which bytes carry it. The detached
// signature of the installer alone says only "the maker made these bytes once", which an attacker
// on the network could replay with any old release; the manifest binds the product, the version
// and the installer's length and hash under one signature.
//
// Its form, every line ended by a line feed and nothing else in the file:
//
//   product pipshift
//   version 1.0.1
//   installer pshsetup.exe
//   length 123456
//   blake2b-256 <64 lower-case hex digits: the installer's BLAKE2b hash of 32 bytes>
//   signature <128 lower-case hex digits: Ed25519 over every byte before this line>
//
// Plain C++ without Qt: the program, the release tool and the tests share it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "installer/signature.h"

namespace manifest {

// A manifest is a few lines; anything longer is not one.
inline constexpr std::size_t maxbytes = 4096;
inline constexpr std::size_t hashbytes = 32;
// The longest version text taken for a version.
inline constexpr std::size_t maxversion = 32;

struct Release {
  std::string product;
  std::string version;
  std::string installer;
  std::uint64_t length = 0;
  signature::Bytes hash;
};

// True for a dotted version: digits and single dots, starting and ending with a digit, at most
// maxversion characters ("1.0.1", "10.2"); nothing else, no blank, no line end.
bool isversion(std::string_view text);
// Compares two dotted versions number by number ("1.10" is newer than "1.9"; "1.0" and "1.0.0"
// are the same version): less than, equal to or greater than 0 as a is older, the same or newer.
// Both must be versions.
int compareversions(std::string_view a, std::string_view b);

// The signed text of a release; empty when a field could not be written into a manifest (a
// product or installer name with a blank or line end, a version that is not a version, a hash of
// the wrong size) or the key is not a well-formed secret key.
std::string write(const Release& release, const signature::Bytes& secretkey);
// The release a manifest vouches for, when the text has exactly the form above, every field is
// well formed and the signature is publickey's over it; none otherwise.
std::optional<Release> read(std::string_view text, const signature::Bytes& publickey);

// The BLAKE2b hash (hashbytes) of a whole file's bytes and its length; none when the file cannot
// be read.
std::optional<signature::Bytes> hashfile(const std::string& path, std::uint64_t* length);

}  // namespace manifest
