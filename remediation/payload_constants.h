// The installers the program carries among its resources, and the pieces of
// the Windows Installer command lines that install and remove the launcher.
#pragma once

#include <cstdint>

namespace payload_constants {

// Every payload is stored under this numeric resource type (not RT_RCDATA).
constexpr uint16_t kPayloadResourceType = 256;

// Setup client 22.7.2, signed "Tessaly, LLC".
constexpr uint16_t kSetupClientInstallerId = 120;
constexpr char kSetupClientInstallerName[] = "TYSetupClientInstaller.exe";
// The launcher's installer database.
constexpr uint16_t kLauncherMsiId = 122;
constexpr char kLauncherMsiName[] = "TessalyAppLauncher.msi";
// Setup client 22.7.3, signed "Orvane, Inc.".
constexpr uint16_t kSetupClient2273InstallerId = 133;
constexpr char kSetupClient2273InstallerName[] = "TYSetupClientInstaller_22.7.3.exe";

// Windows Installer command lines. Both builders log into the folder of the
// program's own log, and both callers use the one log name, so installs and
// removals append to one file.
constexpr char kMsiInstallVerb[] = "/i \"";
constexpr char kMsiQuote[] = "\"";
constexpr char kMsiRemoveVerb[] = "/x ";
constexpr char kMsiInteractiveMode[] = " /norestart";
constexpr char kMsiQuietMode[] = " /quiet /qn /norestart KVAL_SMS_PUSH=1";
constexpr char kMsiLogSwitch[] = " /L*v+ \"";
constexpr char kMsiLogSubFolder[] = "\\Tessaly\\Logging\\";
constexpr char kMsiLogExtension[] = ".log";
constexpr char kMsiLogName[] = "KVAL";

}  // namespace payload_constants
