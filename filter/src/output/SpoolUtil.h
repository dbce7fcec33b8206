// Output sinks of the line pass: standard output for a one-pass job, spool
// file A when the job is re-imposed afterwards. Also the spool file names.
#pragma once

#include <cstddef>
#include <cstdio>

extern char *cpSpoolFileAwithPID;  // path of spool file A, or null
extern char *cpSpoolFileBwithPID;  // path of spool file B, or null
extern int giSpoolHandle;          // descriptor of spool file A, or -1
// Set by any stage whose failure would lose or truncate the job (a short
// spool write, an unreadable spool file, a failed allocation, a write error on
// standard output). main stops and exits with status 1 when it is set.
extern int giJobFailed;

// Names spool files A and B after the process id, in the CUPS temporary
// folder.
void vCreateSpoolFileName();
// Names the spool files, removes a stale file A and creates A afresh,
// exclusively and without following a link. When that fails the job cannot
// print: giJobFailed is set with an ERROR line.
void vCreateSpoolFile();
// Writes what the pass has buffered for spool file A (vCloseSpoolFile does
// this too); 0, with the job failed, when it cannot be written.
int bFlushSpoolFile();
void vCloseSpoolFile();
// Writes size * count bytes to spool file A (spool == 1) or to stream. A
// failed or short write sets giJobFailed with an ERROR line; once the job has
// failed, nothing more is written.
void vWrappedFwrite(const void *data, size_t size, size_t count, FILE *stream, int spool);
// Writes the text's bytes as they are (no format conversion), like
// vWrappedFwrite.
void vWrappedFprintf(FILE *stream, const char *text, int spool);

// Removes both spool files and frees their names (end of job).
void vRemoveSpoolFiles();

// CUPS cancels a job with SIGTERM: installs a handler that removes the spool
// files and ends the process at once (exit status 1).
void vInstallCancelHandler();
