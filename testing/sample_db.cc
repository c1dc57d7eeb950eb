#include "testing/sample_db.h"

#include <gtest/gtest.h>

#include <string>

#include "samples/mapped_pe.h"

void LoadSample(TestDb &db, const samples::SampleProgram &program) {
  samples::MappedPe pe;
  std::string err;
  ASSERT_TRUE(pe.Load(program.file, &err)) << err;
  for (const samples::MappedSection &section : pe.sections) {
    SegmentBytes bytes(section.start, section.end - section.start);
    bytes.PutBytes(section.start, section.bytes);
    db.AddSegment(section.name, bytes);
  }
  db.db().SetImageBase(program.image_base);
  db.db().SetCursor(program.entry);
  db.db().SetResourceDirectory(program.resource_directory, program.resource_size);
}

void ApplySeed(const samples::SampleProgram &program) {
  for (const samples::SeedEntry &seed : program.seeds) {
    if (seed.is_comment) {
      ASSERT_EQ(1, set_cmt(seed.ea, seed.text.c_str(), 1)) << seed.text;
    } else {
      ASSERT_EQ(1, do_name_anyway(seed.ea, seed.text.c_str(), 0)) << seed.text;
    }
  }
}
