"""Stand-in flat script API: the globals a Ghidra script finds (currentProgram
and the FlatProgramAPI methods it calls), recorded by ghidra_model and
replayed onto its program. Each cites its row of the reference
(disassembler-apis.md, section 2)."""
import ghidra_model as _m
from ghidra.program.model.data import DataTypeManager
from ghidra.program.model.symbol import SourceType


def _text(value):
    if not isinstance(value, str):
        raise _m.JavaException("no Java String from %r" % (value,))
    return value


class _CurrentProgram(object):
    # row currentProgram.getImageBase(): Program.getImageBase() -> Address
    def getImageBase(self):
        return _m.call("currentProgram.getImageBase",
                       lambda p: _m.Address(p.image_base))

    # row DataTypeManager.addDataType: "currentProgram.getDataTypeManager()"
    def getDataTypeManager(self):
        return DataTypeManager(_m.PROGRAM)

    # row Program.getRegister: (String name) -> Register
    def getRegister(self, name):
        return _m.call("currentProgram.getRegister", lambda p, n: n, name)


currentProgram = _CurrentProgram()


def _to_addr(p, value):
    if isinstance(value, str):
        return _m.Address(int(value, 16))
    if not -2 ** 31 <= value < 2 ** 31:  # the Python 3 bridge picks toAddr(int)
        raise OverflowError("Cannot convert value to Java int")
    return _m.Address(value)


def _create_function(p, entry, name):
    if entry.offset not in p.code or entry.offset in p.functions:
        return None
    if name is not None:
        _m.check_name(name)
    f = _m.Function(p, entry.offset, name or "FUN_%08x" % entry.offset)
    p.functions[entry.offset] = f
    return f


def _disassemble(p, addr):
    if p.overlapping(addr.offset, 1) or not p.in_segment(addr.offset):
        return False
    p.code.add(addr.offset)
    return True


def _create_label(p, addr, name, make_primary, source):
    _m.check_name(name)
    names = p.labels.setdefault(addr.offset, [])
    if name in names:
        names.remove(name)
        names.insert(0 if make_primary else len(names), name)
    elif make_primary:
        names.insert(0, name)
    else:
        names.append(name)
    return (addr.offset, name)


def _set_comment(p, addr, text, repeatable):
    if not p.in_segment(addr.offset):
        return False
    p.comments[(addr.offset, repeatable)] = _text(text)
    return True


# row toAddr: toAddr(int), toAddr(long), toAddr(String) -> Address
def toAddr(value):
    return _m.call("toAddr", _to_addr, value)


# row createFunction: (Address entryPoint, String name) -> Function or null
def createFunction(entryPoint, name):
    return _m.call("createFunction", _create_function, entryPoint, name)


# row getFunctionAt: (Address) -> Function or null
def getFunctionAt(addr):
    return _m.call("getFunctionAt", lambda p, a: p.functions.get(a.offset), addr)


# row disassemble: (Address) -> boolean
def disassemble(addr):
    return _m.call("disassemble", _disassemble, addr)


# row createLabel: (Address, String, boolean makePrimary, SourceType) -> Symbol
def createLabel(addr, name, makePrimary, sourceType=SourceType.USER_DEFINED):
    return _m.call("createLabel", _create_label, addr, name, makePrimary, sourceType)


# row setEOLComment / setRepeatableComment ...: (Address, String) -> boolean
def setEOLComment(addr, comment):
    return _m.call("setEOLComment", lambda p, a, c: _set_comment(p, a, c, False), addr, comment)


# row setEOLComment / setRepeatableComment ...: (Address, String) -> boolean
def setRepeatableComment(addr, comment):
    return _m.call("setRepeatableComment", lambda p, a, c: _set_comment(p, a, c, True), addr,
                   comment)


# row getEOLComment / getRepeatableComment: (Address) -> String
def getEOLComment(addr):
    return _m.call("getEOLComment", lambda p, a: p.comments.get((a.offset, False)), addr)


# row getEOLComment / getRepeatableComment: (Address) -> String
def getRepeatableComment(addr):
    return _m.call("getRepeatableComment", lambda p, a: p.comments.get((a.offset, True)), addr)


def script_globals():
    """What the script manager puts in a script's namespace."""
    names = ["currentProgram", "toAddr", "createFunction", "getFunctionAt", "disassemble",
             "createLabel", "setEOLComment", "setRepeatableComment", "getEOLComment",
             "getRepeatableComment"]
    return dict((n, globals()[n]) for n in names)
