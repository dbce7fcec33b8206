// The check of requests in front of PAPPL: which requests it answers itself,
// with what, and how it passes a job-password on.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

#include "FrontEnd.h"

using namespace vtpapp;

namespace {

ipp_t *Request(ipp_op_t op) {
  ipp_t *r = ippNewRequest(op);
  ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
               "ipp://localhost/ipp/print/Q610");
  ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "alice");
  return r;
}

void Pin(ipp_t *r, ipp_tag_t group, const char *pin) {
  ippAddOctetString(r, group, "job-password", pin, static_cast<int>(std::strlen(pin)));
}

// What the front end reads from a client that sends `bytes` and closes.
RequestRead Feed(const std::string &bytes) {
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) return {};
  std::thread client([&] {
    (void)!send(sv[1], bytes.data(), bytes.size(), MSG_NOSIGNAL);
    shutdown(sv[1], SHUT_WR);
  });
  RequestRead r;
  try {
    r = ReadRequest(sv[0], 5000);
  } catch (const std::exception &e) {
    ADD_FAILURE() << "threw " << e.what();
  }
  client.join();
  close(sv[1]);
  return r;
}

std::string Encoded(ipp_t *r) {
  std::string s = EncodeIpp(r);
  ippDelete(r);
  return s;
}

// True when an encoded message reads back as a whole.
bool ReadsBack(const std::string &bytes) {
  ipp_t *ipp = DecodeIpp(bytes);
  ippDelete(ipp);
  return ipp != nullptr;
}

}  // namespace

// Request heads, their framing and bodies as a client sends them.
TEST(FrontEnd, ClientRequestsAreReadToTheirEnd) {
  ipp_t *good = Request(IPP_OP_PRINT_JOB);
  Pin(good, IPP_TAG_OPERATION, "4711");
  const std::string ipp = Encoded(good);
  ipp_t *bad = Request(IPP_OP_PRINT_JOB);
  ippAddString(bad, IPP_TAG_JOB, IPP_TAG_KEYWORD, "vantora-poster", nullptr, "5x5");
  const std::string badIpp = Encoded(bad);
  const std::string doc = "%!PS\nshowpage\n";
  // A message past the front end's limit (1 MiB): 40 values of 30000 octets.
  ipp_t *huge = Request(IPP_OP_PRINT_JOB);
  const std::string value(30000, 'x');
  for (int i = 0; i < 40; ++i)
    ippAddString(huge, IPP_TAG_JOB, IPP_TAG_TEXT, ("vantora-note-" + std::to_string(i)).c_str(),
                 nullptr, value.c_str());
  const std::string hugeIpp = Encoded(huge);
  auto post = [](const std::string &fields, const std::string &body) {
    return "POST /ipp/print/Q610 HTTP/1.1\r\nContent-Type: application/ipp\r\n" + fields +
           "\r\n" + body;
  };
  auto chunk = [](const std::string &s) {
    char size[16];
    std::snprintf(size, sizeof(size), "%zx\r\n", s.size());
    return size + s + "\r\n";
  };
  struct Case {
    const char *what;
    std::string bytes;
    bool head, framing, ipp, answered, ended;
    long long rest;
  };
  const Case cases[] = {
      {"by length", post("Content-Length: " + std::to_string(ipp.size() + doc.size()) + "\r\n",
                         ipp + doc),
       true, true, true, false, true, static_cast<long long>(doc.size())},
      {"chunked, split inside the message",
       post("Transfer-Encoding: chunked\r\n",
            chunk(ipp.substr(0, 5)) + chunk(ipp.substr(5) + doc) + "0\r\nX-T: 1\r\n\r\n"),
       true, true, true, false, true, static_cast<long long>(doc.size())},
      {"operation code outside ipp_op_t",
       post("Content-Length: " + std::to_string(ipp.size()) + "\r\n",
            ipp.substr(0, 2) + "\xfe\x14" + ipp.substr(4)),
       true, true, true, false, true, 0},
      {"bad value answered",
       post("Content-Length: " + std::to_string(badIpp.size()) + "\r\n", badIpp), true, true,
       true, true, true, 0},
      {"document cut short",
       post("Content-Length: " + std::to_string(ipp.size() + 100) + "\r\n", ipp + doc), true,
       true, true, false, false, static_cast<long long>(doc.size())},
      {"message past the limit",
       post("Content-Length: " + std::to_string(hugeIpp.size()) + "\r\n", hugeIpp), true, true,
       false, false, false, 0},
      {"bad chunk size", post("Transfer-Encoding: chunked\r\n", "zz\r\n" + ipp), true, true,
       false, false, false, 0},
      {"continuation of blanks only", "GET / HTTP/1.1\r\nHost: a\r\n \t\r\n\r\n", true, true,
       false, false, true, 0},
      {"Content-Length not a number", post("Content-Length: 12a\r\n", ipp), true, false, false,
       false, false, 0},
      {"unknown transfer coding", post("Transfer-Encoding: gzip\r\n", ipp), true, false, false,
       false, false, 0},
      {"field past the head limit", "GET / HTTP/1.1\r\nX: " + std::string(70000, 'a') + "\r\n\r\n",
       false, false, false, false, false, 0},
  };
  for (const auto &c : cases) {
    RequestRead r = Feed(c.bytes);
    EXPECT_EQ(r.head, c.head) << c.what;
    EXPECT_EQ(r.framing, c.framing) << c.what;
    EXPECT_EQ(r.ipp, c.ipp) << c.what;
    EXPECT_EQ(!r.answer.empty(), c.answered) << c.what;
    EXPECT_EQ(!r.relayed.empty(), c.ipp && !c.answered) << c.what;
    EXPECT_EQ(r.ended, c.ended) << c.what;
    EXPECT_EQ(r.rest, c.rest) << c.what;
  }
}

