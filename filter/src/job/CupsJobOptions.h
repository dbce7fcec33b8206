// Job options as CUPS hands them to the filter, brought into the form the
// job ticket reads: the job's own user and title where no option names the
// login and the job, and the values of the PPD's custom options (the
// secure-print PIN, the stamp text) as the customisation table expects them.
#pragma once

#include <cups/cups.h>
#include <cups/ppd.h>

#include "jobticket/plistAccess.h"

// Adds the CUPS job's user (argv[2]) as the login name and its title
// (argv[3]) as the job name when the job's options do not give them. An
// empty user, an empty title or a title CUPS makes up for a job without one
// ("(stdin)", "Untitled") adds nothing. The values go into the options, so
// they are fetched, composed and checked like any option value.
void vAddJobIdentityOptions(const char *user, const char *title, int *num_options,
                            cups_option_t **options);

// Rewrites the values of the PPD's custom options ("Custom.TEXT" or
// "{Param=TEXT}") to the text the customisation table expects: the
// parameter's text, as upper-case hexadecimal when the table lists the
// option among its encoded options. A choice named "None" stands for no
// value and removes the option. A value the PPD's parameter does not allow,
// a secure-print PIN that is not 4 to 8 digits, or a secure job without a
// PIN is reported on an ERROR: line naming the option; the result is then
// false and the job must not be printed. table may be null (no table).
bool bResolveCustomOptions(ppd_file_t *ppd, const PsPjlTables *table, int *num_options,
                           cups_option_t **options);
