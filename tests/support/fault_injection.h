// Faults a fleet's machines meet after the helper has begun to remove
// components: an antivirus product that takes a held installer away, a run
// stopped half way. Under Wine a file is taken away from the Unix side,
// where no Windows sharing mode holds it, as a quarantine driver would.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace test_support {

// The files in `folder` (ending without a backslash) whose names start with
// `prefix` and end with `suffix`, any letter case; full paths.
std::vector<std::string> FilesNamed(const std::string& folder, const std::string& prefix,
                                    const std::string& suffix);

// Removes `path` from the Unix side, whoever holds it open; true when it is
// gone afterwards.
bool TakeAwayFile(const std::string& path);

// Watches, every 50 ms and for at most `limitMs`, for `condition`; once it
// holds, runs `action` once. Stops with the object.
class Trigger {
 public:
  Trigger(std::function<bool()> condition, std::function<void()> action, DWORD limitMs = 180000);
  ~Trigger();
  Trigger(const Trigger&) = delete;
  Trigger& operator=(const Trigger&) = delete;

  bool fired() const { return fired_.load(); }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<bool> fired_{false};
  std::thread watcher_;
};

}  // namespace test_support
