#!/usr/bin/env python3
"""Checks a board dump against a firmware file, from the file's own bytes:
data blocks erased (at 4096-byte boundaries) and AND-programmed, code
blocks in order, each padded to 72 bytes.
  expect-dump.py FILE.enc DUMP.json [--reruns | --updates N]
--reruns: earlier, broken-off runs may have left code blocks before the
last run's; those must be the first blocks of the file, in order.
--updates N: N updates with the file reached the loader, so the code log
holds the file's blocks N times over; the flash shows the last.
Either way the board must end in its application with no handle open."""
import json
import sys


def expected(path):
    raw = open(path, "rb").read()
    flash, code, at = {}, [], 0
    while at + 2 <= len(raw):
        token, length = raw[at], raw[at + 1]
        body = raw[at + 2:at + 2 + length]
        at += 2 + length
        if token == ord("E"):
            code.append(bytes(body).ljust(72, b"\0").hex())
        elif token == ord("D"):
            count, address = body[2], int.from_bytes(body[3:6], "little")
            for i, value in enumerate(body[6:6 + count]):
                a = address + i
                block = flash.setdefault(a & ~0xFFF, bytearray(b"\xff" * 4096))
                if i == 0 and a % 4096 == 0:
                    block[:] = b"\xff" * 4096
                block[a % 4096] &= value
        else:
            sys.exit(f"expect-dump: unknown token {token:#x} at {at - 2 - length}")
    return {f"0x{a:06x}": bytes(b).hex() for a, b in flash.items()}, code


def main():
    data, code = expected(sys.argv[1])
    dump = json.load(open(sys.argv[2]))
    problems = []
    if dump.get("data") != data:
        keys = sorted(set(data) | set(dump.get("data", {})))
        bad = [k for k in keys if dump.get("data", {}).get(k) != data.get(k)]
        problems.append(f"data blocks differ: {', '.join(bad[:8])}")
    args = sys.argv[3:]
    got = dump.get("code", [])
    if "--reruns" in args:
        earlier = got[:len(got) - len(code)]
        same = got[len(earlier):] == code and earlier == code[:len(earlier)]
    else:
        updates = int(args[args.index("--updates") + 1]) if "--updates" in args else 1
        same = got == code * updates
    if not same:
        problems.append(f"code blocks differ: {len(got)} in the dump, {len(code)} in the file")
    if dump.get("mode") != "application":
        problems.append(f"mode {dump.get('mode')}, not application")
    if dump.get("open_handles") != 0:
        problems.append(f"open_handles {dump.get('open_handles')}")
    for p in problems:
        print(f"expect-dump: {p}")
    sys.exit(1 if problems else 0)


main()
