#include "vorn/core/ErrorPolicy.h"

#include <cstdio>
#include <stdexcept>

#include "vorn/host/Env.h"
#include "vorn/host/SysLog.h"

namespace Vorn {
namespace {

struct Switches {
  bool useStdExceptions;
  bool logsEnabled;
};

// A function-local static, so that code running during other static
// initialisers sees the switches too; the namespace-scope reference below
// forces the read at load time even if nothing reports an error.
const Switches& GetSwitches() {
  static const Switches s{KRTGetEnv("VORN_USE_STD_EXCEPTIONS") != nullptr,
                          KRTGetEnv("VORN_LOGS_ENABLED") != nullptr};
  return s;
}
[[maybe_unused]] const Switches& g_readAtLoad = GetSwitches();

}  // namespace

bool UsesStdExceptions() noexcept { return GetSwitches().useStdExceptions; }
bool LogsEnabled() noexcept { return GetSwitches().logsEnabled; }

void RaiseError(const char* message) {
  if (!message) message = "";
  if (UsesStdExceptions()) throw std::runtime_error(message);
  KRTSysLogAbend(message);
}

void RaiseError(const std::string& message) { RaiseError(message.c_str()); }

void RaiseOverflowError(const char* message) {
  if (!message) message = "";
  if (UsesStdExceptions()) throw std::overflow_error(message);
  KRTSysLogAbend(message);
}

void LogError(std::string_view message) {
  if (!LogsEnabled()) return;
  std::string line;
  line.reserve(message.size() + 16);
  line.append("[Vorn][ERROR] ").append(message).push_back('\n');
  // One write per line keeps lines from different threads whole.
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

}  // namespace Vorn
