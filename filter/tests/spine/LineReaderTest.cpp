// The line reader: every byte of the job reaches the scanner exactly once,
// line ends kept, whatever the line ends, NUL bytes or line lengths.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "PSUtil.h"

namespace {
// Reads the whole text with psgets at the given capacity.
std::vector<std::string> Lines(const std::string &text, int capacity = 4096) {
  std::vector<std::string> lines;
  FILE *f = fmemopen(const_cast<char *>(text.data()), text.size(), "rb");
  if (text.empty()) f = std::tmpfile();
  EXPECT_NE(f, nullptr);
  std::vector<char> buffer(static_cast<size_t>(capacity) + 8, '\x55');
  for (;;) {
    int length = capacity;
    char *got = psgets(buffer.data(), &length, f);
    if (!got) {
      EXPECT_EQ(length, 0);
      break;
    }
    EXPECT_EQ(got, buffer.data());
    EXPECT_GE(length, 1);
    EXPECT_LE(length, capacity - 1);
    EXPECT_EQ(buffer[static_cast<size_t>(length)], '\0');
    // Nothing written past the capacity.
    EXPECT_EQ(buffer[static_cast<size_t>(capacity)], '\x55');
    lines.emplace_back(buffer.data(), static_cast<size_t>(length));
  }
  std::fclose(f);
  return lines;
}

std::string Join(const std::vector<std::string> &lines) {
  std::string all;
  for (const auto &l : lines) all += l;
  return all;
}
}  // namespace

TEST(LineReader, LfCrAndCrLfEachEndALineAndStayInIt) {
  EXPECT_EQ(Lines("a\nb\rc\r\nd"), (std::vector<std::string>{"a\n", "b\r", "c\r\n", "d"}));
  EXPECT_EQ(Lines("\n\n"), (std::vector<std::string>{"\n", "\n"}));
  EXPECT_EQ(Lines("\r\r\n\r"), (std::vector<std::string>{"\r", "\r\n", "\r"}));
  EXPECT_EQ(Lines("x\r"), (std::vector<std::string>{"x\r"}));
  EXPECT_TRUE(Lines("").empty());
}

TEST(LineReader, NulBytesAreStoredAndCounted) {
  std::string text("a\0b\n\0\0\n", 7);
  auto lines = Lines(text);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], std::string("a\0b\n", 4));
  EXPECT_EQ(lines[1], std::string("\0\0\n", 3));
}

TEST(LineReader, LongLinesArriveInPiecesOfAtMost4095Bytes) {
  std::string text = std::string(5000, 'x') + "\n" + std::string(4095, 'y') + "\nz";
  auto lines = Lines(text);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], std::string(4095, 'x'));
  EXPECT_EQ(lines[1], std::string(905, 'x') + "\n");
  // A line of exactly 4095 bytes leaves its LF to start the next piece.
  EXPECT_EQ(lines[2], std::string(4095, 'y'));
  EXPECT_EQ(lines[3], "\n");
  EXPECT_EQ(lines[4], "z");
}

TEST(LineReader, CrLfSplitAtTheCapacityKeepsEveryByte) {
  // The CR fills the last byte; the LF starts the next line.
  auto lines = Lines(std::string(4094, 'a') + "\r\nb");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], std::string(4094, 'a') + "\r");
  EXPECT_EQ(lines[1], "\n");
  EXPECT_EQ(lines[2], "b");
  // A lone CR at the capacity still ends its line; the next byte is kept.
  lines = Lines(std::string(4094, 'a') + "\rZ");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], std::string(4094, 'a') + "\r");
  EXPECT_EQ(lines[1], "Z");
}

TEST(LineReader, ACapacityOfOneReadsNothing) {
  std::string text = "abc\n";
  FILE *f = fmemopen(text.data(), text.size(), "rb");
  char buffer[4] = {'q', 'q', 'q', 'q'};
  int length = 1;
  EXPECT_EQ(psgets(buffer, &length, f), nullptr);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(buffer[1], 'q');
  // The input is untouched.
  length = 4;
  ASSERT_NE(psgets(buffer, &length, f), nullptr);
  EXPECT_EQ(std::string(buffer, 3), "abc");
  std::fclose(f);
  length = 0;
  EXPECT_EQ(psgets(buffer, &length, nullptr), nullptr);
}

TEST(LineReader, ArbitraryBytesComeBackWhole) {
  std::mt19937 rng(12345);
  const char alphabet[] = {'a', '\n', '\r', '\0', '%', '\x04', '\xff'};
  for (int round = 0; round < 50; ++round) {
    std::string text;
    size_t size = rng() % 3000;
    for (size_t i = 0; i < size; ++i) text += alphabet[rng() % sizeof alphabet];
    for (int capacity : {2, 3, 8, 64, 4096}) {
      auto lines = Lines(text, capacity);
      EXPECT_EQ(Join(lines), text) << "capacity " << capacity;
    }
  }
}
