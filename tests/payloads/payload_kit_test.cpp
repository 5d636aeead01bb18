// The payload kit as the helper meets it: each installer, run silently in the
// test prefix, installs its stand-in component for the current user and its
// uninstaller (or msiexec /x) removes it again; the fixtures carry the
// signers and digests the signature check is tested against; the helper and
// its variants embed the kit's files byte for byte.
//
// The installers write into the prefix user's real roaming folder and product
// registry. Each test starts from a prefix without these components (it
// fails at once otherwise) and removes whatever it installed, also when an
// assertion ends it early.
#include <windows.h>
#include <msi.h>
#include <shlobj.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "process/win_process.h"
#include "system/known_folders.h"
#include "tests/support/component_profile.h"
#include "tests/support/test_support.h"

using namespace test_support;

namespace {

constexpr char kLauncherProductName[] = "Kelvo Application Launcher";
constexpr char kLauncher2271ProductCode[] = "{C112CAC3-0114-44E0-A8F1-C32E28969D64}";
constexpr char kLauncher2272ProductCode[] = "{BC0B1052-FEA3-4B1F-B3C0-9F60332010BA}";
constexpr char kQuietSwitches[] = " /quiet /qn /norestart";

const std::vector<std::string> kCompanyFolders = {"Tessaly", "Quarnel Networks"};

// The roaming application-data folder as the installers see it (the shell's,
// not %APPDATA%), with a trailing backslash.
std::string RoamingAppData() {
  char folder[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) {
    throw std::runtime_error("SHGetFolderPathA(CSIDL_APPDATA) failed");
  }
  return std::string(folder) + "\\";
}

std::string SetupClientFolder(const std::string& company) {
  return RoamingAppData() + company + "\\Setup Client\\";
}

std::string LauncherFolder() { return RoamingAppData() + "Tessaly\\KVAL\\"; }

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ProductInfo(const std::string& productCode, const char* property) {
  char value[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  if (MsiGetProductInfoA(productCode.c_str(), property, value, &size) != ERROR_SUCCESS) return {};
  return value;
}

ChildResult RunMsiExec(const std::string& arguments) {
  return RunChild("\"" + GetMsiExecPath() + "\" " + arguments);
}

ChildResult InstallPackage(const std::string& kitRelativePath) {
  return RunMsiExec("/i \"" + KitPath(kitRelativePath) + "\"" + kQuietSwitches +
                    " KVAL_SMS_PUSH=1");
}

ChildResult RemoveProduct(const std::string& productCode) {
  return RunMsiExec("/x " + productCode + kQuietSwitches);
}

// Runs a setup client's uninstall.exe as the helper does: in a job, waited
// for until the copy it re-launches from the temporary folder has ended too.
std::optional<DWORD> RunUninstaller(const std::string& company) {
  WinProcess uninstaller(SetupClientFolder(company) + "uninstall.exe", " /S");
  DWORD exitCode = 0;
  if (!uninstaller.Launch(WinProcess::LaunchForm::Job, "Local\\KitTest_") ||
      !uninstaller.Wait(INFINITE) || !uninstaller.GetExitCode(exitCode)) {
    return std::nullopt;
  }
  return exitCode;
}

// What the kit's installers put into the prefix: found before a test (the
// test then refuses to run) and removed after it.
class KitComponentsInPrefix {
 public:
  KitComponentsInPrefix() : uninstallerCopiesAtStart_(UninstallerCopyFolders()) {
    cleanAtStart_ = Describe().empty();
  }
  ~KitComponentsInPrefix() {
    if (!cleanAtStart_) return;
    try {
      RemoveAll();
      RemoveNewUninstallerCopies();
    } catch (const std::exception& error) {
      ADD_FAILURE() << "restoring the prefix failed: " << error.what();
    }
  }
  KitComponentsInPrefix(const KitComponentsInPrefix&) = delete;
  KitComponentsInPrefix& operator=(const KitComponentsInPrefix&) = delete;

  bool cleanAtStart() const { return cleanAtStart_; }

  // The components present, as text for a failure message; empty when none.
  static std::string Describe() {
    std::string found;
    for (const std::string& code : InstalledLauncherProducts()) found += "product " + code + "; ";
    for (const std::string& company : kCompanyFolders) {
      if (Exists(SetupClientFolder(company))) found += SetupClientFolder(company) + "; ";
    }
    if (Exists(LauncherFolder())) found += LauncherFolder() + "; ";
    return found;
  }

 private:
  static void RemoveAll() {
    for (const std::string& code : InstalledLauncherProducts()) RemoveProduct(code);
    std::error_code ignored;
    for (const std::string& company : kCompanyFolders) {
      if (Exists(SetupClientFolder(company) + "uninstall.exe")) RunUninstaller(company);
      std::filesystem::remove_all(FsPath(SetupClientFolder(company)), ignored);
      std::filesystem::remove(FsPath(RoamingAppData() + company), ignored);  // only when empty
    }
    std::filesystem::remove_all(FsPath(LauncherFolder()), ignored);
    std::filesystem::remove(FsPath(RoamingAppData() + "Tessaly"), ignored);
  }

  // NSIS runs an uninstaller from a copy in a "~nsuN.tmp" folder of the
  // temporary folder and leaves that folder behind.
  static std::set<std::filesystem::path> UninstallerCopyFolders() {
    std::set<std::filesystem::path> folders;
    char temp[MAX_PATH] = {};
    if (GetTempPathA(MAX_PATH, temp) == 0) return folders;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(FsPath(temp), ignored)) {
      const std::string name = AnsiName(entry.path());
      if (name.rfind("~nsu", 0) == 0 && entry.is_directory(ignored)) folders.insert(entry.path());
    }
    return folders;
  }

  void RemoveNewUninstallerCopies() const {
    std::error_code ignored;
    for (const auto& folder : UninstallerCopyFolders()) {
      if (uninstallerCopiesAtStart_.count(folder) == 0)
        std::filesystem::remove_all(folder, ignored);
    }
  }

  const std::set<std::filesystem::path> uninstallerCopiesAtStart_;
  bool cleanAtStart_ = false;
};

#define ASSERT_PREFIX_CLEAN(components)                                      \
  ASSERT_TRUE((components).cleanAtStart())                                   \
      << "the prefix already holds kit components, left by an earlier run: " \
      << KitComponentsInPrefix::Describe()

}  // namespace

