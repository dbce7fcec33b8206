// Test support for the job ticket: customisation files written as XML
// property lists, a private VT_ROOT per test, job options, and the header
// writer's output captured from a memory stream.
#pragma once

#include <cups/cups.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "jobticket/plistAccess.h"

namespace ticket {

// ---- Property-list text ---------------------------------------------------

inline std::string Escape(const std::string &text) {
  std::string out;
  for (char c : text) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else out += c;
  }
  return out;
}

inline std::string Str(const std::string &text) { return "<string>" + Escape(text) + "</string>"; }
inline std::string Int(long long n) { return "<integer>" + std::to_string(n) + "</integer>"; }
inline std::string Bool(bool b) { return b ? "<true/>" : "<false/>"; }

inline std::string Arr(std::initializer_list<std::string> items) {
  std::string out = "<array>";
  for (const auto &i : items) out += i;
  return out + "</array>";
}
inline std::string StrArr(std::initializer_list<std::string> names) {
  std::string out = "<array>";
  for (const auto &n : names) out += Str(n);
  return out + "</array>";
}
inline std::string StrArr(const std::vector<std::string> &names) {
  std::string out = "<array>";
  for (const auto &n : names) out += Str(n);
  return out + "</array>";
}

using Entry = std::pair<std::string, std::string>;
inline std::string Dict(std::initializer_list<Entry> entries) {
  std::string out = "<dict>";
  for (const auto &e : entries) out += "<key>" + Escape(e.first) + "</key>" + e.second;
  return out + "</dict>";
}
inline std::string Dict(const std::vector<Entry> &entries) {
  std::string out = "<dict>";
  for (const auto &e : entries) out += "<key>" + Escape(e.first) + "</key>" + e.second;
  return out + "</dict>";
}

inline std::string Plist(const std::string &root) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\">" + root + "</plist>\n";
}

// A syntax element: the value that selects it, the template and its arguments.
inline std::string Element(const std::string &value, const std::string &templ,
                           const std::vector<std::string> &arguments = {}) {
  return Dict({{"Value", Str(value)}, {"Argument", StrArr(arguments)}, {"String", Str(templ)}});
}
// A PJL item with a serial and its syntax elements.
inline std::string PjlItem(long long serial, std::initializer_list<std::string> elements) {
  return Dict({{"PDL_Type", Str("PJL")}, {"Serial", Int(serial)}, {"Syntax", Arr(elements)}});
}
// A PS item replacing the feature block of a PPD keyword.
inline std::string PsItem(const std::string &keyword, std::initializer_list<std::string> elements) {
  return Dict({{"PDL_Type", Str("PS")}, {"PS_DSC", Str(keyword)}, {"Syntax", Arr(elements)}});
}

// A customisation file with one section "Output" listing the given items (in
// that order) through "Reserve", plus any further root entries.
inline std::string OneSectionFile(const std::vector<Entry> &items,
                                  const std::vector<Entry> &extraRoot = {}) {
  std::vector<std::string> names;
  for (const auto &i : items) names.push_back(i.first);
  std::vector<Entry> root = {
      {"PDL_Compornents", Dict({{"Output", Dict(items)}})},
      {"Reserve", Dict({{"PDEName", StrArr({"Output"})},
                        {"JobTicketName", Dict({{"Output", StrArr(names)}})}})}};
  root.insert(root.end(), extraRoot.begin(), extraRoot.end());
  return Plist(Dict(root));
}

// ---- Environment ----------------------------------------------------------

// A VT_ROOT of the test's own, removed afterwards; the table is freed too.
class TicketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/vt-ticket-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    root_ = templ;
    setenv("VT_TEST_ROOT", root_.c_str(), 1);
  }
  void TearDown() override {
    ossFilterFreePsPjlTables(&table_);
    std::string cmd = "rm -rf '" + root_ + "'";
    if (std::system(cmd.c_str()) != 0) ADD_FAILURE() << "could not remove " << root_;
    unsetenv("VT_TEST_ROOT");
  }

  std::string CustomizationPath() const {
    return root_ + "/Library/Printers/VANTORA/Q610/Plist/FilterCustomize.plist";
  }
  void WriteCustomization(const std::string &content) const {
    std::string dir = root_ + "/Library/Printers/VANTORA/Q610/Plist";
    std::string cmd = "mkdir -p '" + dir + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    FILE *f = std::fopen(CustomizationPath().c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
  }
  // Writes the file and loads it; the loader's result.
  int Load(const std::string &content) {
    WriteCustomization(content);
    return ossFilterCreatePsPjlTables(&table_, "Q610");
  }

  std::string root_;
  PsPjlTables table_{};
};

// Job options parsed the way CUPS hands them to a filter.
class Options {
 public:
  explicit Options(const std::string &text = "") {
    count_ = cupsParseOptions(text.c_str(), 0, &options_);
  }
  ~Options() { cupsFreeOptions(count_, options_); }
  Options(const Options &) = delete;
  Options &operator=(const Options &) = delete;
  Options &set(const std::string &name, const std::string &value) {
    count_ = cupsAddOption(name.c_str(), value.c_str(), count_, &options_);
    return *this;
  }
  int count() const { return count_; }
  cups_option_t *options() const { return options_; }

 private:
  int count_ = 0;
  cups_option_t *options_ = nullptr;
};

// Collects what a writer puts on a stream.
class Capture {
 public:
  Capture() { stream_ = open_memstream(&buffer_, &size_); }
  ~Capture() {
    if (stream_) std::fclose(stream_);
    std::free(buffer_);
  }
  Capture(const Capture &) = delete;
  Capture &operator=(const Capture &) = delete;
  FILE *stream() const { return stream_; }
  std::string text() {
    std::fflush(stream_);
    return std::string(buffer_, size_);
  }

 private:
  FILE *stream_ = nullptr;
  char *buffer_ = nullptr;
  size_t size_ = 0;
};

}  // namespace ticket
