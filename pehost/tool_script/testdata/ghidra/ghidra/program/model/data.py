"""Stand-in ghidra.program.model.data: the data type classes the pehost script
uses, recorded by ghidra_model and replayed onto its program. Each cites its
row of the reference (disassembler-apis.md, section 2)."""
import ghidra_model as _m
from ghidra_model import DataType as _DataType
from ghidra_model import JavaException as _JavaException


class CategoryPath(object):
    # imports: ghidra.program.model.data CategoryPath (constructed from its path text)
    def __init__(self, path):
        self.path = path


class ByteDataType(object):
    # row ByteDataType.dataType ...: static singletons, 1/2/4/8-byte ints
    dataType = _DataType("byte", 1, "byte")


class WordDataType(object):
    # row ByteDataType.dataType ...: static singletons, 1/2/4/8-byte ints
    dataType = _DataType("word", 2, "word")


class DWordDataType(object):
    # row ByteDataType.dataType ...: static singletons, 1/2/4/8-byte ints
    dataType = _DataType("dword", 4, "dword")


class QWordDataType(object):
    # row ByteDataType.dataType ...: static singletons, 1/2/4/8-byte ints
    dataType = _DataType("qword", 8, "qword")


def _base(name, length):
    return _DataType(name, length, "number")


class CharDataType(object):
    # row (C base types): .dataType singletons
    dataType = _base("char", 1)


class SignedCharDataType(object):
    # row (C base types): .dataType singletons
    dataType = _base("signed char", 1)


class UnsignedCharDataType(object):
    # row (C base types): .dataType singletons
    dataType = _base("unsigned char", 1)


class ShortDataType(object):
    # row (C base types): .dataType singletons
    dataType = _base("short", 2)


class UnsignedShortDataType(object):
    # row (C base types): .dataType singletons
    dataType = _base("unsigned short", 2)


class IntegerDataType(object):
    # row (C base types): .dataType singletons
    dataType = _base("int", 4)


class UnsignedIntegerDataType(object):
    # row (C base types): .dataType singletons
    dataType = _base("unsigned int", 4)


class LongLongDataType(object):
    # row (C base types): .dataType singletons
    dataType = _base("long long", 8)


class UnsignedLongLongDataType(object):
    # row (C base types): .dataType singletons
    dataType = _base("unsigned long long", 8)


class FloatDataType(object):
    # row (C base types): .dataType singletons
    dataType = _base("float", 4)


class DoubleDataType(object):
    # row (C base types): .dataType singletons
    dataType = _base("double", 8)


class EnumDataType(_DataType):
    # row EnumDataType: (CategoryPath, String name, int length), add(String, long)
    def __init__(self, path, name, length):
        _m.CALLS.append(("EnumDataType", (path.path, name, length)))
        if length not in (1, 2, 4, 8):
            raise _JavaException("IllegalArgumentException: enum of %d bytes" % length)
        _DataType.__init__(self, name, length, "enum")
        self.path = path.path
        self.values = {}
        self.in_manager = False

    def add(self, name, value):
        _m.CALLS.append(("EnumDataType.add", (self.name, name, value)))
        if name in self.values:
            raise _JavaException("IllegalArgumentException: %s already in %s"
                                 % (name, self.name))
        if not -2 ** (8 * self.length - 1) <= value < 2 ** (8 * self.length):
            raise _JavaException("IllegalArgumentException: %d does not fit %s"
                                 % (value, self.name))
        self.values[name] = value

    def content(self):
        return sorted(self.values.items())

    def copy(self, name):
        other = EnumDataType.__new__(EnumDataType)
        other.__dict__.update(self.__dict__)
        other.name, other.values, other.in_manager = name, dict(self.values), True
        return other


class TypedefDataType(_DataType):
    # row TypedefDataType: (CategoryPath, String name, DataType)
    def __init__(self, path, name, dt):
        _m.CALLS.append(("TypedefDataType", (path.path, name, dt.name)))
        if dt.dynamic or dt.length <= 0:
            raise _JavaException("IllegalArgumentException: typedef of %s" % dt.name)
        _DataType.__init__(self, name, dt.length, "typedef")
        self.path = path.path
        self.target = dt
        self.in_manager = False

    def content(self):
        return self.target.name

    def copy(self, name):
        other = TypedefDataType.__new__(TypedefDataType)
        other.__dict__.update(self.__dict__)
        other.name, other.in_manager = name, True
        return other


