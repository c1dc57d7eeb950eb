"""Runs a pehost tool script against the stand-in IDA or Ghidra modules and
checks what the recorded calls made of the stand-in database.

    replay_check.py ida|ghidra SCRIPT DATABASE.json --image-base HEX
                    [--preset PRESET.json] [--base-mismatch] [--types CLASSES.json]
                    [--version VERSION] [--types-only]

DATABASE.json is pehost's --json export of the run the script came from. The
script runs twice. After the first run the stand-in database must hold the
export's data items, functions, names, comments and structure types (what the
tool held before, from PRESET.json, may stay where the script does not
replace it), and the script's closing count must agree; the second run must
change nothing. With --base-mismatch the stand-in program sits at another
image base and the script must change nothing at all.

With --types (the class model's JSON of the same run) the script must also
declare every type without a refusal and give every method of the model its
prototype: each parameter of the type and at the place the model gives it
(a register, or the stack offset and size), the result of its type where the
model puts it, and the stack the callee removes. In IDA the second run must
apply no prototype again, and a third run, after one prototype was changed
in the database, must apply that one and no other.

--version makes the stand-ins play that version of the tool (IDA 7.0, 8.4,
9.1; Ghidra 10.0 to 12.1; the newest when not given): a call the version
lacks raises. --types-only leaves out the database's data items, names,
comments and structures, and checks the types and prototypes alone.

PRESET.json holds what the tool's database held before:
    {"items": [[ea, size, kind]], "names": [[ea, name]],
     "comments": [[ea, text, repeatable]], "functions": [[start, end]]}

Exit status 0 when everything matches; 1 with the differences otherwise.
"""
import argparse
import bisect
import contextlib
import io
import json
import os
import re
import runpy
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
KINDS = ("structures", "data items", "functions", "names", "comments")
SUMMARY = re.compile(r"^\s+(%s)\s+(\d+) applied,\s+(\d+) already there,\s+(\d+) failed$"
                     % "|".join(KINDS))


def member_kind(m):
    """What a structure member of the database is: the element type in the
    top nibble of its flags, 5 in the next-but-one nibble for an offset, the
    string type (0 C, 1 length byte) in its type info."""
    flags, size = m["flags"], m["size"]
    top = flags & 0xF0000000
    if top == 0x20000000 and flags & 0x00F00000 == 0x00500000 and size == 4:
        return "offset"
    if top <= 0x30000000:
        i = top >> 28
        if size and size % (1 << i) == 0:
            return ("byte", "word", "dword", "qword")[i]
    elif top == 0x50000000 and m.get("type_info") in (0, 1):
        return "pstring" if m["type_info"] == 1 else "cstring"
    return "byte" if size else None


def expected_state(db, tool):
    structs = dict((s["id"], s) for s in db.get("structs", []))
    items = {}
    for it in db.get("items", []):
        if it["type"] == "code":
            continue
        extra = structs[it["struct_id"]]["name"] if it["type"] == "struct" else None
        items[it["ea"]] = (it["size"], it["type"], extra)
    members = {}
    for s in structs.values():
        rows = []
        for m in s["members"]:
            kind = member_kind(m)
            if kind is None:
                continue
            if tool == "ida":
                rows.append((m["offset"], m["name"], m["size"], kind))
            elif m["size"]:
                # A Ghidra structure holds no strings: their bytes, commented.
                comment = {"pstring": "Pascal string", "cstring": "C string"}.get(kind)
                rows.append((m["offset"], m["size"], m["name"],
                             "byte" if comment else kind, comment))
        members[s["name"]] = sorted(rows)
    # A function that starts on a data item cannot be made in either tool,
    # which begins a function by decoding its first instruction.
    starts = sorted(items)

    def on_data(ea):
        i = bisect.bisect_right(starts, ea)
        return i > 0 and ea < starts[i - 1] + items[starts[i - 1]][0]

    functions = dict((f["start"], f["end"] if tool == "ida" else None)
                     for f in db.get("functions", []) if not on_data(f["start"]))
    return {
        "items": items,
        "names": dict((n["ea"], n["name"]) for n in db.get("names", [])),
        "comments": dict(((c["ea"], c["repeatable"]), c["text"])
                         for c in db.get("comments", [])),
        "functions": functions,
        "structs": members,
    }


