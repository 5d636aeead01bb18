// What the end-to-end scenarios judge a helper run by, as a user and an
// admin see it: the log's records, the components left installed, the run's
// result record and what is left in a temporary folder.
#pragma once

#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace test_support {

// The switches the deployment package starts the helper with (with a
// product code of its own).
constexpr char kPackageArguments[] =
    "-msiInteractive: False -kuhMSIProdCode: {6F1D2C3B-4A59-4E8D-9C71-2B3A4D5E6F70}";

// The temporary file a payload was written to, as the log names it; empty
// when the log names none.
std::string WrittenPayloadPath(const LoggedRun& run, const std::string& payloadName);

// What the final state dump shows for a counter: its value and the names
// listed under it, "<count>: <names>" (the scan order decides the order of
// the names of stopped programs).
std::string FinalDump(const LoggedRun& run, const std::string& counter);

// Both components of the current release, and one launcher product.
void ExpectCurrentComponents(const std::string& setupClientVersion);

// How every run must end: within its time, with exit code 0, its final
// result line in the log that LastRunLog names, and `outcome` recorded as
// LastRunOutcome.
void ExpectCompleteRun(const LoggedRun& run, const std::string& outcome);

// The names of what is left in `folder` besides `expected`, comma
// separated, empty when nothing; the setup client's uninstaller leaves a
// copy of itself in ~nsu<n>.tmp for removal at the next restart, which is
// never counted.
std::string FolderLeftovers(const std::wstring& folder,
                            const std::vector<std::wstring>& expected = {});

}  // namespace test_support
