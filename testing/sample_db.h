// The sample program in the test database, as the host shows it after
// loading the program file and, with the seed, a user's earlier work.
#pragma once

#include "samples/sample_program.h"
#include "testing/test_db.h"

/// Adds a segment per section of `program` (the section's bytes, then
/// zeros) and puts the cursor at its entry point; aborts the test when the
/// file does not parse.
void LoadSample(TestDb &db, const samples::SampleProgram &program);

/// Gives the names and repeatable comments of the program's database seed.
void ApplySeed(const samples::SampleProgram &program);
