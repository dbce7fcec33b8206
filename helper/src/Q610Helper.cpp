// Q610Helper: wakes the printer before a job. The filter starts it with
//   Q610Helper SendMagicPacket_XPC BROADCAST MAC PASSWORD OFF
// where "NULL" stands for no broadcast address or no password.
#include <cstdio>
#include <cstring>

#include "WakeOnLan.h"

namespace {
const char *NoneForNULL(const char *arg) { return std::strcmp(arg, "NULL") == 0 ? nullptr : arg; }
}  // namespace

int main(int argc, char **argv) {
  if (argc != 6 || std::strcmp(argv[1], "SendMagicPacket_XPC") != 0 || std::strcmp(argv[5], "OFF") != 0) {
    std::fprintf(stderr, "usage: Q610Helper SendMagicPacket_XPC BROADCAST|NULL MAC PASSWORD|NULL OFF\n");
    return 2;
  }
  return SendMagicPacket(NoneForNULL(argv[2]), argv[3], NoneForNULL(argv[4])) == 0 ? 0 : 1;
}
