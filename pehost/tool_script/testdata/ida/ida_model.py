"""A stand-in IDA database for the stand-in IDAPython modules beside it.

Every stand-in call is recorded in CALLS and replayed at once onto the
database below, which keeps the rules the reference gives for the real calls
(docs: disassembler-apis.md, section 1): data items may not overlap, names are
unique, a name held elsewhere is refused without SN_FORCE, array sizes must be
whole elements, an offset needs a 4-byte item, and so on. A call that breaks
a rule fails the way the real call reports failure.
"""

import bisect
import os
import re

# The IDA version the stand-in plays, from PEHOST_IDA_VERSION ("7.0", "8.4",
# "9.1"; 9.1 when unset). What differs by version (reference:
# types-in-tools.md, "IDA"):
# - PT_SILENT has another value from 7.4 on;
# - 7.0 is taken to refuse explicit stack locations (@<^offset.size>),
#   which the reference leaves open: stack arguments without a location go
#   in the order they are declared, as IDA places them itself;
# - ida_struct and ida_enum are gone from 9.0 on (the idc structure
#   functions stay, re-implemented).
VERSION = tuple(int(x) for x in os.environ.get("PEHOST_IDA_VERSION", "9.1").split("."))

BADADDR = 0xFFFFFFFFFFFFFFFF  # ida64: ea_t is 64 bits wide

# Constant values the reference verifies, and the two it leaves open
# (DELIT_SIMPLE, FF_0OFF), which the script must only use by name.
SN_NOCHECK, SN_NOWARN, SN_FORCE = 0x01, 0x100, 0x800
STRTYPE_C, STRTYPE_PASCAL = 0, 4
FF_BYTE, FF_WORD, FF_DWORD, FF_QWORD = 0x00000000, 0x10000000, 0x20000000, 0x30000000
FF_STRLIT, FF_DATA = 0x50000000, 0x400
FF_0OFF = 0x00500000
DELIT_SIMPLE = 0
REF_OFF32 = 2
# Made-up values, different before and from 7.4 as the real ones are: a
# script that hard-codes either fails on the other versions.
PT_SILENT = 0x0001 if VERSION < (7, 4) else 0x0004
TINFO_DEFINITE = 0x0001
STACK_PLACES = VERSION >= (7, 4)

_SIZE_KINDS = {FF_BYTE: ("byte", 1), FF_WORD: ("word", 2), FF_DWORD: ("dword", 4),
               FF_QWORD: ("qword", 8)}
# The characters the stand-in takes in names. Which ones IDA takes depends on
# its configuration and the reference does not say; a narrow set makes the
# scripts meet the replacement that SN_NOCHECK asks for.
_NAME = re.compile(r"^[A-Za-z_@$?][A-Za-z0-9_@$?]*$")


def as_taken(name):
    """The name IDA gives when asked for `name` with SN_NOCHECK."""
    if _NAME.match(name):
        return name
    name = re.sub(r"[^A-Za-z0-9_@$?]", "_", name)
    return "_" + name if name[:1].isdigit() else name

# Calls that change the database; a second run of an idempotent script makes
# none of them. Items are made again (nothing in the interface tells what an
# item is), and names set again when IDA changed their characters.
MUTATING = {"ida_funcs.add_func", "ida_bytes.set_cmt", "idc.add_struc",
            "idc.add_struc_member", "idc.apply_type", "idc.SetType"}

CALLS = []


class Func(object):
    def __init__(self, start, end):
        self.start_ea, self.end_ea = start, end


