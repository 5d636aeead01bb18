#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "remediation/payload_constants.h"
#include "tests/support/test_support.h"

using namespace test_support;
using namespace payload_constants;

namespace {

// Test resources of the probe (payload_probe.rc).
constexpr uint16_t kBinaryBytesId = 700;
constexpr uint16_t kZeroFirstByteId = 701;
constexpr uint16_t kMissingId = 999;
const std::string kBinaryBytes("MZ\r\n\x1a\x00\x01\x00\x00 tail\n", 15);

constexpr char kTag[] = "WriteResourceToFile";

LoggedRun WriteOut(uint16_t id, const std::string& name, const std::string& target) {
  return RunProbe("payload_probe.exe",
                  "write " + std::to_string(id) + " " + name + " " + Quoted(target));
}

// The file the build embedded as payload `id` (REMEDION_EMBEDDED_PAYLOAD_<id>).
std::string EmbeddedSource(uint16_t id) {
  return RequiredEnv(("REMEDION_EMBEDDED_PAYLOAD_" + std::to_string(id)).c_str());
}

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

TEST(WriteResourceToFile, ThePayloadsAreWrittenByteForByte) {
  ScopedTempDir temp;
  const struct {
    uint16_t id;
    const char* name;
  } payloads[] = {{kSetupClientInstallerId, kSetupClientInstallerName},
                  {kLauncherMsiId, kLauncherMsiName},
                  {kSetupClient2273InstallerId, kSetupClient2273InstallerName}};
  for (const auto& payload : payloads) {
    SCOPED_TRACE(payload.name);
    const auto source = ReadFileBytes(EmbeddedSource(payload.id));
    ASSERT_TRUE(source && !source->empty());
    const std::string target = temp.path() + "\\" + payload.name;

    const LoggedRun run = WriteOut(payload.id, payload.name, target);
    ASSERT_TRUE(run.child.finished);
    EXPECT_EQ(run.child.exitCode, 10u);
    EXPECT_TRUE(ReadFileBytes(target) == source) << "the written file differs from its source";
    // A fresh target: no "Found" line; the success message's own line end
    // leaves an empty line behind it.
    const std::vector<std::string> expected = {
        "File " + std::string(payload.name) + " successfully written to  " + target,
        "New size of " + std::string(payload.name) + ":  " + std::to_string(source->size()) +
            " at:  " + target};
    EXPECT_EQ(Messages(run.log, kTag), expected);
  }
}

TEST(WriteResourceToFile, AnExistingTargetIsReportedAndRewrittenInBinaryMode) {
  ScopedTempDir temp;
  const std::string target = temp.path() + "\\probe.bin";
  ASSERT_TRUE(WriteFileBytes(target, "older and longer content"));

  const LoggedRun run = WriteOut(kBinaryBytesId, "probe.bin", target);
  ASSERT_TRUE(run.child.finished);
  EXPECT_EQ(run.child.exitCode, 10u);
  // Exactly the resource: no CR added, nothing cut at Ctrl-Z or a NUL, no
  // trailing zero, nothing of the old content left.
  EXPECT_EQ(ReadFileBytes(target), kBinaryBytes);
  const std::vector<std::string> expected = {"Found probe.bin (Size:  24) at:  " + target,
                                             "File probe.bin successfully written to  " + target,
                                             "New size of probe.bin:  15 at:  " + target};
  EXPECT_EQ(Messages(run.log, kTag), expected);
}

TEST(WriteResourceToFile, AMissingOrZeroLedResourceWritesNothing) {
  ScopedTempDir temp;
  {
    const std::string target = temp.path() + "\\missing.exe";
    const LoggedRun run = WriteOut(kMissingId, "missing.exe", target);
    ASSERT_TRUE(run.child.finished);
    EXPECT_EQ(run.child.exitCode, 11u);
    EXPECT_FALSE(Exists(target));
    // 1814: ERROR_RESOURCE_NAME_NOT_FOUND, the lookup's own error, kept
    // through to the summary line.
    EXPECT_EQ(Messages(run.log, "LoadFileInResource"),
              std::vector<std::string>{"Unable to locate resource:  1814"});
    EXPECT_EQ(Messages(run.log, kTag),
              std::vector<std::string>{
                  "Unable to locate resource file:  missing.exe; Size:  0, Error:  1814"});
  }
  {
    const std::string target = temp.path() + "\\zero.bin";
    const LoggedRun run = WriteOut(kZeroFirstByteId, "zero.bin", target);
    ASSERT_TRUE(run.child.finished);
    EXPECT_EQ(run.child.exitCode, 11u);
    EXPECT_FALSE(Exists(target));
    EXPECT_TRUE(Messages(run.log, "LoadFileInResource").empty());
    const std::vector<std::string> messages = Messages(run.log, kTag);
    ASSERT_EQ(messages.size(), 1u);
    // The size found is reported: the resource exists, it only is no payload.
    EXPECT_TRUE(std::regex_match(
        messages[0],
        std::regex(R"(Unable to locate resource file:  zero\.bin; Size:  16, Error:  \d+)")))
        << messages[0];
  }
}

TEST(WriteResourceToFile, ATargetInAMissingFolderCannotBeOpened) {
  ScopedTempDir temp;
  const std::string target = temp.path() + "\\no\\such\\folder\\probe.bin";
  const LoggedRun run = WriteOut(kBinaryBytesId, "probe.bin", target);
  ASSERT_TRUE(run.child.finished);
  EXPECT_EQ(run.child.exitCode, 11u);
  EXPECT_FALSE(Exists(temp.path() + "\\no"));
  // ENOENT from the runtime library, ERROR_PATH_NOT_FOUND from the system;
  // no size line follows.
  EXPECT_EQ(Messages(run.log, kTag),
            std::vector<std::string>{"Unable to open file (" + target + "): 2; WinError:  3"});
}
