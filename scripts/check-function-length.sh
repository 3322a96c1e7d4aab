#!/usr/bin/env bash
# Fails on any function in the production sources longer than 60 lines, one
# line per function:
#
#   sim/scenario.cpp:84: ParseLine is 75 lines (limit 60)
#
#   scripts/check-function-length.sh [--all] [FILE...]
# --all lists every function found with its length, to check the reader;
# FILEs (from the top of the tree) replace the default set.
#
# Sources: every tracked *.cpp, *.h and *.c outside tests/, fuzz/ and bench/.
# A function is measured from the first line of its declaration (return type
# or template line included) to the line of its closing brace, both counted.
#
# How it measures: comments, string and character literals (raw strings too)
# and preprocessor lines are blanked first, so braces inside them do not
# count. What is left is read as tokens while keeping a stack of the scopes
# that can hold functions (namespace, extern "C", class, struct, union). At
# such a scope each '{' is classified by the declaration before it: a
# namespace or class opens a scope; an enum, a '= {...}' or a 'name{...}'
# initialiser is skipped whole; a declaration ending in a parameter list
# (then const/noexcept/override/final, '-> type' or a constructor's
# initialiser list, whose member '{...}' are skipped) starts a function
# body, which runs to its matching '}'. Lambdas and local classes therefore
# count towards the function they sit in; switch, if and loops never reach
# the classifier. Braces left unmatched at the end of a file are reported.
set -euo pipefail
cd "$(dirname "$0")/.."

limit=60

show_all=""
if [ "${1:-}" = "--all" ]; then show_all=--all; shift; fi

