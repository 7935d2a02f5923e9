#include "platform/Report.h"

#include <cstdio>
#include <mutex>
#include <utility>

namespace muralo {

namespace {

std::mutex reporterMutex;
TPlatformReporter& Reporter() {
  static TPlatformReporter reporter;
  return reporter;
}

}  // namespace

TPlatformReporter SetPlatformReporter(TPlatformReporter reporter) {
  std::lock_guard lock(reporterMutex);
  return std::exchange(Reporter(), std::move(reporter));
}

void PlatformReport(const std::string& message) {
  TPlatformReporter reporter;
  {
    std::lock_guard lock(reporterMutex);
    reporter = Reporter();
  }
  if (reporter) reporter(message);
}

TPlatformReporter StderrReporter(const std::string& program) {
  return [program](const std::string& message) { std::fprintf(stderr, "%s: %s\n", program.c_str(), message.c_str()); };
}

}  // namespace muralo