TEST(SetupClientInstallers, InstallTheirVersionSilentlyAndTheirUninstallerRemovesIt) {
  KitComponentsInPrefix components;
  ASSERT_PREFIX_CLEAN(components);
  struct Case {
    std::string installer;
    std::string company;
    std::string version;
  };
  const Case cases[] = {
      {"TYSetupClientInstaller.exe", "Tessaly", "22.7.2.0"},
      {"TYSetupClientInstaller_22.7.3.exe", "Tessaly", "22.7.3.0"},
      {"old\\TYSetupClientInstaller_22.7.1_Tessaly.exe", "Tessaly", "22.7.1.0"},
      {"old\\TYSetupClientInstaller_22.7.1_Quarnel.exe", "Quarnel Networks", "22.7.1.0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.installer);
    const std::string folder = SetupClientFolder(c.company);
    ASSERT_EQ(RunSetupProgram(KitPath(c.installer)), 0u);
    EXPECT_EQ(FileVersionOf(folder + "KelvoSetupClient.exe"), c.version);
    ASSERT_TRUE(Exists(folder + "uninstall.exe"));

    EXPECT_EQ(RunUninstaller(c.company), std::optional<DWORD>(0));
    EXPECT_FALSE(Exists(folder + "KelvoSetupClient.exe"));
    EXPECT_FALSE(Exists(folder + "uninstall.exe"));
    EXPECT_FALSE(Exists(folder));
    EXPECT_FALSE(Exists(RoamingAppData() + c.company)) << "an emptied company folder stays";
  }
}

TEST(SetupClientInstallers, UninstallerLeavesTheCompanyFolderWhenAnotherComponentLivesThere) {
  KitComponentsInPrefix components;
  ASSERT_PREFIX_CLEAN(components);
  ASSERT_EQ(InstallPackage("old\\TessalyAppLauncher_22.7.1.msi").exitCode, 0u);
  ASSERT_EQ(RunSetupProgram(KitPath("TYSetupClientInstaller.exe")), 0u);
  ASSERT_TRUE(Exists(SetupClientFolder("Tessaly") + "KelvoSetupClient.exe"));

  EXPECT_EQ(RunUninstaller("Tessaly"), std::optional<DWORD>(0));
  EXPECT_FALSE(Exists(SetupClientFolder("Tessaly")));
  EXPECT_TRUE(Exists(LauncherFolder() + "KelvoApplicationLauncher.exe"));
}

TEST(LauncherPackages, InstallPerUserUpgradeTheOlderVersionAndRemoveCleanly) {
  KitComponentsInPrefix components;
  ASSERT_PREFIX_CLEAN(components);
  const std::string launcherExe = LauncherFolder() + "KelvoApplicationLauncher.exe";

  const ChildResult oldInstall = InstallPackage("old\\TessalyAppLauncher_22.7.1.msi");
  ASSERT_TRUE(oldInstall.finished);
  EXPECT_EQ(oldInstall.exitCode, 0u);
  EXPECT_EQ(FileVersionOf(launcherExe), "22.7.1.0");
  EXPECT_EQ(InstalledLauncherProducts(), std::vector<std::string>{kLauncher2271ProductCode});
  EXPECT_EQ(ProductInfo(kLauncher2271ProductCode, INSTALLPROPERTY_PRODUCTNAME),
            kLauncherProductName);
  // 0: installed for the current user only.
  EXPECT_EQ(ProductInfo(kLauncher2271ProductCode, INSTALLPROPERTY_ASSIGNMENTTYPE), "0");

  const ChildResult upgrade = InstallPackage("TessalyAppLauncher.msi");
  ASSERT_TRUE(upgrade.finished);
  EXPECT_EQ(upgrade.exitCode, 0u);
  EXPECT_EQ(FileVersionOf(launcherExe), "22.7.2.0");
  EXPECT_EQ(InstalledLauncherProducts(), std::vector<std::string>{kLauncher2272ProductCode})
      << "the major upgrade leaves only the new product";

  const ChildResult removal = RemoveProduct(kLauncher2272ProductCode);
  ASSERT_TRUE(removal.finished);
  EXPECT_EQ(removal.exitCode, 0u);
  EXPECT_TRUE(InstalledLauncherProducts().empty());
  EXPECT_FALSE(Exists(launcherExe));
  EXPECT_FALSE(Exists(LauncherFolder()));
  EXPECT_FALSE(Exists(RoamingAppData() + "Tessaly"));
}

TEST(LauncherPackages, PackagesUnderOtherNamesInstallBesideTheLauncherUnderItsUpgradeCode) {
  KitComponentsInPrefix components;
  ASSERT_PREFIX_CLEAN(components);
  struct Case {
    std::string package;
    std::string productCode;
    std::string productName;
  };
  const Case cases[] = {
      {"fixtures\\launcher_named_other.msi", "{97216D72-A81C-40EC-A58B-4AC118BC088F}",
       "Kelvo Application Launcher 2"},
      {"fixtures\\launcher_named_lower_case.msi", "{F0FFE965-9300-4FCA-B4DA-C21BF6E73EC7}",
       "kelvo application launcher"},
      {"TessalyAppLauncher.msi", kLauncher2272ProductCode, kLauncherProductName},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.package);
    ASSERT_EQ(InstallPackage(c.package).exitCode, 0u);
    EXPECT_EQ(ProductInfo(c.productCode, INSTALLPROPERTY_PRODUCTNAME), c.productName);
  }
  EXPECT_EQ(InstalledLauncherProducts().size(), 3u) << "none replaced another";

  for (const Case& c : cases) EXPECT_EQ(RemoveProduct(c.productCode).exitCode, 0u) << c.package;
  EXPECT_TRUE(InstalledLauncherProducts().empty());
  EXPECT_FALSE(Exists(LauncherFolder()));
}

