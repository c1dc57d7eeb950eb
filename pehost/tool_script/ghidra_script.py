# How the Ghidra script applies each record in Ghidra, and the hooks main()
# calls (main() is shared with the IDAPython script: script_main.py in the
# sources). One file serves Jython (Python 2.7) and the Python 3 bridge: it
# declares no runtime, keeps to the flat script API and the data type classes
# present from Ghidra 10.0 to 12.1 (the 6-argument DataUtilities.createData,
# the 3-argument ArrayDataType) and makes every address from text, which
# neither runtime maps to a Java int. Python 2.7 and 3; no f-strings.
from __future__ import print_function

import sys

from ghidra.program.model.data import AlignmentDataType
from ghidra.program.model.data import ArrayDataType
from ghidra.program.model.data import ByteDataType
from ghidra.program.model.data import CategoryPath
from ghidra.program.model.data import DataTypeConflictHandler
from ghidra.program.model.data import DataUtilities
from ghidra.program.model.data import DWordDataType
from ghidra.program.model.data import PascalString255DataType
from ghidra.program.model.data import Pointer32DataType
from ghidra.program.model.data import PointerDataType
from ghidra.program.model.data import QWordDataType
from ghidra.program.model.data import StructureDataType
from ghidra.program.model.data import Undefined
from ghidra.program.model.data import VoidDataType
from ghidra.program.model.data import WordDataType
from ghidra.program.model.listing import ParameterImpl
from ghidra.program.model.listing import ReturnParameterImpl
from ghidra.program.model.listing import VariableStorage
from ghidra.program.model.listing.Function import FunctionUpdateType
from ghidra.program.model.symbol import SourceType
from ghidra.program.model.symbol import SymbolUtilities
from java.util import ArrayList

CATEGORY = "/pehost"
# The program's own types: its classes' instance and method table
# structures and its records.
TYPES_CATEGORY = "/pehost/types"


def _addr(ea):
    # Given a number, the Python 3 bridge may take toAddr(int) and overflow.
    return toAddr("0x%x" % ea)


def _why():
    return "%s" % (sys.exc_info()[1],)


_NUMBERS = {
    "byte": (ByteDataType.dataType, 1),
    "word": (WordDataType.dataType, 2),
    "dword": (DWordDataType.dataType, 4),
    "qword": (QWordDataType.dataType, 8),
}


