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
from ghidra.program.model.data import CharDataType
from ghidra.program.model.data import DataTypeConflictHandler
from ghidra.program.model.data import DataUtilities
from ghidra.program.model.data import DoubleDataType
from ghidra.program.model.data import DWordDataType
from ghidra.program.model.data import EnumDataType
from ghidra.program.model.data import FloatDataType
from ghidra.program.model.data import IntegerDataType
from ghidra.program.model.data import LongLongDataType
from ghidra.program.model.data import PascalString255DataType
from ghidra.program.model.data import Pointer32DataType
from ghidra.program.model.data import PointerDataType
from ghidra.program.model.data import QWordDataType
from ghidra.program.model.data import ShortDataType
from ghidra.program.model.data import SignedCharDataType
from ghidra.program.model.data import StructureDataType
from ghidra.program.model.data import TypedefDataType
from ghidra.program.model.data import Undefined
from ghidra.program.model.data import UnsignedCharDataType
from ghidra.program.model.data import UnsignedIntegerDataType
from ghidra.program.model.data import UnsignedLongLongDataType
from ghidra.program.model.data import UnsignedShortDataType
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
# its size first, then the typedefs and enumerations, then the structures
# filled, so that members may point to any of them. Types are named by their
# C text and resolved among the C base types and those made here.
# Prototypes are custom variable storage (each parameter's register or
# stack offset, the stack the method removes): they hold whatever compiler
# spec the program was imported with, as none pushes left to right.

_C_BASE = {
    "void": VoidDataType.dataType,
    "char": CharDataType.dataType,
    "signed char": SignedCharDataType.dataType,
    "unsigned char": UnsignedCharDataType.dataType,
    "short": ShortDataType.dataType,
    "unsigned short": UnsignedShortDataType.dataType,
    "int": IntegerDataType.dataType,
    "unsigned int": UnsignedIntegerDataType.dataType,
    "long long": LongLongDataType.dataType,
    "unsigned long long": UnsignedLongLongDataType.dataType,
    "float": FloatDataType.dataType,
    "double": DoubleDataType.dataType,
}


def _resolve(c_type, made):
    """The data type of a C type text, or None when it names no type known
    here. A pointer to a type not known here (a function type) is an
    untyped pointer."""
    base, depth = c_type.strip(), 0
    while base.endswith("*"):
        base, depth = base[:-1].strip(), depth + 1
    dt = made[base][0] if base in made else _C_BASE.get(base)
    if dt is None:
        return Pointer32DataType.dataType if depth else None
    for _ in range(depth):
        dt = PointerDataType(dt)
    return dt


def _typed_member(c_type, count, size, made):
    """The type of a member: resolved, or bytes of its size when it names
    no type known here or one of another size."""
    dt = _resolve(c_type, made)
    if dt is not None and count and dt.getLength() * count == size:
        return ArrayDataType(dt, count, dt.getLength())
    if dt is not None and not count and dt.getLength() == size:
        return dt
    return _number("byte", size)


def _add_type(dt, made, name, fresh, tally):
    dtm = currentProgram.getDataTypeManager()
    made[name] = (dtm.addDataType(dt, DataTypeConflictHandler.DEFAULT_HANDLER), fresh)
    tally.add("declarations", "applied")


def _held(name, made, tally):
    """Whether a type of this name is there already: it is kept as it is,
    whoever made it."""
    found = currentProgram.getDataTypeManager().getDataType(CategoryPath(TYPES_CATEGORY),
                                                            name)
    if found is None:
        return False
    made[name] = (found, False)
    tally.add("declarations", "already there")
    return True


def declare_struct(rec, made, tally):
    name, size = rec
    if _held(name, made, tally):
        return
    try:
        _add_type(StructureDataType(CategoryPath(TYPES_CATEGORY), name, size), made, name,
                  True, tally)
    except:  # Java exceptions need not derive from Exception under Jython
        tally.add("declarations", "failed", "structure %s: %s" % (name, _why()))


def declare_type(rec, made, tally):
    kind, name = rec[0], rec[1]
    if _held(name, made, tally):
        return
    path = CategoryPath(TYPES_CATEGORY)
    try:
        if kind == "enum":
            dt = EnumDataType(path, name, rec[2])
            for value_name, value in rec[3]:
                dt.add(value_name, value)
        else:
            target = _resolve(rec[2], made)
            if target is None:
                tally.add("declarations", "failed", "typedef %s: no type %s" % (name, rec[2]))
                return
            if rec[3]:
                target = ArrayDataType(target, rec[3], target.getLength())
            dt = TypedefDataType(path, name, target)
        _add_type(dt, made, name, False, tally)
    except:  # Java exceptions need not derive from Exception under Jython
        tally.add("declarations", "failed", "%s %s: %s" % (kind, name, _why()))


def fill_struct(rec, made, tally):
    name, members = rec
    if name not in made or not made[name][1]:
        return  # one that was there is kept as it is
    s = made[name][0]
    try:
        for m in members:
            s.replaceAtOffset(m[1], _typed_member(m[3], m[4], m[2], made), m[2], m[0], None)
    except:  # Java exceptions need not derive from Exception under Jython
        tally.add("declarations", "failed", "structure %s: %s" % (name, _why()))


def apply_prototype(rec, made, tally):
    ea, params, result_type, result_size, result_place, purge = rec
    f = getFunctionAt(_addr(ea))
    if f is None:
        tally.add("prototypes", "failed", "no function at 0x%X for a prototype" % ea)
        return
    try:
        program = currentProgram
        args = ArrayList()
        for name, c_type, size, place in params:
            where = place if isinstance(place, int) else program.getRegister(place)
            # A value smaller than its register or stack slot keeps its type.
            dt = _resolve(c_type, made)
            if dt is None or not 0 < dt.getLength() <= size:
                dt = Undefined.getUndefinedDataType(size)
            args.add(ParameterImpl(name, dt, where, program))
        if result_place is None:
            ret = ReturnParameterImpl(VoidDataType.dataType, VariableStorage.VOID_STORAGE,
                                      program)
        else:
            regs = [program.getRegister(r) for r in result_place.split(":")]
            dt = _resolve(result_type, made)
            if dt is None or dt.getLength() > result_size:
                dt = Undefined.getUndefinedDataType(result_size)
            ret = ReturnParameterImpl(dt, VariableStorage(program, *regs), program)
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
        "gtypes": lambda rec: declare_type(rec, made, tally),
        "gmembers": lambda rec: fill_struct(rec, made, tally),
        "gprotos": lambda rec: apply_prototype(rec, made, tally),
        "structs": lambda rec: make_struct(rec, types, tally),
        "items": lambda rec: make_item(rec, types, tally),
        "functions": lambda rec: make_function(rec, tally),
        "names": lambda rec: put_name(rec, tally),
        "comments": lambda rec: put_comment(rec, tally),
    }
