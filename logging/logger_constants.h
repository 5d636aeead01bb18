#pragma once

#include <cstddef>

namespace logger_constants {

// The folders are expanded at run time and end in a backslash. The public
// one is where admins look; the per-user one takes the log when the public
// one cannot (every user may write there, so anyone may block it).
constexpr char kLogFolder[] = "%Public%\\Tessaly\\Logging\\";
constexpr char kPerUserLogFolder[] = "%LOCALAPPDATA%\\Tessaly\\Logging\\";
constexpr char kLogFilePrefix[] = "Tessaly_KB61207_";
constexpr char kLogFileExtension[] = ".log";

constexpr char kLineFormat[] = "[%s]  [%s]  [%s]  p%ld  (%s)  %s\n";
constexpr char kTimeFormat[] = "%Y-%m-%d %H:%M:%S UTC";
constexpr size_t kTimeBufferSize = 36;
constexpr size_t kMessageBufferSize = 8192;
constexpr size_t kUserNameBufferSize = 257;  // UNLEN + terminator

constexpr char kUnknownUserName[] = "<UnknownUN>";
constexpr char kStartBanner[] = "===Tessaly Remedion Launched at %llu ticks===\n";
constexpr char kExitBanner[] = "===Tessaly Remedion Exiting at %llu ticks===\n\n";

}  // namespace logger_constants
