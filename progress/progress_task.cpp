#include "progress/progress_task.h"

#include <exception>

#include "logging/primitive_logger.h"

void WaitForProgressTask(std::future<void>& task, const char* tag) noexcept {
  if (!task.valid()) return;
  try {
    try {
      task.get();
    } catch (const std::exception& error) {
      PrimitiveLogger::Log(tag, "CPP Exception caught in progress thread:  %s", error.what());
    } catch (...) {
      PrimitiveLogger::Log(tag, "Unknown Exception caught in progress thread");
    }
  } catch (...) {
    // The log line itself failed; a destructor has nowhere else to report.
  }
}
