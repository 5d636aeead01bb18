// Joining the progress thread from a destructor.
#pragma once

#include <future>

// Waits for `task` (nothing when it is empty) and logs under `tag` what the
// task threw instead of passing it on: a destructor that re-threw it would
// end the process.
void WaitForProgressTask(std::future<void>& task, const char* tag) noexcept;
