# How the IDAPython script applies each record in IDA, and the hooks main()
# calls (main() is shared with the Ghidra script: script_main.py in the
# sources). It keeps to calls present from IDA 7.0 to 9.1 with positional
# arguments, the idc structure functions (which 9.x re-implements over its
# type library now that ida_struct is gone) and compares with idc.BADADDR,
# which is 64 bits wide in ida64. Python 2.7 and 3; no f-strings.
from __future__ import print_function

import ida_bytes
import ida_funcs
import ida_nalt
import ida_name
import ida_offset
import ida_typeinf
import ida_ua
import idc

BAD = idc.BADADDR


def _text(s):
    # IDAPython on Python 2 takes byte strings; json gives unicode there.
    if not isinstance(s, str):
        s = s.encode("utf-8")
    return s


def _member_type(kind):
    """The member flags and type id of a member kind: the base of an offset,
    the string type of a string, else -1."""
    if kind == "offset":
        return idc.FF_DATA | idc.FF_DWORD | idc.FF_0OFF, 0
    if kind == "pstring":
        return idc.FF_DATA | idc.FF_STRLIT, ida_nalt.STRTYPE_PASCAL
    if kind == "cstring":
        return idc.FF_DATA | idc.FF_STRLIT, ida_nalt.STRTYPE_C
    sizes = {"byte": idc.FF_BYTE, "word": idc.FF_WORD, "dword": idc.FF_DWORD,
             "qword": idc.FF_QWORD}
    return idc.FF_DATA | sizes[kind], -1


def make_struct(rec, sids, tally):
    name, members = rec[0], rec[2]
    sid = idc.get_struc_id(name)
    if sid != BAD:
        # A type of this name is kept as it is, whoever made it.
        sids[name] = sid
        tally.add("structures", "already there")
        return
    sid = idc.add_struc(-1, name, 0)
    if sid == BAD or sid == -1:
        tally.add("structures", "failed", "structure %s refused" % name)
        return
    sids[name] = sid
    refused = []
    for m in members:
        flag, typeid = _member_type(m[3])
        if idc.add_struc_member(sid, m[0], m[1], flag, typeid, m[2]) != 0:
            refused.append(m[0])
    if refused:
        tally.add("structures", "failed",
                  "structure %s: members refused: %s" % (name, ", ".join(refused)))
    else:
        tally.add("structures", "applied")


_NUMBERS = {
    "byte": ida_bytes.create_byte,
    "word": ida_bytes.create_word,
    "dword": ida_bytes.create_dword,
    "qword": ida_bytes.create_qword,
}


def _make_item(rec, sids):
    ea, size, kind = rec[0], rec[1], rec[2]
    if kind == "struct" and sids.get(rec[3], BAD) == BAD:
        return False
    # Whatever the tool made there gives way.
    ida_bytes.del_items(ea, ida_bytes.DELIT_SIMPLE, size)
    if kind in _NUMBERS:
        return _NUMBERS[kind](ea, size)  # a size of several elements: an array
    if kind == "offset":
        return ida_bytes.create_dword(ea, 4) and ida_offset.op_plain_offset(ea, 0, 0)
    if kind == "pstring":
        return ida_bytes.create_strlit(ea, size, ida_nalt.STRTYPE_PASCAL)
    if kind == "align":
        return ida_bytes.create_align(ea, size, rec[3])
    if kind == "struct":
        return ida_bytes.create_struct(ea, size, sids[rec[3]])
    return False


def make_item(rec, sids, tally):
    if _make_item(rec, sids):
        tally.add("data items", "applied")
    else:
        tally.add("data items", "failed", "%s of %d bytes at 0x%X refused" % (
            rec[2], rec[1], rec[0]))


def make_function(rec, tally):
    start, end = rec
    if ida_funcs.get_func(start) is not None:
        tally.add("functions", "already there")
        return
    ida_ua.create_insn(start)
    if ida_funcs.add_func(start, end):
        tally.add("functions", "applied")
    else:
        tally.add("functions", "failed", "function at 0x%X refused" % start)


def put_name(rec, targets, tally):
    ea, name = rec[0], _text(rec[1])
    held = ida_name.get_name(ea)
    if held == name:
        tally.add("names", "already there")
        return
    flags = ida_name.SN_NOWARN | ida_name.SN_NOCHECK
    if ida_name.set_name(ea, name, flags):
        # IDA replaces the characters it does not take in names.
        tally.add("names", "already there" if ida_name.get_name(ea) == held else "applied")
        return
    # Names are unique: one held elsewhere moves here, and the address it
    # leaves gets a dummy name back, unless this script names that address too.
    other = ida_name.get_name_ea(BAD, name)
    if other != BAD and other != ea and other not in targets:
        ida_name.set_name(other, "", ida_name.SN_NOWARN)
        if ida_name.set_name(ea, name, flags):
            tally.add("names", "applied", "name %s moved from 0x%X to 0x%X" % (
                name, other, ea))
            return
    if ida_name.set_name(ea, name, flags | ida_name.SN_FORCE):
        given = ida_name.get_name(ea)
        tally.add("names", "already there" if given == held else "applied",
                  "name %s at 0x%X given as %s" % (name, ea, given))
    else:
        tally.add("names", "failed", "name %s at 0x%X refused" % (name, ea))


