# What both tool scripts share: the chunk list the data statements fill, the
# tally printed at the end, and main(). Each tool's code defines the hooks
# main() calls:
#   TOOL_BASE_HOLDER   what holds the open program ("database", "program")
#   TOOL_REBASE_HINT   how to move the program to the image base, with %X
#   tool_image_base()  the open program's image base
#   tool_handlers(tally)  the function that applies a record, by kind (a kind
#                         without one is passed over), and under "finish" one
#                         called after the last record
# The data statements and IMAGE_BASE follow this code in the script.
import json

_chunks = []


def _add(kind, *parts):
    _chunks.append((kind, parts))


def records(*kinds):
    """(kind, record) of the data in the order written: structs, items,
    functions, names, comments, decls, types; only those of `kinds` when
    given."""
    for kind, parts in _chunks:
        if not kinds or kind in kinds:
            for rec in json.loads("".join(parts)):
                yield kind, rec


class Tally(object):
    """What the script did, by kind and outcome, with the first problems."""

    KINDS = ("structures", "data items", "functions", "names", "comments",
             "declarations", "prototypes")

    def __init__(self):
        self.counts = {}
        self.notes = []

    def add(self, kind, outcome, note=None):
        key = (kind, outcome)
        self.counts[key] = self.counts.get(key, 0) + 1
        if note is not None:
            self.notes.append(note)

    def report(self):
        for note in self.notes[:20]:
            print("pehost script: " + note)
        if len(self.notes) > 20:
            print("pehost script: ... and %d more" % (len(self.notes) - 20))
        print("pehost script: applied to the database:")
        for kind in self.KINDS:
            print("  %-10s %7d applied, %7d already there, %7d failed" % (
                kind, self.counts.get((kind, "applied"), 0),
                self.counts.get((kind, "already there"), 0),
                self.counts.get((kind, "failed"), 0)))


def main():
    # Nothing changes in a program loaded elsewhere: every address would miss.
    base = tool_image_base()
    if base != IMAGE_BASE:
        print("pehost script: this %s has image base 0x%X, the script was "
              "written for the program at 0x%X; nothing was changed. %s and run the "
              "script again." % (TOOL_BASE_HOLDER, base, IMAGE_BASE,
                                 TOOL_REBASE_HINT % IMAGE_BASE))
        return
    tally = Tally()
    handlers = tool_handlers(tally)
    for kind, rec in records():
        if kind in handlers:
            handlers[kind](rec)
    if "finish" in handlers:
        handlers["finish"]()
    tally.report()