TEST(LauncherPackages, FailingPackageEndsWithInstallFailureAndInstallsNothing) {
  KitComponentsInPrefix components;
  ASSERT_PREFIX_CLEAN(components);
  const ChildResult install = InstallPackage("fixtures\\failing_launcher.msi");
  ASSERT_TRUE(install.finished);
  EXPECT_EQ(install.exitCode, static_cast<DWORD>(ERROR_INSTALL_FAILURE));
  EXPECT_TRUE(InstalledLauncherProducts().empty());
  EXPECT_FALSE(Exists(LauncherFolder()));
}

namespace {

struct CertStoreCloser {
  void operator()(HCERTSTORE store) const { CertCloseStore(store, 0); }
};
struct CryptMsgCloser {
  void operator()(HCRYPTMSG message) const { CryptMsgClose(message); }
};
struct CertContextFreer {
  void operator()(PCCERT_CONTEXT context) const { CertFreeCertificateContext(context); }
};
using UniqueCertStore = std::unique_ptr<void, CertStoreCloser>;
using UniqueCryptMsg = std::unique_ptr<void, CryptMsgCloser>;
using UniqueCertContext = std::unique_ptr<const CERT_CONTEXT, CertContextFreer>;

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// The simple display name of the first signer of the file's embedded
// signature; nullopt when it has none.
std::optional<std::string> EmbeddedSignerName(const std::string& path) {
  const std::wstring widePath = Widen(path);
  HCERTSTORE rawStore = nullptr;
  HCRYPTMSG rawMessage = nullptr;
  DWORD contentType = 0;
  if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, widePath.c_str(),
                        CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED, CERT_QUERY_FORMAT_FLAG_BINARY,
                        0, nullptr, &contentType, nullptr, &rawStore, &rawMessage, nullptr)) {
    return std::nullopt;
  }
  const UniqueCertStore store(rawStore);
  const UniqueCryptMsg message(rawMessage);
  DWORD size = 0;
  if (!CryptMsgGetParam(message.get(), CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size)) return "";
  std::vector<BYTE> buffer(size);
  if (!CryptMsgGetParam(message.get(), CMSG_SIGNER_INFO_PARAM, 0, buffer.data(), &size)) return "";
  const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(buffer.data());
  CERT_INFO wanted = {};
  wanted.Issuer = signer->Issuer;
  wanted.SerialNumber = signer->SerialNumber;
  const UniqueCertContext certificate(
      CertFindCertificateInStore(store.get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                 CERT_FIND_SUBJECT_CERT, &wanted, nullptr));
  if (!certificate) return "";
  char name[256] = {};
  CertGetNameStringA(certificate.get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name,
                     sizeof(name));
  return std::string(name);
}

