#include "vorn/host/SysLog.h"

#include <cstdio>
#include <mutex>

namespace {
std::mutex& CaptureMutex() {
  static std::mutex m;
  return m;
}
KRTAbendCapture* g_capture = nullptr;
}  // namespace

struct KRTAbendCapture::State {
  std::vector<std::string> messages;
};

// The state is made by the first report: most captures see none, and they
// wrap every request a host handles.
KRTAbendCapture::KRTAbendCapture(bool quiet) : m_state(nullptr), m_quiet(quiet) {
  std::lock_guard lock(CaptureMutex());
  m_previous = g_capture;
  g_capture = this;
}

KRTAbendCapture::~KRTAbendCapture() {
  {
    std::lock_guard lock(CaptureMutex());
    // Captures are expected to end in reverse order; tolerate the others.
    if (g_capture == this) g_capture = m_previous;
  }
  delete m_state;
}

void KRTAbendCapture::_Record(const char* message) {
  if (!m_state) m_state = new State;
  m_state->messages.emplace_back(message ? message : "");
}

std::size_t KRTAbendCapture::Count() const {
  std::lock_guard lock(CaptureMutex());
  return m_state ? m_state->messages.size() : 0;
}

std::vector<std::string> KRTAbendCapture::Messages() const {
  std::lock_guard lock(CaptureMutex());
  return m_state ? m_state->messages : std::vector<std::string>();
}

std::string KRTAbendCapture::Last() const {
  std::lock_guard lock(CaptureMutex());
  return !m_state || m_state->messages.empty() ? std::string() : m_state->messages.back();
}

void KRTAbendCapture::Clear() {
  std::lock_guard lock(CaptureMutex());
  if (m_state) m_state->messages.clear();
}

void KRTSysLogAbend(const char* message) {
  bool quiet = false;
  {
    std::lock_guard lock(CaptureMutex());
    if (g_capture) {
      g_capture->_Record(message);
      quiet = g_capture->Quiet();
    }
  }
  if (!quiet) {
    std::fprintf(stderr, "%s\n", message ? message : "");
    std::fflush(stderr);
  }
}
