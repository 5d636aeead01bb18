#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "logging/ansi_text.h"
#include "process/job_names.h"
#include "process/win_process.h"
#include "tests/support/stand_in_programs.h"
#include "tests/support/test_support.h"

using namespace test_support;

namespace {

using Form = WinProcess::LaunchForm;

std::string ChildPath() { return TestProgramPath("process_test_child.exe"); }

std::wstring Widened(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

DWORD PidLoggedAs(const std::string& log, const std::string& prefix) {
  for (const std::string& message : Messages(log, "probe")) {
    if (message.rfind(prefix, 0) == 0) return std::stoul(message.substr(prefix.size()));
  }
  return 0;
}

// The probe drives a WinProcess that starts the test child.
LoggedRun RunProcessProbe(const std::string& mode) {
  return RunProbe("process_probe.exe", mode + " " + Quoted(ChildPath()));
}

// Runs the command-line form to the end and returns the exit code (or 0xDEAD
// when a step fails), terminating a child that is still running.
DWORD RunToExit(WinProcess& process, DWORD timeLimitMs = 10000) {
  if (!process.Launch(Form::CommandLine)) return 0xDEAD;
  const bool waited = process.Wait(timeLimitMs);
  DWORD exitCode = 0xDEAD;
  const bool read = process.GetExitCode(exitCode);
  KillProcess(process.ProcessId());
  return waited && read ? exitCode : 0xDEAD;
}

std::string Variable(const char* name) {
  char value[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableA(name, value, MAX_PATH);
  return length < MAX_PATH ? std::string(value, length) : "(too long)";
}

}  // namespace

// A child started with an environment block gets its TEMP and TMP from it,
// in either form, and every other variable as this process has it; this
// process's own environment stays as it was.
TEST(WinProcess, AChildGetsTheTemporaryFolderOfItsEnvironmentBlock) {
  ScopedTempDir temp;
  const std::string folder = temp.path() + "\\";
  const ScopedEnvVar mark("REMEDION_ENVIRONMENT_MARK", "kept");
  const std::string ownTmp = Variable("TMP");
  ASSERT_NE(ownTmp, folder);
  // Names are replaced without regard to case, as Windows looks them up.
  const std::wstring block =
      EnvironmentBlockWith({{L"TEMP", AnsiToWide(folder)}, {L"tmp", AnsiToWide(folder)}});
  ASSERT_FALSE(block.empty());
  for (const Form form : {Form::CommandLine, Form::Job}) {
    for (const std::string& check :
         {"TEMP " + folder, "TMP " + folder, std::string("REMEDION_ENVIRONMENT_MARK kept")}) {
      WinProcess child(ChildPath(), "env-is " + check, block);
      DWORD exitCode = 0xDEAD;
      ASSERT_TRUE(child.Launch(form, "Local\\RemedionEnvironmentTest_"));
      ASSERT_TRUE(child.WaitForExitCode(10000, exitCode));
      EXPECT_EQ(exitCode, 0u) << check << (form == Form::Job ? " (job)" : "");
    }
  }
  EXPECT_EQ(Variable("TMP"), ownTmp);

  // CreateProcess asks for the block sorted by name, without regard to
  // case, each variable once.
  std::vector<std::wstring> names;
  for (const wchar_t* entry = block.c_str(); *entry != L'\0'; entry += wcslen(entry) + 1) {
    const std::wstring text = entry;
    names.push_back(text.substr(0, text.find(L'=', 1)));
  }
  for (size_t i = 1; i < names.size(); ++i) {
    EXPECT_EQ(CompareStringOrdinal(names[i - 1].c_str(), -1, names[i].c_str(), -1, TRUE),
              CSTR_LESS_THAN)
        << WideToAnsi(names[i - 1]) << " before " << WideToAnsi(names[i]);
  }
}

TEST(WinProcess, RefusesPairsThatCannotBeLaunched) {
  try {
    WinProcess process("", "");
    FAIL() << "no exception";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "Invalid Process Launch Attempt detected");
  }
  // A missing executable is refused whatever the command line holds.
  EXPECT_THROW(WinProcess("C:\\no\\such\\setup.exe", " /S"), std::runtime_error);
  EXPECT_THROW(WinProcess("C:\\no\\such\\setup.exe", ""), std::runtime_error);
  EXPECT_NO_THROW(WinProcess("", "cmd.exe /c exit 0"));
  EXPECT_NO_THROW(WinProcess(ChildPath(), ""));
}

// How the started program splits its command line: the path whole, then
// the arguments.
TEST(WinProcess, CommandLineKeepsThePathWholeAndTheArgumentsApart) {
  for (const std::string path :
       {"C:\\x\\setup.exe", "C:\\Users\\Jane Doe\\AppData\\Local\\Temp\\KSC1.exe"}) {
    const std::wstring line = Widened(WinProcess::BuildCommandLine(path, " /S"));
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(line.c_str(), &count);
    ASSERT_NE(words, nullptr) << path;
    std::vector<std::wstring> arguments(words, words + count);
    LocalFree(words);
    EXPECT_EQ(arguments, (std::vector<std::wstring>{Widened(path), L"/S"})) << path;
  }
}

TEST(WinProcess, ReadsTheExitCodeOfAChild) {
  WinProcess process(ChildPath(), "exit 7 100");
  EXPECT_EQ(RunToExit(process), 7u);
  // The same object can be launched again.
  EXPECT_EQ(RunToExit(process), 7u);
}

TEST(WinProcess, APathWithABlankRunsThatProgramNotAPrefixOfIt) {
  ScopedTempDir temp;
  const std::string folder = temp.path() + "\\Jane Doe";
  std::filesystem::create_directories(FsPath(folder));
  const std::string child = folder + "\\process_test_child.exe";
  ASSERT_TRUE(CopyFileA(ChildPath().c_str(), child.c_str(), FALSE));
  // What an unquoted command line would start instead: a program that never
  // exits.
  const std::string planted = temp.path() + "\\Jane.exe";
  ASSERT_TRUE(CopyFileA(StandInPath("iexplore", "iexplore.exe").c_str(), planted.c_str(), FALSE));

  WinProcess process(child, "exit 7 0");
  EXPECT_EQ(RunToExit(process, 5000), 7u);
}

TEST(WinProcess, AChildThatOutlivesTheWaitReadsAsStillActive) {
  WinProcess process(ChildPath(), "exit 0 60000");
  ASSERT_TRUE(process.Launch(Form::CommandLine));
  EXPECT_TRUE(process.Wait(200));
  DWORD exitCode = 0;
  EXPECT_TRUE(process.GetExitCode(exitCode));
  EXPECT_EQ(exitCode, 259u);
  EXPECT_TRUE(IsProcessRunning(process.ProcessId()));
  KillProcess(process.ProcessId());
}

TEST(WinProcess, AFailedLaunchIsReportedByLaunchWaitAndGetExitCode) {
  ScopedTempDir temp;
  // Not a program: CreateProcess refuses it.
  const std::string text = temp.path() + "\\setup.exe";
  ASSERT_TRUE(WriteFileBytes(text, "not a program"));
  WinProcess notAProgram(text, " /S");
  for (Form form : {Form::CommandLine, Form::Job}) {
    EXPECT_FALSE(notAProgram.Launch(form));
    EXPECT_FALSE(notAProgram.Wait(1000));
    DWORD exitCode = 1234;
    EXPECT_FALSE(notAProgram.GetExitCode(exitCode));
    EXPECT_EQ(exitCode, 1234u);
  }

  // An executable that went away after construction.
  const std::string gone = temp.path() + "\\gone.exe";
  ASSERT_TRUE(CopyFileA(ChildPath().c_str(), gone.c_str(), FALSE));
  WinProcess vanished(gone, "exit 0 0");
  ASSERT_TRUE(DeleteFileA(gone.c_str()));
  EXPECT_FALSE(vanished.Launch(Form::CommandLine));
  EXPECT_FALSE(vanished.Wait(1000));
}

TEST(WinProcess, JobFormWaitsForTheChildAndTheProcessItStarted) {
  const LoggedRun run = RunProcessProbe("job");
  ASSERT_TRUE(run.child.finished);
  const DWORD child = PidLoggedAs(run.log, "child ");
  const DWORD grandchild = run.child.exitCode;  // the child exits with its child's id
  ASSERT_NE(child, 0u);
  // Process ids are multiples of 4, the probe's failures are not; 205: its
  // handle count changed over the WinProcess's life.
  ASSERT_LT(grandchild, 200u * 1000u) << "probe failed with " << grandchild;
  ASSERT_EQ(grandchild % 4, 0u) << "probe failed with " << grandchild;
  EXPECT_FALSE(IsProcessRunning(grandchild));
  KillProcess(grandchild);

  const auto launch = Messages(run.log, "WinProcess::LaunchAsJob");
  ASSERT_FALSE(launch.empty());
  EXPECT_TRUE(
      std::regex_match(launch[0], std::regex(R"(>>>  Launching as Job:  Local\\ProbeJob_\d{13})")))
      << launch[0];
  EXPECT_EQ(launch.back(), "<<<  ; Returning:  True");

  const auto wait = Messages(run.log, "WinProcess::Wait");
  EXPECT_NE(IndexOf(wait, "Job  [" + std::to_string(child) + "] was launched"), -1);
  EXPECT_NE(
      IndexOf(wait,
              "Process was launched as a job; waiting up to 30000 ms for every process of the job"),
      -1);

  const auto job = Messages(run.log, "WinProcess::WaitForJobToComplete");
  const int zero = IndexOf(job, "Process Zero has been signalled");
  ASSERT_NE(zero, -1);
  EXPECT_EQ(zero, static_cast<int>(job.size()) - 1);
  for (DWORD pid : {child, grandchild}) {
    const int created = IndexOf(job, "New PID:  " + std::to_string(pid));
    const int exited = IndexOf(job, "Exit PID:  " + std::to_string(pid));
    EXPECT_NE(created, -1) << pid;
    EXPECT_GT(exited, created) << pid;
    EXPECT_LT(exited, zero) << pid;
  }
  // The exit code is the launched child's, not the grandchild's.
  EXPECT_NE(IndexOf(Messages(run.log, "WinProcess::GetExitCode"),
                    "Process exited with code: " + std::to_string(grandchild)),
            -1);
}

// The grandchild lives a minute; the job wait lets go of it at the limit.
TEST(WinProcess, JobFormLetsGoOfAJobStillRunningAtTheTimeLimit) {
  constexpr DWORD kLimitMs = 2000;  // process_probe's in "linger" mode
  constexpr DWORD kMarginMs = 1000;
  const LoggedRun run = RunProcessProbe("linger");
  ASSERT_TRUE(run.child.finished);
  const DWORD grandchild = run.child.exitCode;  // the child exits with its child's id
  const bool planted = IsProcessRunning(grandchild);
  KillProcess(grandchild);
  // 201-206 (never a process id): a failed step; 205 a handle left behind.
  ASSERT_TRUE(planted) << "no grandchild running; probe ended with " << grandchild << "\n"
                       << run.log;

  const DWORD waited = PidLoggedAs(run.log, "waited ");
  EXPECT_GE(waited + 20, kLimitMs);  // GetTickCount's granularity
  EXPECT_LE(waited, kLimitMs + kMarginMs);

  EXPECT_NE(
      IndexOf(Messages(run.log, "WinProcess::Wait"),
              "Process was launched as a job; waiting up to 2000 ms for every process of the job"),
      -1);
  const auto job = Messages(run.log, "WinProcess::WaitForJobToComplete");
  ASSERT_FALSE(job.empty());
  EXPECT_EQ(job.back(),
            "Job still has 1 process(es) after 2000 ms; letting go of it without "
            "ending them:  " +
                std::to_string(grandchild) + " (process_test_child.exe)");
  EXPECT_EQ(IndexOf(job, "Process Zero has been signalled"), -1);
  // The launched child's own exit code, as after a command-line time-out.
  EXPECT_NE(IndexOf(Messages(run.log, "WinProcess::GetExitCode"),
                    "Process exited with code: " + std::to_string(grandchild)),
            -1);
}

TEST(WinProcess, LogsAChildStillRunningAfterTheTimeLimit) {
  const LoggedRun run = RunProcessProbe("timeout");
  ASSERT_TRUE(run.child.finished);
  const DWORD child = PidLoggedAs(run.log, "child ");
  KillProcess(child);
  EXPECT_EQ(run.child.exitCode, 259u);
  const std::string path = ChildPath();
  const auto wait = Messages(run.log, "WinProcess::WaitForProcessExit");
  ASSERT_EQ(wait.size(), 2u) << run.log;
  EXPECT_EQ(wait[0], "Wait result for " + path + " is 258");
  // The error code is whatever the timed-out wait left, so only its label is
  // fixed.
  const std::string timedOut =
      "Wait for process " + path + " timed-out; Process maybe running still with error:  ";
  EXPECT_EQ(wait[1].rfind(timedOut, 0), 0u) << wait[1];
  EXPECT_NE(IndexOf(Messages(run.log, "WinProcess::GetExitCode"),
                    "Process " + std::to_string(child) +
                        " is still running (or exited with the ambiguous error code)"),
            -1);
}

// The process probe's names: "Local\ProbeJob_<probe's id>_<n>".
std::string ProbeJobName(DWORD probe, int n) {
  return "Local\\ProbeJob_" + std::to_string(probe) + "_" + std::to_string(n);
}

TEST(WinProcess, JobFormNeverUsesAJobNameThatIsTaken) {
  const LoggedRun run = RunProcessProbe("taken");
  ASSERT_TRUE(run.child.finished);
  const DWORD grandchild = run.child.exitCode;  // the child exits with its child's id
  KillProcess(grandchild);
  // 201-209: a failed step (207: the child ran in the taken job, 205: a
  // handle left behind); process ids are multiples of 4.
  ASSERT_EQ(grandchild % 4, 0u) << "probe failed with " << grandchild << "\n" << run.log;

  const DWORD probe = run.child.pid;
  EXPECT_EQ(Messages(run.log, "WinProcess::LaunchAsJob"),
            (std::vector<std::string>{
                ">>>  Launching as Job:  " + ProbeJobName(probe, 0),
                "Job name " + ProbeJobName(probe, 0) + " is taken (Error:  183); not using it, " +
                    "trying " + ProbeJobName(probe, 1),
                "Process launch as Job successful", "<<<  ; Returning:  True"}));
  // The wait is the job's own: it covered the grandchild.
  const auto job = Messages(run.log, "WinProcess::WaitForJobToComplete");
  EXPECT_NE(IndexOf(job, "Exit PID:  " + std::to_string(grandchild)), -1);
  EXPECT_FALSE(job.empty() || job.back() != "Process Zero has been signalled") << run.log;
  EXPECT_TRUE(Messages(run.log, "SafeCloseHandle").empty());
}

// No job, so no child started for one; the uninstaller flow's fallback, the
// command-line form on the same object, then runs the child.
TEST(WinProcess, JobFormGivesUpAfterFourTakenNamesAndTheCommandLineFormRuns) {
  const LoggedRun run = RunProcessProbe("all-taken");
  ASSERT_TRUE(run.child.finished);
  // 209: a name was not free to take, 214/215: a job launch or its child,
  // 205: a handle left behind.
  EXPECT_EQ(run.child.exitCode, 9u) << run.log;

  const DWORD probe = run.child.pid;
  const auto taken = [probe](int n, const std::string& error) {
    return "Job name " + ProbeJobName(probe, n) + " is taken (Error:  " + error +
           "); not using it, trying " + ProbeJobName(probe, n + 1);
  };
  // An object of another type of that name (the mutex) holds it as well.
  EXPECT_EQ(
      Messages(run.log, "WinProcess::LaunchAsJob"),
      (std::vector<std::string>{">>>  Launching as Job:  " + ProbeJobName(probe, 0),
                                taken(0, "183"), taken(1, "6"), taken(2, "183"),
                                "Job name " + ProbeJobName(probe, 3) +
                                    " is taken as well (Error:  183); giving up after 4 names",
                                "Unable to create JobObject:  183", "<<<  ; Returning:  False"}));
  EXPECT_EQ(Messages(run.log, "WinProcess::Launch"),
            (std::vector<std::string>{
                "Launching  " + ChildPath() + "  exit 9 0  (CLI:  False; JOB:  True)",
                "Process launched:  False",
                "Launching  " + ChildPath() + "  exit 9 0  (CLI:  True; JOB:  False)",
                "Process launched:  True"}));
}

// After a taken name the next adds 64 random bits: another program cannot
// make it first.
TEST(TimedJobNames, NamesTheMomentThenAddsRandomBitsToATakenName) {
  TimedJobNames names("Local\\Remedion_");
  const std::string first = names.First();
  EXPECT_TRUE(std::regex_match(first, std::regex(R"(Local\\Remedion_\d{13})"))) << first;
  std::string second;
  std::string again;
  ASSERT_TRUE(names.Next(first, second));
  ASSERT_TRUE(names.Next(first, again));
  EXPECT_TRUE(std::regex_match(
      second,
      std::regex(std::regex_replace(first, std::regex(R"(\\)"), R"(\\)") + "_[0-9A-F]{16}")))
      << second;
  EXPECT_NE(second, again);
}