class Database(object):
    def __init__(self, image_base, segments):
        self.image_base = image_base
        self.segments = segments  # [(start, end)]
        self.starts = []          # item starts, sorted, and starts of removed items
        self.items = {}           # ea -> [size, kind, extra]
        self.names = {}           # ea -> name
        self.owners = {}          # name -> ea
        self.auto_named = set()   # names the tool made up
        self.comments = {}        # (ea, repeatable) -> text
        self.functions = {}       # start -> end
        self.function_starts = []  # sorted
        self.structs = {}         # tid -> (name, {offset: (member, size, kind)})
        self.next_tid = 0xFF000100
        self.types = {}           # declared type name -> declaration
        self.applied = {}         # ea -> prototype (params, result, purge, result type)
                                  # or type
        self.tinfo = {}           # ea -> (type, fields) as idc.get_tinfo gives them
        self.refused = []         # why SetType refused, for the checker

    # ---- items ---------------------------------------------------------------
    def in_segment(self, ea, size=1):
        for s, e in self.segments:
            if s <= ea and ea + size <= e:
                return True
        return False

    def overlapping(self, ea, size):
        # Removed items leave their start in the sorted list, so that an
        # item made again where one was removed (as every second run does)
        # costs no insertion; those starts are passed over here.
        i = bisect.bisect_left(self.starts, ea)
        found = []
        j = i - 1
        while j >= 0 and self.starts[j] not in self.items:
            j -= 1
        if j >= 0 and self.starts[j] + self.items[self.starts[j]][0] > ea:
            found.append(self.starts[j])
        while i < len(self.starts) and self.starts[i] < ea + size:
            if self.starts[i] in self.items:
                found.append(self.starts[i])
            i += 1
        return found

    def add_item(self, ea, size, kind, extra=None):
        if size <= 0 or not self.in_segment(ea, size) or self.overlapping(ea, size):
            return False
        i = bisect.bisect_left(self.starts, ea)
        if i == len(self.starts) or self.starts[i] != ea:
            self.starts.insert(i, ea)
        self.items[ea] = [size, kind, extra]
        return True

    def remove_items(self, ea, size):
        for start in self.overlapping(ea, size):
            del self.items[start]

    def make_numbers(self, ea, length, element, kind):
        if length % element != 0:
            return False
        return self.add_item(ea, length, kind)

    def add_function(self, start, end):
        bisect.insort(self.function_starts, start)
        self.functions[start] = end

    # ---- names ---------------------------------------------------------------
    def holder(self, name):
        return self.owners.get(name, BADADDR)

    def put_name(self, ea, name):
        self.drop_name(ea)
        self.names[ea] = name
        self.owners[name] = ea

    def drop_name(self, ea):
        if ea in self.names:
            del self.owners[self.names.pop(ea)]
        self.auto_named.discard(ea)

    def set_name(self, ea, name, flags):
        if not self.in_segment(ea):
            return False
        if name == "":
            self.drop_name(ea)
            return True
        if not _NAME.match(name):
            if not flags & SN_NOCHECK:
                return False
            name = as_taken(name)
        other = self.holder(name)
        if other == ea:
            return True
        if other != BADADDR:
            if not flags & SN_FORCE:
                return False
            n = 0
            while self.holder("%s_%d" % (name, n)) not in (BADADDR, ea):
                n += 1
            name = "%s_%d" % (name, n)
        self.put_name(ea, name)
        return True

    # ---- structures ----------------------------------------------------------
    def struct_by_name(self, name):
        for tid, (held, _) in self.structs.items():
            if held == name:
                return tid
        return BADADDR

    def struct_size(self, tid):
        members = self.structs[tid][1]
        return max([off + m[1] for off, m in members.items()] or [0])

    def add_member(self, sid, name, offset, flag, typeid, nbytes):
        if sid not in self.structs or not flag & FF_DATA or not _NAME.match(name):
            return -1
        members = self.structs[sid][1]
        if any(m[0] == name for m in members.values()):
            return -1  # STRUC_ERROR_MEMBER_NAME
        for off, m in members.items():
            if offset < off + max(m[1], 1) and off < offset + max(nbytes, 1):
                return -2  # STRUC_ERROR_MEMBER_OFFSET
        data_type = flag & 0xF0000000
        if data_type == FF_STRLIT:
            if typeid not in (STRTYPE_C, STRTYPE_PASCAL) or nbytes < 0:
                return -4
            kind = "pstring" if typeid == STRTYPE_PASCAL else "cstring"
        elif data_type in _SIZE_KINDS:
            kind, element = _SIZE_KINDS[data_type]
            if nbytes <= 0 or nbytes % element != 0:
                return -3  # STRUC_ERROR_MEMBER_SIZE
            if flag & 0x00F00000 == FF_0OFF:
                if data_type != FF_DWORD or nbytes != 4 or typeid != 0:
                    return -4
                kind = "offset"
            elif flag & 0x00F00000 or typeid != -1:
                return -4
        else:
            return -4
        members[offset] = (name, nbytes, kind)
        return 0

    # ---- what the database holds now ------------------------------------------
    def snapshot(self):
        return {
            "items": dict((ea, tuple(v)) for ea, v in self.items.items() if v[1] != "code"),
            "names": dict((ea, n) for ea, n in self.names.items()
                          if ea not in self.auto_named),
            "comments": dict(self.comments),
            "functions": dict(self.functions),
            "structs": dict((name, sorted((off,) + m for off, m in members.items()))
                            for name, members in self.structs.values()),
            "types": dict(self.types),
            "applied": dict(self.applied),
        }


DB = None


def reset(image_base, segments):
    global DB
    DB = Database(image_base, segments)
    del CALLS[:]


def call(name, handler, *args):
    """Records a call, then replays it onto the database."""
    CALLS.append((name, args))
    return handler(DB, *args)
