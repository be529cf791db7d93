#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "vorn/host/HostExport.h"

// Host error objects (Linux stand-in).
//
// The host raises errors as exceptions of type KRTErrorPtr (a shared
// pointer to the error object): catch them with `catch (const KRTErrorPtr&)`.
// Code that catches one hands it to KRTXHContextCxx::CatchBlockProlog and
// then calls KRTXHContextCxx::Flush, which disposes of it.

class KRTError;
using KRTErrorPtr = std::shared_ptr<KRTError>;

class KRT_API KRTError {
public:
  explicit KRTError(std::string message, std::int32_t code = -1);
  virtual ~KRTError();

  const std::string& GetMessage() const noexcept { return m_message; }
  std::int32_t GetCode() const noexcept { return m_code; }

  // Throws `error` as a KRTErrorPtr. A null pointer is replaced by an error
  // saying so, so that a catch never receives null.
  [[noreturn]] static void ThrowSmartPtr(KRTErrorPtr error);
  // Makes a new error and throws it the same way.
  [[noreturn]] static void ThrowSmartPtr(std::string message, std::int32_t code = -1);

private:
  std::string m_message;
  std::int32_t m_code;
};

// Host error scope, kept around code that may catch host errors. Scopes
// nest; each thread counts its own.
class KRT_API TolvTkCompatCtx {
public:
  TolvTkCompatCtx() noexcept;
  ~TolvTkCompatCtx();
  TolvTkCompatCtx(const TolvTkCompatCtx&) = delete;
  TolvTkCompatCtx& operator=(const TolvTkCompatCtx&) = delete;

  // Passes on the exception being handled; to be called from a catch block
  // (for a host error raised while an earlier one is being handled). Called
  // with no exception being handled, it throws a KRTErrorPtr saying so
  // rather than terminating.
  [[noreturn]] static void Rethrow();

  // Number of scopes alive on the calling thread.
  static std::size_t Depth() noexcept;
};

// The handling of caught host errors. Each thread keeps its own errors
// awaiting disposal.
class KRT_API KRTXHContextCxx {
public:
  // Takes over a caught error until the next Flush on this thread. Null is
  // ignored.
  static void CatchBlockProlog(const KRTErrorPtr& error);
  // Disposes of this thread's errors taken by CatchBlockProlog and counts
  // them as handled.
  static void Flush();

  // Errors awaiting Flush on the calling thread.
  static std::size_t PendingCount() noexcept;
  // Errors disposed of by Flush since the start (or the last reset), over
  // all threads, and the message of the last one ("" when none).
  static std::size_t HandledCount();
  static std::string LastHandledMessage();
  static void ResetHandled();
};
