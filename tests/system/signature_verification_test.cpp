// Under Wine, WinVerifyTrust checks a PE file's digest but neither builds the
// chain to a trusted root nor checks an MSI package's digest. The kit's files
// are signed by a throwaway root that Windows would not trust; these tests
// assert what Wine shows and say where Windows would be stricter.
#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "system/signature_constants.h"
#include "system/signature_verification.h"
#include "tests/support/handle_count.h"
#include "tests/support/test_support.h"
#include "tests/system/system_probe.h"

using namespace test_support;
using namespace signature_constants;

// The kit signs its fixtures with these names (the helper's own list of
// accepted signers lives with the flows that run installers).
constexpr char kSignerTessaly[] = "Tessaly, LLC";
constexpr char kSignerQuarnel[] = "Quarnel Networks, Inc.";
constexpr char kSignerOrvane[] = "Orvane, Inc.";

namespace {

std::string Fixture(const std::string& name) { return KitPath("fixtures\\" + name); }

bool Verify(const std::string& path) {
  return qvVerifySignature(path, kSignerTessaly, kSignerQuarnel, kSignerOrvane);
}

struct Verification {
  DWORD exitCode = 0;
  std::vector<std::string> messages;  // under the check's tag, tag cut off
};

// The check in a probe process of its own, with the accepted names given.
Verification VerifyInProbe(const std::string& path, const std::string& name1 = kSignerTessaly,
                           const std::string& name2 = kSignerQuarnel,
                           const std::string& name3 = kSignerOrvane) {
  const auto run = RunProbe(kSystemProbe, "verify " + Quoted(path) + " " + Quoted(name1) + " " +
                                        Quoted(name2) + " " + Quoted(name3));
  return {run.child.finished ? run.child.exitCode : 0, Messages(run.log, "qvVerifySignature")};
}

std::vector<std::string> Opening(const std::string& path) {
  return {">>>", "qvVerifySignature;  verifying signature on " + path};
}

std::vector<std::string> Concat(std::vector<std::string> first,
                                const std::vector<std::string>& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

constexpr char kAccepted[] = "qvVerifySignature;  verifySignature complete with result 1";
constexpr char kRejected[] = "qvVerifySignature;  verifySignature complete with result 0";
constexpr char kNotSignedBy[] =
    "qvVerifySignature;  not signed by 'Tessaly, LLC' or 'Quarnel Networks, Inc.'";

// Bytes allocated from all of the process's heaps.
size_t HeapBytesInUse() {
  std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 16);
  heaps.resize(GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data()));
  size_t total = 0;
  for (HANDLE heap : heaps) {
    if (!HeapLock(heap)) continue;
    PROCESS_HEAP_ENTRY entry = {};
    while (HeapWalk(heap, &entry)) {
      if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) total += entry.cbData;
    }
    HeapUnlock(heap);
  }
  return total;
}

}  // namespace

