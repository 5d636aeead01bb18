// Names, rights, sizes and time limits of process control.
#pragma once

#include <windows.h>

#include <cstddef>

namespace process_constants {

// Job objects are named after the moment they are made, in milliseconds
// since 1970: 100-ns intervals between 1601-01-01 (FILETIME) and 1970-01-01.
constexpr unsigned long long kUnixEpochAsFileTime = 116444736000000000ull;
constexpr unsigned long long kFileTimeUnitsPerMillisecond = 10000ull;

// How many names a job is tried under, the first and then each with random
// bits added, before the child is started without a job. Only another
// program that made the first name's job ahead of time takes a name, and it
// cannot guess the random bits.
constexpr int kJobNameAttempts = 4;

constexpr DWORD kStillActiveExitCode = STILL_ACTIVE;  // 259
constexpr DWORD kResumeThreadFailed = static_cast<DWORD>(-1);
// A suspended child that could not be placed in its job is ended with this.
constexpr UINT kAbandonedChildExitCode = 1;
constexpr DWORD kAbandonedChildWaitMs = 1000;

// A job wait given this has no time limit.
constexpr DWORD kNoTimeLimit = INFINITE;
// How many processes a job that outlives its wait is listed with: an
// uninstaller, its re-launched copy and what they start fit many times over.
constexpr DWORD kJobProcessListCapacity = 32;

}  // namespace process_constants
