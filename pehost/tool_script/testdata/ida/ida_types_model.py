"""The stand-in's reading of C declarations in IDA's dialect, as idc.parse_decls
and idc.SetType take them (reference: types-in-tools.md, "IDA").

What it holds a declaration to:
- every type a declaration uses is a C base type or was declared before;
- a prototype gives every parameter an explicit location: @<eax>, @<edx>,
  @<ecx>, or @<^offset.size> on the stack; the stack locations tile the
  argument area from offset 0 without a gap or an overlap;
- __userpurge (the callee removes the stack arguments) whenever there are
  stack arguments: a prototype that leaves them to the caller, as __usercall
  would, is refused; __usercall without stack arguments;
- a result location is @<eax>, @<edx:eax> or @<st0>.
A refused declaration declares nothing.
"""
import re

BASE_WORDS = {"void", "char", "short", "int", "long", "float", "double", "signed",
              "unsigned", "const", "struct", "enum"}
_IDENT = re.compile(r"[A-Za-z_][A-Za-z0-9_]*")
_PROTO = re.compile(r"^(?P<ret>.+?)\s*(?P<cc>__usercall|__userpurge)\s+(?P<name>\w+)"
                    r"(?:@<(?P<result>[^>]+)>)?\((?P<params>.*)\)$", re.S)
_PARAM = re.compile(r"^(?P<type>.+?)\s*\b(?P<name>\w+)@<(?P<loc>[^>]+)>$")
_STACK = re.compile(r"^\^(\d+)\.(\d+)$")
_IMPLICIT = re.compile(r"^(?P<type>.+?)\s*\b(?P<name>\w+)(?P<loc>)$")


def uses_known_types(text, known):
    """Whether every word of a type text is a base word or a declared type."""
    return all(w in BASE_WORDS or w in known for w in _IDENT.findall(text))


_BASE_SIZES = {"void": 0, "char": 1, "signed char": 1, "unsigned char": 1, "short": 2,
               "unsigned short": 2, "int": 4, "unsigned int": 4, "long": 4,
               "unsigned long": 4, "long long": 8, "unsigned long long": 8,
               "float": 4, "double": 8}


def type_size(text, known):
    """The size of a type text: a pointer, a C base type, or a declared
    typedef or packed structure."""
    text = " ".join(text.replace("const ", "").split())
    if text.endswith("*"):
        return 4
    if text in _BASE_SIZES:
        return _BASE_SIZES[text]
    decl = known.get(text, "")
    body = re.match(r"^struct \w+ \{(.*)\}$", decl, re.S)
    if body:
        size = 0
        for member in [m.strip() for m in body.group(1).split(";") if m.strip()]:
            t, _ = _declarator(member)
            count = re.search(r"\[(\d+)\]$", member)
            size += type_size(t, known) * (int(count.group(1)) if count else 1)
        return size
    td = re.match(r"^typedef (.+?)\s*\b(\w+)\s*(?:\[(\d+)\])?$",
                  " ".join(_strip(decl).split()).rstrip(";"))
    if td and td.group(2) == text:
        return type_size(td.group(1), known) * int(td.group(3) or 1)
    raise ValueError("no size of %s" % text)


def read_prototype(text, known, stack_places=True):
    """(name, [(param, type, location)], result location, purge, result
    type) of a prototype, or a reason it is refused. Without
    `stack_places` (IDA 7.0 as the stand-in reads it) explicit stack
    locations are refused, and parameters without a location take the
    stack in the order they are declared, each in whole 4-byte slots, the
    first at offset 0."""
    m = _PROTO.match(" ".join(text.split()))
    if not m:
        return "not a prototype with explicit locations: %s" % text
    if not uses_known_types(m.group("ret"), known):
        return "unknown result type in %s" % text
    if m.group("result") not in (None, "eax", "edx:eax", "st0"):
        return "result location %s" % m.group("result")
    params = []
    stack = []
    for p in [p.strip() for p in m.group("params").split(",") if p.strip() != "void"]:
        pm = _PARAM.match(p)
        if not pm and not stack_places:
            pm = _IMPLICIT.match(p)
        if not pm:
            return "parameter without an explicit location: %s" % p
        if not uses_known_types(pm.group("type"), known):
            return "unknown type of parameter %s" % p
        loc = pm.group("loc")
        if not loc:
            slot = (type_size(pm.group("type"), known) + 3) // 4 * 4
            at = sum(s for _, s in stack)
            loc = "^%d.%d" % (at, slot)
            stack.append((at, slot))
        elif _STACK.match(loc):
            if not stack_places:
                return "explicit stack location %s" % loc
            s = _STACK.match(loc)
            stack.append((int(s.group(1)), int(s.group(2))))
        elif loc not in ("eax", "edx", "ecx"):
            return "location %s" % loc
        params.append((pm.group("name"), pm.group("type"), loc))
    regs = [loc for _, _, loc in params if not loc.startswith("^")]
    if len(set(regs)) != len(regs):
        return "two parameters in one register"
    at = 0
    for offset, size in sorted(stack):
        if offset != at:
            return "stack arguments do not tile the argument area at %d" % at
        at = offset + size
    if stack and m.group("cc") != "__userpurge":
        return "stack arguments left to the caller (%s)" % m.group("cc")
    if not stack and m.group("cc") != "__usercall":
        return "__userpurge without stack arguments"
    return (m.group("name"), params, m.group("result"), at if stack else 0, m.group("ret"))


def _strip(text):
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
    return "\n".join(l for l in text.splitlines() if not l.strip().startswith("#"))


def _split(text):
    """Top-level declarations: up to a semicolon outside braces."""
    depth, start = 0, 0
    for i, c in enumerate(text):
        if c == "{":
            depth += 1
        elif c == "}":
            depth -= 1
        elif c == ";" and depth == 0:
            yield text[start:i].strip()
            start = i + 1
    if text[start:].strip():
        yield text[start:].strip()


def _declarator(text):
    """(type, name) of `TYPE NAME` or `TYPE NAME[N]`."""
    m = re.match(r"^(?P<type>.+?)\s*\b(?P<name>\w+)\s*(\[\d+\])?$", " ".join(text.split()))
    return (m.group("type"), m.group("name")) if m else (None, None)


def parse_decls(text, types, stack_places=True):
    """Declares what `text` holds into `types` (name -> declaration text);
    the number of declarations refused."""
    errors = 0
    for decl in _split(_strip(text)):
        if not decl:
            continue
        fwd = re.match(r"^typedef struct (\w+) (\w+)$", decl)
        body = re.match(r"^(struct|enum) (\w+) \{(.*)\}$", decl, re.S)
        if fwd:
            types.setdefault(fwd.group(2), "struct " + fwd.group(1))
        elif body and body.group(1) == "struct":
            members = [m.strip() for m in body.group(3).split(";") if m.strip()]
            if all(uses_known_types(_declarator(m)[0] or "?", types) for m in members):
                types[body.group(2)] = decl
            else:
                errors += 1
        elif body:
            types[body.group(2)] = decl
        elif decl.startswith("typedef ") and "(" in decl:
            proto = read_prototype(decl[len("typedef "):], types, stack_places)
            if isinstance(proto, tuple):
                types[proto[0]] = decl
            else:
                errors += 1
        elif decl.startswith("typedef "):
            t, name = _declarator(decl[len("typedef "):])
            if t is not None and uses_known_types(t, types):
                types[name] = decl
            else:
                errors += 1
        else:
            errors += 1
    return errors
