#!/usr/bin/env bash
# Fails on any function in the production sources longer than 60 lines, one
# line per function:
#
#   sim/scenario.cpp:84: ParseLine is 75 lines (limit 60)
#
#   scripts/check-function-length.sh [--all] [FILE...]
#   scripts/check-function-length.sh --self-test
# --all lists every function found with its length, to check the reader;
# FILEs (from the top of the tree) replace the default set. --self-test runs
# the check on planted functions and fails if it misses one.
#
# Sources: every tracked *.cpp, *.h and *.c outside tests/, fuzz/ and bench/.
# A function is measured from the first line of its declaration (return type
# or template line included) to the line of its closing brace, both counted.
#
# Universal Ctags reads the C++: it gives each function's name line and the
# line of its closing brace, and lists each lambda as a function of its own
# (measured from its opening brace), so a long lambda fails both itself and
# the function it sits in. Ctags rather than lizard, which would also give
# complexity: it is a Debian package like the rest of the tools, where lizard
# would need a pinned pip install outside apt. Ctags starts at the name, so
# the lines just above it that carry on the declaration (a template line, a
# return type) are added: everything up to a blank or comment line, a
# preprocessor line or a line ending in ';', '{', '}', ':' or '*/'.
set -euo pipefail
self=$(realpath "$0")
cd "$(dirname "$0")/.."

limit=60

# Planted functions the check must flag and functions of 60 lines it must
# not, each just below one of the lines where the declaration's start is
# looked for; fails when the output differs.
self_test() {
  local dir out status=0 expected
  dir=$(mktemp -d)
  trap "rm -rf '$dir'" EXIT
  statements() { for ((k = 0; k < $1; k++)); do echo "    n += $k;"; done; }
  fits() { echo "int $1(int n)"; echo "{"; statements 56; echo "    return n;"; echo "}"; }
  {
    echo "namespace {"; echo "struct Holder {"; fits FitsA; echo "public:"; fits FitsB; echo "};"
    echo "}  // namespace"; fits FitsC
    echo "#define FITS_D 1"; fits FitsD
    echo "/* the next one is a line too long */"
    echo "template <typename T>"
    echo "T Planted(T n)"; echo "{"; statements 56; echo "    return n;"; echo "}"
    echo; fits FitsE
  } >"$dir/long.cpp"
  {
    echo "int Before();"; echo "int Short()"; echo "{"
    echo "    auto f = [](int n) {"; statements 59; echo "        return n;"; echo "    };"
    echo "    return f(1);"; echo "}"
    echo "const auto kTable = [](int n) {"; statements 59; echo "    return n;"; echo "};"
  } >"$dir/lambda.cpp"
  out=$(bash "$self" "$dir/long.cpp" "$dir/lambda.cpp") &&
    { echo "self-test: the check passed them"; status=1; }
  for expected in "long.cpp:248: Planted is 61 lines" "lambda.cpp:2: Short is 66 lines" \
                  "lambda.cpp:4: lambda is 62 lines" "lambda.cpp:68: lambda is 62 lines"; do
    grep -qF -- "$expected" <<<"$out" || { echo "self-test: missed \"$expected\""; status=1; }
  done
  if grep Fits <<<"$out"; then echo "self-test: flagged a function of 60 lines"; status=1; fi
  [ $status -eq 0 ] && echo "function length: self-test passes" || echo "$out"
  return $status
}

if [ "${1:-}" = "--self-test" ]; then self_test; exit; fi

show_all=""
if [ "${1:-}" = "--all" ]; then show_all=--all; shift; fi

if ! ctags --version 2>/dev/null | grep -q "Universal Ctags"; then
  echo "check-function-length: needs Universal Ctags (universal-ctags): run scripts/install-deps.sh" >&2
  exit 2
fi

list_sources() {
  if [ $# -gt 0 ]; then
    printf '%s\0' "$@"
  else
    git ls-files -z -- '*.cpp' '*.h' '*.c' ':!:tests/' ':!:fuzz/' ':!:bench/'
  fi
}

list_sources "$@" |
  xargs -0 -r ctags --quiet --options=NONE --output-format=json --fields=+ne --kinds-C=f --kinds-C++=f --sort=no -o - |
  python3 -c '
import json
import re
import sys

LIMIT = int(sys.argv[1])
SHOW_ALL = "--all" in sys.argv[2:]
ANON = re.compile(r"__anon\w*")
lines = {}


def first_line(path, line):
    """The first line of the declaration whose name is on line."""
    if path not in lines:
        with open(path, encoding="utf-8", errors="replace") as f:
            lines[path] = f.read().split("\n")
    text = lines[path]
    while line > 1:
        above = re.sub(r"//.*", "", text[line - 2]).strip()
        if not above or above[0] == "#" or above.endswith(("*/", ";", "{", "}", ":")):
            break
        line -= 1
    return line


status = 0
count = 0
for tag in map(json.loads, sys.stdin):
    if tag.get("_type") != "tag":
        continue
    path, line = tag["path"], tag["line"]
    if "end" not in tag:
        print("{}:{}: {}: no end found".format(path, line, tag["name"]))
        status = 1
        continue
    if ANON.fullmatch(tag["name"]):
        name = "lambda"
    else:
        line = first_line(path, line)
        scope = [s for s in tag.get("scope", "").split("::") if s and not ANON.fullmatch(s)]
        name = "::".join(scope + [tag["name"]])
    length = tag["end"] - line + 1
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
