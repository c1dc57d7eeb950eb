// The form reader target's check of the model's JSON, kept in a file of its
// own: the fuzz build compiles it without coverage, so that the JSON parser's
// branches are neither traced nor counted as features of the input (parsing
// with them cost two fifths of a run and added nothing the fuzzer can steer).
#pragma once

#include <cstddef>
#include <string>

namespace fuzz {

/// Whether `json` is one valid JSON text; if so, `*forms` is the number of
/// elements of its top-level "forms" array (0 when it has none).
bool CountJsonForms(const std::string &json, size_t *forms);

}  // namespace fuzz
