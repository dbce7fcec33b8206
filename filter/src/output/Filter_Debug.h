// The filter's diagnostic sink. CUPS reads a filter's standard error: lines
// starting "DEBUG:" go to the error log, "ERROR:" lines are shown to the user,
// "PAGE:" and "ATTR:" lines report progress. Standard output carries only the
// print stream.
#pragma once

// Writes the formatted text as one "DEBUG: " line on standard error.
void vDebugMessage(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Writes the formatted text as one "ERROR: " line on standard error; used for
// failures that end the job.
void vErrorMessage(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Tells CUPS that page n has been written (one copy) and how many pages the
// job has completed so far: "PAGE: n 1" and
// "ATTR: job-impressions-completed=n".
void vProgressPage(int pageNumber);

// Turns all of the above off (on by default); for in-process fuzzing, where
// standard error belongs to the fuzzer.
void vSetDiagnosticsEnabled(bool enabled);
