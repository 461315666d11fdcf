#!/usr/bin/env python3
"""A local HTTPS server for the Win32 and end-to-end test tiers (standard
library only).

It listens on 127.0.0.1 (port 443 by default) with the test PKI's "localhost"
certificate, serves the files of a folder, and misbehaves on request. The
request path chooses the misbehaviour:

  /bytes/N             200 with N bytes, byte i being i % 251
  /unannounced/N       the same N bytes without Content-Length, ended by closing
  /chunked/N           the same N bytes in chunked transfer encoding
  /length-short/N      announces N bytes, sends N - 1, closes
  /length-long/N       announces N bytes, sends N + 1000
  /status/CODE         that status, with a small body where one is allowed
  /stall-headers       reads the request, then sends nothing
  /stall-body/N        announces N bytes, sends the first 4096, then nothing
  /redirect-https/REST 302 to https://localhost:PORT/REST (this server)
  /redirect-http/REST  302 to http://localhost:CONTROL/REST (plain HTTP,
                       which would answer it)
  /echo                200 with the request line and headers as received
  anything else        the file of that path under the served folder; where
                       only NAME.redirect exists, 302 to the address it holds;
                       else 404

A plain-HTTP control port on 127.0.0.1 changes what new connections get and
reports what was asked:

  /control/certificate/NAME     localhost (the default), untrusted, wrongname
  /control/stall-handshake/on   accept TCP, never answer the TLS handshake
  /control/stall-handshake/off
  /control/root?path=DIR        serve the files of DIR from now on
  /control/requests             JSON list of the HTTPS requests so far
  /control/reset                the default certificate, no stall, no requests
  /control/ping

The control port also answers the content paths above in plain HTTP, so a
redirect to http would succeed if a client followed it.

Command line:
  https_server.py serve --root DIR --pki DIR [--port 443] [--control-port N]
                  [--lifetime S] [--pid-file F] [--wait-for-port S]
  https_server.py start ...   the same, detached; returns once it listens
  https_server.py stop --pid-file F   ends the server of that pid file

From Python:
  with HttpsTestServer(root, pki_dir, port=0) as server:
      server.port, server.control_port, server.set_certificate("untrusted")

Under CTest one server, started by the test run, serves the whole Windows
tier on port 443; its control port is in TAMSEL_TEST_SERVER_CONTROL_PORT.
End-to-end tests take it with serve_folder(root), which falls back to a server
of their own when none runs (a script started by hand):
  with serve_folder(folder) as server:
      server.set_certificate("wrongname"); server.requests()
"""
import argparse
import errno
import http.server
import json
import os
import signal
import socket
import ssl
import subprocess
import sys
import threading
import time
import urllib.parse
from pathlib import Path

HERE = Path(__file__).resolve().parent
CERTIFICATES = ("localhost", "untrusted", "wrongname")
STALL_SECONDS = 90  # longer than any client time-out under test
SOCKET_TIMEOUT = 120  # a client that goes silent does not hold a thread for ever

_BLOCK = bytes(i % 251 for i in range(251)) * 40  # 10040 bytes


def pattern(start: int, length: int) -> bytes:
    """Bytes start .. start+length of the endless pattern i % 251."""
    out = []
    while length > 0:
        n = min(length, len(_BLOCK) - 251)
        offset = start % 251
        out.append(_BLOCK[offset:offset + n])
        start += n
        length -= n
    return b"".join(out)


