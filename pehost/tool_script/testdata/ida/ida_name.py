"""Stand-in ida_name (reference: disassembler-apis.md, section 1)."""
import ida_model as _m

SN_NOCHECK = _m.SN_NOCHECK  # constants: SN_NOCHECK 0x01
SN_NOWARN = _m.SN_NOWARN  # constants: SN_NOWARN 0x100
SN_FORCE = _m.SN_FORCE  # constants: SN_FORCE 0x800, in ida_name only


# row ida_name.set_name: (ea, name, flags=0) -> bool
def set_name(ea, name, flags=0):
    return _m.call("ida_name.set_name", lambda db, *a: db.set_name(*a), ea, name, flags)


# row ida_name.get_name_ea: (_from, name) -> ea or BADADDR
def get_name_ea(_from, name):
    return _m.call("ida_name.get_name_ea", lambda db, f, n: db.holder(n), _from, name)


# row ida_name.get_name: (ea) -> str
def get_name(ea):
    return _m.call("ida_name.get_name", lambda db, ea: db.names.get(ea, ""), ea)
