"""A stand-in Ghidra program for the stand-in script API beside it.

Every stand-in call is recorded in CALLS and replayed at once onto the
program below, which keeps the rules the reference gives for the real calls
(docs: disassembler-apis.md, section 2): createData refuses defined data in
the way unless told to clear it, dynamic types need a length and cannot sit in
a structure, a structure type is used through the manager's copy, labels need
not be unique, and so on. A call that breaks a rule raises or returns null as
the real call does.
"""

import bisect
import os
import re

# The Ghidra version the stand-in plays, from PEHOST_GHIDRA_VERSION ("10.0"
# to "12.1"; 12.1 when unset). What differs by version (references:
# types-in-tools.md, "Ghidra"; disassembler-apis.md, "Ghidra version
# differences"), each missing where the version lacks it:
# - 10.0: no zero-length structure components (a flexible array component
#   instead, which 10.1 removed);
# - 10.2: ClearDataMode.CLEAR_ALL_DEFAULT_CONFLICT_DATA;
# - 10.3: the 5-argument DataUtilities.createData, and
#   FunctionDefinitionDataType.setCallingConvention(String) (before:
#   setGenericCallingConvention);
# - 11.1: the 2-argument ArrayDataType;
# - 11.4: the CommentType enumeration;
# - 12.0: SourceType.AI.
# In every version a function's calling convention must be one of the
# program's compiler spec, or none.
VERSION = tuple(int(x) for x in os.environ.get("PEHOST_GHIDRA_VERSION", "12.1").split("."))
# The conventions of the compiler spec the stand-in program was imported
# with: the Windows one, which has no __register.
CONVENTIONS = ("__stdcall", "__cdecl", "__fastcall", "__thiscall")

CALLS = []

# Calls that change the program; a second run of an idempotent script makes
# none of them (data and names aside, which the flat interface cannot read).
MUTATING = {"createFunction", "disassemble", "setEOLComment", "setRepeatableComment",
            "DataTypeManager.addDataType"}


class JavaException(Exception):
    """What a Java exception looks like to the script."""


class Address(object):
    def __init__(self, offset):
        self.offset = offset

    def getOffset(self):
        return self.offset

    def __eq__(self, other):
        return isinstance(other, Address) and other.offset == self.offset

    def __hash__(self):
        return hash(self.offset)


class DataType(object):
    def __init__(self, name, length, kind, dynamic=False):
        self.name, self.length, self.kind, self.dynamic = name, length, kind, dynamic

    # DataType.getLength: () -> int, -1 for a dynamic type
    def getLength(self):
        return self.length


class Function(object):
    def __init__(self, program, entry, name):
        self.program, self.entry, self.name = program, entry, name

    def setName(self, name, source):
        # Function.setName: (String, SourceType)
        CALLS.append(("Function.setName", (self.entry, name, source)))
        check_name(name)
        self.name = name

    # The prototype by custom variable storage (reference: types-in-tools.md,
    # "Ghidra"): the parameters' registers and stack offsets as given, which
    # must tile the stack from offset 4 (the return address is at 0), and the
    # stack the function removes, which must be all of it: no compiler spec
    # pushes left to right, and a prototype that leaves the stack to the
    # caller misplaces every later call's arguments.
    def setCustomVariableStorage(self, custom):
        # Function.setCustomVariableStorage: (boolean)
        CALLS.append(("Function.setCustomVariableStorage", (self.entry, custom)))
        self.custom = custom

    def updateFunction(self, cc, ret, params, update_type, force, source):
        # Function.updateFunction: (String cc or null, ReturnParameterImpl,
        # List<ParameterImpl>, FunctionUpdateType, boolean force, SourceType)
        CALLS.append(("Function.updateFunction", (self.entry, cc, len(params), update_type)))
        if cc is not None and cc not in CONVENTIONS:
            raise JavaException("InvalidInputException: unknown calling convention %s" % cc)
        if not getattr(self, "custom", False) or update_type != "CUSTOM_STORAGE":
            raise JavaException("InvalidInputException: storage without custom storage")
        # A stack parameter takes whole 4-byte slots.
        places, at = [], 4
        for p in params:
            if isinstance(p.place, int):
                places.append((p.name, p.dt.name, "^%d.%d" % (p.place - 4, slot(p.dt))))
            else:
                if p.dt.length > 4:
                    raise JavaException("InvalidInputException: %s in %s" % (p.dt.name,
                                                                              p.place))
                places.append((p.name, p.dt.name, p.place.lower()))
        for offset, size in sorted((p.place, slot(p.dt)) for p in params
                                   if isinstance(p.place, int)):
            if offset != at:
                raise JavaException("InvalidInputException: stack gap at %d" % at)
            at = offset + size
        regs = [p.place for p in params if not isinstance(p.place, int)]
        if len(set(regs)) != len(regs):
            raise JavaException("InvalidInputException: two parameters in one register")
        result = ":".join(ret.storage.registers).lower() or None
        self.pending = (places, result, at - 4, ret.dt.name)

    def setStackPurgeSize(self, purge):
        # Function.setStackPurgeSize: (int)
        CALLS.append(("Function.setStackPurgeSize", (self.entry, purge)))
        places, result, stack, result_type = self.pending
        if purge != stack:
            raise JavaException("InvalidInputException: purge %d of %d stack bytes"
                                % (purge, stack))
        self.program.applied[self.entry] = (places, result, purge, result_type)


