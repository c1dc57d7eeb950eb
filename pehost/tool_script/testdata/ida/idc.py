"""Stand-in idc (reference: disassembler-apis.md, section 1)."""
import ida_model as _m

BADADDR = _m.BADADDR  # BADADDR = ea_t(-1), 64 bits in ida64
FF_DATA = _m.FF_DATA  # constants: FF_DATA 0x400
FF_BYTE = _m.FF_BYTE  # constants: FF_BYTE 0x00000000
FF_WORD = _m.FF_WORD  # constants: FF_WORD 0x10000000
FF_DWORD = _m.FF_DWORD  # constants: FF_DWORD 0x20000000
FF_QWORD = _m.FF_QWORD  # constants: FF_QWORD 0x30000000
FF_STRLIT = _m.FF_STRLIT  # constants: FF_STRLIT 0x50000000
FF_0OFF = _m.FF_0OFF  # constants: FF_0OFF (value unverified)
REF_OFF32 = _m.REF_OFF32  # constants: REF_OFF32 = 2


def _add_struc(db, index, name, is_union):
    if is_union or db.struct_by_name(name) != BADADDR or not _m._NAME.match(name):
        return BADADDR
    tid = db.next_tid
    db.next_tid += 1
    db.structs[tid] = (name, {})
    return tid


# row idc.get_struc_id: (name) -> tid or BADADDR
def get_struc_id(name):
    return _m.call("idc.get_struc_id", lambda db, n: db.struct_by_name(n), name)


# row idc.add_struc: (index, name, is_union) -> tid
def add_struc(index, name, is_union):
    return _m.call("idc.add_struc", _add_struc, index, name, is_union)


# row idc.add_struc_member: (sid, name, offset, flag, typeid, nbytes, target=-1, tdelta=0, reftype=REF_OFF32) -> 0 ok / error code
def add_struc_member(sid, name, offset, flag, typeid, nbytes, target=-1, tdelta=0,
                     reftype=REF_OFF32):
    return _m.call("idc.add_struc_member",
                   lambda db, *a: db.add_member(sid, name, offset, flag, typeid, nbytes),
                   sid, name, offset, flag, typeid, nbytes, target, tdelta, reftype)


import ida_types_model as _t

PT_SILENT = _m.PT_SILENT  # constants: PT_SILENT (its value changed in 7.4: use the name)
TINFO_DEFINITE = _m.TINFO_DEFINITE


def _check_flags(name, flags):
    # Without PT_SILENT IDA reports each error in a dialog: the stand-in
    # takes that for a failure of the script.
    if flags != PT_SILENT:
        raise RuntimeError("%s: flags 0x%X are not this version's PT_SILENT" % (name, flags))


def _parse_decls(db, text, flags):
    _check_flags("parse_decls", flags)
    return _t.parse_decls(text, db.types, _m.STACK_PLACES)


def _parse_decl(db, text, flags):
    _check_flags("parse_decl", flags)
    if "(" in text:
        proto = _t.read_prototype(text, db.types, _m.STACK_PLACES)
        if not isinstance(proto, tuple):
            db.refused.append(proto)
            return None
        # The serialized type: places, result and purge; the fields: names.
        return (proto[0], repr((tuple((t, loc) for _, t, loc in proto[1]),) + proto[2:]),
                repr([n for n, _, _ in proto[1]]))
    if not _t.uses_known_types(text, db.types):
        db.refused.append("unknown type %s" % text)
        return None
    return ("", " ".join(text.split()), "")


def _apply_type(db, ea, parsed, flags):
    if not db.in_segment(ea) or parsed is None or flags != TINFO_DEFINITE:
        return False
    name, type_text, fields = parsed
    db.tinfo[ea] = (type_text, fields)
    if type_text.startswith("("):
        places = eval(type_text)  # the stand-in's own serialization
        names = eval(fields)
        db.applied[ea] = ([(n, t, loc) for n, (t, loc) in zip(names, places[0])],) + \
            places[1:]
    else:
        db.applied[ea] = type_text
    return True


# row idc.parse_decls: (text, flags) -> number of errors
def parse_decls(text, flags):
    return _m.call("idc.parse_decls", _parse_decls, text, flags)


# row idc.parse_decl: (text, flags) -> (name, type, fields), or None on failure
def parse_decl(text, flags):
    return _m.call("idc.parse_decl", _parse_decl, text, flags)


# row idc.apply_type: (ea, parsed, flags) -> bool
def apply_type(ea, parsed, flags=TINFO_DEFINITE):
    return _m.call("idc.apply_type", _apply_type, ea, parsed, flags)


# idc.get_tinfo: (ea) -> (type, fields) of what the address holds, or None
# (not in the reference; the script does without it)
def get_tinfo(ea):
    return _m.call("idc.get_tinfo", lambda db, ea: db.tinfo.get(ea), ea)


# row idc.SetType: (ea, decl) -> True, or None on failure; parse_decl with
# PT_SILENT, then apply_type
def SetType(ea, decl):
    def set_type(db, ea, decl):
        parsed = _parse_decl(db, decl, PT_SILENT)
        return (_apply_type(db, ea, parsed, TINFO_DEFINITE) or None) if parsed else None
    return _m.call("idc.SetType", set_type, ea, decl)
