// Resolution of the system's fixed paths. The shipped programs use the
// locations compiled in; the test build (VT_PATHS_FROM_ENV) lets each test
// point the same program at a folder of its own through VT_TEST_ROOT and
// VT_TEST_SPOOL_DIR, so that tests can run in parallel.
#include "VtPaths.h"

#include <cstdlib>

#ifndef VT_ROOT_STR
#define VT_ROOT_STR ""
#endif
#ifndef VT_SPOOL_DIR_STR
#define VT_SPOOL_DIR_STR "/var/spool/cups/tmp"
#endif

namespace {
const char *RootPrefix() {
#ifdef VT_PATHS_FROM_ENV
  if (const char *env = std::getenv("VT_TEST_ROOT")) return env;
#endif
  return VT_ROOT_STR;
}
}  // namespace

std::string VtRootPath(const char *absolutePath) {
  std::string path(RootPrefix());
  path += absolutePath ? absolutePath : "";
  return path;
}

const char *VtSpoolDir() {
#ifdef VT_PATHS_FROM_ENV
  if (const char *env = std::getenv("VT_TEST_SPOOL_DIR")) return env;
#endif
  return VT_SPOOL_DIR_STR;
}
