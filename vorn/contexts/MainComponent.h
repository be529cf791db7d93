#pragma once

#include "vorn/core/Export.h"
#include "vorn/core/Function.h"

// The library's entry points for the host. (The custom main-thread loop is
// what a non-interactive host runs on its main thread.)
class VORN_API VornMainComponent {
public:
  // Makes the calling thread the library's main thread and runs queued
  // callbacks, `initial` first, until EndCustomMainThreadLoop. Refused (a log
  // line, immediate return) in an interactive host and while another custom
  // loop runs. Callbacks still queued when the loop is stopped run before
  // it returns. An exception thrown by a callback (with reports thrown, any
  // report) ends the run cleanly and propagates out of this call; pending
  // timeouts and queued callbacks are kept, and a later call runs them.
  static void RunCustomMainThreadLoop(const Vorn::Function<void()>& initial);
  // Stops the custom loop; callable from a callback or from any thread.
  static void EndCustomMainThreadLoop();
};