def slot(dt):
    return (dt.length + 3) // 4 * 4


def check_name(name):
    if not name or re.search(r"\s", name):
        raise JavaException("InvalidInputException: bad name %r" % (name,))


class Program(object):
    def __init__(self, image_base, segments):
        self.image_base = image_base
        self.segments = segments  # [(start, end)]
        self.starts = []          # data starts, sorted
        self.data = {}            # ea -> (length, kind, extra)
        self.code = set()         # disassembled addresses
        self.functions = {}       # entry -> Function
        self.labels = {}          # ea -> [names], the primary first
        self.comments = {}        # (ea, repeatable) -> text
        self.types = {}           # (category, name) -> structure in the manager
        self.applied = {}         # function entry -> (places, result, purge, result type)

    def in_segment(self, ea, size=1):
        for s, e in self.segments:
            if s <= ea and ea + size <= e:
                return True
        return False

    def overlapping(self, ea, size):
        i = bisect.bisect_left(self.starts, ea)
        found = []
        if i > 0 and self.starts[i - 1] + self.data[self.starts[i - 1]][0] > ea:
            found.append(self.starts[i - 1])
        while i < len(self.starts) and self.starts[i] < ea + size:
            found.append(self.starts[i])
            i += 1
        return found

    def put_data(self, ea, length, kind, extra, clear):
        if length <= 0 or not self.in_segment(ea, length):
            raise JavaException("CodeUnitInsertionException: 0x%X outside memory" % ea)
        in_way = self.overlapping(ea, length)
        if in_way and not clear:
            raise JavaException("CodeUnitInsertionException: conflicting data at 0x%X" % ea)
        self.code.difference_update(range(ea, ea + length))
        if in_way == [ea]:
            # The same start again (a second run): the sorted list stays.
            self.data[ea] = (length, kind, extra)
            return
        for start in in_way:
            del self.starts[bisect.bisect_left(self.starts, start)]
            del self.data[start]
        bisect.insort(self.starts, ea)
        self.data[ea] = (length, kind, extra)

    def name_at(self, ea):
        if ea in self.functions:
            return self.functions[ea].name
        names = self.labels.get(ea)
        return names[0] if names else None

    def snapshot(self):
        names = {}
        for ea in set(self.labels) | set(self.functions):
            name = self.name_at(ea)
            if name is not None and not name.startswith("FUN_"):
                names[ea] = name
        return {
            "items": dict(self.data),
            "names": names,
            "labels": dict((ea, tuple(n)) for ea, n in self.labels.items()),
            "comments": dict(self.comments),
            "functions": dict((ea, None) for ea in self.functions),
            "structs": dict((s.name, sorted(s.members())) for s in self.types.values()
                            if s.path == "/pehost"),
            "types": dict((s.name, s.content()) for s in self.types.values()
                          if s.path != "/pehost"),
            "applied": dict(self.applied),
        }


PROGRAM = None


def reset(image_base, segments):
    global PROGRAM
    PROGRAM = Program(image_base, segments)
    del CALLS[:]


def call(name, handler, *args):
    """Records a call, then replays it onto the program."""
    CALLS.append((name, args))
    return handler(PROGRAM, *args)