def ensure_pki(pki_dir) -> Path:
    """Makes the test PKI in pki_dir unless it is complete already (the Wine
    harness makes the same files with the same script)."""
    pki_dir = Path(pki_dir)
    if not (pki_dir / ".complete").exists():
        subprocess.run(["bash", str(HERE / "make_test_pki.sh"), str(pki_dir)], check=True,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
    return pki_dir


def _bind(address, wait_seconds: float) -> socket.socket:
    deadline = time.monotonic() + wait_seconds
    while True:
        sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            sock.bind(address)
            sock.listen(64)
            return sock
        except OSError as error:
            sock.close()
            if error.errno != errno.EADDRINUSE or time.monotonic() >= deadline:
                raise
            time.sleep(0.5)


class _Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, owner, sock: socket.socket, tls: bool):
        self.owner = owner
        self.tls = tls
        super().__init__(sock.getsockname(), _Handler, bind_and_activate=False)
        self.socket.close()
        self.socket = sock
        self.server_address = sock.getsockname()

    def finish_request(self, request, client_address):
        # Runs on the connection's own thread, so a slow or stalled handshake
        # holds up nobody else.
        request.settimeout(SOCKET_TIMEOUT)
        if not self.tls:
            self.RequestHandlerClass(request, client_address, self)
            return
        owner = self.owner
        if owner.stall_handshake:
            owner.stopping.wait(STALL_SECONDS)
            return
        try:
            tls_socket = owner.current_context().wrap_socket(request, server_side=True)
        except (OSError, ssl.SSLError):
            return  # refused by the client (untrusted, wrong name) or gone
        try:
            self.RequestHandlerClass(tls_socket, client_address, self)
        finally:
            try:
                tls_socket.close()
            except OSError:
                pass

    def handle_error(self, request, client_address):
        pass  # clients hanging up mid-answer are part of the tests


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "TamselTestServer"
    sys_version = ""

    def log_message(self, format, *args):  # noqa: A002 (the base class's name)
        if self.server.owner.verbose:
            sys.stderr.write("%s %s\n" % (self.server.tls and "https" or "http", format % args))

    def do_GET(self):
        owner = self.server.owner
        path = urllib.parse.urlsplit(self.path).path
        if self.server.tls:
            owner.record(self)
        elif path.startswith("/control/"):
            self._control(path[len("/control/"):])
            return
        parts = path.split("/")
        route = parts[1] if len(parts) > 1 else ""
        arg = parts[2] if len(parts) > 2 else ""
        rest = "/".join(parts[2:])
        if route in ("bytes", "unannounced", "chunked", "length-short", "length-long", "stall-body") and arg.isdigit():
            self._body(route, int(arg))
        elif route == "status" and arg.isdigit():
            self._status(int(arg))
        elif route == "stall-headers":
            owner.stopping.wait(STALL_SECONDS)
            self.close_connection = True
        elif route == "redirect-https":
            self._redirect("https://localhost:%d/%s" % (owner.port, rest))
        elif route == "redirect-http":
            self._redirect("http://localhost:%d/%s" % (owner.control_port, rest))
        elif route == "echo":
            text = self.requestline + "\r\n" + "".join("%s: %s\r\n" % item for item in self.headers.items())
            self._answer(200, text.encode("utf-8", "replace"), "text/plain")
        else:
            self._file(path)

    def _head(self, code: int, headers):
        self.send_response(code)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True

    def _answer(self, code: int, body: bytes, content_type="application/octet-stream"):
        self._head(code, [("Content-Type", content_type), ("Content-Length", str(len(body)))])
        self.wfile.write(body)

    def _body(self, route: str, n: int):
        owner = self.server.owner
        if route == "unannounced":
            self._head(200, [])
            self._send_pattern(0, n)
        elif route == "chunked":
            self._head(200, [("Transfer-Encoding", "chunked")])
            sent, size = 0, 1000
            while sent < n:
                piece = pattern(sent, min(size, n - sent))
                self.wfile.write(b"%x\r\n" % len(piece) + piece + b"\r\n")
                sent += len(piece)
                size = size * 3 + 7  # uneven sizes that do not line up with 8192
            self.wfile.write(b"0\r\n\r\n")
        elif route == "length-short":
            self._head(200, [("Content-Length", str(n))])
            self._send_pattern(0, max(n - 1, 0))
        elif route == "length-long":
            self._head(200, [("Content-Length", str(n))])
            self._send_pattern(0, n + 1000)
        elif route == "stall-body":
            self._head(200, [("Content-Length", str(n))])
            self._send_pattern(0, min(4096, n))
            self.wfile.flush()
            owner.stopping.wait(STALL_SECONDS)
        else:
            self._head(200, [("Content-Length", str(n))])
            self._send_pattern(0, n)

    def _send_pattern(self, start: int, n: int):
        while n > 0:
            piece = min(n, 65536)
            self.wfile.write(pattern(start, piece))
            start += piece
            n -= piece

    def _status(self, code: int):
        if code < 200 or code > 999:
            self._answer(400, b"no such status\n")
        elif code in (204, 304):
            self._head(code, [])
        else:
            self._answer(code, b"a body that must not be read\n" * 10, "text/plain")

    def _redirect(self, location: str):
        self._head(302, [("Location", location), ("Content-Length", "0")])

    def _file(self, path: str):
        root = self.server.owner.root
        if root is None:
            self._answer(404, b"not found\n", "text/plain")
            return
        relative = urllib.parse.unquote(path).lstrip("/")
        target = (root / relative).resolve()
        moved = target.with_name(target.name + ".redirect")
        if not target.exists() and moved.is_file() and root in moved.parents:
            self._redirect(moved.read_text().strip())
            return
        if (target != root and root not in target.parents) or not target.is_file():
            self._answer(404, b"not found\n", "text/plain")
            return
        self._answer(200, target.read_bytes())

    def _control(self, command: str):
        owner = self.server.owner
        words = command.split("/")
        if words[0] == "certificate" and len(words) == 2 and words[1] in CERTIFICATES:
            owner.set_certificate(words[1])
        elif words[0] == "stall-handshake" and len(words) == 2 and words[1] in ("on", "off"):
            owner.stall_handshake = words[1] == "on"
        elif words == ["root"]:
            folder = urllib.parse.parse_qs(urllib.parse.urlsplit(self.path).query).get("path", [""])[0]
            if not os.path.isabs(folder) or not os.path.isdir(folder):
                self._answer(400, b"root needs ?path= of an existing folder\n", "text/plain")
                return
            owner.set_root(folder)
        elif words == ["requests"]:
            self._answer(200, json.dumps(owner.requests()).encode(), "application/json")
            return
        elif words == ["reset"]:
            owner.reset()
        elif words != ["ping"]:
            self._answer(404, b"unknown command\n", "text/plain")
            return
        self._answer(200, b"ok\n", "text/plain")


