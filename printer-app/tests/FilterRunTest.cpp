// The filter's progress lines and the child process plumbing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FilterRun.h"

using namespace vtpapp;

TEST(FilterRun, ProgressLinesReachTheirListeners) {
  std::vector<int> impressions;
  std::vector<std::string> errors, logs;
  FilterProgress p;
  p.impressions = [&](int n) { impressions.push_back(n); };
  p.error = [&](const std::string &m) { errors.push_back(m); };
  p.log = [&](const std::string &l) { logs.push_back(l); };
  for (const char *line :
       {"PAGE: 1 1", "ATTR: job-impressions-completed=1", "ERROR: out of paper",
        "ATTR: job-impressions-completed=2x", "ATTR: job-impressions-completed=-3",
        "ATTR: job-impressions-completed=12"})
    ParseFilterLine(line, p);
  EXPECT_EQ(impressions, (std::vector<int>{1, 12}));
  EXPECT_EQ(errors, (std::vector<std::string>{"out of paper"}));
  EXPECT_EQ(logs.size(), 3u);  // the PAGE line and the two malformed ATTR lines
}

TEST(FilterRun, OutputStderrAndExitStatusOfTheChild) {
  std::string out, err;
  int completed = 0;
  FilterProgress p;
  p.impressions = [&](int n) { completed = n; };
  p.canceled = [] { return false; };
  int status = RunFilter(
      "/bin/sh",
      {"-c", "printf 'data:%s' \"$VTX\"; echo 'ATTR: job-impressions-completed=3' >&2; exit 4"},
      {"VTX=seen"},
      [&](const char *d, size_t n) {
        out.append(d, n);
        return true;
      },
      p, err);
  EXPECT_EQ(status, 4);
  EXPECT_EQ(out, "data:seen");
  EXPECT_EQ(completed, 3);
}

TEST(FilterRun, ASinkThatFailsStopsTheChild) {
  std::string err;
  FilterProgress p;
  int status = RunFilter(
      "/bin/sh", {"-c", "yes"}, {}, [](const char *, size_t) { return false; }, p, err);
  EXPECT_EQ(status, -1);
  EXPECT_NE(err, "");
}

TEST(FilterRun, AMissingProgramIsAnError) {
  std::string err;
  FilterProgress p;
  EXPECT_EQ(RunFilter(
                "/nonexistent/filter", {}, {}, [](const char *, size_t) { return true; }, p, err),
            -1);
  EXPECT_NE(err, "");
}
