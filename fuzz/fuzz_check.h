// What the fuzz targets hold the code to. A broken invariant aborts, which
// libFuzzer keeps as a crash input and a replay run reports as a failure.
#pragma once

#include <cstdio>
#include <cstdlib>

#include "host/kernel/database.h"

#define FUZZ_CHECK(cond, ...)                                                        \
  do {                                                                               \
    if (!(cond)) {                                                                   \
      fprintf(stderr, "%s:%d: invariant broken: %s\n  ", __FILE__, __LINE__, #cond); \
      fprintf(stderr, __VA_ARGS__);                                                  \
      fputc('\n', stderr);                                                           \
      abort();                                                                       \
    }                                                                                \
  } while (0)

namespace fuzz {

/// Empties the database the services act on when it goes out of scope, so
/// that an input leaves no allocation behind: libFuzzer runs every input
/// whose allocations outlive it a second time, looking for a leak.
struct ClearDatabaseAfterInput {
  ~ClearDatabaseAfterInput() { kernel::TheDatabase().Clear(); }
};

/// Aborts unless every item of `db` has a size, lies inside one segment and
/// starts at or after the end of the item before it.
void CheckItemsDisjoint(const kernel::Database &db);

}  // namespace fuzz