class Pointer32DataType(object):
    # row Pointer32DataType: .dataType, a 4-byte pointer regardless of program
    dataType = _DataType("pointer32", 4, "offset")


class PascalString255DataType(object):
    # row PascalString255DataType.dataType: static; Dynamic (length read from memory)
    dataType = _DataType("PascalString255", -1, "pstring", dynamic=True)


class AlignmentDataType(_DataType):
    # row AlignmentDataType(): no static instance; Dynamic, give the length when creating
    def __init__(self):
        _DataType.__init__(self, "Alignment", -1, "align", dynamic=True)


class ArrayDataType(_DataType):
    # row ArrayDataType: (DataType, int numElements, int elementLength); the
    # 2-argument form from 11.1
    def __init__(self, dt, numElements, *elementLength):
        _m.CALLS.append(("ArrayDataType", (dt.name, numElements) + elementLength))
        if not elementLength and _m.VERSION < (11, 1):
            raise TypeError("ArrayDataType(DataType, int) is new in 11.1")
        elementLength = elementLength[0] if elementLength else dt.length
        if dt.dynamic or numElements <= 0 or elementLength != dt.length:
            raise _JavaException("IllegalArgumentException: array of %s" % dt.name)
        _DataType.__init__(self, dt.name + "[%d]" % numElements,
                           numElements * elementLength, dt.kind)
        self.element = dt


class StructureDataType(_DataType):
    # row StructureDataType: (CategoryPath, String name, int length)
    def __init__(self, path, name, length):
        _m.CALLS.append(("StructureDataType", (path.path, name, length)))
        _DataType.__init__(self, name, length, "struct")
        self.path = path.path
        self.components = {}  # offset -> (length, name, kind, comment)
        self.in_manager = False

    # row Structure.replaceAtOffset: (int offset, DataType, int length, String name, String comment)
    def replaceAtOffset(self, offset, dt, length, name, comment):
        _m.CALLS.append(("Structure.replaceAtOffset", (offset, dt.name, length, name, comment)))
        if dt.dynamic:
            raise _JavaException("IllegalArgumentException: dynamic type in a structure")
        if dt.length == 0 and _m.VERSION < (10, 1):
            raise _JavaException("IllegalArgumentException: no zero-length components "
                                 "before 10.1")
        if length not in (-1, dt.length) or offset < 0 or offset + dt.length > self.length:
            raise _JavaException("IndexOutOfBoundsException: %s at %d" % (name, offset))
        for off, c in self.components.items():
            if offset < off + c[0] and off < offset + dt.length:
                raise _JavaException("IllegalArgumentException: %s overlaps" % name)
        self.components[offset] = (dt.length, name, dt.kind, comment)

    def members(self):
        return [(off,) + c for off, c in self.components.items()]

    if _m.VERSION < (10, 1):
        # Structure.setFlexibleArrayComponent: 10.0 only, replaced by
        # zero-length components
        def setFlexibleArrayComponent(self, dt, name, comment):
            _m.CALLS.append(("Structure.setFlexibleArrayComponent", (dt.name, name)))
            self.flexible = (dt.name, name, comment)

    def content(self):
        return sorted(self.members())

    def copy(self, name):
        other = StructureDataType.__new__(StructureDataType)
        other.__dict__.update(self.__dict__)
        other.name, other.components, other.in_manager = name, dict(self.components), True
        return other


class DataTypeConflictHandler(object):
    # row DataTypeConflictHandler: DEFAULT_HANDLER, REPLACE_HANDLER, KEEP_HANDLER
    DEFAULT_HANDLER, REPLACE_HANDLER, KEEP_HANDLER = "DEFAULT", "REPLACE", "KEEP"


def _resolve(program, dt, handler):
    """The manager's copy of a structure: an equal one that is there already,
    else a new one, renamed when the name is taken by another layout."""
    key = (dt.path, dt.name)
    held = program.types.get(key)
    if held is not None and type(held) is type(dt) and held.content() == dt.content():
        return held
    name = dt.name
    if held is not None and handler != DataTypeConflictHandler.REPLACE_HANDLER:
        name += ".conflict"
    copy = dt.copy(name)
    program.types[(dt.path, name)] = copy
    return copy