LONG TrustVerdict(const std::string& path) {
  const std::wstring widePath = Widen(path);
  WINTRUST_FILE_INFO file = {};
  file.cbStruct = sizeof(file);
  file.pcwszFilePath = widePath.c_str();
  WINTRUST_DATA data = {};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_IGNORE;
  data.dwProvFlags = WTD_REVOCATION_CHECK_NONE;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  return WinVerifyTrust(nullptr, &action, &data);
}

}  // namespace

TEST(KitSignatures, EachFileCarriesItsSignerAndTamperingBreaksTheDigest) {
  struct Case {
    std::string file;
    std::optional<std::string> signer;  // nullopt: no embedded signature
  };
  const Case cases[] = {
      {"fixtures\\unsigned.exe", std::nullopt},
      {"fixtures\\no_signature.bin", std::nullopt},
      {"fixtures\\signed_tessaly.exe", "Tessaly, LLC"},
      {"fixtures\\signed_tessaly_llc_no_comma.exe", "Tessaly LLC"},
      {"fixtures\\signed_tessaly_lower_case.exe", "tessaly, llc"},
      {"fixtures\\signed_orvane.exe", "Orvane, Inc."},
      {"fixtures\\signed_quarnel.exe", "Quarnel Networks, Inc."},
      {"fixtures\\tampered.exe", "Tessaly, LLC"},
      {"fixtures\\signed.msi", "Tessaly, LLC"},
      {"fixtures\\failing_launcher.msi", "Tessaly, LLC"},
      {"fixtures\\launcher_named_other.msi", "Tessaly, LLC"},
      {"fixtures\\launcher_named_lower_case.msi", "Tessaly, LLC"},
      {"TYSetupClientInstaller.exe", "Tessaly, LLC"},
      {"TessalyAppLauncher.msi", "Tessaly, LLC"},
      {"TYSetupClientInstaller_22.7.3.exe", "Orvane, Inc."},
      {"old\\TYSetupClientInstaller_22.7.1_Tessaly.exe", "Tessaly, LLC"},
      {"old\\TYSetupClientInstaller_22.7.1_Quarnel.exe", "Tessaly, LLC"},
      {"old\\TessalyAppLauncher_22.7.1.msi", "Tessaly, LLC"},
      {"bad_signer\\TYSetupClientInstaller.exe", "Tessaly LLC"},
      {"bad_signer\\TessalyAppLauncher.msi", "Tessaly LLC"},
      {"bad_signer\\TYSetupClientInstaller_22.7.3.exe", "Tessaly LLC"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    ASSERT_TRUE(Exists(KitPath(c.file)));
    EXPECT_EQ(EmbeddedSignerName(KitPath(c.file)), c.signer);
  }

  // Wine's WinVerifyTrust checks the image digest of a PE file but neither
  // the chain up to a trusted root nor MSI digests; Windows would also reject
  // the kit's files as signed by an untrusted root unless its CA is trusted.
  for (const char* signedProgram :
       {"fixtures\\signed_tessaly.exe", "fixtures\\signed_orvane.exe", "TYSetupClientInstaller.exe",
        "TYSetupClientInstaller_22.7.3.exe"}) {
    EXPECT_EQ(TrustVerdict(KitPath(signedProgram)), 0) << signedProgram;
  }
  EXPECT_EQ(TrustVerdict(KitPath("fixtures\\tampered.exe")), TRUST_E_BAD_DIGEST);
}

namespace {

struct LibraryFreer {
  void operator()(HMODULE module) const { FreeLibrary(module); }
};
using UniqueLibrary = std::unique_ptr<std::remove_pointer_t<HMODULE>, LibraryFreer>;

// The bytes of resource <id> of type 256, language 1033, in the image at
// `path`; nullopt when it has none.
std::optional<std::string> PayloadResource(const std::string& path, WORD id) {
  const UniqueLibrary image(LoadLibraryExA(
      path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  if (!image) return std::nullopt;
  HRSRC resource = FindResourceExA(image.get(), MAKEINTRESOURCEA(256), MAKEINTRESOURCEA(id),
                                   MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  if (resource == nullptr) return std::nullopt;
  HGLOBAL loaded = LoadResource(image.get(), resource);
  const void* bytes = loaded == nullptr ? nullptr : LockResource(loaded);
  if (bytes == nullptr) return std::nullopt;
  return std::string(static_cast<const char*>(bytes), SizeofResource(image.get(), resource));
}

}  // namespace

TEST(EmbeddedPayloads, HelperAndItsVariantsCarryTheirInstallersByteForByte) {
  struct Case {
    std::string exe;
    std::string payload120, payload122, payload133;
  };
  const Case cases[] = {
      {HelperExePath(), "TYSetupClientInstaller.exe", "TessalyAppLauncher.msi",
       "TYSetupClientInstaller_22.7.3.exe"},
      {TestProgramPath("HelperBadSigner.exe"), "bad_signer\\TYSetupClientInstaller.exe",
       "bad_signer\\TessalyAppLauncher.msi", "bad_signer\\TYSetupClientInstaller_22.7.3.exe"},
      {TestProgramPath("HelperFailingMsi.exe"), "TYSetupClientInstaller.exe",
       "fixtures\\failing_launcher.msi", "TYSetupClientInstaller_22.7.3.exe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.exe);
    for (const auto& [id, file] : {std::pair<WORD, std::string>{120, c.payload120},
                                   {122, c.payload122},
                                   {133, c.payload133}}) {
      SCOPED_TRACE(id);
      const std::optional<std::string> expected = ReadFileBytes(KitPath(file));
      ASSERT_TRUE(expected.has_value()) << file;
      const std::optional<std::string> embedded = PayloadResource(c.exe, id);
      ASSERT_TRUE(embedded.has_value());
      EXPECT_TRUE(*embedded == *expected) << "resource differs from " << file;
    }
  }
}