list_sources() {
  if [ $# -gt 0 ]; then
    printf '%s\0' "$@"
  else
    git ls-files -z -- '*.cpp' '*.h' '*.c' ':!:tests/' ':!:fuzz/' ':!:bench/'
  fi
}

list_sources "$@" |
  python3 -c '
import re
import sys

LIMIT = int(sys.argv[1])
SHOW_ALL = "--all" in sys.argv[2:]


def blank_until(text, start, skip, close):
    """Spaces for text from start to the end of close (looked for skip
    characters on; to the end of text when missing), newlines kept, and
    where that ends."""
    end = text.find(close, start + skip)
    end = len(text) if end < 0 else end + len(close)
    return re.sub(r"[^\n]", " ", text[start:end]), end


def blank_directive(text, i):
    """Blanks the preprocessor line at i and its continuation lines; returns
    the newlines to keep and where the directive ends."""
    out = []
    n = len(text)
    while i < n and text[i] != "\n":
        if text[i] == "\\" and i + 1 < n and text[i + 1] == "\n":
            out.append("\n")
            i += 2
        elif text.startswith("/*", i):
            spaces, i = blank_until(text, i, 2, "*/")
            out.append(spaces)
        else:
            i += 1
    return "".join(out), i


def blank_literal(text, i, word):
    """For a comment or a literal starting at i (word: the identifier just
    before it, the prefix of a raw string), its replacement and where it ends;
    None for anything else."""
    c = text[i]
    if text.startswith("//", i):
        end = text.find("\n", i)
        return "", len(text) if end < 0 else end
    if text.startswith("/*", i):
        return blank_until(text, i, 2, "*/")
    if c == "\"" and re.fullmatch(r"(u8|u|U|L)?R", word):
        m = re.match(r"\"([^()\\ ]{0,16})\(", text[i:])
        if m:
            spaces, end = blank_until(text, i + 1, len(m.group(0)) - 1, ")" + m.group(1) + "\"")
            return "0" + spaces, end
    if c in "\"\x27":
        j = i + 1
        while j < len(text) and text[j] != c and text[j] != "\n":
            j += 2 if text[j] == "\\" else 1
        end = j + 1 if j < len(text) and text[j] == c else j  # keep a newline
        return "0" + " " * (end - i - 1), end
    return None


def blank(text):
    """Returns text with comments, literals and preprocessor lines replaced
    by spaces (newlines kept, so line numbers hold). A literal becomes a
    single 0 so the token stream still sees a value there."""
    out = []
    i, n = 0, len(text)
    line_start = True
    word = ""  # the identifier or number just before i
    while i < n:
        c = text[i]
        if c == "\n" or c in " \t\r\f\v":
            out.append(c)
            i += 1
            line_start = line_start or c == "\n"
            word = ""
            continue
        if line_start and c == "#":
            spaces, i = blank_directive(text, i)
            out.append(spaces)
            continue
        line_start = False
        if c == "\x27" and word[:1].isdigit():
            i += 1  # digit separator, as in 1000000 written with quotes
            continue
        blanked = blank_literal(text, i, word)
        if blanked is not None:
            out.append(blanked[0])
            i = blanked[1]
            word = ""
            continue
        word = word + c if c.isalnum() or c == "_" else ""
        out.append(c)
        i += 1
    return "".join(out)


TOKEN = re.compile(r"[A-Za-z_][A-Za-z0-9_]*|\d[\w.]*|::|->|&&|\S")


def tokens(text):
    line = 1
    pos = 0
    for m in TOKEN.finditer(text):
        line += text.count("\n", pos, m.start())
        pos = m.start()
        yield m.group(0), line


QUALIFIERS = {"const", "volatile", "noexcept", "override", "final", "&", "&&",
              "throw", "mutable", "constexpr", "try"}
NOT_PARAMS = {"noexcept", "throw", "decltype", "alignas", "__attribute__",
              "__declspec", "sizeof", "alignof"}


def top_level(decl):
    """Yields (index, token) for the tokens of decl outside parentheses,
    the opening paren of each top-level group among them."""
    depth = 0
    for k, (t, _) in enumerate(decl):
        if t == "(":
            if depth == 0:
                yield k, t
            depth += 1
        elif t == ")":
            depth -= 1
        elif depth == 0:
            yield k, t


def matching(items, start, opening, closing):
    """Index of the (token, line) closing the one at start, or None."""
    depth = 0
    for j in range(start, len(items)):
        if items[j][0] == opening:
            depth += 1
        elif items[j][0] == closing:
            depth -= 1
            if depth == 0:
                return j
    return None


def operator_span(decl):
    """Indexes taken by an operator name (operator==, operator() ...)."""
    taken = set()
    for k, (t, _) in enumerate(decl):
        if t == "operator":
            j = k + 1
            if j + 1 < len(decl) and decl[j][0] == "(" and decl[j + 1][0] == ")":
                taken.update((j, j + 1))
                continue
            while j < len(decl) and decl[j][0] != "(":
                taken.add(j)
                j += 1
    return taken


def params(decl):
    """Index of the parameter list opening paren, or None."""
    ops = operator_span(decl)
    found = None
    for k, t in top_level(decl):
        if k in ops:
            continue
        if t == ":" and found is not None:
            break  # a constructor initialiser list starts here
        if t == "(" and k > 0 and decl[k - 1][0] not in NOT_PARAMS:
            found = k
    return found


def classify(decl):
    """What a "{" after decl opens: scope, skip, init (constructor member
    initialiser), body."""
    words = [t for t, _ in decl]
    if not words:
        return "skip"
    head = [w for w in words if w not in ("inline", "export")]
    if head[:1] == ["namespace"]:
        return "scope"
    if words[:1] == ["extern"] and len(words) == 2:
        return "scope"
    ops = operator_span(decl)
    has_assign = any(t == "=" and k not in ops for k, t in top_level(decl))
    if has_assign:
        return "skip"
    p = params(decl)
    if "enum" in words and p is None:
        return "skip"
    if p is None:
        if any(w in ("class", "struct", "union") for w in words):
            return "scope"
        return "skip"
    close = matching(decl, p, "(", ")")
    if close is None:
        return "skip"
    tail = words[close + 1:]
    if tail[:1] == [":"]:
        return "body" if words[-1] in (")", "{}") else "init"
    if tail[:1] == ["->"]:
        return "body"
    k = close + 1
    while k < len(decl):
        if words[k] in ("noexcept", "throw") and k + 1 < len(decl) and words[k + 1] == "(":
            k = matching(decl, k + 1, "(", ")")
            if k is None:
                return "skip"
        elif words[k] not in QUALIFIERS:
            return "skip"
        k += 1
    return "body"


def name_of(decl):
    p = params(decl)
    k = p - 1
    if k >= 1 and decl[k][0] == ")" and decl[k - 1][0] == "(" and k >= 2 and decl[k - 2][0] == "operator":
        parts = ["operator()"]
        k -= 3
    else:
        ops = operator_span(decl)
        parts = []
        while k >= 0 and k in ops:
            parts.insert(0, decl[k][0])
            k -= 1
        if parts:
            parts = ["operator" + "".join(parts)]
            k -= 1
        elif k >= 0:
            parts = [decl[k][0]]
            k -= 1
    while k >= 0 and decl[k][0] in ("~", "::"):
        parts.insert(0, decl[k][0])
        k -= 1
        if parts[0] == "::" and k >= 0 and re.match(r"\w", decl[k][0]):
            parts.insert(0, decl[k][0])
            k -= 1
    return "".join(parts)


def measure(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        toks = list(tokens(blank(f.read())))
    found = []
    stack = []  # scopes that may hold functions
    decl = []
    i, n = 0, len(toks)

    while i < n:
        t, line = toks[i]
        if t == ";":
            decl = []
        elif t == "}":
            if not stack:
                return found, "{}:{}: unmatched }}".format(path, line)
            stack.pop()
            decl = []
        elif t == ":" and len(decl) == 1 and decl[0][0] in ("public", "private", "protected"):
            decl = []
        elif t == "{":
            kind = classify(decl)
            if kind == "scope":
                stack.append(line)
                decl = []
            else:
                end = matching(toks, i, "{", "}")
                if end is None:
                    return found, "{}:{}: unmatched {{".format(path, line)
                if kind == "body":
                    first = decl[0][1] if decl else line
                    found.append((first, name_of(decl), toks[end][1] - first + 1))
                    decl = []
                else:
                    decl.append(("{}", line))
                i = end
        else:
            decl.append((t, line))
        i += 1
    if stack:
        return found, "{}:{}: unmatched {{".format(path, stack[-1])
    return found, None


status = 0
count = 0
for path in sys.stdin.read().split("\0"):
    if not path:
        continue
    functions, problem = measure(path)
    if problem:
        print(problem)
        status = 1
    for line, name, length in functions:
        count += 1
        if SHOW_ALL:
            print("{}:{}: {} {}".format(path, line, name, length))
        elif length > LIMIT:
            print("{}:{}: {} is {} lines (limit {})".format(path, line, name, length, LIMIT))
            status = 1
if status == 0:
    print("function length: all {} functions within {} lines".format(count, LIMIT))
sys.exit(status)
' "$limit" $show_all
