"""Stand-in ida_offset (reference: disassembler-apis.md, section 1)."""
import ida_model as _m


def _op_plain_offset(db, ea, n, base):
    item = db.items.get(ea)
    if n != 0 or base != 0 or item is None or item[0] != 4 or item[1] not in ("dword",
                                                                                "offset"):
        return False
    item[1] = "offset"
    return True


# row ida_offset.op_plain_offset: (ea, n, base) -> bool
def op_plain_offset(ea, n, base):
    return _m.call("ida_offset.op_plain_offset", _op_plain_offset, ea, n, base)
