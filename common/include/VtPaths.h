// Fixed locations of the system: the model's customisation file, the
// Wake-on-LAN helper, the operating system's version file and the CUPS spool
// folder. Each is a build option (VT_CUSTOMIZE_FILE, VT_HELPER_PATH,
// VT_SYSTEM_VERSION_FILE, VT_SPOOL_DIR) whose default is the path the driver
// uses on the Mac; a package for another layout sets each one. The first
// three are resolved against the build's VT_ROOT.
#pragma once

#include <string>

// VT_ROOT followed by an absolute path of the system, e.g.
// VtRootPath("/System/Library/CoreServices/SystemVersion.plist").
std::string VtRootPath(const char *absolutePath);

// The customisation file of a model: the VT_CUSTOMIZE_FILE pattern with each
// "{model}" replaced by modelKey, under VT_ROOT. The caller vouches that the
// key is a single, harmless path component.
std::string VtCustomizeFile(const char *modelKey);

// The Wake-on-LAN helper program the filter starts, under VT_ROOT.
std::string VtHelperProgram();

// The property list holding the operating system's ProductVersion, under
// VT_ROOT.
std::string VtSystemVersionFile();

// The folder that holds the filter's spool files, without a trailing slash.
const char *VtSpoolDir();

// The Ghostscript program the filter runs to give a document without page
// structure its pages: the build option VT_GHOSTSCRIPT, "gs" (looked up on
// PATH) by default.
const char *VtGhostscript();
