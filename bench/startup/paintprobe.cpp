// Loaded into a Qt program with LD_PRELOAD by the start-up benchmark; the program itself is left
// as it is. Qt hands every finished frame of a window to QBackingStore::flush, so taking that
// call over (and passing it on) tells the moment a window's contents reach the window system.
// Each flush is written as one line to the file descriptor named in PIPSHIFT_PAINTPROBE_FD:
//
//   flush <CLOCK_MONOTONIC seconds> <1 when the whole window was flushed, else 0> <width>x<height>
//
// Without that variable the probe only passes the call on. With PIPSHIFT_PAINTPROBE_EXIT set,
// the process ends right after its first whole-window flush, so a profiler sees start-up alone.

#include <QBackingStore>
#include <QRegion>
#include <QWindow>

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

using FlushFn = void (*)(QBackingStore*, const QRegion&, QWindow*, const QPoint&);

constexpr const char* kFlushSymbol = "_ZN13QBackingStore5flushERK7QRegionP7QWindowRK6QPoint";

FlushFn realflush() {
  static const FlushFn real = [] {
    void* found = dlvsym(RTLD_NEXT, kFlushSymbol, "Qt_6");
    if (!found) found = dlsym(RTLD_NEXT, kFlushSymbol);
    if (!found) {
      std::fprintf(stderr, "paintprobe: QBackingStore::flush not found in the program's Qt\n");
      std::abort();
    }
    return reinterpret_cast<FlushFn>(found);
  }();
  return real;
}

int reportfd() {
  static const int fd = [] {
    const char* named = std::getenv("PIPSHIFT_PAINTPROBE_FD");
    return named ? std::atoi(named) : -1;
  }();
  return fd;
}

}  // namespace

void QBackingStore::flush(const QRegion& region, QWindow* window, const QPoint& offset) {
  realflush()(this, region, window, offset);
  static const bool exitwhenpainted = std::getenv("PIPSHIFT_PAINTPROBE_EXIT") != nullptr;
  const int fd = reportfd();
  if (fd < 0 && !exitwhenpainted) return;
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const QWindow* shown = window ? window : this->window();
  const QSize size = shown ? shown->size() : QSize();
  const bool whole = (QRegion(QRect(QPoint(0, 0), size)) - region.translated(offset)).isEmpty();
  if (exitwhenpainted && whole) _exit(0);
  char line[128];
  const int n = std::snprintf(line, sizeof line, "flush %lld.%09ld %d %dx%d\n",
                              static_cast<long long>(now.tv_sec), now.tv_nsec, whole ? 1 : 0,
                              size.width(), size.height());
  if (n > 0) {
    // A lost report only makes the benchmark wait and say so; the program must go on.
    [[maybe_unused]] const ssize_t written = ::write(fd, line, static_cast<size_t>(n));
  }
}
