// Reading the dialog's request strings: markers, numbers, URLs and frames.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "OrbRequests.h"

TEST(RequestFrames, SelectorZeroByteAndUTF8Request) {
  const std::string body = EncodeRequestFrame("sendEchoAndRecvReply_XPC:reply:", "127.0.0.1:sIpAddr:END5");
  const auto frame = DecodeRequestFrame(body);
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->selector, OrbSelector::kSendEchoAndRecvReply);
  EXPECT_EQ(frame->request, "127.0.0.1:sIpAddr:END5");
  EXPECT_TRUE(DecodeRequestFrame(std::string("isFilePathWritable_XPC:reply:\0", 30)));

  EXPECT_FALSE(DecodeRequestFrame("isFilePathWritable_XPC:reply:"));   // no zero byte
  EXPECT_FALSE(DecodeRequestFrame(std::string("isFilePathWritable_XPC:\0/tmp", 28)));
  EXPECT_FALSE(DecodeRequestFrame(std::string("pdeSnmpGet_XPC:reply:\0\xff\xfe", 24)));  // not UTF-8
  EXPECT_FALSE(DecodeRequestFrame(std::string("pdeSnmpGet_XPC:reply:\0\xc3", 23)));      // cut sequence
  EXPECT_TRUE(DecodeRequestFrame(std::string("pdeSnmpGet_XPC:reply:\0\xc3\xa9", 24)));
}

TEST(RequestFrames, LengthPrefixIsBigEndian) {
  EXPECT_EQ(FrameLengthPrefix(0x01020304), std::string("\x01\x02\x03\x04", 4));
  const unsigned char bytes[4] = {0x00, 0x10, 0x00, 0x01};
  EXPECT_EQ(ReadFrameLengthPrefix(bytes), 0x00100001u);
}

TEST(RequestNumbers, ReadLikeTheDialogsStrings) {
  EXPECT_EQ(RequestIntValue("42"), 42);
  EXPECT_EQ(RequestIntValue("  -7xyz"), -7);
  EXPECT_EQ(RequestIntValue("+3"), 3);
  EXPECT_EQ(RequestIntValue(""), 0);
  EXPECT_EQ(RequestIntValue("NULL"), 0);
  EXPECT_EQ(RequestIntValue("99999999999"), INT_MAX);
  EXPECT_EQ(RequestIntValue("-99999999999"), INT_MIN);
  EXPECT_EQ(RequestIntValue("-2147483648"), INT_MIN);
  EXPECT_EQ(RequestLongLongValue("1000000"), 1000000);
  EXPECT_EQ(RequestLongLongValue("9223372036854775807"), LLONG_MAX);
  EXPECT_EQ(RequestLongLongValue("9223372036854775808"), LLONG_MAX);
  EXPECT_EQ(RequestLongLongValue("-9223372036854775808"), LLONG_MIN);
  EXPECT_EQ(RequestLongLongValue("-99999999999999999999"), LLONG_MIN);
}

TEST(RequestMarkers, FieldsAreMeasuredFromThePreviousMarker) {
  const auto split = SplitAtMarkers("a:X:b:Y:rest", {":X:", ":Y:"});
  ASSERT_TRUE(split);
  EXPECT_EQ(split->fields[0], "a");
  EXPECT_EQ(split->fields[1], "b");
  EXPECT_EQ(split->rest, "rest");
  // A missing last marker leaves that field absent.
  const auto partial = SplitAtMarkers("a:X:b", {":X:", ":Y:"});
  ASSERT_TRUE(partial);
  EXPECT_EQ(partial->fields[0], "a");
  EXPECT_FALSE(partial->fields[1]);
  // A field whose starting marker is missing cannot be measured.
  EXPECT_FALSE(SplitAtMarkers("b:Y:", {":X:", ":Y:"}));
  // Each marker is looked for after the previous one only.
  const auto reordered = SplitAtMarkers(":Y:a:X:", {":X:", ":Y:"});
  ASSERT_TRUE(reordered);
  EXPECT_EQ(reordered->fields[0], ":Y:a");
  EXPECT_FALSE(reordered->fields[1]);
}

namespace {
std::string SnmpFields(const std::string &cancelFlag, const std::string &timeout, const std::string &retries) {
  return "3:argCount:4:iType:" + cancelFlag + ":cancelFlag:/tmp/c:CancelFileName:" + timeout +
         ":gSnmpTimeout:" + retries + ":gSnmpRetries:1:rtnCharFlag:";
}
}  // namespace