TEST(SignatureVerification, AFileWithoutAnEmbeddedSignatureFailsAtTheQuery) {
  for (const char* name : {"unsigned.exe", "no_signature.bin"}) {
    SCOPED_TRACE(name);
    const std::string path = Fixture(name);
    ASSERT_NE(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(Verify(path));

    const Verification run = VerifyInProbe(path);
    EXPECT_EQ(run.exitCode, 11u);
    ASSERT_EQ(run.messages.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(run.messages.begin(), run.messages.begin() + 2),
              Opening(path));
    // The system's own error code, never zero.
    EXPECT_TRUE(std::regex_match(
        run.messages[2],
        std::regex(
            R"(qvVerifySignature;  CryptQueryObject\(\) failed, error: 0x[0-9a-f]*[1-9a-f][0-9a-f]*)")))
        << run.messages[2];
    EXPECT_EQ(run.messages[3], kRejected);
  }
}

TEST(SignatureVerification, ANearMissSignerIsRejectedWithoutATrustCheck) {
  for (const char* name : {"signed_tessaly_llc_no_comma.exe", "signed_tessaly_lower_case.exe"}) {
    SCOPED_TRACE(name);
    const std::string path = Fixture(name);
    EXPECT_FALSE(Verify(path));
    const Verification run = VerifyInProbe(path);
    EXPECT_EQ(run.exitCode, 11u);
    // No WinVerifyTrust line and no "verified" line: the rejection message,
    // which names only the first two places, is followed by the outcome.
    EXPECT_EQ(run.messages, Concat(Opening(path), {kNotSignedBy, kRejected}));
  }
  // The kit's payloads signed by the near miss fare the same.
  const std::string payload = KitPath("bad_signer\\TYSetupClientInstaller.exe");
  EXPECT_EQ(VerifyInProbe(payload).messages, Concat(Opening(payload), {kNotSignedBy, kRejected}));
}

TEST(SignatureVerification, EachAcceptedSignerPassesWhateverPlaceItHolds) {
  const struct {
    const char* file;
    const char* signer;
  } cases[] = {{"signed_tessaly.exe", kSignerTessaly},
               {"signed_quarnel.exe", kSignerQuarnel},
               // Third place: accepted though the rejection message never names it.
               {"signed_orvane.exe", kSignerOrvane}};
  for (const auto& signedFile : cases) {
    SCOPED_TRACE(signedFile.file);
    const std::string path = Fixture(signedFile.file);
    EXPECT_TRUE(Verify(path));
    const Verification run = VerifyInProbe(path);
    EXPECT_EQ(run.exitCode, 10u);
    EXPECT_EQ(run.messages, Concat(Opening(path), {"qvVerifySignature;  " + path + " signed by " +
                                                       signedFile.signer + " and verified",
                                                   kAccepted}));
  }
  // The comparison is exact and only non-empty places take part.
  EXPECT_TRUE(qvVerifySignature(Fixture("signed_orvane.exe"), "", "", kSignerOrvane));
  EXPECT_FALSE(qvVerifySignature(Fixture("signed_orvane.exe"), "Orvane, Inc", "", ""));
  EXPECT_FALSE(qvVerifySignature(Fixture("signed_orvane.exe"), kSignerTessaly, "", ""));
}

TEST(SignatureVerification, WithNoNamesGivenOnlyTheTrustCheckDecides) {
  // On Windows this near-miss file would still fail the trust check, its
  // root being untrusted; Wine builds no chain and accepts it.
  const std::string path = Fixture("signed_tessaly_llc_no_comma.exe");
  const Verification run = VerifyInProbe(path, "", "", "");
  EXPECT_EQ(run.exitCode, 10u);
  EXPECT_EQ(run.messages,
            Concat(Opening(path),
                   {"qvVerifySignature;  Skipping Signer Name validation '' or ''", kAccepted}));

  // The name test being skipped does not skip the trust check.
  const std::string tampered = Fixture("tampered.exe");
  EXPECT_FALSE(qvVerifySignature(tampered, "", "", ""));
}

TEST(SignatureVerification, AChangedByteFailsTheTrustCheck) {
  const std::string path = Fixture("tampered.exe");
  EXPECT_FALSE(Verify(path));
  const Verification run = VerifyInProbe(path);
  EXPECT_EQ(run.exitCode, 11u);
  // 0x80096010: TRUST_E_BAD_DIGEST; the message carries no prefix of its own.
  EXPECT_EQ(run.messages,
            Concat(Opening(path), {"WinVerifyTrust() failed, 0x80096010", kRejected}));
}

TEST(SignatureVerification, TheKitsPayloadsAndASignedPackageAreAccepted) {
  // Wine does not check an MSI package's digest: on Windows the packages'
  // acceptance also proves their content unchanged.
  const struct {
    std::string path;
    const char* signer;
  } cases[] = {{KitPath("TYSetupClientInstaller.exe"), kSignerTessaly},
               {KitPath("TessalyAppLauncher.msi"), kSignerTessaly},
               {KitPath("TYSetupClientInstaller_22.7.3.exe"), kSignerOrvane},
               {Fixture("signed.msi"), kSignerTessaly}};
  for (const auto& payload : cases) {
    SCOPED_TRACE(payload.path);
    EXPECT_TRUE(Verify(payload.path));
    // And by the signer the helper's resource table promises for it.
    EXPECT_TRUE(qvVerifySignature(payload.path, payload.signer, "", ""));
  }
}

TEST(SignatureVerification, EveryPathReleasesWhatItOpened) {
  const std::vector<std::string> paths = {
      Fixture("signed_orvane.exe"), Fixture("unsigned.exe"),
      Fixture("no_signature.bin"),  Fixture("signed_tessaly_lower_case.exe"),
      Fixture("tampered.exe"),      Fixture("signed.msi"),
      Fixture("missing.exe")};
  // One round first: the crypto libraries keep what they load and cache
  // for the process.
  for (const std::string& path : paths) Verify(path);

  // Stores, messages and buffers are heap memory, not handles: a store left
  // open costs kilobytes per check, a name buffer a dozen bytes: forty checks
  // show either.
  constexpr int kRounds = 40;
  constexpr size_t kHeapSlack = 256;
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    const DWORD handlesBefore = OwnHandleCount();
    ASSERT_GT(handlesBefore, 0u) << "no handle count";
    const size_t heapBefore = HeapBytesInUse();
    for (int round = 0; round < kRounds; ++round) Verify(path);
    EXPECT_EQ(OwnHandleCount(), handlesBefore);
    EXPECT_LT(HeapBytesInUse(), heapBefore + kHeapSlack);
  }
}
