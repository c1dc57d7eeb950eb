"""Checks that Python files keep to syntax Python 2.7 and Python 3 share.

    py27_subset.py FILE...

Each file is parsed by this Python 3; what parses here but not in 2.7, or
means something else there, is reported as FILE:LINE: reason. Exit status 0
when every file keeps to the subset, 1 otherwise.
"""
import ast
import io
import re
import sys
import tokenize

PY27_FUTURES = {"print_function", "division", "absolute_import", "unicode_literals",
                "with_statement", "generators", "nested_scopes"}


class Checker(ast.NodeVisitor):
    def __init__(self, futures):
        self.futures = futures
        self.problems = []
        self.parents = []
        self.allowed_stars = set()

    def bad(self, node, reason):
        self.problems.append((getattr(node, "lineno", 0), reason))

    def generic_visit(self, node):
        self.parents.append(node)
        ast.NodeVisitor.generic_visit(self, node)
        self.parents.pop()

    def visit_JoinedStr(self, node):
        self.bad(node, "f-string")

    def visit_NamedExpr(self, node):
        self.bad(node, "assignment expression (:=)")

    def visit_Nonlocal(self, node):
        self.bad(node, "nonlocal")

    def visit_AsyncFunctionDef(self, node):
        self.bad(node, "async def")

    def visit_Await(self, node):
        self.bad(node, "await")

    def visit_AsyncFor(self, node):
        self.bad(node, "async for")

    def visit_AsyncWith(self, node):
        self.bad(node, "async with")

    def visit_YieldFrom(self, node):
        self.bad(node, "yield from")

    def visit_AnnAssign(self, node):
        self.bad(node, "variable annotation")

    def visit_Raise(self, node):
        if node.cause is not None:
            self.bad(node, "raise ... from")
        self.generic_visit(node)

    def visit_BinOp(self, node):
        if isinstance(node.op, ast.MatMult):
            self.bad(node, "@ operator")
        if isinstance(node.op, ast.Div) and "division" not in self.futures:
            self.bad(node, "/ floors integers in Python 2 (use // or import division)")
        self.generic_visit(node)

    def visit_arguments(self, node):
        if getattr(node, "posonlyargs", []):
            self.bad(self.parents[-1], "positional-only parameters")
        if node.kwonlyargs:
            self.bad(self.parents[-1], "keyword-only parameters")
        for arg in node.args + node.kwonlyargs + [node.vararg, node.kwarg]:
            if arg is not None and arg.annotation is not None:
                self.bad(self.parents[-1], "parameter annotation")
        self.generic_visit(node)

    def visit_FunctionDef(self, node):
        if node.returns is not None:
            self.bad(node, "return annotation")
        self.generic_visit(node)

    def visit_Call(self, node):
        stars = [i for i, a in enumerate(node.args) if isinstance(a, ast.Starred)]
        if len(stars) > 1 or (stars and stars[0] != len(node.args) - 1):
            self.bad(node, "* unpacking other than one *args at the end")
        if sum(1 for k in node.keywords if k.arg is None) > 1:
            self.bad(node, "more than one ** unpacking")
        func = node.func
        if isinstance(func, ast.Name) and func.id == "print" and \
                "print_function" not in self.futures and \
                (len(node.args) != 1 or node.keywords):
            self.bad(node, "print of several values without print_function")
        if isinstance(func, ast.Name) and func.id == "super" and not node.args:
            self.bad(node, "super() without arguments")
        if len(stars) == 1 and stars[0] == len(node.args) - 1:
            self.allowed_stars.add(id(node.args[-1]))
        self.generic_visit(node)

    def visit_Starred(self, node):
        if id(node) not in self.allowed_stars:
            self.bad(node, "* unpacking")
        self.generic_visit(node)

    def visit_Dict(self, node):
        if any(k is None for k in node.keys):
            self.bad(node, "** unpacking in a dict display")
        self.generic_visit(node)

    def visit_Constant(self, node):
        if node.value is Ellipsis and not (self.parents and
                                           isinstance(self.parents[-1], ast.Subscript)):
            self.bad(node, "... outside a subscript")

    def visit_ImportFrom(self, node):
        if node.module == "__future__":
            for alias in node.names:
                if alias.name not in PY27_FUTURES:
                    self.bad(node, "from __future__ import %s" % alias.name)


def token_problems(source):
    problems = []
    for tok in tokenize.generate_tokens(io.StringIO(source).readline):
        if tok.type == tokenize.NUMBER and "_" in tok.string:
            problems.append((tok.start[0], "underscore in a number"))
        if tok.type == tokenize.STRING:
            prefix = re.match(r"[A-Za-z]*", tok.string).group(0).lower()
            if prefix not in ("", "r", "u", "b", "br"):
                problems.append((tok.start[0], "string prefix %s" % prefix))
    return problems


def check(path):
    with open(path, "rb") as f:
        raw = f.read()
    head = raw.split(b"\n", 2)[:2]
    declared = any(re.search(br"coding[:=]\s*[-\w.]+", line) for line in head)
    problems = []
    if not declared:
        for number, line in enumerate(raw.split(b"\n"), 1):
            if any(b > 0x7F for b in bytearray(line)):
                problems.append((number, "non-ASCII text without a coding line"))
                break
    source = raw.decode("utf-8")
    try:
        tree = ast.parse(source, path)
    except SyntaxError as e:
        return [(e.lineno or 0, "not valid Python 3: %s" % e.msg)]
    futures = set()
    for node in tree.body:
        if isinstance(node, ast.ImportFrom) and node.module == "__future__":
            futures.update(a.name for a in node.names)
    checker = Checker(futures)
    checker.visit(tree)
    return sorted(problems + checker.problems + token_problems(source))


def main():
    failed = False
    for path in sys.argv[1:]:
        for line, reason in check(path):
            print("%s:%d: %s" % (path, line, reason))
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
