#!/usr/bin/env bash
# install-deps.sh as a new user meets it, with dpkg, apt, sudo and id
# replaced by stubs: a user without root or sudo is told what to do and what
# was wanted; apt's lines and errors reach the terminal; nothing missing,
# nothing said.
#   install_deps_test.sh SCRIPT
set -uo pipefail
script=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# stub NAME BODY: a command on the test's PATH.
stub() { printf '#!/bin/bash\n%s\n' "$2" >"$work/bin/$1"; chmod +x "$work/bin/$1"; }

# case NAME INSTALLED UID SUDO APT_STATUS EXPECT_STATUS EXPECTED_LINES...
run_case() {
  local name=$1 installed=$2 uid=$3 with_sudo=$4 apt_status=$5 expect_status=$6
  shift 6
  rm -rf "$work/bin"; mkdir -p "$work/bin"
  for tool in grep bash cat; do ln -s "$(command -v $tool)" "$work/bin/$tool"; done
  stub id "echo $uid"
  if [ "$installed" = yes ]; then
    stub dpkg-query 'echo "install ok installed"'
  else
    stub dpkg-query 'exit 1'
  fi
  stub apt-get "echo \"apt-get \$*\"; [ \"\$1\" != install ] || { echo 'E: Unable to locate package' >&2; exit $apt_status; }"
  [ "$with_sudo" = no ] || stub sudo 'echo "sudo: $1"; exec "$@"'
  local out status
  out=$(PATH="$work/bin" bash "$script" velkor-extra-package 2>&1 </dev/null)
  status=$?
  if [ "$status" != "$expect_status" ]; then
    echo "FAIL $name: exit status $status, expected $expect_status; output:"; echo "$out"
    failures=$((failures + 1)); return
  fi
  local line
  for line in "$@"; do
    if [ "${line:0:1}" = "!" ]; then
      if grep -qF -- "${line:1}" <<<"$out"; then
        echo "FAIL $name: output has \"${line:1}\":"; echo "$out"; failures=$((failures + 1))
      fi
    elif ! grep -qF -- "$line" <<<"$out"; then
      echo "FAIL $name: output lacks \"$line\":"; echo "$out"; failures=$((failures + 1))
    fi
  done
}

#        name                installed uid  sudo apt  exit  lines expected (! = must not appear)
run_case no-root-no-sudo     no        1000 no   0    1     "run this script as root or install sudo" \
                                                            "cmake" "lintian" "velkor-extra-package" "!apt-get"
run_case root                no        0    no   0    0     "apt-get update" "apt-get install" "velkor-extra-package" \
                                                            "install-deps: done" "!sudo"
run_case user-with-sudo      no        1000 yes  0    0     "sudo: apt-get" "apt-get install"
run_case apt-fails           no        0    no   100  100   "E: Unable to locate package" "!install-deps: done"
run_case all-installed       yes       1000 no   0    0     "!install-deps" "!apt-get"

[ $failures -eq 0 ] && echo "install-deps.sh: all cases pass"
exit $((failures != 0))
