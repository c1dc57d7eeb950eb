"""Stand-in ida_ua (reference: disassembler-apis.md, section 1)."""
import ida_model as _m


def _create_insn(db, ea, out):
    item = db.items.get(ea)
    if item is not None and item[1] == "code":
        return item[0]
    return 1 if db.add_item(ea, 1, "code") else 0


# row ida_ua.create_insn: (ea, out=None) -> int
def create_insn(ea, out=None):
    return _m.call("ida_ua.create_insn", _create_insn, ea, out)
