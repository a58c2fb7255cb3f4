// The download client follows any Location a server names, so fuzzed answers would send it to
// look up arbitrary hosts. Defined in the fuzzer itself, these take the place of the C library's
// resolver for every library in the process: every name is unknown, and no query leaves the
// machine.
#include <netdb.h>

extern "C" int getaddrinfo(const char*, const char*, const struct addrinfo*,
                           struct addrinfo** res) {
  if (res) *res = nullptr;
  return EAI_NONAME;
}

extern "C" void freeaddrinfo(struct addrinfo*) {}
