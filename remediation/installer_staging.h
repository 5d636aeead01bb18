// The installers that replace the per-user components: which payload, the
// signer check, and staging, which writes a payload out once, holds it and
// verifies it, so that what was checked is what later runs.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "system/staged_file.h"

class ConfigDrivenState;
class StagingFolder;

struct Payload {
  uint16_t resourceId;
  const char* name;
};

// The setup client's installer in this run: the current release (133) when
// the installer package started the helper on a machine without the
// machine-wide client, the older one (120) otherwise. A file-system error of
// the machine-wide client's probe is thrown.
Payload ChooseSetupClientPayload(const ConfigDrivenState& state);

// The launcher's installer database.
Payload LauncherPayload();

// The signature check of every installer the helper runs: one of the three
// accepted signer names, and a trusted signature.
bool VerifyInstaller(const std::string& path);

// One component's replacement in this run: its installer staged, held and
// verified, ready to run; or why not.
class Replacement {
 public:
  enum class Problem { None, NotPrepared, NotStaged, NotVerified, Withheld };

  // Stages `payload` in `folder` under a name made of `prefix` and
  // `extension`: written once, held, verified. `named` sees the file's path
  // before anything is written to it. A file that fails the check stays held
  // until Finish(), which leaves it for inspection. Never throws.
  static Replacement Stage(StagingFolder& folder, const Payload& payload, const char* prefix,
                           const char* extension,
                           const std::function<void(const std::string&)>& named = {});
  // A replacement whose payload could not even be chosen.
  static Replacement Unprepared(const std::string& why);

  // Staged, verified and still held.
  bool ready() const { return file_.has_value() && problem_ == Problem::None; }
  const std::string& path() const;
  // The staged installer's size in bytes; 0 when it is not ready.
  ULONGLONG size() const { return ready() ? file_->size() : 0; }
  Problem problem() const { return problem_; }
  // Why it is not ready, for the log ("its installer X did not pass the
  // signature check"); empty when it is.
  const std::string& why() const { return why_; }

  // After its run the hold goes and the file is deleted; one that did not
  // verify is only let go.
  void Finish() { file_.reset(); }

  // The component it replaces stays as it is in this run (it could not be
  // made safe to remove): the installer is deleted unrun, and `why` says
  // so where the install would have been.
  void Withhold(const std::string& why);

 private:
  Replacement(Problem problem, std::string why) : problem_(problem), why_(std::move(why)) {}
  Replacement(Problem problem, std::string why, StagedFile file)
      : file_(std::move(file)), problem_(problem), why_(std::move(why)) {}

  std::optional<StagedFile> file_;
  Problem problem_ = Problem::None;
  std::string why_;
};