class Tool(object):
    """The stand-in modules of one tool and the way to run a script on them."""

    def __init__(self, tool):
        self.tool = tool
        sys.path.insert(0, os.path.join(HERE, tool))
        if tool == "ida":
            import ida_model
            self.model = ida_model
        else:
            import ghidra_model
            self.model = ghidra_model

    def reset(self, image_base, segments, preset):
        self.model.reset(image_base, segments)
        db = self.model.DB if self.tool == "ida" else self.model.PROGRAM
        for ea, size, kind in preset.get("items", []):
            if self.tool == "ida":
                assert db.add_item(ea, size, kind), "preset item at 0x%X" % ea
            else:
                db.put_data(ea, size, kind, None, False)
        for ea, name in preset.get("names", []):
            if self.tool == "ida":
                assert db.set_name(ea, name, 0), "preset name %s" % name
            else:
                db.labels.setdefault(ea, []).append(name)
        for ea, text, repeatable in preset.get("comments", []):
            db.comments[(ea, repeatable)] = text
        for start, end in preset.get("functions", []):
            if self.tool == "ida":
                db.add_item(start, 1, "code")
                db.add_function(start, end)
            else:
                db.code.add(start)
                db.functions[start] = self.model.Function(db, start, "FUN_%08x" % start)
        self.db = db

    def snapshot(self):
        snap = self.db.snapshot()
        if self.tool == "ghidra":
            snap["functions"] = dict((ea, None) for ea in snap["functions"])
        return snap

    def run(self, script):
        del self.model.CALLS[:]
        init = {}
        if self.tool == "ghidra":
            import ghidra_flat
            init = ghidra_flat.script_globals()
        out = io.StringIO()
        with contextlib.redirect_stdout(out):
            runpy.run_path(script, init_globals=init, run_name="__main__")
        return out.getvalue(), list(self.model.CALLS)


def compare(what, actual, expected, before, keeps_existing):
    """Differences between a category of the stand-in database and the
    export. What the tool held before may stay where the script does not
    replace it; a function or structure that was there is kept as it was."""
    problems = []
    for key, value in sorted(expected.items(), key=lambda kv: repr(kv[0])):
        if key not in actual:
            problems.append("%s: %r missing (want %r)" % (what, key, value))
        elif actual[key] != value and not (keeps_existing and before.get(key) == actual[key]):
            problems.append("%s: %r is %r, want %r" % (what, key, actual[key], value))
    for key in sorted(set(actual) - set(expected), key=repr):
        if before.get(key) != actual[key]:
            problems.append("%s: %r = %r is neither in the export nor was there before"
                            % (what, key, actual[key]))
    return problems


def counts(output):
    found = {}
    for line in output.splitlines():
        m = SUMMARY.match(line)
        if m:
            found[m.group(1)] = tuple(int(m.group(i)) for i in (2, 3, 4))
    return found


def check_counts(run, output, want, already_kinds):
    """The closing count: everything applied or already there, nothing failed;
    `already_kinds` must all be found already there."""
    found = counts(output)
    problems = []
    for kind in KINDS:
        if kind not in found:
            problems.append("run %d: no count of %s in the output" % (run, kind))
            continue
        applied, already, failed = found[kind]
        if failed or applied + already != want[kind]:
            problems.append("run %d: %s %d applied, %d already there, %d failed; want %d"
                            % (run, kind, applied, already, failed, want[kind]))
        elif kind in already_kinds and already != want[kind]:
            problems.append("run %d: %s: %d of %d already there"
                            % (run, kind, already, want[kind]))
    return problems


TYPE_KINDS = ("declarations", "prototypes")
TYPE_SUMMARY = re.compile(r"^\s+(%s)\s+(\d+) applied,\s+(\d+) already there,\s+(\d+) failed$"
                          % "|".join(TYPE_KINDS))


def check_types(model, applied, output, run):
    """The prototypes applied against the class model's."""
    problems = []
    found = dict((m.group(1), int(m.group(4)))
                 for m in map(TYPE_SUMMARY.match, output.splitlines()) if m)
    for kind in TYPE_KINDS:
        if kind not in found:
            problems.append("run %d: no count of %s" % (run, kind))
        elif found[kind]:
            problems.append("run %d: %d %s refused" % (run, found[kind], kind))
    for c in model["classes"]:
        for m in c["methods"]:
            # The order of the parameters in the declaration does not place
            # them: a declaration without stack places lists them as they
            # sit in memory.
            want = (sorted((p["name"], p["c_type"], p["register"] if "register" in p
                            else "^%d.%d" % (p["stack"], p["size"])) for p in m["params"]),
                    m["result"]["register"] if m["result"] else None,
                    m["stack_purge"],
                    m["result"]["c_type"] if m["result"] else "void")
            got = applied.get(m["address"])
            if got is None:
                problems.append("prototype of %s at 0x%X missing" % (m["c_name"], m["address"]))
                continue
            got = (sorted(got[0]),) + tuple(got[1:])
            if got != want:
                problems.append("prototype of %s is %r, want %r" % (m["c_name"], got, want))
    return problems


