"""Stand-in ida_typeinf (reference: types-in-tools.md, "IDA")."""
import ida_model as _m


# row ida_typeinf.get_idati: () -> the database's type library
def get_idati():
    return _m.call("ida_typeinf.get_idati", lambda db: "idati")


# row ida_typeinf.get_named_type: (til, name, flags) -> type data, or None
def get_named_type(til, name, flags):
    return _m.call("ida_typeinf.get_named_type",
                   lambda db, *a: (name,) if name in db.types else None, til, name, flags)
