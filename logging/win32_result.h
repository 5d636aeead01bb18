// The outcome of a step that calls Windows: done, or the system error code
// it failed with. The step logs its failure where it happens; the caller
// decides what the failure means and needs no more than this.
#pragma once

#include <windows.h>

class [[nodiscard]] Win32Result {
 public:
  static Win32Result Ok() { return Win32Result(ERROR_SUCCESS); }
  // A failure always carries a code: one the system did not give becomes
  // ERROR_GEN_FAILURE.
  static Win32Result Failed(DWORD error) {
    return Win32Result(error == ERROR_SUCCESS ? ERROR_GEN_FAILURE : error);
  }
  // The calling thread's last error, read at once.
  static Win32Result LastError() { return Failed(GetLastError()); }

  bool ok() const { return error_ == ERROR_SUCCESS; }
  explicit operator bool() const { return ok(); }
  DWORD error() const { return error_; }

 private:
  explicit Win32Result(DWORD error) : error_(error) {}
  DWORD error_;
};