TEST(FrontEnd, RequestsWithBadValuesAreAnsweredWithTheAttribute) {
  struct Case {
    const char *what;
    ipp_op_t op;
    std::function<void(ipp_t *)> build;
    ipp_status_t status;     // IPP_STATUS_OK: passed on to PAPPL
    const char *unsupported;  // the attribute in the unsupported group
  };
  const Case cases[] = {
      {"poster 5x5", IPP_OP_PRINT_JOB,
       [](ipp_t *r) {
         ippAddString(r, IPP_TAG_JOB, IPP_TAG_KEYWORD, "vantora-poster", nullptr, "5x5");
       },
       IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES, "vantora-poster"},
      {"short PIN as operation attribute", IPP_OP_CREATE_JOB,
       [](ipp_t *r) { Pin(r, IPP_TAG_OPERATION, "12"); }, IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES,
       "job-password"},
      {"huge media-col", IPP_OP_VALIDATE_JOB,
       [](ipp_t *r) {
         ipp_t *mc = ippNew();
         for (int i = 0; i < 600; ++i)
           ippAddString(mc, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "media-source", nullptr, "tray-1");
         ippAddCollection(r, IPP_TAG_JOB, "media-col", mc);
         ippDelete(mc);
       },
       IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES, "media-col"},
      {"stamp with a quote", IPP_OP_SEND_DOCUMENT,
       [](ipp_t *r) {
         ippAddString(r, IPP_TAG_JOB, IPP_TAG_TEXT, "vantora-stamp-text", nullptr, "a\"b");
       },
       IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES, "vantora-stamp-text"},
      {"two PINs", IPP_OP_PRINT_JOB,
       [](ipp_t *r) {
         Pin(r, IPP_TAG_OPERATION, "1234");
         Pin(r, IPP_TAG_JOB, "5678");
       },
       IPP_STATUS_ERROR_BAD_REQUEST, nullptr},
      // libcups writes an empty member name but does not read it back.
      {"cover member without a name", IPP_OP_PRINT_JOB,
       [](ipp_t *r) {
         ipp_t *cover = ippNew();
         ippAddString(cover, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "cover-type", nullptr, "print-front");
         ippAddString(cover, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "", nullptr, "tray-1");
         ippAddCollection(r, IPP_TAG_JOB, "cover-front", cover);
         ippDelete(cover);
       },
       IPP_STATUS_ERROR_BAD_REQUEST, nullptr},
      // A nameless attribute is written as one more value of the one before:
      // PAPPL reads a poster value that is not in the attribute as given.
      {"value behind a nameless attribute", IPP_OP_PRINT_JOB,
       [](ipp_t *r) {
         ippAddString(r, IPP_TAG_JOB, IPP_TAG_KEYWORD, "vantora-poster", nullptr, "2x2");
         ippAddString(r, IPP_TAG_JOB, IPP_TAG_KEYWORD, "", nullptr, "5x5");
       },
       IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES, "vantora-poster"},
      {"good job", IPP_OP_PRINT_JOB,
       [](ipp_t *r) {
         ippAddString(r, IPP_TAG_JOB, IPP_TAG_KEYWORD, "vantora-poster", nullptr, "2x2");
       },
       IPP_STATUS_OK, nullptr},
      {"bad poster default", IPP_OP_SET_PRINTER_ATTRIBUTES,
       [](ipp_t *r) {
         ippAddString(r, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "vantora-poster-default", nullptr,
                      "5x5");
       },
       IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES, "vantora-poster-default"},
      {"wake port out of range", IPP_OP_SET_PRINTER_ATTRIBUTES,
       [](ipp_t *r) {
         ippAddInteger(r, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "vantora-wake-port-default", 70000);
       },
       IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES, "vantora-wake-port-default"},
      {"wake MAC not one", IPP_OP_SET_PRINTER_ATTRIBUTES,
       [](ipp_t *r) {
         ippAddString(r, IPP_TAG_PRINTER, IPP_TAG_TEXT, "vantora-wake-mac-default", nullptr,
                      "00:11:22");
       },
       IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES, "vantora-wake-mac-default"},
      {"good wake settings", IPP_OP_SET_PRINTER_ATTRIBUTES,
       [](ipp_t *r) {
         ippAddString(r, IPP_TAG_PRINTER, IPP_TAG_TEXT, "vantora-wake-mac-default", nullptr,
                      "00:11:22:33:44:55");
         ippAddString(r, IPP_TAG_PRINTER, IPP_TAG_TEXT, "vantora-wake-address-default", nullptr,
                      "");
         ippAddInteger(r, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "vantora-wake-port-default", 9);
       },
       IPP_STATUS_OK, nullptr},
      {"other operations pass", IPP_OP_GET_PRINTER_ATTRIBUTES,
       [](ipp_t *r) {
         ippAddString(r, IPP_TAG_JOB, IPP_TAG_KEYWORD, "vantora-poster", nullptr, "5x5");
       },
       IPP_STATUS_OK, nullptr},
  };
  for (const auto &c : cases) {
    ipp_t *request = Request(c.op);
    c.build(request);
    ipp_t *answer = CheckRequest(request);
    if (c.status == IPP_STATUS_OK) {
      EXPECT_EQ(answer, nullptr) << c.what;
    } else if (!answer) {
      ADD_FAILURE() << c.what << ": passed on";
    } else {
      EXPECT_EQ(ippGetStatusCode(answer), c.status) << c.what;
      EXPECT_EQ(ippGetRequestId(answer), ippGetRequestId(request)) << c.what;
      ipp_attribute_t *u = c.unsupported ? ippFindAttribute(answer, c.unsupported, IPP_TAG_ZERO)
                                         : nullptr;
      if (c.unsupported) {
        ASSERT_NE(u, nullptr) << c.what;
        EXPECT_EQ(ippGetGroupTag(u), IPP_TAG_UNSUPPORTED_GROUP) << c.what;
      }
      EXPECT_NE(ippFindAttribute(answer, "status-message", IPP_TAG_TEXT), nullptr) << c.what;
      EXPECT_TRUE(ReadsBack(Encoded(answer))) << c.what;
      answer = nullptr;  // deleted by Encoded
    }
    ippDelete(answer);
    ippDelete(request);
  }
}

