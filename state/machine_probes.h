// Facts about the machine and the process, probed at start-up. The
// integrity level is computed once and kept for the process: it cannot
// change while the process lives.
#pragma once

// False only on a 32-bit Windows, which has no WOW64 system folder.
bool ProbeIs64BitOS();

// The shell's administrator test (shell32 ordinal 680).
bool ProbeIsUserAdmin();

// Maps a mandatory-label relative id to the levels 0 (untrusted) to 5
// (protected process).
int IntegrityLevelFromRid(unsigned long rid);

// The process token's integrity level as IntegrityLevelFromRid gives it, or
// -1 when the token cannot be read. Computed on the first call only.
int GetCurrentProcessIntegrityLevel();
