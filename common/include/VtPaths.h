// Fixed locations of the system (the driver's files under /Library and
// /System, and the CUPS spool folder), resolved against the build's VT_ROOT
// and VT_SPOOL_DIR options.
#pragma once

#include <string>

// VT_ROOT followed by an absolute path of the system, e.g.
// VtRootPath("/System/Library/CoreServices/SystemVersion.plist").
std::string VtRootPath(const char *absolutePath);

// The folder that holds the filter's spool files, without a trailing slash.
const char *VtSpoolDir();
