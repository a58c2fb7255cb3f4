/* Loaded into the program (LD_PRELOAD) by post_e2e.py for the case of a score server whose name
   does not resolve: the resolver is stood in for here, so no query leaves the machine. A name
   under ".invalid" is never answered in time, as with a name server that does not reply: the
   lookup hangs for a minute and then fails. Any other name fails at once; numeric addresses are
   looked up as ever. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <netdb.h>
#include <string.h>
#include <unistd.h>

static int numeric(const char* node) {
  for (const char* c = node; *c; ++c) {
    if (!strchr("0123456789.:abcdefABCDEF[]", *c)) return 0;
  }
  return 1;
}

int getaddrinfo(const char* node, const char* service, const struct addrinfo* hints,
                struct addrinfo** res) {
  typedef int (*real_t)(const char*, const char*, const struct addrinfo*, struct addrinfo**);
  static real_t real = 0;
  if (!real) real = (real_t)dlsym(RTLD_NEXT, "getaddrinfo");
  if (node == 0 || numeric(node)) {
    struct addrinfo numerichints;
    memset(&numerichints, 0, sizeof numerichints);
    if (hints) numerichints = *hints;
    numerichints.ai_flags |= AI_NUMERICHOST;
    return real(node, service, &numerichints, res);
  }
  const size_t length = strlen(node);
  if (length >= 8 && strcmp(node + length - 8, ".invalid") == 0) sleep(60);
  if (res) *res = 0;
  return EAI_NONAME;
}
