// The filter's diagnostic sink. CUPS reads a filter's standard error: lines
// starting "DEBUG:" go to the error log, "ERROR:" lines are shown to the user.
#pragma once

// Writes the formatted text as one "DEBUG: " line on standard error.
void vDebugMessage(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Writes the formatted text as one "ERROR: " line on standard error; used for
// failures that end the job.
void vErrorMessage(const char *format, ...) __attribute__((format(printf, 1, 2)));