class HttpsTestServer:
    """The server inside this process: start() binds and serves on threads,
    stop() ends it; it also ends by itself after `lifetime` seconds. Port 0
    picks a free port (see .port and .control_port)."""

    def __init__(self, root=None, pki_dir=None, port: int = 443, control_port: int = 0,
                 lifetime: float = 600, wait_for_port: float = 0, verbose: bool = False):
        if pki_dir is None:
            build_dir = Path(os.environ.get("TAMSEL_BUILD_DIR", HERE.parents[1] / "build" / "mingw"))
            pki_dir = build_dir / "test-pki"
        self.set_root(root)
        self.pki_dir = ensure_pki(pki_dir)
        self.port = port
        self.control_port = control_port
        self.lifetime = lifetime
        self.wait_for_port = wait_for_port
        self.verbose = verbose
        self.stopping = threading.Event()
        self.stall_handshake = False
        self._lock = threading.Lock()
        self._requests = []
        self._contexts = {}
        for name in CERTIFICATES:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(str(self.pki_dir / f"{name}.pem"), str(self.pki_dir / f"{name}.key"))
            self._contexts[name] = context
        self._certificate = "localhost"
        self._servers = []
        self._threads = []
        self._timer = None

    # --- what tests change and read
    def set_certificate(self, name: str):
        if name not in CERTIFICATES:
            raise ValueError(name)
        self._certificate = name

    def set_root(self, root):
        self.root = Path(root).resolve() if root is not None else None

    def current_context(self) -> ssl.SSLContext:
        return self._contexts[self._certificate]

    def record(self, handler):
        with self._lock:
            self._requests.append({
                "method": handler.command,
                "path": handler.path,
                "version": handler.request_version,
                "headers": [[k, v] for k, v in handler.headers.items()],
            })

    def requests(self):
        with self._lock:
            return list(self._requests)

    def reset(self):
        self._certificate = "localhost"
        self.stall_handshake = False
        with self._lock:
            self._requests.clear()

    # --- life cycle
    def start(self):
        https_socket = _bind(("127.0.0.1", self.port), self.wait_for_port)
        try:
            control_socket = _bind(("127.0.0.1", self.control_port), self.wait_for_port)
        except OSError:
            https_socket.close()
            raise
        self.port = https_socket.getsockname()[1]
        self.control_port = control_socket.getsockname()[1]
        self._servers = [_Server(self, https_socket, tls=True), _Server(self, control_socket, tls=False)]
        for server in self._servers:
            thread = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.2}, daemon=True)
            thread.start()
            self._threads.append(thread)
        timer = threading.Timer(self.lifetime, self.stop)
        timer.daemon = True
        timer.start()
        self._timer = timer
        return self

    def stop(self):
        self.stopping.set()
        servers, self._servers = self._servers, []
        for server in servers:
            server.shutdown()
            server.server_close()
        if self._timer is not None and threading.current_thread() is not self._timer:
            self._timer.cancel()

    def wait(self):
        """Blocks until the server has been stopped (or its lifetime ended)."""
        self.stopping.wait()

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()
        return False


