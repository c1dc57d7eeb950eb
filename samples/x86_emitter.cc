#include "samples/x86_emitter.h"

#include <stdexcept>

namespace samples {

namespace {

void Bytes(Image &image, std::initializer_list<uint8_t> bytes) {
  for (uint8_t b : bytes) image.Put8(b);
}

}  // namespace

FunctionRange EmitFunction(Image &image, FunctionShape shape, Label label, Label callee,
                           uint8_t operand) {
  FunctionRange range;
  range.start = image.Here();
  if (label.valid()) image.Bind(label);
  switch (shape) {
    case FunctionShape::kEmpty:
      Bytes(image, {0x55, 0x8B, 0xEC, 0x5D, 0xC3});
      break;
    case FunctionShape::kCall: {
      if (!callee.valid()) throw std::logic_error("a calling function needs a callee");
      Bytes(image, {0x55, 0x8B, 0xEC, 0x53, 0x8B, 0xD8, 0x8B, 0xC3, 0xE8});
      // rel32 = callee - (address after the call); the image fills in the
      // callee's absolute address, so subtract the call's end here.
      const Addr after_call = image.Here() + 4;
      image.PutRef(callee, -static_cast<int32_t>(after_call));
      Bytes(image, {0x5B, 0x5D, 0xC3});
      break;
    }
    case FunctionShape::kLocals:
      Bytes(image, {0x55, 0x8B, 0xEC, 0x83, 0xC4, 0xF8, 0x89, 0x45, 0xFC, 0x8B, 0x45,
                    0xFC, 0x85, 0xC0, 0x74, 0x02, 0x33, 0xC0, 0x59, 0x59, 0x5D, 0xC3});
      break;
    case FunctionShape::kStackArgs:
      Bytes(image, {0x55, 0x8B, 0xEC, 0x8B, 0x45, 0x08, 0x03, 0x45, 0x0C, 0x5D, 0xC2,
                    operand, 0x00});
      break;
    case FunctionShape::kJumpOverRet:
      Bytes(image, {0x55, 0x8B, 0xEC, 0x85, 0xC0, 0x75, 0x02, 0x5D, 0xC3, 0xB8, 0x01,
                    0x00, 0x00, 0x00, 0x5D, 0xC3});
      break;
    case FunctionShape::kFieldGetter:
      Bytes(image, {0x8B, 0x40, operand, 0xC3});
      break;
    case FunctionShape::kFieldSetter:
      Bytes(image, {0x89, 0x50, operand, 0xC3});
      break;
  }
  range.end = image.Here();
  image.AlignFiller();
  return range;
}

FunctionShape ShapeForSeed(uint32_t seed) {
  static const FunctionShape kShapes[] = {FunctionShape::kEmpty, FunctionShape::kLocals,
                                          FunctionShape::kStackArgs,
                                          FunctionShape::kJumpOverRet};
  return kShapes[seed % 4];
}

}  // namespace samples
