"""Stand-in ghidra.program.model.symbol (reference: disassembler-apis.md, section 2)."""
import re

import ghidra_model as _m


class SourceType(object):
    # row SourceType: DEFAULT, ANALYSIS, IMPORTED, USER_DEFINED (+ AI in 12.0)
    DEFAULT, ANALYSIS, IMPORTED, USER_DEFINED = "DEFAULT", "ANALYSIS", "IMPORTED", "USER_DEFINED"
    if _m.VERSION >= (12, 0):
        AI = "AI"


class SymbolUtilities(object):
    # row SymbolUtilities.replaceInvalidChars: (String, boolean replaceWithUnderscore) -> String
    @staticmethod
    def replaceInvalidChars(name, replaceWithUnderscore):
        _m.CALLS.append(("SymbolUtilities.replaceInvalidChars", (name, replaceWithUnderscore)))
        return re.sub(r"\s", "_" if replaceWithUnderscore else "", name)
