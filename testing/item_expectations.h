// Assertions on what the annotators leave in the database, shared by the
// plug-in tests.
#pragma once

#include <gtest/gtest.h>

#include "testing/test_db.h"

/// Success when an item of `type` and `size` starts at `ea`.
inline testing::AssertionResult HasItem(ea_t ea, kernel::ItemType type, asize_t size) {
  const std::optional<kernel::Item> item = TestDb::ItemAt(ea);
  if (!item) return testing::AssertionFailure() << std::hex << ea << " is unknown";
  if (item->start != ea || item->type != type || item->size != size) {
    return testing::AssertionFailure()
           << std::hex << ea << " lies in " << kernel::ItemTypeName(item->type)
           << " item at " << item->start << std::dec << " of " << item->size << " bytes";
  }
  return testing::AssertionSuccess();
}

/// Success when no item covers `ea`.
inline testing::AssertionResult IsUnknown(ea_t ea) {
  const std::optional<kernel::Item> item = TestDb::ItemAt(ea);
  if (!item) return testing::AssertionSuccess();
  return testing::AssertionFailure()
         << std::hex << ea << " lies in " << kernel::ItemTypeName(item->type)
         << " item at " << item->start;
}

/// Success when a function starts at `ea`.
inline testing::AssertionResult StartsFunction(ea_t ea) {
  for (const kernel::Function &f : kernel::TheDatabase().Functions()) {
    if (f.start == ea) return testing::AssertionSuccess();
  }
  return testing::AssertionFailure() << "no function starts at " << std::hex << ea;
}