def types_only(script, copy):
    """Writes a copy of the script without the database's structures, data
    items, names and comments: what is left makes the functions, declares
    the types and gives the prototypes. The chunk texts hold no quote."""
    with open(script) as f:
        text = f.read()
    text = re.sub(r"_add\(\"(structs|items|names|comments)\",(\s*r'''[^']*''',?)+\)",
                  "pass", text)
    with open(copy, "w") as f:
        f.write(text)


def check_reapplied(tool, script, model, after):
    """IDA: a prototype the analyst changed since is applied again, and
    nothing else is. The run takes the script's types alone."""
    if not script.endswith(".types.py"):
        types_only(script, script + ".types.py")
        script += ".types.py"
    db = tool.db
    ea = sorted(db.applied)[0]
    db.tinfo[ea] = ("int", "")
    db.applied[ea] = "int"
    output, calls = tool.run(script)
    problems = check_types(model, db.applied, output, 3)
    applied = [c for c in calls if c[0] == "idc.apply_type"]
    if len(applied) != 1 or applied[0][1][0] != ea:
        problems.append("run 3: a prototype changed at 0x%X was applied by %r" % (ea, applied))
    if tool.snapshot() != after:
        problems.append("run 3 did not give back what run 1 applied")
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("tool", choices=("ida", "ghidra"))
    parser.add_argument("script")
    parser.add_argument("database")
    parser.add_argument("--image-base", required=True, type=lambda t: int(t, 16))
    parser.add_argument("--preset")
    parser.add_argument("--base-mismatch", action="store_true")
    parser.add_argument("--types")
    parser.add_argument("--version", help="the tool version the stand-ins play")
    parser.add_argument("--types-only", action="store_true",
                        help="check only the types and prototypes (needs --types)")
    args = parser.parse_args()

    if args.version:
        os.environ["PEHOST_%s_VERSION" % args.tool.upper()] = args.version
    with open(args.database) as f:
        db = json.load(f)
    preset = {}
    if args.preset:
        with open(args.preset) as f:
            preset = json.load(f)
    script = args.script
    if args.types_only:
        script = args.script + ".types.py"
        types_only(args.script, script)
    segments = [(s["start"], s["end"]) for s in db["segments"]]
    tool = Tool(args.tool)
    base = args.image_base + (0x10000 if args.base_mismatch else 0)
    tool.reset(base, segments, preset)
    before = tool.snapshot()

    output, calls = tool.run(script)
    problems = []
    model = None
    if args.types:
        with open(args.types) as f:
            model = json.load(f)
    if args.base_mismatch:
        queries = ("ida_nalt.get_imagebase", "currentProgram.getImageBase")
        changes = [c for c in calls if c[0] not in queries]
        if changes:
            problems.append("with another image base the script still called %s" % (
                ", ".join(sorted(set(c[0] for c in changes)))))
        if "nothing was changed" not in output:
            problems.append("with another image base the script said: %r" % output)
        if tool.snapshot() != before:
            problems.append("with another image base the database changed")
    else:
        want = expected_state(db, args.tool)
        if args.tool == "ida":
            want["names"] = dict((ea, tool.model.as_taken(n))
                                 for ea, n in want["names"].items())
        after = tool.snapshot()
        want_counts = {"structures": len(want["structs"]), "data items": len(want["items"]),
                       "functions": len(want["functions"]), "names": len(want["names"]),
                       "comments": len(want["comments"])}
        if not args.types_only:
            for what in ("items", "names", "comments", "functions", "structs"):
                problems += compare(what, after.get(what, {}), want[what],
                                    before.get(what, {}), what in ("functions", "structs"))
            problems += check_counts(1, output, want_counts, ())
        if model is not None:
            problems += check_types(model, after.get("applied", {}), output, 1)

        output2, calls2 = tool.run(script)
        if tool.snapshot() != after:
            problems.append("the second run changed the database")
        changes = sorted(set(c[0] for c in calls2 if c[0] in tool.model.MUTATING))
        if changes:
            problems.append("the second run called %s" % ", ".join(changes))
        already = ("structures", "functions", "comments")
        if args.tool == "ida":
            already += ("names",)
        if not args.types_only:
            problems += check_counts(2, output2, want_counts, already)
        if model is not None and args.tool == "ida":
            problems += check_reapplied(tool, script, model, after)

    for p in problems[:30]:
        print(p)
    if len(problems) > 30:
        print("... and %d more" % (len(problems) - 30))
    if problems:
        return 1
    print("%s%s replay of %s: matches %s%s" % (
        args.tool, " " + args.version if args.version else "", os.path.basename(args.script),
        os.path.basename(args.database),
        " (nothing changed at another image base)" if args.base_mismatch
        else "; the second run changed nothing"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
