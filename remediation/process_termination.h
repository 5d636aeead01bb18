// Stops the running client programs whose component is about to be
// replaced, and counts (or, for a system or elevated run, stops) running
// copies of Internet Explorer.
#pragma once

#include <windows.h>

#include <string>

class ConfigDrivenState;
class ProcessSource;

// One scan over a snapshot of the machine's processes, of this session only.
// Results go to the run state: IEProcessCount (restarted at each scan),
// ProcessesKilled (added to) and ProcessesKilledList.
void TerminateKelvoProcesses(ConfigDrivenState& state);
// The same scan over the processes `source` shows.
void TerminateKelvoProcesses(ConfigDrivenState& state, ProcessSource& source);

// Terminates `process` (opened with terminate and query rights), waits up to
// a second for it and records the attempt in the run state, successful or
// not.
void TryProcessTermination(const std::string& name, DWORD processId, HANDLE process,
                           ConfigDrivenState& state);
