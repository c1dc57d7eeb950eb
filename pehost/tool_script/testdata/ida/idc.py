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


def _parse_decls(db, text, flags):
    return _t.parse_decls(text, db.types)


def _set_type(db, ea, decl):
    if not db.in_segment(ea):
        return None
    if "(" in decl:
        proto = _t.read_prototype(decl, db.types)
        if not isinstance(proto, tuple):
            db.refused.append(proto)
            return None
        db.applied[ea] = proto[1:]
        return True
    if not _t.uses_known_types(decl, db.types):
        db.refused.append("unknown type %s" % decl)
        return None
    db.applied[ea] = decl
    return True


# row idc.parse_decls: (text, flags) -> number of errors
def parse_decls(text, flags):
    return _m.call("idc.parse_decls", _parse_decls, text, flags)


# row idc.SetType: (ea, decl) -> True, or None on failure
def SetType(ea, decl):
    return _m.call("idc.SetType", _set_type, ea, decl)
