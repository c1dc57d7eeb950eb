"""Stand-in ida_nalt (reference: disassembler-apis.md, section 1)."""
import ida_model as _m

STRTYPE_C = _m.STRTYPE_C  # constants: STRTYPE_C = 0
STRTYPE_PASCAL = _m.STRTYPE_PASCAL  # constants: STRTYPE_PASCAL = 4


# row ida_nalt.get_imagebase: () -> ea
def get_imagebase():
    return _m.call("ida_nalt.get_imagebase", lambda db: db.image_base)
