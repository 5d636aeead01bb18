// The program's one linear script: start-up, the two passes, the end of
// the run. Every run returns 0; the log file carries the outcome.
#pragma once

class ConfigDrivenState;
struct WaitLimits;

namespace run_driver {

// Called by the GUI entry point with the C runtime's narrow arguments.
int main(int argc, char* argv[]);

// The same run with other time limits for the children it waits for.
int Run(int argc, char* argv[], const WaitLimits& limits);

}  // namespace run_driver

// Logs the build's number, time, branch, revision and configuration.
void LogMeta();

// Final state dump, progress window closed, logger torn down. Never throws.
void DeInitApp(ConfigDrivenState& state);