class RemoteTestServer:
    """The test run's shared server, driven through its control port with the
    same methods as HttpsTestServer."""

    def __init__(self, control_port: int, port: int = 443):
        self.port = port
        self.control_port = control_port

    def _control(self, command: str) -> bytes:
        import urllib.request
        url = "http://127.0.0.1:%d/control/%s" % (self.control_port, command)
        with urllib.request.urlopen(url, timeout=10) as answer:
            return answer.read()

    def ping(self) -> bool:
        try:
            return self._control("ping") == b"ok\n"
        except OSError:
            return False

    def set_root(self, root):
        self._control("root?path=" + urllib.parse.quote(str(Path(root).resolve())))

    def set_certificate(self, name: str):
        self._control("certificate/" + name)

    @property
    def stall_handshake(self):
        raise AttributeError("write-only on the shared server")

    @stall_handshake.setter
    def stall_handshake(self, on: bool):
        self._control("stall-handshake/" + ("on" if on else "off"))

    def requests(self):
        return json.loads(self._control("requests"))

    def reset(self):
        self._control("reset")

    def start(self):
        return self

    def stop(self):
        self.reset()  # the test run stops the shared server itself

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
        return False


def serve_folder(root, lifetime: float = 600):
    """The server an end-to-end test uses: the test run's shared one, set to
    serve `root`, or else one of its own on port 443 (use it with `with`)."""
    control = os.environ.get("TAMSEL_TEST_SERVER_CONTROL_PORT")
    if control:
        shared = RemoteTestServer(int(control))
        if shared.ping():
            shared.reset()
            shared.set_root(root)
            return shared
    return HttpsTestServer(root, lifetime=lifetime, wait_for_port=60)


# --- command line: serve in the foreground, start detached, stop by pid file

