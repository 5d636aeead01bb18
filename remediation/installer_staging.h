// The installers that replace the per-user components: which payload, which
// temporary file, the signer check, and whether an installer is ready to run
// before the component it replaces is removed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "system/qv_file_lock.h"

class ConfigDrivenState;

struct Payload {
  uint16_t resourceId;
  const char* name;
};

// The setup client's installer in this run: the current release (133) when
// the installer package started the helper on a machine without the
// machine-wide client, the older one (120) otherwise. Chosen on the first
// successful call and kept for the process, so that the uninstall pass checks
// the installer the install pass runs. A file-system error of the machine-wide
// client's probe is thrown; the next call probes again.
Payload SetupClientPayload(const ConfigDrivenState& state);

// The launcher's installer database.
Payload LauncherPayload();

// Where the setup client's installer is written: a temporary name made on
// the first call and kept for the process (also when it was empty).
const std::string& SetupClientTempPath();

// Where the launcher's package is written: a temporary name made on the
// first call and kept for the process (also when it was empty).
const std::string& GetLauncherMsiTempPath();

// The signature check of every installer the helper runs: one of the three
// accepted signer names, and a trusted signature.
bool VerifyInstaller(const std::string& path);

// Writes `payload` to `path`, locks the file and checks its signature. The
// lock, held, when the installer may run; none when the check failed (the
// file stays for inspection). Throws as the lock does: the write's failure
// shows there, as a missing file or one that cannot be opened.
std::optional<QVFileLock> StageInstaller(const Payload& payload, const std::string& path);

// Whether the installer that would replace the component in this run can
// be written to its temporary file, locked and verified. The file is
// deleted again; the install pass writes and checks it anew. Empty when it is
// ready, otherwise why not (for the log). Never throws.
std::string SetupClientReplacementProblem(const ConfigDrivenState& state);
std::string LauncherReplacementProblem();
