// Shared by the job-ticket fuzz targets: a private VT_TEST_ROOT holding the
// customisation file's folder, removed when the fuzzer ends.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace ticketfuzz {
inline std::string gRoot;
inline std::string gFilePath;
inline const char *const kFolders[] = {"/Library", "/Library/Printers",
                                       "/Library/Printers/VANTORA",
                                       "/Library/Printers/VANTORA/Q610",
                                       "/Library/Printers/VANTORA/Q610/Plist"};

inline void RemoveRoot() {
  unlink(gFilePath.c_str());
  for (int i = 4; i >= 0; --i) rmdir((gRoot + kFolders[i]).c_str());
  rmdir(gRoot.c_str());
}

// Makes the root (/tmp/vt-fuzz-<name>-XXXXXX) and points the filter's code at it.
inline void MakeRoot(const char *name) {
  std::string templ = std::string("/tmp/vt-fuzz-") + name + "-XXXXXX";
  if (!mkdtemp(templ.data())) abort();
  setenv("VT_TEST_ROOT", templ.c_str(), 1);
  gRoot = templ;
  for (const char *part : kFolders) mkdir((gRoot + part).c_str(), 0755);
  gFilePath = gRoot + "/Library/Printers/VANTORA/Q610/Plist/FilterCustomize.plist";
  atexit(RemoveRoot);
}

// Replaces the customisation file with the given bytes.
inline void WriteFile(const void *data, size_t size) {
  FILE *file = std::fopen(gFilePath.c_str(), "wb");
  if (!file) abort();
  if (size) std::fwrite(data, 1, size, file);
  std::fclose(file);
}
}  // namespace ticketfuzz
