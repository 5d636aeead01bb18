#pragma once

#include <cstddef>

namespace logger_constants {

// "%Public%" is expanded at run time; the folder ends in a backslash.
constexpr char kLogFolder[] = "%Public%\\Tessaly\\Logging\\";
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
