#!/usr/bin/env python3
"""A throw-away RFC 3161 time-stamp authority for the signing checks
(scripts/test-signing.sh): answers each POSTed time-stamp query with
`openssl ts -reply`, signed by the given certificate and key. Prints the URL
it listens on (127.0.0.1, a free port), then serves until killed.

Usage: test-timestamp-server.py CONFIG TSA-CERT TSA-KEY"""
import http.server
import subprocess
import sys
import tempfile
import os

config, signer, key = sys.argv[1:4]


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        with tempfile.TemporaryDirectory() as tmp:
            q, r = os.path.join(tmp, "q"), os.path.join(tmp, "r")
            with open(q, "wb") as f:
                f.write(query)
            done = subprocess.run(
                ["openssl", "ts", "-reply", "-config", config, "-queryfile", q,
                 "-signer", signer, "-inkey", key, "-out", r],
                capture_output=True)
            if done.returncode != 0:
                self.send_error(500, done.stderr.decode(errors="replace")[-200:])
                return
            with open(r, "rb") as f:
                reply = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
print(f"http://127.0.0.1:{server.server_port}/", flush=True)
server.serve_forever()