def put_comment(rec, tally):
    ea, text, repeatable = rec[0], _text(rec[1]), rec[2]
    if ida_bytes.get_cmt(ea, repeatable) == text:
        tally.add("comments", "already there")
    elif ida_bytes.set_cmt(ea, text, repeatable):
        tally.add("comments", "applied")
    else:
        tally.add("comments", "failed", "comment at 0x%X refused" % ea)


# The program's types: declarations go to the database's type library in
# batches, each after those it uses; then every method gets its prototype
# and every virtual slot its function pointer type. The analyst's compiler
# setting stays as it is: the prototypes name their registers and stack
# places themselves (__usercall, __userpurge). A declaration or type with
# stack parameters comes with a second text without explicit stack places,
# for a version that refuses those (whether 7.0 takes them is not known):
# there the stack parameters stand in the order they sit in memory, where
# IDA places stack arguments it is not told the places of.
_BATCH = 200


def declare(rec, pending, known, tally):
    pending.append(rec)
    if len(pending) >= _BATCH:
        flush_decls(pending, known, tally)


def known_types():
    """The types of the script that the database held before it ran."""
    til = ida_typeinf.get_idati()
    return set(rec[0] for kind, rec in records("decls")
               if rec[0] and ida_typeinf.get_named_type(til, _text(rec[0]), 0) is not None)


def _declared(rec):
    """Whether IDA takes one of the texts of a declaration."""
    return any(idc.parse_decls(_text(text), idc.PT_SILENT) == 0 for text in rec[1:])


def flush_decls(pending, known, tally):
    if not pending:
        return
    if idc.parse_decls(_text("\n".join(r[1] for r in pending)), idc.PT_SILENT) == 0:
        failed = []
    else:
        # One at a time, to tell which were refused.
        failed = [r for r in pending if not _declared(r)]
    for r in pending:
        if not r[0]:
            continue
        if r in failed:
            tally.add("declarations", "failed", "declaration of %s refused" % r[0])
        else:
            tally.add("declarations", "already there" if r[0] in known else "applied")
    del pending[:]


# What an address holds, (type, fields) as parse_decl gives them after the
# name. The reference notes do not list it: without it every type is
# applied again on each run, with the same result.
_held_type = getattr(idc, "get_tinfo", None)


def apply_type(rec, pending, known, tally):
    """Gives an address its type, unless it holds that type already: the
    type IDA holds is compared with the declaration as IDA parses it, so a
    type changed since is applied again."""
    flush_decls(pending, known, tally)
    ea = rec[0]
    for text in rec[1:]:
        parsed = idc.parse_decl(_text(text), idc.PT_SILENT)
        if parsed is None:
            continue
        if _held_type is not None and _held_type(ea) == tuple(parsed[1:3]):
            tally.add("prototypes", "already there")
        elif idc.apply_type(ea, parsed, idc.TINFO_DEFINITE):
            tally.add("prototypes", "applied")
        else:
            tally.add("prototypes", "failed", "type %s at 0x%X refused" % (text, ea))
        return
    tally.add("prototypes", "failed", "type %s at 0x%X refused" % (rec[1], ea))


# ---- The hooks main() calls ----------------------------------------------------

TOOL_BASE_HOLDER = "database"
TOOL_REBASE_HINT = "Rebase the program to 0x%X (Edit > Segments > Rebase program)"


def tool_image_base():
    return ida_nalt.get_imagebase()


def tool_handlers(tally):
    """The function that applies a record, by kind."""
    sids = {}
    # A name this script gives is not taken away from its address to make
    # room for another.
    targets = set(rec[0] for kind, rec in records("names"))
    pending = []
    known = known_types()
    return {
        "decls": lambda rec: declare(rec, pending, known, tally),
        "types": lambda rec: apply_type(rec, pending, known, tally),
        "finish": lambda: flush_decls(pending, known, tally),
        "structs": lambda rec: make_struct(rec, sids, tally),
        "items": lambda rec: make_item(rec, sids, tally),
        "functions": lambda rec: make_function(rec, tally),
        "names": lambda rec: put_name(rec, targets, tally),
        "comments": lambda rec: put_comment(rec, tally),
    }