TEST(SnmpGetRequest, TimeoutAndRetriesOnlyWhenAboveZero) {
  auto parse = ParseSnmpGetRequest(SnmpFields("NULL", "0", "-1") + "snmpget:arg:");
  ASSERT_TRUE(parse.request);
  EXPECT_FALSE(parse.request->cancelFlag);
  EXPECT_FALSE(parse.request->timeout);
  EXPECT_FALSE(parse.request->retries);
  parse = ParseSnmpGetRequest(SnmpFields("NULL", "", "x") + "snmpget:arg:");
  ASSERT_TRUE(parse.request);
  EXPECT_FALSE(parse.request->timeout);
  EXPECT_FALSE(parse.request->retries);
  EXPECT_TRUE(parse.request->words.size() == 1);
}

TEST(SnmpGetRequest, MissingMarkersAndTooManyWordsAreUsageErrors) {
  EXPECT_EQ(ParseSnmpGetRequest("").error, -50);
  EXPECT_EQ(ParseSnmpGetRequest("3:argCount:2:iType:").error, -50);
  EXPECT_EQ(ParseSnmpGetRequest("2:iType:0:cancelFlag:").error, -50);

  std::string words;
  for (int i = 0; i < 511; ++i) words += "w:arg:";
  auto parse = ParseSnmpGetRequest(SnmpFields("0", "1", "1") + words);
  ASSERT_TRUE(parse.request);
  EXPECT_EQ(parse.request->words.size(), 511u);
  parse = ParseSnmpGetRequest(SnmpFields("0", "1", "1") + words + "w:arg:");
  EXPECT_FALSE(parse.request);
  EXPECT_EQ(parse.error, -50);
  // A zero byte inside a word would cut it short.
  parse = ParseSnmpGetRequest(SnmpFields("0", "1", "1") + std::string("snmp\0get:arg:", 13));
  EXPECT_EQ(parse.error, -50);
  // "NULL" as the cancel file is no file.
  parse = ParseSnmpGetRequest("1:argCount:2:iType:NULL:cancelFlag:NULL:CancelFileName:1:gSnmpTimeout:1:gSnmpRetries:0:rtnCharFlag:a:arg:");
  ASSERT_TRUE(parse.request);
  EXPECT_FALSE(parse.request->cancelFile);
}

TEST(CancelFileWriteRequest, PathBeforeTheMarker) {
  EXPECT_EQ(ParseCancelFileWriteRequest("/tmp/cancel:CancelFileName:anything"), "/tmp/cancel");
  EXPECT_FALSE(ParseCancelFileWriteRequest("/tmp/cancel"));
  EXPECT_FALSE(ParseCancelFileWriteRequest(":CancelFileName:"));
}

TEST(WritablePathRequest, FitsTheBuffer) {
  EXPECT_EQ(ParseWritablePathRequest("/tmp/x"), "/tmp/x");
  EXPECT_TRUE(ParseWritablePathRequest(std::string(255, 'a')));
  EXPECT_FALSE(ParseWritablePathRequest(std::string(256, 'a')));
  EXPECT_FALSE(ParseWritablePathRequest(std::string("/tmp/x\0y", 8)));
}

TEST(PlistWriteRequest, FileURLsOnly) {
  const auto parsed = ParsePlistWriteRequest("file:///tmp/a.plist:AddURL:END<plist/>:AddURL:END");
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->url, "file:///tmp/a.plist");
  EXPECT_EQ(parsed->contents, "<plist/>:AddURL:END");
  EXPECT_FALSE(ParsePlistWriteRequest("file:///tmp/a.plist"));

  EXPECT_EQ(FileURLToPath("file:///tmp/My%20Printer.plist"), "/tmp/My Printer.plist");
  EXPECT_EQ(FileURLToPath("file://localhost/tmp/a"), "/tmp/a");
  EXPECT_EQ(FileURLToPath("FILE:/tmp/a"), "/tmp/a");
  EXPECT_EQ(FileURLToPath("file:///tmp/%c3%a9"), "/tmp/\xc3\xa9");
  EXPECT_FALSE(FileURLToPath("http://example.invalid/a"));
  EXPECT_FALSE(FileURLToPath("file://otherhost/tmp/a"));
  EXPECT_FALSE(FileURLToPath("file://localhostx/tmp/a"));
  EXPECT_FALSE(FileURLToPath("/tmp/a"));
  EXPECT_FALSE(FileURLToPath("file:///tmp/a%00b"));
  EXPECT_FALSE(FileURLToPath("file:///tmp/a%2"));
  EXPECT_FALSE(FileURLToPath("file:///tmp/a%zz"));
  EXPECT_FALSE(FileURLToPath("file:relative"));
}
