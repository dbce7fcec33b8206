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

#include <cstdio>
#include <cstdlib>

#include "RasterPs.h"

// ASCII85 as PostScript's ASCII85Decode reads it: groups of four bytes, "z"
// for four zeros, a short last group, "~>" at the end.
TEST(RasterPs, Ascii85MatchesKnownEncodings) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"Man ", "9jqo^~>\n"},
      {std::string(4, '\0'), "z~>\n"},
      {"Man is", "9jqo^Bla~>\n"},  // a short group: two bytes give three digits (as Python's a85encode)
      {"", "~>\n"},
  };
  for (const auto &c : cases) {
    char *buf = nullptr;
    size_t len = 0;
    std::FILE *f = open_memstream(&buf, &len);
    vtpapp::Ascii85Writer w(f);
    // Split the input so a group spans two writes.
    w.Write(reinterpret_cast<const unsigned char *>(c.in.data()), c.in.size() / 2);
    w.Write(reinterpret_cast<const unsigned char *>(c.in.data()) + c.in.size() / 2,
            c.in.size() - c.in.size() / 2);
    w.Finish();
    std::fclose(f);
    EXPECT_EQ(std::string(buf, len), c.out) << c.in;
    std::free(buf);
  }
}

TEST(RasterPs, PagesOutsideTheLimitsAreRefused) {
  vtpapp::RasterPsWriter w;
  std::string path = testing::TempDir() + "raster-limits.ps";
  ASSERT_TRUE(w.Open(path));
  EXPECT_FALSE(w.BeginPage({0, 10, 8, 612, 792}));
  EXPECT_FALSE(w.BeginPage({10, 10, 16, 612, 792}));  // 16-bit samples are not offered
  EXPECT_FALSE(w.WriteLine(reinterpret_cast<const unsigned char *>("x")));
  EXPECT_FALSE(w.Close());  // a refused page fails the document
  std::remove(path.c_str());
}