// The PIN of a print dialog (an operation attribute) becomes the job's.
TEST(FrontEnd, OperationJobPasswordMovesToTheJob) {
  ipp_t *request = Request(IPP_OP_PRINT_JOB);
  Pin(request, IPP_TAG_OPERATION, "4711");
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "job-password-encryption", nullptr,
               "none");
  ippAddString(request, IPP_TAG_JOB, IPP_TAG_KEYWORD, "sides", nullptr, "one-sided");
  EXPECT_EQ(CheckRequest(request), nullptr);
  for (const char *name : {"job-password", "job-password-encryption"}) {
    ipp_attribute_t *a = ippFindAttribute(request, name, IPP_TAG_ZERO);
    ASSERT_NE(a, nullptr) << name;
    EXPECT_EQ(ippGetGroupTag(a), IPP_TAG_JOB) << name;
  }
  int len = 0;
  const void *pin = ippGetOctetString(ippFindAttribute(request, "job-password", IPP_TAG_STRING),
                                      0, &len);
  EXPECT_EQ(std::string(static_cast<const char *>(pin), static_cast<size_t>(len)), "4711");
  // The groups stay in order: operation, then job.
  ipp_tag_t last = IPP_TAG_ZERO;
  for (ipp_attribute_t *a = ippFirstAttribute(request); a; a = ippNextAttribute(request)) {
    EXPECT_GE(ippGetGroupTag(a), last) << ippGetName(a);
    last = ippGetGroupTag(a);
  }
  ippDelete(request);
}

TEST(FrontEnd, OnlyLoopbackNamesAreLoopback) {
  EXPECT_TRUE(IsLoopbackOnly("localhost", 8631));
  EXPECT_TRUE(IsLoopbackOnly("127.0.0.1", 8631));
  EXPECT_FALSE(IsLoopbackOnly("", 8631));
  EXPECT_FALSE(IsLoopbackOnly("0.0.0.0", 8631));
}
