#!/usr/bin/env python3
"""A web server on 127.0.0.1 for the update tests: serves a small setup package in the ways a
real server can go wrong. Prints its port on the first line of stdout, then serves until
killed.

The first path segment picks the case; the rest is the address the program asks for:
  /CASE/ozmware/update/qv/setupQV.run         the package
  /CASE/ozmware/update/qv/setupQV.run.sha256  its sum
  /CASE/ozmware/update/qv/version.txt         the latest version (CASE "ver-2.31" gives 2.31;
                                              "slow+ver-2.4" serves "slow" with version 2.4)
Cases: good, notfound, short, wrongsum, nosum, redirect5, redirect6, redirectaway, big,
nolength, nolengthfull, slow, stall; size-N: a package of N MiB with its sum; /bench/N
serves N MiB of zeros with their length.
"""
import argparse
import hashlib
import http.server
import socketserver
import sys
import time

PACKAGE_PATH = "/ozmware/update/qv/setupQV.run"


def make_package(marker):
    # An installer stand-in: appends a line to the marker file each time it runs, so a
    # second start shows. The padding makes the transfer take several blocks.
    script = "#!/bin/sh\necho started >> '%s'\nexit 0\n" % marker.replace("'", "'\\''")
    padding = "".join("# %06d padding line of the test package\n" % i for i in range(8000))
    return (script + padding).encode()


_sized = {}


def sized_package(mib):
    if mib not in _sized:
        head = b"#!/bin/sh\nexit 0\n"
        body = head + bytes((mib << 20) - len(head))
        _sized[mib] = (body, hashlib.sha256(body).hexdigest())
    return _sized[mib]


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    package = b""

    def log_message(self, *args):
        pass

    def send_body(self, body, length=None, status=200, close=False):
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        if length is not None:
            self.send_header("Content-Length", str(length))
        if close:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        self.wfile.write(body)

    def redirect(self, to):
        self.send_response(302)
        self.send_header("Location", to)
        self.send_header("Content-Length", "5")
        self.end_headers()
        self.wfile.write(b"moved")

    def do_GET(self):
        parts = self.path.split("/", 2)
        case = parts[1] if len(parts) > 1 else ""
        # "slow+ver-2.4": the package as "slow", the version as "ver-2.4".
        version = None
        for flag in case.split("+"):
            if flag.startswith("ver-"):
                version = flag[4:]
            else:
                case = flag
        rest = "/" + parts[2] if len(parts) > 2 else "/"
        pkg = self.package
        if case == "bench":
            size = int(rest.strip("/").split("/")[0]) << 20
            self.send_response(200)
            self.send_header("Content-Length", str(size))
            self.end_headers()
            block = bytes(1 << 20)
            sent = 0
            while sent < size:
                n = min(len(block), size - sent)
                self.wfile.write(block[:n])
                sent += n
            return
        if case.startswith("size-"):
            # A package of N MiB for the benchmark: a script that ends at once, then padding.
            body, digest = sized_package(int(case[5:]))
            if rest == PACKAGE_PATH + ".sha256":
                text = ("%s  setupQV.run\n" % digest).encode()
                return self.send_body(text, len(text))
            if rest == PACKAGE_PATH:
                self.send_response(200)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                view = memoryview(body)
                for at in range(0, len(body), 1 << 20):
                    self.wfile.write(view[at : at + (1 << 20)])
                return
        if case.startswith("redirect") and case[len("redirect"):].isdigit():
            # /redirectN/hop/K/...: K hops taken so far.
            total = int(case[len("redirect"):])
            hops = 0
            if rest.startswith("/hop/"):
                _, _, k, tail = rest.split("/", 3)
                hops, rest = int(k), "/" + tail
            if rest == PACKAGE_PATH and hops < total:
                return self.redirect("/%s/hop/%d%s" % (case, hops + 1, PACKAGE_PATH))
        if case == "redirectaway" and rest == PACKAGE_PATH:
            return self.redirect("http://192.0.2.1" + PACKAGE_PATH)
        if rest == "/ozmware/update/qv/version.txt" and version is not None:
            return self.send_body((version + "\n").encode(), len(version) + 1)
        if rest == PACKAGE_PATH + ".sha256":
            if case == "nosum":
                return self.send_body(b"no such file", 12, status=404)
            digest = hashlib.sha256(pkg).hexdigest()
            if case == "wrongsum":
                digest = hashlib.sha256(pkg + b"x").hexdigest()
            text = ("%s  setupQV.run\n" % digest).encode()
            return self.send_body(text, len(text))
        if rest != PACKAGE_PATH or case == "notfound":
            return self.send_body(b"not found", 9, status=404)
        if case == "short":
            return self.send_body(pkg[: len(pkg) // 2], len(pkg), close=True)
        if case == "big":
            return self.send_body(pkg[:1000], (512 << 20) + 1, close=True)
        if case == "nolength":
            # Closed early with no length announced: only the sum can tell.
            return self.send_body(pkg[: len(pkg) // 2], None, close=True)
        if case == "nolengthfull":
            return self.send_body(pkg, None, close=True)
        if case in ("slow", "stall"):
            self.send_response(200)
            self.send_header("Content-Length", str(len(pkg)))
            self.end_headers()
            step = 2048 if case == "slow" else 0
            sent = 0
            deadline = time.monotonic() + 60
            # The last byte never comes: the transfer is still running whenever the test
            # looks.
            while time.monotonic() < deadline:
                chunk = pkg[sent : min(sent + step, len(pkg) - 1)]
                if chunk:
                    self.wfile.write(chunk)
                    self.wfile.flush()
                    sent += len(chunk)
                time.sleep(0.05)
            self.close_connection = True
            return
        return self.send_body(pkg, len(pkg))


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def handle_error(self, request, client_address):
        pass  # a client that hangs up mid-body is what some tests do


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--marker", required=True)
    args = parser.parse_args()
    Handler.package = make_package(args.marker)
    server = Server(("127.0.0.1", 0), Handler)
    print(server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    sys.exit(main())
