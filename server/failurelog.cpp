#include "server/failurelog.h"

namespace pipshiftserver {

FailureLog::FailureLog(std::ostream& out, std::chrono::seconds quiet) : out_(out), quiet_(quiet) {}

void FailureLog::failed(const std::string& what, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  // A database that fails and answers by turns counts as one outage: the quiet time runs from the
  // last line written, whatever came between.
  if (written_ && now - *written_ < quiet_) {
    ++unsaid_;
    return;
  }
  out_ << "pipshift-server: " << what;
  if (unsaid_ > 0) out_ << " (and " << unsaid_ << " more failures since the last report)";
  out_ << std::endl;
  failing_ = true;
  written_ = now;
  unsaid_ = 0;
}

void FailureLog::succeeded() {
  std::lock_guard lock(mutex_);
  if (!failing_) return;
  out_ << "pipshift-server: the database answers again" << std::endl;
  failing_ = false;
}

}  // namespace pipshiftserver
