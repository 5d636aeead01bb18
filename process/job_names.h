// Names for the job objects a WinProcess makes. A name that turns out to be
// taken is never used; the next name is asked for instead.
#pragma once

#include <string>

class JobNames {
 public:
  virtual ~JobNames() = default;
  // The name to try first.
  virtual std::string First() = 0;
  // The name to try after `taken` was taken; false when none can be made
  // (logged where that happens).
  virtual bool Next(const std::string& taken, std::string& next) = 0;
};

// `prefix` and the moment, in milliseconds since 1970; after a name that was
// taken, that name with 64 random bits of the system's generator added:
// another program can guess the first name, never the next.
class TimedJobNames final : public JobNames {
 public:
  explicit TimedJobNames(std::string prefix) : prefix_(std::move(prefix)) {}
  std::string First() override;
  bool Next(const std::string& taken, std::string& next) override;

 private:
  std::string prefix_;
};
