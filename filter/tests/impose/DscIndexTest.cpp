// The page index of a spool file and the region copies built on it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "impose/DscIndex.h"
#include "job/JobRecord.h"
#include "ImposeTestUtil.h"
#include "linepass/PSUtil.h"

namespace {

// A spool file opened for reading, and its index.
struct Indexed {
  Indexed(const std::string &content, int hint = 1) {
    path = dir.write("spool", content);
    in = fopen(path.c_str(), "rb");
    EXPECT_NE(in, nullptr);
    EXPECT_TRUE(bBuildPageIndex(in, &index, hint));
  }
  ~Indexed() {
    vFreePageIndex(&index);
    if (in) fclose(in);
  }
  TempDir dir;
  std::string path;
  FILE *in = nullptr;
  PageIndex index;
};

// The label vSeekPage reads for page i, with the index's own offsets unless
// others are given.
std::string LabelOf(const Indexed &d, int i, const int64_t *offsets = nullptr) {
  char label[kDscLineSize];
  memset(label, 0, sizeof label);
  vSeekPage(i, d.in, offsets ? offsets : d.index.offsets, label);
  return label;
}

int64_t Pos(const std::string &doc, const std::string &text, size_t from = 0) {
  const size_t at = doc.find(text, from);
  EXPECT_NE(at, std::string::npos) << text;
  return static_cast<int64_t>(at);
}

int64_t After(const std::string &doc, const std::string &line) {
  return Pos(doc, line) + static_cast<int64_t>(line.size());
}

const std::string kDocument =
    "%!PS-Adobe-3.0\n"
    "%%Creator: test\n"
    "%%Pages: 3\n"
    "%%EndComments\n"
    "%%BeginProlog\n"
    "/p { pop } def\n"
    "%%EndProlog\n"
    "%%BeginSetup\n"
    "1 p\n"
    "%%EndSetup\n"
    "%%Page: 1 1\n"
    "(one) p\n"
    "%%Page: 2 2\n"
    "(two) p\n"
    "%%Page: 3 3\n"
    "(three) p\n"
    "%%Trailer\n"
    "%%EOF\n";

TEST(DscPageIndex, FindsTheRegionsOfAWellFormedDocument) {
  Indexed d(kDocument, 3);
  ASSERT_EQ(d.index.count, 3);
  EXPECT_EQ(d.index.offsets[0], Pos(kDocument, "%%Page: 1 1"));
  EXPECT_EQ(d.index.offsets[1], Pos(kDocument, "%%Page: 2 2"));
  EXPECT_EQ(d.index.offsets[2], Pos(kDocument, "%%Page: 3 3"));
  EXPECT_EQ(d.index.offsets[3], Pos(kDocument, "%%Trailer"));
  EXPECT_EQ(d.index.pagesCommentPos, Pos(kDocument, "%%Pages: 3"));
  // "%%BeginProlog" after "%%EndComments" takes the header through its line.
  EXPECT_EQ(d.index.headerEnd, After(kDocument, "%%BeginProlog\n"));
  EXPECT_EQ(d.index.setupEnd, Pos(kDocument, "%%EndSetup"));
  // The stream is left at the trailer.
  EXPECT_EQ(ftello(d.in), d.index.offsets[3]);
}

TEST(DscPageIndex, PageCommentsOfEmbeddedDocumentsAndBinaryDataAreNotPages) {
  const std::string doc =
      "%!PS-Adobe-3.0\n%%EndComments\n%%EndSetup\n"
      "%%Page: 1 1\n"
      "%%BeginDocument: outer.eps\n"
      "%%Page: x 1\n"
      "%%BeginDocument: inner.eps\n"
      "%%Page: y 1\n"
      "%%Trailer\n"
      "%%EndDocument\n"
      "%%Page: z 2\n"  // still inside the outer document
      "%%EndDocument\n"
      "%%Page: 2 2\n"
      "%%BeginBinary: 12\n"
      "%%Page: b 1\n"
      "%%EndBinary\n"
      "%%BeginFile: f\n"
      "%%Page: f 1\n"
      "%%EOF\n"
      "%%EndFile\n"
      "%%Page: 3 3\n"
      "%%Trailer\n";
  Indexed d(doc);
  ASSERT_EQ(d.index.count, 3);
  EXPECT_EQ(d.index.offsets[0], Pos(doc, "%%Page: 1 1"));
  EXPECT_EQ(d.index.offsets[1], Pos(doc, "%%Page: 2 2"));
  EXPECT_EQ(d.index.offsets[2], Pos(doc, "%%Page: 3 3"));
  // The trailer inside the nested document did not end the scan.
  EXPECT_EQ(d.index.offsets[3], Pos(doc, "%%Trailer", Pos(doc, "%%Page: 3 3")));
}

TEST(DscPageIndex, AStrayEndCommentDoesNotHideTheFollowingPages) {
  const std::string doc =
      "%!PS\n%%EndComments\n%%EndDocument\n%%Page: 1 1\nA\n%%EndBinary\n%%Page: 2 2\nB\n";
  Indexed d(doc);
  EXPECT_EQ(d.index.count, 2);
}

TEST(DscPageIndex, MissingEndSetupTrailerAndPagesComments) {
  const std::string doc =
      "%!PS-Adobe-3.0\n%%EndComments\n/a 1 def\n%%Page: 1 1\nA\n%%Page: 2 2\nB\n";
  Indexed d(doc);
  ASSERT_EQ(d.index.count, 2);
  EXPECT_EQ(d.index.setupEnd, d.index.offsets[0]);
  EXPECT_EQ(d.index.pagesCommentPos, 0);
  // The last page runs to the end of the file; the trailer is empty.
  EXPECT_EQ(d.index.offsets[2], static_cast<int64_t>(doc.size()));

  Capture out;
  vWriteTrailer(d.in, out.stream(), d.index.offsets, d.index.count);
  EXPECT_EQ(out.text(), "");
}

// The imposed page count replaces the document's in the header and in the
// trailer, where a header "%%Pages: (atend)" leaves it (poppler and pstops
// documents do).
TEST(DscPageIndex, TheTrailersPageCountIsTheImposedOne) {
  const std::string doc = "%!PS-Adobe-3.0\n%%Pages: (atend)\n%%EndComments\n%%Page: 1 1\nA\n"
                          "%%Page: 2 2\nB\n%%Trailer\n%%Pages: 2\n%%EOF\n";
  Indexed d(doc);
  Capture header;
  vWriteHeader(4, d.in, header.stream(), d.index.pagesCommentPos, d.index.headerEnd);
  EXPECT_EQ(header.text(), "%!PS-Adobe-3.0\n%%Pages: 4 0\n%%EndComments\n");
  Capture trailer;
  vWriteTrailer(d.in, trailer.stream(), d.index.offsets, d.index.count);
  EXPECT_EQ(trailer.text(), "%%Trailer\n%%Pages: 4\n%%EOF\n");
}

TEST(DscPageIndex, EndSetupAfterTheFirstPageCountsAsAbsent) {
  const std::string doc =
      "%!PS\n%%EndComments\n%%Page: 1 1\n%%EndSetup\nA\n%%Page: 2 2\nB\n%%Trailer\n";
  Indexed d(doc);
  EXPECT_EQ(d.index.setupEnd, d.index.offsets[0]);
}

TEST(DscPageIndex, HeaderEndsAtTheFirstLineThatIsNotAHeaderComment) {
  // Neither "%%EndComments" nor "%%BeginProlog": the header stops at the
  // first line that is not a comment. A plain comment among the header
  // comments (poppler's "%Produced by") leaves it open, so its "%%Pages:"
  // is still found.
  const std::string plainComment =
      "%!PS-Adobe-3.0\n% just a comment\n%%Pages: (atend)\n/a 1 def\n%%Page: 1 1\n";
  Indexed a(plainComment);
  EXPECT_EQ(a.index.headerEnd, Pos(plainComment, "/a 1 def"));
  EXPECT_EQ(a.index.pagesCommentPos, Pos(plainComment, "%%Pages:"));

  // The PJL lines of the job in front of the PostScript are no part of its
  // header: with the header running to the first line of code, the
  // imposition's own lines go after "%%Pages:", never among the PJL lines.
  const std::string pjl = "\x1b%-12345X@PJL JOB\n@PJL SET COPIES=1\n@PJL ENTER LANGUAGE = "
                          "POSTSCRIPT\n%!PS-Adobe-3.0\n%%Pages: 1\n/a 1 def\n%%Page: 1 1\nA\n"
                          "\x1b%-12345X@PJL EOJ\n\x1b%-12345X";
  Indexed p(pjl);
  EXPECT_EQ(p.index.headerEnd, Pos(pjl, "/a 1 def"));
  EXPECT_EQ(p.index.pagesCommentPos, Pos(pjl, "%%Pages:"));
  // Without "%%Trailer" or "%%EOF" the closing UEL starts the trailer: the
  // page ends before it.
  ASSERT_EQ(p.index.count, 1);
  EXPECT_EQ(p.index.offsets[1], Pos(pjl, "\x1b%-12345X@PJL EOJ"));

  const std::string code = "%!PS-Adobe-3.0\n%%Title: t\n/a 1 def\n%%Page: 1 1\n";
  Indexed b(code);
  EXPECT_EQ(b.index.headerEnd, Pos(code, "/a 1 def"));

  // Header comments running straight into the first page: the header stops
  // there instead of taking the first page with it.
  const std::string noBreak = "%!PS-Adobe-3.0\n%%Pages: 1\n%%Page: 1 1\nshowpage\n%%Trailer\n";
  Indexed c(noBreak);
  EXPECT_EQ(c.index.headerEnd, c.index.offsets[0]);
  Capture out;
  vWriteHeader(9, c.in, out.stream(), c.index.pagesCommentPos, c.index.headerEnd);
  EXPECT_EQ(out.text(), "%!PS-Adobe-3.0\n%%Pages: 9 0\n");
}

TEST(DscPageIndex, MorePagesThanTheCapacityHint) {
  for (int hint : {0, 1, 2, 5, -3, 2147483647}) {
    std::string doc = "%!PS\n%%EndComments\n";
    for (int i = 1; i <= 37; ++i) doc += "%%Page: " + std::to_string(i) + " " + std::to_string(i) + "\nx\n";
    doc += "%%Trailer\n";
    Indexed d(doc, hint);
    ASSERT_EQ(d.index.count, 37) << "hint " << hint;
    for (int i = 0; i < 37; ++i) {
      const std::string comment = "%%Page: " + std::to_string(i + 1) + " ";
      EXPECT_EQ(d.index.offsets[i], Pos(doc, comment)) << i;
    }
    EXPECT_EQ(d.index.offsets[37], Pos(doc, "%%Trailer"));
  }
}

TEST(DscPageIndex, EmptyFileHasNoPagesAndAnEmptyTrailer) {
  Indexed d("");
  EXPECT_EQ(d.index.count, 0);
  EXPECT_EQ(d.index.offsets[0], 0);
}

TEST(DscPageLabel, ParenthesisedBareAndBrokenLabels) {
  const std::string doc =
      "%!PS\n%%EndComments\n"
      "%%Page: (Chapter (1) intro) 1\nA\n"
      "%%Page:iv 2\nB\n"
      "%%Page: (open 3\nC\n"
      "%%Page:\t\tlast\r\nD\n"
      "%%Trailer\n";
  Indexed d(doc);
  ASSERT_EQ(d.index.count, 4);
  const char *expected[] = {"(Chapter (1) intro)", "iv", "(open 3", "last"};
  const char *bodies[] = {"A\n", "B\n", "C\n", "D\n"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(LabelOf(d, i), expected[i]);
    // The stream is left just after the page comment.
    Capture body;
    vWritePageBody(i, d.index.offsets, d.in, body.stream());
    EXPECT_EQ(body.text(), bodies[i]);
  }
}

TEST(DscPageLabel, ALineThatIsNotAPageCommentLeavesTheLabelEmpty) {
  const std::string doc = "%!PS\n%%EndComments\n%%Page: 1 1\nA\n";
  Indexed d(doc);
  int64_t wrong[2] = {0, static_cast<int64_t>(doc.size())};
  EXPECT_EQ(LabelOf(d, 0, wrong), "");
}

TEST(DscPageLabel, ALabelFillingTheWholeLineFitsTheBuffer) {
  const std::string longLabel(4095 - 9, 'L');  // "%%Page: " + label + "\n" is 4095 bytes
  const std::string doc = "%!PS\n%%EndComments\n%%Page: " + longLabel + "\nbody\n";
  Indexed d(doc);
  EXPECT_EQ(LabelOf(d, 0), longLabel);
}

// A page comment longer than the line buffer, its label and page number
// included: all of it is comment, none of it reaches the page body (where
// a printer would stop at the stray words with an error).
TEST(DscPageLabel, TheRestOfAnOverlongPageCommentStaysOutOfTheBody) {
  for (const char *end : {"\n", "\r\n", "\r"}) {
    const std::string comment = "%%Page: (" + std::string(6000, 'L') + ") 1" + end;
    const std::string doc = "%!PS\n%%EndComments\n" + comment + "body\n%%Page: 2 2\nmore\n";
    Indexed d(doc);
    ASSERT_EQ(d.index.count, 2);
    EXPECT_EQ(LabelOf(d, 0), "(" + std::string(4095 - 9, 'L'));
    Capture body;
    vWritePageBody(0, d.index.offsets, d.in, body.stream());
    EXPECT_EQ(body.text(), "body\n");
  }
}

TEST(DscRegionCopies, HeaderPrologSetupPagesAndTrailerRebuildTheDocument) {
  // Every line-end kind, a NUL byte and a line longer than the line buffer
  // come through unchanged.
  std::string longLine(9000, 'x');
  longLine += "\n";
  std::string doc =
      "%!PS-Adobe-3.0\r\n%%Pages: 2 0\r\n%%EndComments\r"
      "%%BeginProlog\n/a 1 def\n%%EndProlog\n%%BeginSetup\nsetup\n%%EndSetup\n"
      "%%Page: 1 1\n" + longLine + std::string("bin\0ary\n", 8) +
      "%%Page: 2 2\nlast\r\n%%Trailer\n%%EOF\n";
  Indexed d(doc, 2);
  ASSERT_EQ(d.index.count, 2);
  Capture out;
  int ordinal = 0;
  vWriteHeader(2, d.in, out.stream(), d.index.pagesCommentPos, d.index.headerEnd);
  vWriteProlog(d.index.setupEnd, d.in, out.stream());
  vWriteSetup(d.index.offsets, d.in, out.stream());
  vWritePage(0, d.in, out.stream(), d.index.offsets, &ordinal);
  vWritePage(1, d.in, out.stream(), d.index.offsets, &ordinal);
  vWriteTrailer(d.in, out.stream(), d.index.offsets, d.index.count);
  // Only the "%%Pages:" line changes (its line end becomes LF).
  std::string expected = doc;
  expected.replace(expected.find("%%Pages: 2 0\r\n"), 14, "%%Pages: 2 0\n");
  EXPECT_EQ(out.text(), expected);
  EXPECT_EQ(ordinal, 2);
}

TEST(DscRegionCopies, HeaderAnnouncesTheImposedPageCount) {
  Indexed d(kDocument);
  Capture out;
  vWriteHeader(7, d.in, out.stream(), d.index.pagesCommentPos, d.index.headerEnd);
  EXPECT_EQ(out.text(),
            "%!PS-Adobe-3.0\n%%Creator: test\n%%Pages: 7 0\n%%EndComments\n%%BeginProlog\n");

  // Without "%%Pages:" the header is copied unchanged and none is added.
  const std::string noPages = "%!PS-Adobe-3.0\n%%Title: x\n%%EndComments\n%%Page: 1 1\n";
  Indexed e(noPages);
  Capture out2;
  vWriteHeader(7, e.in, out2.stream(), e.index.pagesCommentPos, e.index.headerEnd);
  EXPECT_EQ(out2.text(), "%!PS-Adobe-3.0\n%%Title: x\n%%EndComments\n");
}

TEST(DscRegionCopies, PrologThenImposerTextLandsJustBeforeEndSetup) {
  Indexed d(kDocument);
  Capture out;
  vWriteHeader(3, d.in, out.stream(), d.index.pagesCommentPos, d.index.headerEnd);
  vWriteProlog(d.index.setupEnd, d.in, out.stream());
  fputs("INSERTED\n", out.stream());
  vWriteSetup(d.index.offsets, d.in, out.stream());
  const std::string text = out.text();
  EXPECT_NE(text.find("1 p\nINSERTED\n%%EndSetup\n"), std::string::npos) << text;
}

TEST(DscRegionCopies, CopyStopsAtTheEndPositionAndReportsEndOfInput) {
  const std::string doc = "one\ntwo\nthree\n";
  TempDir dir;
  FILE *in = fopen(dir.write("f", doc).c_str(), "rb");
  ASSERT_NE(in, nullptr);
  Capture out;
  EXPECT_EQ(iCopyPartOfFile(4, in, out.stream()), 1);
  EXPECT_EQ(iCopyPartOfFile(4, in, out.stream()), 1);  // already there: nothing copied
  EXPECT_EQ(out.text(), "one\n");
  EXPECT_EQ(iCopyPartOfFile(1000, in, out.stream()), 0);  // end of input before 1000
  EXPECT_EQ(out.text(), doc);
  fclose(in);
}

TEST(DscPageHeader, NumbersRunOnAndEmptyLabelsGiveTwoSpaces) {
  Capture out;
  int ordinal = 4;
  vWritePageHeader("(x)", &ordinal, out.stream());
  vWritePageHeader("", &ordinal, out.stream());
  EXPECT_EQ(out.text(), "%%Page: (x) 5\n%%Page:  6\n");
  EXPECT_EQ(ordinal, 6);
}

TEST(DscPageInfoList, NewCellsStartEmpty) {
  PageInfo *cell = pstCreatePageInfo();
  ASSERT_NE(cell, nullptr);
  EXPECT_EQ(cell->reversed, 0u);
  EXPECT_EQ(cell->pageNumber, 0);
  EXPECT_EQ(cell->flags, 0u);
  EXPECT_EQ(cell->next, nullptr);
  EXPECT_EQ(cell->scale, 1.0);
  cell->next = pstCreatePageInfo();
  vFreePageInfoList(cell);
}

// The scan cuts lines exactly where the line reader does: LF, CR and
// CR LF line ends, a CR LF split by the 4095-byte piece limit, long lines in
// pieces, NUL bytes. Every piece that starts with "%%Page:" is a page.
TEST(DscPageIndex, LineCutsMatchTheLineReader) {
  const std::string pieces[] = {"%%Page: a 1\n", "%%Page: b\r", "%%Page: c\r\n", "x\r",
                                "\r\n", "\n", "\r", std::string("\0", 1), "%%Pa", "ge: d\n",
                                "%%Page:", std::string(4093, 'a'), std::string(4094, 'b'),
                                std::string(4095, 'c'), std::string(4096, 'd'), "%"};
  unsigned rngState = 12345;
  auto random = [&rngState](unsigned n) {
    rngState = rngState * 1103515245u + 12345u;
    return (rngState >> 16) % n;
  };
  for (int round = 0; round < 200; ++round) {
    std::string doc;
    const unsigned count = 1 + random(40);
    for (unsigned i = 0; i < count; ++i) doc += pieces[random(std::size(pieces))];
    // The pages where the lines of the printer's DSC reading start: a line
    // ends at LF, CR or CR LF, and one longer than 4095 bytes comes in
    // pieces of 4095 (a CR LF split by that limit ends two pieces).
    std::vector<int64_t> expected;
    int64_t at = 0;
    const size_t limit = 4095;
    while (static_cast<size_t>(at) < doc.size()) {
      size_t n = 0;
      while (static_cast<size_t>(at) + n < doc.size() && n < limit) {
        const char c = doc[at + n++];
        if (c == '\n') break;
        if (c == '\r') {
          if (static_cast<size_t>(at) + n < doc.size() && doc[at + n] == '\n' && n < limit) ++n;
          break;
        }
      }
      if (n >= 7 && doc.compare(at, 7, "%%Page:") == 0) expected.push_back(at);
      at += static_cast<int64_t>(n);
    }
    expected.push_back(at);

    Indexed d(doc);
    ASSERT_EQ(d.index.count + 1, static_cast<int>(expected.size())) << "round " << round;
    for (size_t i = 0; i < expected.size(); ++i)
      EXPECT_EQ(d.index.offsets[i], expected[i]) << "round " << round << " entry " << i;
    EXPECT_EQ(ftello(d.in), at);
  }
}

// A spool file with a page beyond 4 GiB: the positions must survive the
// scan and the copies in 64 bits. The gap is a hole, so nothing large is
// written to disk.
TEST(DscPageIndexLargeFile, PagesBeyondFourGiBAreIndexedAndCopied) {
  TempDir dir;
  const std::string path = dir.path() + "/sparse";
  const int fd = open(path.c_str(), O_CREAT | O_RDWR | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  const std::string head = "%!PS-Adobe-3.0\n%%Pages: 2\n%%EndComments\n%%Page: 1 1\nfirst\n";
  ASSERT_EQ(write(fd, head.data(), head.size()), static_cast<ssize_t>(head.size()));
  // The hole reads as NUL bytes: part of the first page's body. A line end
  // closes it before the second page.
  const off_t far = (off_t{1} << 32) + 4096 * 3 + 17;
  const std::string tail = "\n%%Page: (far away) 2\nsecond\n%%Trailer\n%%EOF\n";
  ASSERT_EQ(pwrite(fd, tail.data(), tail.size(), far), static_cast<ssize_t>(tail.size()));
  close(fd);

  FILE *in = fopen(path.c_str(), "rb");
  ASSERT_NE(in, nullptr);
  PageIndex index;
  ASSERT_TRUE(bBuildPageIndex(in, &index, 2));
  ASSERT_EQ(index.count, 2);
  EXPECT_EQ(index.offsets[1], far + 1);
  EXPECT_EQ(index.offsets[2], far + 1 + static_cast<off_t>(strlen("%%Page: (far away) 2\nsecond\n")));

  char label[kDscLineSize];
  memset(label, 0, sizeof label);
  vSeekPage(1, in, index.offsets, label);
  EXPECT_STREQ(label, "(far away)");
  Capture out;
  vWritePageBody(1, index.offsets, in, out.stream());
  vWriteTrailer(in, out.stream(), index.offsets, index.count);
  EXPECT_EQ(out.text(), "second\n%%Trailer\n%%EOF\n");
  vFreePageIndex(&index);
  fclose(in);
}

}  // namespace
