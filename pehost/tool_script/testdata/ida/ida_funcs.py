"""Stand-in ida_funcs (reference: disassembler-apis.md, section 1)."""
import bisect

import ida_model as _m


def _get_func(db, ea):
    i = bisect.bisect_right(db.function_starts, ea)
    if i and ea < db.functions[db.function_starts[i - 1]]:
        start = db.function_starts[i - 1]
        return _m.Func(start, db.functions[start])
    return None


def _add_func(db, ea1, ea2):
    if ea2 == _m.BADADDR:
        ea2 = ea1 + 1  # the stand-in cannot follow the code to find the end
    item = db.items.get(ea1)
    if ea2 <= ea1 or item is None or item[1] != "code":
        return False
    i = bisect.bisect_left(db.function_starts, ea1)
    if (i and db.functions[db.function_starts[i - 1]] > ea1) or \
            (i < len(db.function_starts) and db.function_starts[i] < ea2):
        return False
    db.add_function(ea1, ea2)
    return True


# row ida_funcs.get_func: (ea) -> func_t or None
def get_func(ea):
    return _m.call("ida_funcs.get_func", _get_func, ea)


# row ida_funcs.add_func: (ea1, ea2=BADADDR) -> bool
def add_func(ea1, ea2=_m.BADADDR):
    return _m.call("ida_funcs.add_func", _add_func, ea1, ea2)