def _number(kind, size):
    """The type of `size` bytes of numbers: one, or an array."""
    dt, n = _NUMBERS[kind]
    if size == n:
        return dt
    return ArrayDataType(dt, size // n, n)


def _member_type(kind, size):
    """The data type and comment of a structure member."""
    if kind == "offset":
        return Pointer32DataType.dataType, None
    if kind in _NUMBERS:
        return _number(kind, size), None
    # A structure holds no dynamic types: a string member is its bytes.
    return _number("byte", size), ("Pascal string" if kind == "pstring" else "C string")


def make_struct(rec, types, tally):
    name, size, members = rec
    dtm = currentProgram.getDataTypeManager()
    path = CategoryPath(CATEGORY)
    found = dtm.getDataType(path, name)
    if found is not None:
        # A type of this name is kept as it is, whoever made it.
        types[name] = (found, size)
        tally.add("structures", "already there")
        return
    try:
        s = StructureDataType(path, name, size)
        for m in members:
            if m[2] == 0:
                tally.notes.append("structure %s: member %s has no size; a Ghidra "
                                   "structure leaves it out" % (name, m[0]))
                continue
            dt, comment = _member_type(m[3], m[2])
            s.replaceAtOffset(m[1], dt, m[2], m[0], comment)
        # The manager's copy is the one to use.
        types[name] = (dtm.addDataType(s, DataTypeConflictHandler.DEFAULT_HANDLER), size)
        tally.add("structures", "applied")
    except:  # Java exceptions need not derive from Exception under Jython
        tally.add("structures", "failed", "structure %s: %s" % (name, _why()))


def _put(ea, dt, length):
    # Whatever the tool made there gives way.
    return DataUtilities.createData(currentProgram, _addr(ea), dt, length, False,
                                    DataUtilities.ClearDataMode.CLEAR_ALL_CONFLICT_DATA)


def _make_item(rec, types):
    ea, size, kind = rec[0], rec[1], rec[2]
    if kind in _NUMBERS:
        return _put(ea, _number(kind, size), -1)
    if kind == "offset":
        return _put(ea, Pointer32DataType.dataType, -1)
    if kind == "pstring":
        return _put(ea, PascalString255DataType.dataType, size)
    if kind == "align":
        return _put(ea, AlignmentDataType(), size)
    if kind == "struct":
        dt, n = types[rec[3]]
        if size != n:
            dt = ArrayDataType(dt, size // n, n)
        return _put(ea, dt, -1)
    return None


def make_item(rec, types, tally):
    what = "%s of %d bytes at 0x%X" % (rec[2], rec[1], rec[0])
    try:
        if _make_item(rec, types) is not None:
            tally.add("data items", "applied")
        else:
            tally.add("data items", "failed", what + " refused")
    except:  # Java exceptions need not derive from Exception under Jython
        tally.add("data items", "failed", "%s: %s" % (what, _why()))


def make_function(rec, tally):
    a = _addr(rec[0])
    if getFunctionAt(a) is not None:
        tally.add("functions", "already there")
        return
    try:
        disassemble(a)
        if createFunction(a, None) is not None:
            tally.add("functions", "applied")
        else:
            tally.add("functions", "failed", "function at 0x%X refused" % rec[0])
    except:  # Java exceptions need not derive from Exception under Jython
        tally.add("functions", "failed", "function at 0x%X: %s" % (rec[0], _why()))


def put_name(rec, tally):
    # Labels need not be unique: a name held elsewhere stays there too, and
    # the same label given again at an address is not added twice.
    a = _addr(rec[0])
    try:
        name = SymbolUtilities.replaceInvalidChars(rec[1], True)
        f = getFunctionAt(a)
        if f is not None:
            f.setName(name, SourceType.USER_DEFINED)
        else:
            createLabel(a, name, True, SourceType.USER_DEFINED)
        tally.add("names", "applied")
    except:  # Java exceptions need not derive from Exception under Jython
        tally.add("names", "failed", "name %s at 0x%X: %s" % (rec[1], rec[0], _why()))


def put_comment(rec, tally):
    a, text = _addr(rec[0]), rec[1]
    if rec[2]:
        get, put = getRepeatableComment, setRepeatableComment
    else:
        get, put = getEOLComment, setEOLComment
    try:
        if get(a) == text:
            tally.add("comments", "already there")
        elif put(a, text):
            tally.add("comments", "applied")
        else:
            tally.add("comments", "failed", "comment at 0x%X refused" % rec[0])
    except:  # Java exceptions need not derive from Exception under Jython
        tally.add("comments", "failed", "comment at 0x%X: %s" % (rec[0], _why()))


# The program's types go to the data type manager: each structure made at
# its size first, then filled, so that members may point to any of them.
# Prototypes are custom variable storage (each parameter's register or
# stack offset, the stack the method removes): they hold whatever compiler
# spec the program was imported with, as none pushes left to right.


def declare_struct(rec, made, tally):
    name, size = rec
    dtm = currentProgram.getDataTypeManager()
    path = CategoryPath(TYPES_CATEGORY)
    found = dtm.getDataType(path, name)
    if found is not None:
        made[name] = (found, False)
        tally.add("declarations", "already there")
        return
    try:
        s = StructureDataType(path, name, size)
        made[name] = (dtm.addDataType(s, DataTypeConflictHandler.DEFAULT_HANDLER), True)
        tally.add("declarations", "applied")
    except:  # Java exceptions need not derive from Exception under Jython
        tally.add("declarations", "failed", "structure %s: %s" % (name, _why()))


def _typed_member(m, made):
    kind, size, target = m[3], m[2], m[4]
    if kind == "pointer":
        if target in made:
            return PointerDataType(made[target][0])
        return Pointer32DataType.dataType
    if kind == "struct" and target in made:
        return made[target][0]
    return _number(kind if kind in _NUMBERS else "byte", size)


def fill_struct(rec, made, tally):
    name, members = rec
    if name not in made or not made[name][1]:
        return  # one that was there is kept as it is
    s = made[name][0]
    try:
        for m in members:
            s.replaceAtOffset(m[1], _typed_member(m, made), m[2], m[0], None)
    except:  # Java exceptions need not derive from Exception under Jython
        tally.add("declarations", "failed", "structure %s: %s" % (name, _why()))


def _param_type(size, target, made):
    if target in made:
        return PointerDataType(made[target][0])
    return Undefined.getUndefinedDataType(size)


def apply_prototype(rec, made, tally):
    ea, params, result_size, result_place, purge = rec
    f = getFunctionAt(_addr(ea))
    if f is None:
        tally.add("prototypes", "failed", "no function at 0x%X for a prototype" % ea)
        return
    try:
        program = currentProgram
        args = ArrayList()
        for name, size, place, target in params:
            where = place if isinstance(place, int) else program.getRegister(place)
            args.add(ParameterImpl(name, _param_type(size, target, made), where, program))
        if result_place is None:
            ret = ReturnParameterImpl(VoidDataType.dataType, VariableStorage.VOID_STORAGE,
                                      program)
        else:
            regs = [program.getRegister(r) for r in result_place.split(":")]
            ret = ReturnParameterImpl(Undefined.getUndefinedDataType(result_size),
                                      VariableStorage(program, *regs), program)
        f.setCustomVariableStorage(True)
        f.updateFunction(None, ret, args, FunctionUpdateType.CUSTOM_STORAGE, True,
                         SourceType.USER_DEFINED)
        f.setStackPurgeSize(purge)
        tally.add("prototypes", "applied")
    except:  # Java exceptions need not derive from Exception under Jython
        tally.add("prototypes", "failed", "prototype at 0x%X: %s" % (ea, _why()))


# ---- The hooks main() calls ----------------------------------------------------

TOOL_BASE_HOLDER = "program"
TOOL_REBASE_HINT = "Set the image base to 0x%X (Window > Memory Map, Set Image Base)"


def tool_image_base():
    return currentProgram.getImageBase().getOffset()


def tool_handlers(tally):
    """The function that applies a record, by kind."""
    types = {}
    made = {}
    return {
        "gstructs": lambda rec: declare_struct(rec, made, tally),
        "gmembers": lambda rec: fill_struct(rec, made, tally),
        "gprotos": lambda rec: apply_prototype(rec, made, tally),
        "structs": lambda rec: make_struct(rec, types, tally),
        "items": lambda rec: make_item(rec, types, tally),
        "functions": lambda rec: make_function(rec, tally),
        "names": lambda rec: put_name(rec, tally),
        "comments": lambda rec: put_comment(rec, tally),
    }
