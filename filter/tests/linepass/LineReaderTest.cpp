// The line reader: every byte of the job reaches the scanner exactly once,
// line ends kept, whatever the line ends, NUL bytes or line lengths.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "linepass/PSUtil.h"

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

// --- The block reader and the block copy: the same cuts as psgets. --------

namespace {
FILE *Open(const std::string &text) {
  FILE *f = fmemopen(const_cast<char *>(text.data()), text.size(), "rb");
  return f ? f : std::tmpfile();
}

// Where psgets starts each line of the text, and the text's end.
std::vector<size_t> Cuts(const std::string &text, int capacity) {
  std::vector<size_t> cuts{0};
  for (const auto &line : Lines(text, capacity)) cuts.push_back(cuts.back() + line.size());
  return cuts;
}

// Texts that put CRs, LFs, stop bytes and long lines at every place of a
// small block: its first and last byte, and across the block boundary.
std::string RandomText(std::mt19937 &rng, size_t size) {
  const char alphabet[] = {'a', 'a', 'a', 'b', '\n', '\n', '\r', '%', '@', '\x1b', '\x04', '\0'};
  std::string text;
  for (size_t i = 0; i < size; ++i) text += alphabet[rng() % sizeof alphabet];
  if (rng() % 4 == 0) text.insert(rng() % (text.size() + 1), std::string(rng() % 40, 'x'));
  return text;
}
}  // namespace

// Runs and lines taken in random turns, with blocks down to the smallest the
// reader takes (two lines and two bytes).
TEST(BlockLineReader, PlainRunsAreWholeLinesWithoutStopBytes) {
  std::mt19937 rng(4242);
  const char stops[] = {'%', '@', '\x1b', '\x04'};
  for (int round = 0; round < 300; ++round) {
    const std::string text = RandomText(rng, rng() % 600);
    for (int capacity : {2, 3, 8, 17, 4096}) {
      const std::vector<size_t> cuts = Cuts(text, capacity);
      const auto lines = Lines(text, capacity);
      FILE *f = Open(text);
      PsLineReader reader(f, capacity, rng() % 64);
      size_t at = 0;
      size_t lineIndex = 0;
      for (;;) {
        const char *bytes = nullptr;
        size_t length = 0;
        if (rng() % 2) {
          length = reader.plainRun(stops, 4, &bytes);
          if (length > 0) {
            const std::string run(bytes, length);
            ASSERT_EQ(run, text.substr(at, length));
            EXPECT_EQ(run.find_first_of(std::string(stops, 4)), std::string::npos) << run;
            at += length;
            // A run ends where psgets starts a line.
            while (lineIndex < lines.size() && cuts[lineIndex] < at) ++lineIndex;
            ASSERT_EQ(cuts[lineIndex], at) << "capacity " << capacity << " round " << round;
            continue;
          }
        }
        if (!reader.next(&bytes, &length)) break;
        ASSERT_LT(lineIndex, lines.size());
        ASSERT_EQ(std::string(bytes, length), lines[lineIndex]);
        at += length;
        ++lineIndex;
      }
      EXPECT_EQ(at, text.size());
      std::fclose(f);
    }
  }
}

TEST(BlockLineReader, ACrLfAcrossTheBlockEndAndALongLineWithAStopByte) {
  const char stops[] = {'%'};
  // Blocks of 16 bytes: the CR of "n\r\n" is the last byte of the first
  // block, its LF the first of the next; the stop byte sits in the third
  // piece of an over-long line, whose earlier pieces come one by one.
  const std::string text = "abcdef\nghijklmn\r\nop\n" + std::string(20, 'y') + "%\nz\n";
  FILE *f = Open(text);
  PsLineReader reader(f, 8, 1);
  std::vector<std::string> got;
  for (;;) {
    const char *bytes = nullptr;
    size_t length = reader.plainRun(stops, 1, &bytes);
    if (length > 0) {
      got.push_back("run " + std::string(bytes, length));
    } else if (reader.next(&bytes, &length)) {
      got.push_back("line " + std::string(bytes, length));
    } else {
      break;
    }
  }
  EXPECT_EQ(got, (std::vector<std::string>{"run abcdef\n", "line ghijklm", "run n\r\nop\n",
                                           "line yyyyyyy", "line yyyyyyy", "line yyyyyy%",
                                           "run \nz\n"}));
  std::fclose(f);
}

TEST(BlockCopy, CopiesTheSameLinesAsALineByLineCopy) {
  std::mt19937 rng(99);
  for (int round = 0; round < 400; ++round) {
    std::string text = RandomText(rng, rng() % 300);
    if (round % 3 == 0) text += std::string(rng() % 9000, 'q') + "\r";
    const std::vector<size_t> cuts = Cuts(text, 4096);
    const size_t start = cuts[rng() % cuts.size()];
    const int64_t end = static_cast<int64_t>(rng() % (text.size() + 20));
    // What the line-by-line copy wrote, where it stopped and what it said.
    std::string expected;
    int expectedResult = 1;
    size_t expectedStop = start;
    while (static_cast<int64_t>(expectedStop) < end) {
      auto next = std::upper_bound(cuts.begin(), cuts.end(), expectedStop);
      if (next == cuts.end()) {
        expectedResult = 0;  // the input ends first
        break;
      }
      expected += text.substr(expectedStop, *next - expectedStop);
      expectedStop = *next;
    }
    FILE *in = Open(text);
    ASSERT_EQ(fseeko(in, static_cast<off_t>(start), SEEK_SET), 0);
    char *outBytes = nullptr;
    size_t outSize = 0;
    FILE *out = open_memstream(&outBytes, &outSize);
    const int result = iCopyLinesUntil(end, in, out);
    std::fclose(out);
    EXPECT_EQ(result, expectedResult) << "round " << round << " start " << start << " end " << end;
    EXPECT_EQ(std::string(outBytes, outSize), expected) << "round " << round;
    if (result) {
      EXPECT_EQ(ftello(in), static_cast<off_t>(expectedStop));
    }
    std::free(outBytes);
    std::fclose(in);
  }
}
