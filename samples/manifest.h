// The texts that go beside the sample: the manifest, which lists every class
// record, type information block and function with their addresses for the
// tests to check the plug-ins against, and the database seed, the names and
// comments a user had given before the plug-ins run, in the saved-database
// form the host loads.
#pragma once

#include <string>
#include <vector>

#include "samples/sample_program.h"

namespace samples {

std::string ManifestJson(const SampleProgram &program);
std::string SeedJson(const SampleProgram &program);

/// Writes `data` to a temporary file beside `path` and renames it over
/// `path`, so that a reader sees the whole file or none. False with `err`
/// set on failure, leaving no temporary file behind.
bool WriteFileWhole(const std::string &path, const void *data, size_t size,
                    std::string *err);

}  // namespace samples
