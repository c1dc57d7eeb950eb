"""Stand-in ida_bytes: the calls the pehost script makes, recorded by
ida_model and replayed onto its database. Each cites its row of the
reference (disassembler-apis.md, section 1)."""
import ida_model as _m

DELIT_SIMPLE = _m.DELIT_SIMPLE  # row ida_bytes.del_items: DELIT_SIMPLE (value unverified)


def _del_items(db, ea, flags, nbytes, may_destroy):
    db.remove_items(ea, nbytes)
    return True


def _create_align(db, ea, length, alignment):
    if (length == 0 and alignment == 0) or not 0 <= alignment <= 32:
        return False
    if alignment:
        unit = 1 << alignment
        if length == 0:
            length = (unit - ea % unit) % unit
        if (ea + length) % unit != 0:
            return False
    return db.add_item(ea, length, "align")


def _create_strlit(db, start, length, strtype):
    kinds = {_m.STRTYPE_PASCAL: "pstring", _m.STRTYPE_C: "cstring"}
    if strtype not in kinds or not db.add_item(start, length, kinds[strtype]):
        return False
    if start not in db.names:  # IDA names a new string after its text
        db.put_name(start, "str_%X" % start)
        db.auto_named.add(start)
    return True


def _create_struct(db, ea, length, tid):
    if tid not in db.structs:
        return False
    size = db.struct_size(tid)
    if size == 0 or length % size != 0:
        return False
    return db.add_item(ea, length, "struct", db.structs[tid][0])


def _set_cmt(db, ea, comm, rptble):
    if not isinstance(comm, str):
        raise TypeError("set_cmt: comment must be str, not %s" % type(comm).__name__)
    if not db.in_segment(ea):
        return False
    if comm == "":
        db.comments.pop((ea, bool(rptble)), None)
    else:
        db.comments[(ea, bool(rptble))] = comm
    return True


# row ida_bytes.del_items: (ea, flags=0, nbytes=1, may_destroy=None) -> bool
def del_items(ea, flags=0, nbytes=1, may_destroy=None):
    return _m.call("ida_bytes.del_items", _del_items, ea, flags, nbytes, may_destroy)


# row ida_bytes.create_byte / create_word / create_dword / create_qword: (ea, length, force=False) -> bool
def create_byte(ea, length, force=False):
    return _m.call("ida_bytes.create_byte", lambda db, *a: db.make_numbers(ea, length, 1, "byte"),
                   ea, length, force)


# row ida_bytes.create_byte / create_word / create_dword / create_qword: (ea, length, force=False) -> bool
def create_word(ea, length, force=False):
    return _m.call("ida_bytes.create_word", lambda db, *a: db.make_numbers(ea, length, 2, "word"),
                   ea, length, force)


# row ida_bytes.create_byte / create_word / create_dword / create_qword: (ea, length, force=False) -> bool
def create_dword(ea, length, force=False):
    return _m.call("ida_bytes.create_dword",
                   lambda db, *a: db.make_numbers(ea, length, 4, "dword"), ea, length, force)


# row ida_bytes.create_byte / create_word / create_dword / create_qword: (ea, length, force=False) -> bool
def create_qword(ea, length, force=False):
    return _m.call("ida_bytes.create_qword",
                   lambda db, *a: db.make_numbers(ea, length, 8, "qword"), ea, length, force)


# row ida_bytes.create_strlit: (start, len, strtype) -> bool
def create_strlit(start, len, strtype):
    return _m.call("ida_bytes.create_strlit", _create_strlit, start, len, strtype)


# row ida_bytes.create_align: (ea, length, alignment) -> bool
def create_align(ea, length, alignment):
    return _m.call("ida_bytes.create_align", _create_align, ea, length, alignment)


# row ida_bytes.create_struct: (ea, length, tid, force=False) -> bool
def create_struct(ea, length, tid, force=False):
    return _m.call("ida_bytes.create_struct", lambda db, *a: _create_struct(db, ea, length, tid),
                   ea, length, tid, force)


# row ida_bytes.set_cmt / idc.set_cmt: (ea, comm, rptble) -> bool
def set_cmt(ea, comm, rptble):
    return _m.call("ida_bytes.set_cmt", _set_cmt, ea, comm, rptble)


# row ida_bytes.get_cmt: (ea, rptble) -> str
def get_cmt(ea, rptble):
    return _m.call("ida_bytes.get_cmt", lambda db, ea, r: db.comments.get((ea, bool(r))),
                   ea, rptble)
