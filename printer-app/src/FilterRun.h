// Runs the converter (PDF -> PostScript) and psToVTOrbPS for one job, passing
// the print stream to a sink and the filter's progress lines to a listener.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vtpapp {

// What the filter says on standard error, line by line.
struct FilterProgress {
  std::function<void(int impressionsCompleted)> impressions;  // ATTR: job-impressions-completed=N
  std::function<void(const std::string &message)> error;      // ERROR: ...
  std::function<void(const std::string &line)> log;           // everything else
  std::function<bool()> canceled;                             // true: stop the job
};

// Reads one line of the filter's standard error and calls the listener.
void ParseFilterLine(const std::string &line, const FilterProgress &progress);

// Converts a PDF to PostScript: poppler's pdftops when present (the filter
// knows its output for posters), otherwise Ghostscript's ps2write.
// `paperPoints` (width, height) is 0,0 when the paper is not known.
bool ConvertPdfToPs(const std::string &pdf, const std::string &ps, bool fit, bool expand,
                    int paperWidthPoints, int paperHeightPoints, std::string &error);

// True when the PostScript document has DSC page comments ("%%Page:"), so
// the filter can tell its pages apart.
bool HasPageComments(const std::string &ps);

// Rewrites a PostScript document without page comments into one with them
// (Ghostscript to PDF, then ConvertPdfToPs).
bool NormalizePostScript(const std::string &in, const std::string &out, bool fit, bool expand,
                         int paperWidthPoints, int paperHeightPoints, std::string &error);

// Puts "%%Creator: CREATOR" after the first line of a PostScript file.
bool NameCreator(const std::string &ps, const char *creator);

// Runs `program args...` with `env` added to the environment; its standard
// output goes to `sink` (false from sink stops the run), its standard error
// to `progress`. Returns the exit status, or -1 when it could not run or was
// stopped.
int RunFilter(const std::string &program, const std::vector<std::string> &args,
              const std::vector<std::string> &env,
              const std::function<bool(const char *, size_t)> &sink, const FilterProgress &progress,
              std::string &error);

// The first of `candidates` that is an executable file, or "".
std::string FirstExecutable(const std::vector<std::string> &candidates);
// The first of `candidates` that is a readable file, or "".
std::string FirstReadable(const std::vector<std::string> &candidates);
// The folder this program runs from ("" when unknown).
std::string ProgramDir();

}  // namespace vtpapp
