#pragma once

// The container's failures. Each carries the message the user is shown.

#include <stdexcept>

// Every failure of the container: a file that cannot be opened, read or written, a damaged or
// foreign container, sizes that do not agree.
class ELzrw1Exception : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The block coder could not get its hash table.
class ELzrw1KHCompressor : public ELzrw1Exception {
 public:
  using ELzrw1Exception::ELzrw1Exception;
};

// A container held more bytes than the caller of unpack was willing to take.
class ELzrw1TooLarge : public ELzrw1Exception {
 public:
  using ELzrw1Exception::ELzrw1Exception;
};
