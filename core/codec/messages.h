#pragma once

// Every message the container fails with, in one place. The texts are the component's own and
// are shown to the user as they are; names are appended where a message names a file.

#include <string>

namespace codec::message {

inline std::string readerror(const std::string& name) {
  return "Lzrw1 : Error reading from input file : " + name;
}
inline std::string writeerror(const std::string& name) {
  return "Lzrw1 : Error writing to output file : " + name;
}
inline std::string openinput(const std::string& name) {
  return "Lzrw1 (de)compression : Failed to open input file : " + name;
}
inline std::string openoutput(const std::string& name) {
  return "Lzrw1 (de)compression : Failed to open output file : " + name;
}
inline std::string nosize(const std::string& name) {
  return "Lzrw1 compression : Failed to obtain the size of : " + name;
}
inline std::string noheader(const std::string& name) {
  return name + " : Lzrw1 decompression : this file has no valid header !";
}
inline std::string damaged(const std::string& name) {
  return "Lzrw1 decompression : the input file is damaged : " + name;
}
inline std::string changed(const std::string& name) {
  return "Lzrw1 compression : the input file changed while it was read : " + name;
}
inline std::string toolarge(const std::string& name) {
  return "Lzrw1 compression : the input file is larger than 4 GB : " + name;
}
inline std::string morethanlimit(const std::string& name) {
  return "Lzrw1 decompression : the input file holds more than was asked for : " + name;
}
constexpr const char* kNoMemory = "Lzrw1 (de)compression : Failed to get memory for I/O buffers !";
constexpr const char* kNoHashTable = "LZRW1KH : no memory for HASH table";
// The suffix a read error takes when it happens while reading a chunk for the Fast coder.
constexpr const char* kFastReadSuffix = " (LZRW1/KH)";
constexpr const char* kFastMismatch =
    "Lzrw1 (decompression LZRW1/KH) : Original and compressed sizes do not match !";
constexpr const char* kGoodMismatch =
    "Lzrw1 (LZH decompression) : Original and compressed sizes do not match !";

}  // namespace codec::message
