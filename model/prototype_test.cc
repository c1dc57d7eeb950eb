#include "model/prototype.h"

#include <gtest/gtest.h>

namespace model {
namespace {

ArgType Ordinal(const char *c_type = "int32_t") { return {c_type, 4, ArgType::kOrdinal}; }
const ArgType kInteger{"int32_t", 4, ArgType::kOrdinal};
const ArgType kDouble{"double", 8, ArgType::kReal};
const ArgType kExtended{"Extended", 10, ArgType::kReal};
const ArgType kInt64{"int64_t", 8, ArgType::kInt64};
const ArgType kString{"string", 4, ArgType::kManaged};
const ArgType kRecord{"TRect", 16, ArgType::kStructure};
const ArgType kEvent{"TNotifyEvent", 8, ArgType::kMethodPointer};

/// "name@place" for every parameter, then "-> result@place purge N": the
/// prototype as an analyst checks it against the code.
std::string Text(const Prototype &p) {
  static const char *const kRegs[] = {"eax", "edx", "ecx"};
  std::string s;
  for (const PlacedParam &q : p.params) {
    s += q.name + ":" + q.c_type + "@";
    if (q.reg == Register::kStack)
      s += "^" + std::to_string(q.stack_offset) + "." + std::to_string(q.size);
    else
      s += kRegs[static_cast<int>(q.reg)];
    s += " ";
  }
  static const char *const kResults[] = {"", "@eax", "@edx:eax", "@st0"};
  return s + "-> " + p.result_type + kResults[static_cast<int>(p.result)] + " purge " +
         std::to_string(p.purge);
}

PlacedParam SelfOf(const char *c_type) {
  PlacedParam p;
  p.name = "Self";
  p.c_type = c_type;
  return p;
}

TEST(PrototypeTest, EventTypesArePlacedByTheRegisterConvention) {
  struct Row {
    const char *name;
    std::vector<DeclaredParam> params;
    const ArgType *result;
    const char *expected;
  };
  const Row rows[] = {
      {"click handler",
       {{"Sender", 0, Ordinal("TObject *")}},
       nullptr,
       "Self:TForm1 *@eax Sender:TObject *@edx -> void purge 0"},
      {"five parameters: the fourth and fifth pushed left to right",
       {{"Sender", 0, Ordinal("TObject *")},
        {"Button", 0, Ordinal("TMouseButton")},
        {"Shift", 0, Ordinal("TShiftState")},
        {"X", 0, Ordinal()},
        {"Y", 0, Ordinal()}},
       nullptr,
       "Self:TForm1 *@eax Sender:TObject *@edx Button:TMouseButton@ecx "
       "Shift:TShiftState@^8.4 X:int32_t@^4.4 Y:int32_t@^0.4 -> void purge 12"},
      {"a real number and an Int64 take the stack, the ordinal behind them a register",
       {{"A", 0, kDouble}, {"B", 0, kInt64}, {"C", 0, Ordinal()}},
       nullptr,
       "Self:TForm1 *@eax A:double@^8.8 B:int64_t@^0.8 C:int32_t@edx -> void purge 16"},
      {"var and out parameters are pointers in registers",
       {{"Key", kParamVar, Ordinal("Word")}, {"Value", kParamOut, kString}},
       nullptr,
       "Self:TForm1 *@eax Key:Word *@edx Value:string *@ecx -> void purge 0"},
      {"a large record is passed by its address",
       {{"R", kParamConst, kRecord}},
       nullptr,
       "Self:TForm1 *@eax R:TRect *@edx -> void purge 0"},
      {"a method pointer takes 8 bytes of stack",
       {{"OnDone", 0, kEvent}},
       nullptr,
       "Self:TForm1 *@eax OnDone:TNotifyEvent@^0.8 -> void purge 8"},
      {"an ordinal result in EAX",
       {},
       &kInteger,
       "Self:TForm1 *@eax -> int32_t@eax purge 0"},
      {"an Int64 result in EDX:EAX",
       {},
       &kInt64,
       "Self:TForm1 *@eax -> int64_t@edx:eax purge 0"},
      {"a real result in ST0",
       {},
       &kExtended,
       "Self:TForm1 *@eax -> Extended@st0 purge 0"},
      {"a string result through a hidden pointer behind the parameters",
       {{"A", 0, Ordinal()}},
       &kString,
       "Self:TForm1 *@eax A:int32_t@edx Result:string *@ecx -> void purge 0"},
      {"the hidden result on the stack when the registers are taken",
       {{"A", 0, Ordinal()}, {"B", 0, Ordinal()}, {"C", 0, Ordinal()}},
       &kString,
       "Self:TForm1 *@eax A:int32_t@edx B:int32_t@ecx C:int32_t@^4.4 "
       "Result:string *@^0.4 -> void purge 8"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(row.expected,
              Text(PlaceByConvention(SelfOf("TForm1 *"), row.params, row.result)));
  }
}

SignatureParam Param(const char *name, uint16_t location, uint8_t flags = 0) {
  SignatureParam p;
  p.name = name;
  p.location = location;
  p.flags = flags;
  return p;
}

TEST(PrototypeTest, SignaturesArePlacedWhereTheyRecord) {
  struct Row {
    const char *name;
    uint8_t convention;
    uint16_t par_off;
    std::vector<SignatureParam> params;
    std::vector<ArgType> types;
    const ArgType *result;
    const char *expected;  // or the problem
  };
  const ArgType self = Ordinal("TFoo *");
  const ArgType cls = Ordinal("TFoo_VMT *");
  const Row rows[] = {
      {"registers, then two stack parameters in Delphi order",
       0,
       16,
       {Param("Self", 0), Param("A", 1), Param("B", 2), Param("C", 12), Param("D", 8)},
       {self, Ordinal(), Ordinal(), Ordinal(), Ordinal()},
       nullptr,
       "Self:TFoo *@eax A:int32_t@edx B:int32_t@ecx C:int32_t@^4.4 D:int32_t@^0.4 "
       "-> void purge 8"},
      {"a class method: Self is the class; a Double on the stack",
       0,
       16,
       {Param("Self", 0), Param("X", 8)},
       {cls, kDouble},
       &kDouble,
       "Self:TFoo_VMT *@eax X:double@^0.8 -> double@st0 purge 8"},
      {"the hidden result flagged pfResult, on the stack",
       0,
       12,
       {Param("Self", 0), Param("A", 1), Param("B", 2), Param("\x01", 8, kParamResult)},
       {self, Ordinal(), Ordinal(), kString},
       &kString,
       "Self:TFoo *@eax A:int32_t@edx B:int32_t@ecx Result:string *@^0.4 -> void purge "
       "4"},
      {"the hidden result in EDX",
       0,
       8,
       {Param("Self", 0), Param("\x01", 1, kParamResult)},
       {self, kString},
       &kString,
       "Self:TFoo *@eax Result:string *@edx -> void purge 0"},
      {"var and out parameters are pointers",
       0,
       12,
       {Param("Self", 0), Param("A", 1, kParamVar), Param("B", 8, kParamOut)},
       {self, Ordinal(), kInt64},
       nullptr,
       "Self:TFoo *@eax A:int32_t *@edx B:int64_t *@^0.4 -> void purge 4"},
      {"an Int64 result in EDX:EAX",
       0,
       8,
       {Param("Self", 0)},
       {self},
       &kInt64,
       "Self:TFoo *@eax -> int64_t@edx:eax purge 0"},
      {"a constructor's flag in EDX is given a placeholder",
       0,
       8,
       {Param("Self", 0), Param("Msg", 2)},
       {self, kString},
       nullptr,
       "Self:TFoo *@eax _Hidden1:uint32_t@edx Msg:string@ecx -> void purge 0"},
      {"an open array's high bound, the top stack word, is given a placeholder",
       0,
       16,
       {Param("Self", 0), Param("Fmt", 1), Param("Args", 2, kParamArray), Param("N", 12)},
       {self, kString, Ordinal("TVarRec"), Ordinal()},
       nullptr,
       "Self:TFoo *@eax Fmt:string@edx Args:TVarRec *@ecx N:int32_t@^4.4 "
       "_Hidden1:uint32_t@^0.4 -> void purge 8"},
      {"stdcall: everything on the stack as recorded",
       3,
       16,
       {Param("A", 8), Param("B", 12)},
       {Ordinal(), Ordinal()},
       &kInteger,
       "A:int32_t@^0.4 B:int32_t@^4.4 -> int32_t@eax purge 8"},
      {"cdecl: the caller removes the stack",
       1,
       12,
       {Param("A", 8)},
       {Ordinal()},
       nullptr,
       "A:int32_t@^0.4 -> void purge 0"},
      {"a place outside the declared stack",
       0,
       12,
       {Param("Self", 0), Param("A", 12)},
       {self, Ordinal()},
       nullptr,
       "parameter A at place 12 outside the 4 bytes of stack declared"},
      {"a place between the registers and the stack",
       0,
       8,
       {Param("Self", 0), Param("A", 5)},
       {self, Ordinal()},
       nullptr,
       "parameter A at place 5 outside the 0 bytes of stack declared"},
      {"two parameters in one register",
       0,
       8,
       {Param("Self", 0), Param("A", 0)},
       {self, Ordinal()},
       nullptr,
       "two parameters in one register (A)"},
      {"a stack total below the frame",
       0,
       4,
       {Param("Self", 0)},
       {self},
       nullptr,
       "stack total 4 is below 8"},
      // Off the grid of four-byte words: the stack parameter would reach past
      // the purge, or overlap a placeholder.
      {"a stack total off the words",
       3,
       11,
       {Param("A", 8)},
       {Ordinal()},
       nullptr,
       "stack total 11 is not a multiple of 4"},
      {"a place off the words",
       3,
       16,
       {Param("A", 9)},
       {Ordinal()},
       nullptr,
       "parameter A at place 9 is not a multiple of 4"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    Signature s;
    s.convention = row.convention;
    s.par_off = row.par_off;
    s.params = row.params;
    Prototype p;
    std::string problem;
    if (PlaceFromSignature(s, row.types, row.result, &p, &problem)) {
      EXPECT_EQ(row.expected, Text(p));
    } else {
      EXPECT_EQ(row.expected, problem);
    }
  }
}

}  // namespace
}  // namespace model
