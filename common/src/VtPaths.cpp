// Resolution of the system's fixed paths. The shipped programs use the
// locations compiled in; the test build (VT_PATHS_FROM_ENV) lets each test
// point the same program at a folder of its own through VT_TEST_ROOT and
// VT_TEST_SPOOL_DIR, so that tests can run in parallel, and at a Ghostscript
// of its choice through VT_TEST_GHOSTSCRIPT. Under VT_TEST_ROOT the
// test build always uses the default layout (/Library/..., /System/...), so
// the tests' own files are where they expect them whatever layout the build
// was configured for.
#include "VtPaths.h"

#include <cstdlib>
#include <cstring>

#ifndef VT_ROOT_STR
#define VT_ROOT_STR ""
#endif
#ifndef VT_GHOSTSCRIPT_STR
#define VT_GHOSTSCRIPT_STR "gs"
#endif
#ifndef VT_SPOOL_DIR_STR
#define VT_SPOOL_DIR_STR "/var/spool/cups/tmp"
#endif

namespace {
const char kDefaultCustomizeFile[] = "/Library/Printers/VANTORA/{model}/Plist/FilterCustomize.plist";
const char kDefaultHelperPath[] =
    "/Library/Application Support/VANTORA/Q610/Helpers/Q610Helper.app/Contents/MacOS/Q610Helper";
const char kDefaultSystemVersionFile[] = "/System/Library/CoreServices/SystemVersion.plist";

#ifndef VT_CUSTOMIZE_FILE_STR
#define VT_CUSTOMIZE_FILE_STR kDefaultCustomizeFile
#endif
#ifndef VT_HELPER_PATH_STR
#define VT_HELPER_PATH_STR kDefaultHelperPath
#endif
#ifndef VT_SYSTEM_VERSION_FILE_STR
#define VT_SYSTEM_VERSION_FILE_STR kDefaultSystemVersionFile
#endif

// The root the paths are resolved against, and whether it came from the
// test environment.
const char *RootPrefix(bool *fromTest) {
  *fromTest = false;
#ifdef VT_PATHS_FROM_ENV
  if (const char *env = std::getenv("VT_TEST_ROOT")) {
    *fromTest = true;
    return env;
  }
#endif
  return VT_ROOT_STR;
}

// The configured path, or its default when a test supplies the root.
std::string Resolve(const char *configured, const char *fallback) {
  bool fromTest = false;
  std::string path(RootPrefix(&fromTest));
  path += fromTest ? fallback : configured;
  return path;
}
}  // namespace

std::string VtRootPath(const char *absolutePath) {
  bool fromTest = false;
  std::string path(RootPrefix(&fromTest));
  path += absolutePath ? absolutePath : "";
  return path;
}

std::string VtCustomizeFile(const char *modelKey) {
  static const char kPlaceholder[] = "{model}";
  const std::string key = modelKey ? modelKey : "";
  std::string path = Resolve(VT_CUSTOMIZE_FILE_STR, kDefaultCustomizeFile);
  for (size_t at = path.find(kPlaceholder); at != std::string::npos;
       at = path.find(kPlaceholder, at + key.size())) {
    path.replace(at, std::strlen(kPlaceholder), key);
  }
  return path;
}

std::string VtHelperProgram() { return Resolve(VT_HELPER_PATH_STR, kDefaultHelperPath); }

std::string VtSystemVersionFile() {
  return Resolve(VT_SYSTEM_VERSION_FILE_STR, kDefaultSystemVersionFile);
}

const char *VtSpoolDir() {
#ifdef VT_PATHS_FROM_ENV
  if (const char *env = std::getenv("VT_TEST_SPOOL_DIR")) return env;
#endif
  return VT_SPOOL_DIR_STR;
}

const char *VtGhostscript() {
#ifdef VT_PATHS_FROM_ENV
  if (const char *env = std::getenv("VT_TEST_GHOSTSCRIPT")) return env;
#endif
  return VT_GHOSTSCRIPT_STR;
}
