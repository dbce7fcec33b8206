// Placeholder until the customisation table loader lands: no table is ever
// loaded, so the filter writes no PJL.
#include "plistAccess.h"

#include <cstring>

PsPjlTables ctrl1st;

int ossFilterCreatePsPjlTables(PsPjlTables *table, const char *) {
  if (table) std::memset(table, 0, sizeof *table);
  return -1;
}

int ossFilterFreePsPjlTables(PsPjlTables *table) {
  if (table) std::memset(table, 0, sizeof *table);
  return 0;
}
