// The program the system tests start as a child (system_probe.cpp): for
// what happens once per process, and for what its log shows.
#pragma once

inline constexpr char kSystemProbe[] = "system_probe.exe";
