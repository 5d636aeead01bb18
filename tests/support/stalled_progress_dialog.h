// A progress dialog whose start or stop does not return until the test lets
// it, put in place of the shell's for the calling process: once registered,
// CoCreateInstance(CLSID_ProgressDialog) in this process makes it instead.
// Header-only, for the probes and helper builds that do not link the test
// support library.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <atomic>
#include <cstring>

namespace test_support {

enum class DialogStall { None, Start, Stop };

// "start", "stop" or anything else (no stall).
inline DialogStall DialogStallNamed(const char* name) {
  if (name != nullptr && std::strcmp(name, "start") == 0) return DialogStall::Start;
  if (name != nullptr && std::strcmp(name, "stop") == 0) return DialogStall::Stop;
  return DialogStall::None;
}

class StalledProgressDialogClass final : public IClassFactory {
 public:
  // Lives until the process ends (the class object must outlive every
  // dialog it made); COM's references to it do not own it.
  explicit StalledProgressDialogClass(DialogStall stall)
      : stall_(stall),
        stalled_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
        released_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

  // Makes it the process's progress dialog class; COM must be initialised
  // on the calling thread.
  bool Register() {
    DWORD cookie = 0;
    return SUCCEEDED(CoRegisterClassObject(CLSID_ProgressDialog, this, CLSCTX_INPROC_SERVER,
                                           REGCLS_MULTIPLEUSE, &cookie));
  }
  // Signalled once a dialog call has begun to stall.
  HANDLE stalled() const { return stalled_; }
  // Lets every stalled call return, now and later.
  void ReleaseStalledCalls() const { SetEvent(released_); }
  // How many dialogs it made that are not released yet.
  LONG liveDialogs() const { return live_.load(); }
  // How many times one of its dialogs was shown.
  LONG starts() const { return starts_.load(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    if (iid != IID_IProgressDialog && iid != IID_IUnknown) return E_NOINTERFACE;
    *out = static_cast<IProgressDialog*>(new Dialog(*this));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  class Dialog final : public IProgressDialog {
   public:
    explicit Dialog(const StalledProgressDialogClass& owner) : owner_(owner) { ++owner_.live_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
      if (iid == IID_IUnknown || iid == IID_IProgressDialog) {
        *out = static_cast<IProgressDialog*>(this);
        AddRef();
        return S_OK;
      }
      *out = nullptr;
      return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
      const ULONG left = --references_;
      if (left == 0) {
        --owner_.live_;
        delete this;
      }
      return left;
    }
    HRESULT STDMETHODCALLTYPE StartProgressDialog(HWND, IUnknown*, DWORD, LPCVOID) override {
      ++owner_.starts_;
      if (owner_.stall_ == DialogStall::Start) StallUntilReleased();
      return S_OK;
    }
    HRESULT STDMETHODCALLTYPE StopProgressDialog() override {
      if (owner_.stall_ == DialogStall::Stop) StallUntilReleased();
      return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetTitle(PCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetAnimation(HINSTANCE, UINT) override { return S_OK; }
    WINBOOL STDMETHODCALLTYPE HasUserCancelled() override { return FALSE; }
    HRESULT STDMETHODCALLTYPE SetProgress(DWORD, DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetProgress64(ULONGLONG, ULONGLONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetLine(DWORD, PCWSTR, WINBOOL, LPCVOID) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetCancelMsg(PCWSTR, LPCVOID) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Timer(DWORD, LPCVOID) override { return S_OK; }

   private:
    void StallUntilReleased() {
      SetEvent(owner_.stalled_);
      WaitForSingleObject(owner_.released_, INFINITE);
    }

    const StalledProgressDialogClass& owner_;
    std::atomic<ULONG> references_{1};
  };

  const DialogStall stall_;
  const HANDLE stalled_;
  const HANDLE released_;
  mutable std::atomic<LONG> live_{0};
  mutable std::atomic<LONG> starts_{0};
};

}  // namespace test_support
