// Argument strings for msiexec: install a package file, remove a product.
// Both run quietly unless the installation is interactive and append a
// verbose log, <logName>.log, to the program's logging folder under Public;
// when a link or another user's file stands there, to the same folder in the
// user's local application data instead (logged), or to none.
#pragma once

#include <string>

// /i "<packagePath>" <mode> /L*v+ "<Public>\Tessaly\Logging\<logName>.log"
std::string BuildMsiInstallCommandLine(bool interactive, const std::string& packagePath,
                                       const std::string& logName);

// /x <productCode> <mode> /L*v+ "<Public>\Tessaly\Logging\<logName>.log"; the
// product code (a GUID in braces) is not quoted.
std::string BuildMsiUninstallCommandLine(bool interactive, const std::string& productCode,
                                         const std::string& logName);

// `arguments` without its log switch and what follows it (the log switch
// is always last): for a second run when msiexec could not open its log.
std::string WithoutMsiLog(const std::string& arguments);