def _serve(args) -> int:
    server = HttpsTestServer(args.root, args.pki, port=args.port, control_port=args.control_port,
                             lifetime=args.lifetime, wait_for_port=args.wait_for_port, verbose=True)
    signal.signal(signal.SIGTERM, lambda *_: server.stopping.set())
    signal.signal(signal.SIGINT, lambda *_: server.stopping.set())
    server.start()
    if args.pid_file:
        temporary = args.pid_file + ".tmp"
        Path(temporary).write_text("%d\n" % os.getpid())
        os.replace(temporary, args.pid_file)
    print("listening on https://localhost:%d, control http://localhost:%d" % (server.port, server.control_port),
          file=sys.stderr, flush=True)
    try:
        server.wait()
    finally:
        server.stop()
        if args.pid_file:
            try:
                if Path(args.pid_file).read_text().strip() == str(os.getpid()):
                    os.remove(args.pid_file)
            except OSError:
                pass
    return 0


def _is_our_server(pid: int, pid_file: str) -> bool:
    try:
        command = Path(f"/proc/{pid}/cmdline").read_bytes().split(b"\0")
    except OSError:
        return False
    return any(b"https_server.py" in word for word in command) and os.fsencode(pid_file) in command


def _start(args) -> int:
    if not args.pid_file:
        print("start needs --pid-file", file=sys.stderr)
        return 2
    pid_file = os.path.abspath(args.pid_file)
    try:
        os.remove(pid_file)
    except FileNotFoundError:
        pass
    log = open(pid_file + ".log", "w")
    command = [sys.executable, os.path.abspath(__file__), "serve", "--pki", args.pki, "--port", str(args.port),
               "--control-port", str(args.control_port), "--lifetime", str(args.lifetime),
               "--wait-for-port", str(args.wait_for_port), "--pid-file", pid_file]
    if args.root:
        command += ["--root", args.root]
    # Detached, with none of our pipes: CTest waits for the pipes of a test
    # to close, and this server outlives the test that starts it.
    process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=log, stderr=log, start_new_session=True)
    log.close()
    deadline = time.monotonic() + args.wait_for_port + 30
    while time.monotonic() < deadline:
        if process.poll() is not None:
            print("the server ended at once; see " + pid_file + ".log", file=sys.stderr)
            sys.stderr.write(Path(pid_file + ".log").read_text())
            return 1
        if os.path.exists(pid_file):
            print("server %d listening" % process.pid)
            return 0
        time.sleep(0.1)
    print("the server did not come up in time; ending it", file=sys.stderr)
    process.terminate()
    return 1


def _stop(args) -> int:
    pid_file = os.path.abspath(args.pid_file)
    try:
        pid = int(Path(pid_file).read_text().strip())
    except (OSError, ValueError):
        print("no server running (no pid file)")
        return 0
    if not _is_our_server(pid, pid_file):
        print("pid %d is not the server of %s; leaving it alone" % (pid, pid_file))
        os.remove(pid_file)
        return 0
    os.kill(pid, signal.SIGTERM)
    deadline = time.monotonic() + 15
    while time.monotonic() < deadline and _is_our_server(pid, pid_file):
        time.sleep(0.1)
    if _is_our_server(pid, pid_file):
        os.kill(pid, signal.SIGKILL)
    print("server %d stopped" % pid)
    return 0


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description="local HTTPS test server")
    sub = parser.add_subparsers(dest="action", required=True)
    for action in ("serve", "start"):
        p = sub.add_parser(action)
        p.add_argument("--root", help="folder whose files are served")
        p.add_argument("--pki", required=True, help="test PKI folder (made when missing)")
        p.add_argument("--port", type=int, default=443)
        p.add_argument("--control-port", type=int, default=0)
        p.add_argument("--lifetime", type=float, default=600, help="seconds until it stops by itself")
        p.add_argument("--wait-for-port", type=float, default=0, help="seconds to wait for a busy port")
        p.add_argument("--pid-file")
    p = sub.add_parser("stop")
    p.add_argument("--pid-file", required=True)
    args = parser.parse_args(argv)
    if args.action == "serve":
        return _serve(args)
    if args.action == "start":
        return _start(args)
    return _stop(args)


if __name__ == "__main__":
    sys.exit(main())
