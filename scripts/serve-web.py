#!/usr/bin/env python3
"""Serves a built site folder on 127.0.0.1 with the headers a host of the page
should send (docs/web.md, "Hosting"): the page's own Content-Security-Policy
with frame-ancestors 'none', X-Frame-Options, Permissions-Policy and
X-Content-Type-Options, and the service worker with Cache-Control: no-cache.
    scripts/serve-web.py PORT FOLDER   (PORT 0: a free one, named on stdout)"""
import functools
import http.server
import pathlib
import re
import sys


def host_headers(folder):
    # The policy is the one index.html carries, plus what only a header can say.
    page = (pathlib.Path(folder) / "index.html").read_text(encoding="utf-8")
    policy = re.search(r'http-equiv="Content-Security-Policy" content="([^"]*)"', page)
    if not policy:
        sys.exit(f"no Content-Security-Policy in {folder}/index.html")
    return {
        "Content-Security-Policy": policy.group(1) + "; frame-ancestors 'none'",
        "X-Frame-Options": "DENY",
        "Permissions-Policy": "hid=(self)",
        "X-Content-Type-Options": "nosniff",
    }


class Handler(http.server.SimpleHTTPRequestHandler):
    headers_to_send = {}
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map,
                      ".webmanifest": "application/manifest+json", ".wasm": "application/wasm"}

    def end_headers(self):
        for name, value in self.headers_to_send.items():
            self.send_header(name, value)
        # The service worker is asked for anew on every visit, so a new build
        # reaches the installed page at once.
        if self.path.split("?")[0].endswith("/sw.js"):
            self.send_header("Cache-Control", "no-cache")
        super().end_headers()


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: scripts/serve-web.py PORT FOLDER")
    port, folder = int(sys.argv[1]), sys.argv[2]
    Handler.headers_to_send = host_headers(folder)
    http.server.test(HandlerClass=functools.partial(Handler, directory=folder), port=port, bind="127.0.0.1")


if __name__ == "__main__":
    main()