class DataTypeManager(object):
    def __init__(self, program):
        self.program = program

    # row DataTypeManager.addDataType: (DataType, DataTypeConflictHandler) -> DataType
    def addDataType(self, dt, handler):
        return _m.call("DataTypeManager.addDataType",
                       lambda p, *a: _resolve(p, dt, handler), dt.name, handler)

    # row DataTypeManager.addDataType: "look up with getDataType(CategoryPath, String)"
    def getDataType(self, path, name):
        return _m.call("DataTypeManager.getDataType",
                       lambda p, *a: p.types.get((path.path, name)), path.path, name)


def _create_data(program, addr, dt, length, stack_pointers, mode):
    if dt.dynamic:
        if length <= 0:
            raise _JavaException("IllegalArgumentException: %s needs a length" % dt.name)
    elif length not in (-1, dt.length):
        raise _JavaException("IllegalArgumentException: length %d for %s" % (length, dt.name))
    else:
        length = dt.length
    element = getattr(dt, "element", dt)
    extra = None
    if element.kind == "struct":
        if not element.in_manager:  # an unresolved type is added again
            element = _resolve(program, element, DataTypeConflictHandler.DEFAULT_HANDLER)
        extra = element.name
    clear = mode == DataUtilities.ClearDataMode.CLEAR_ALL_CONFLICT_DATA
    program.put_data(addr.offset, length, element.kind, extra, clear)
    return (addr.offset, dt.name)


class DataUtilities(object):
    class ClearDataMode(object):
        # row DataUtilities.ClearDataMode: nested enum
        CHECK_FOR_SPACE = "CHECK_FOR_SPACE"
        CLEAR_SINGLE_DATA = "CLEAR_SINGLE_DATA"
        CLEAR_ALL_UNDEFINED_CONFLICT_DATA = "CLEAR_ALL_UNDEFINED_CONFLICT_DATA"
        CLEAR_ALL_CONFLICT_DATA = "CLEAR_ALL_CONFLICT_DATA"
        if _m.VERSION >= (10, 2):
            CLEAR_ALL_DEFAULT_CONFLICT_DATA = "CLEAR_ALL_DEFAULT_CONFLICT_DATA"

    # row DataUtilities.createData: (Program, Address, DataType, int length, boolean stackPointers, ClearDataMode) -> Data;
    # the 5-argument form (no stackPointers) from 10.3
    @staticmethod
    def createData(program, addr, dt, length, *rest):
        if len(rest) == 1 and _m.VERSION < (10, 3):
            raise TypeError("DataUtilities.createData with 5 arguments is new in 10.3")
        stackPointers, clearMode = rest if len(rest) == 2 else (False, rest[0])
        return _m.call("DataUtilities.createData",
                       lambda p, *a: _create_data(p, addr, dt, length, stackPointers, clearMode),
                       addr.offset, dt.name, length, stackPointers, clearMode)


class PointerDataType(_DataType):
    # row PointerDataType: (DataType) a 4-byte pointer in a 32-bit program,
    # shown as the target's name and a star
    def __init__(self, dt):
        _m.CALLS.append(("PointerDataType", (dt.name,)))
        _DataType.__init__(self, dt.name + " *", 4, "pointer")
        self.target = dt.name


class Undefined(object):
    # row Undefined.getUndefinedDataType: (int size) -> DataType of that size
    @staticmethod
    def getUndefinedDataType(size):
        if size <= 0:
            raise _JavaException("IllegalArgumentException: undefined of %d" % size)
        return _DataType("undefined%d" % size, size, "undefined")


class VoidDataType(object):
    # row VoidDataType.dataType: static
    dataType = _DataType("void", 0, "void")


class FunctionDefinitionDataType(_DataType):
    # row FunctionDefinitionDataType: (CategoryPath, String name);
    # setCallingConvention(String) from 10.3, setGenericCallingConvention
    # before
    def __init__(self, path, name):
        _m.CALLS.append(("FunctionDefinitionDataType", (path.path, name)))
        _DataType.__init__(self, name, 1, "function")
        self.path = path.path
        self.convention = None

    if _m.VERSION >= (10, 3):
        def setCallingConvention(self, name):
            if name not in _m.CONVENTIONS:
                raise _JavaException("InvalidInputException: unknown calling convention %s"
                                     % name)
            self.convention = name
    else:
        def setGenericCallingConvention(self, convention):
            self.convention = convention
