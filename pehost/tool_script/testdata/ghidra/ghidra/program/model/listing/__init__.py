"""Stand-in ghidra.program.model.listing: the parameter and storage classes
of a custom-storage prototype (reference: types-in-tools.md, "Ghidra")."""
import ghidra_model as _m
from ghidra_model import JavaException as _JavaException

if _m.VERSION >= (11, 4):
    class CommentType(object):
        # row CommentType: EOL, PRE, POST, PLATE, REPEATABLE (an enum from 11.4)
        EOL, PRE, POST, PLATE, REPEATABLE = "EOL", "PRE", "POST", "PLATE", "REPEATABLE"

REGISTERS = ("EAX", "EDX", "ECX", "ST0")


class VariableStorage(object):
    # row VariableStorage: (Program, Register...); VOID_STORAGE
    def __init__(self, program, *registers):
        for r in registers:
            if r not in REGISTERS:
                raise _JavaException("InvalidInputException: register %r" % (r,))
        self.registers = registers


VariableStorage.VOID_STORAGE = VariableStorage(None)


class ParameterImpl(object):
    # row ParameterImpl: (String name, DataType, Register | int stackOffset, Program)
    def __init__(self, name, dt, place, program):
        if isinstance(place, int):
            if place < 4:
                raise _JavaException("InvalidInputException: stack offset %d" % place)
        elif place not in REGISTERS[:3]:
            raise _JavaException("InvalidInputException: register %r" % (place,))
        self.name, self.dt, self.place = name, dt, place


class ReturnParameterImpl(object):
    # row ReturnParameterImpl: (DataType, VariableStorage, Program)
    def __init__(self, dt, storage, program):
        self.dt, self.storage = dt, storage
