// The resources the sample program carries in its resource section.
#pragma once

#include <vector>

#include "samples/resource_section.h"

namespace samples {

/// The main form TForm1, the data module TDataModule1, two raw data
/// resources, a string table in two languages and a resource of a named type.
/// The form of a `newer` program (88-byte layout) also binds a mouse event.
std::vector<ResourceSpec> SampleResources(bool newer);

}  // namespace samples
