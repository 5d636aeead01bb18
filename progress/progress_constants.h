#pragma once

#include <windows.h>

#include <cstdint>

namespace progress_constants {

constexpr wchar_t kTitle[] = L"Orvane Upgrade Helper Progress Window";
constexpr wchar_t kStartingMessage[] = L"Please wait for upgrade to finish...";
constexpr uint32_t kNumberOfStates = 5;
constexpr wchar_t kFinishingMessage[] = L"Finishing...";

// Each shown message stays at least this long; the dialog also gets this
// long to come up before start() returns.
constexpr DWORD kMessagePauseMs = 1000;
// How often the progress thread looks for a finish request.
constexpr DWORD kUpdateWaitMs = 1000;
// How long start() waits for the dialog to come up (normally about
// kMessagePauseMs): the work goes on without it rather than wait on a shell
// that never shows it.
constexpr DWORD kStartLimitMs = 10000;
// How long destruction waits for the progress thread once it was asked to
// finish: the thread notices within kUpdateWaitMs, shows what is still
// queued (at most kNumberOfStates + 1 messages in all) and "Finishing...",
// a second each, then closes the dialog; about 8 seconds at worst.
constexpr DWORD kEndLimitMs = 10000;

constexpr DWORD kStartingLine = 1;
constexpr DWORD kMessageLine = 2;

}  // namespace progress_constants
