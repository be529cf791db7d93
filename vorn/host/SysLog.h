#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "vorn/host/HostExport.h"

// The host's log of abnormal ends. The stand-in writes each message to
// standard error, followed by a newline. It returns to the caller.
KRT_API void KRTSysLogAbend(const char* message);

// Records every message given to KRTSysLogAbend while it is alive, so tests
// can check what was reported. Captures nest: the innermost one receives the
// messages. Messages are still written to standard error unless `quiet`.
// Thread-safe: reports may come from any thread.
class KRT_API KRTAbendCapture {
public:
  explicit KRTAbendCapture(bool quiet = true);
  ~KRTAbendCapture();
  KRTAbendCapture(const KRTAbendCapture&) = delete;
  KRTAbendCapture& operator=(const KRTAbendCapture&) = delete;

  std::size_t Count() const;
  std::vector<std::string> Messages() const;
  std::string Last() const;  // empty when nothing was captured
  void Clear();

private:
  friend void KRTSysLogAbend(const char*);
  void _Record(const char* message);
  bool Quiet() const { return m_quiet; }

  struct State;
  State* m_state;
  KRTAbendCapture* m_previous;
  bool m_quiet;
};
