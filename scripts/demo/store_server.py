#!/usr/bin/env python3
"""The management server's patch store for the demo.

Serves the files of one host folder under /store/ on 127.0.0.1, with HEAD and
single byte ranges ("Range: bytes=a-b"; an end past the file is clamped, as the
throttled download asks for ranges that end at the content length). Every request
is logged, one line each, to the --log file. The port actually bound (0 picks a
free one) is written to --port-file once the server accepts connections.
"""
import argparse
import http.server
import os
import re
import sys
import threading

RANGE = re.compile(r"^bytes=(\d*)-(\d*)$")


class StoreHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "StoreServer/1.0"

    def log_message(self, fmt, *args):  # quiet on stderr; the request log has it all
        pass

    def _record(self, status, sent):
        with self.server.log_lock:
            with open(self.server.log_path, "a", encoding="utf-8") as log:
                log.write("%s %s range=%s -> %d (%d bytes)\n" % (
                    self.command, self.path, self.headers.get("Range", "-"), status, sent))

    def _file(self):
        path = self.path.split("?", 1)[0]
        if not path.startswith("/store/"):
            return None
        name = path[len("/store/"):]
        if not name or "/" in name or name in (".", ".."):
            return None
        full = os.path.join(self.server.store_dir, name)
        return full if os.path.isfile(full) else None

    def _reply(self, with_body):
        full = self._file()
        if full is None:
            body = b"not found\n"
            self.send_response(404)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            if with_body:
                self.wfile.write(body)
            self._record(404, len(body) if with_body else 0)
            return
        size = os.path.getsize(full)
        start, end, status = 0, size - 1, 200
        wanted = self.headers.get("Range")
        if wanted:
            m = RANGE.match(wanted.strip())
            if m and (m.group(1) or m.group(2)):
                if m.group(1):
                    start = int(m.group(1))
                    end = int(m.group(2)) if m.group(2) else size - 1
                else:
                    start = max(0, size - int(m.group(2)))
                end = min(end, size - 1)
                if start > end or start >= size:
                    self.send_response(416)
                    self.send_header("Content-Range", "bytes */%d" % size)
                    self.send_header("Content-Length", "0")
                    self.end_headers()
                    self._record(416, 0)
                    return
                status = 206
        length = max(0, end - start + 1)
        self.send_response(status)
        self.send_header("Content-Type", "application/x-msi")
        self.send_header("Accept-Ranges", "bytes")
        self.send_header("Content-Length", str(length))
        if status == 206:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, end, size))
        self.end_headers()
        sent = 0
        if with_body and length:
            with open(full, "rb") as f:
                f.seek(start)
                left = length
                while left:
                    chunk = f.read(min(65536, left))
                    if not chunk:
                        break
                    self.wfile.write(chunk)
                    left -= len(chunk)
                    sent += len(chunk)
        self._record(status, sent)

    def do_GET(self):
        self._reply(True)

    def do_HEAD(self):
        self._reply(False)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--store", required=True, help="folder whose files are served under /store/")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--log", required=True)
    args = parser.parse_args()

    server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), StoreHandler)
    server.daemon_threads = True
    server.store_dir = args.store
    server.log_path = args.log
    server.log_lock = threading.Lock()
    tmp = args.port_file + ".tmp"
    with open(tmp, "w", encoding="ascii") as f:
        f.write("%d\n" % server.server_address[1])
    os.replace(tmp, args.port_file)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
