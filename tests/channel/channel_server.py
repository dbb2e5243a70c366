#!/usr/bin/env python3
"""Scriptable HTTPS release-channel server for the installer's tests.

Serves a channel directory over HTTPS (by default on 127.0.0.1:443): the URL path
/desktop/win/latest.yml is the file <root>/desktop/win/latest.yml. Only the Python
standard library is used. Never ship or expose this: the certificates are test keys.

    channel_server.py --state DIR --root CHANNEL_DIR [--port 443] [--lifetime 1800]

Normal serving
    GET and HEAD over HTTP/1.1 with keep-alive. Every answer carries Content-Length.
    A file gets a strong ETag made from its content and modification time. "Range:
    bytes=N-" (and "bytes=N-M") gives 206 with "Content-Range: bytes N-(size-1)/size";
    a start at or past the size gives 416 with "Content-Range: bytes */size". If-Range
    with the current ETag keeps the range; any other value (a weak tag, a date, an old
    tag) gives 200 with the whole file. Missing files, directories and paths leaving
    the root give 404. The query string is ignored for the file lookup.

State directory (--state DIR)
    DIR/server.pid      the server's pid, written at start, removed on a clean exit
    DIR/ready           written once listening; holds the port number
    DIR/requests.jsonl  one JSON object per request, appended and flushed before the
                        answer is sent: {"seq", "time", "connection", "method", "path"
                        (with query), "version", "headers" ([name, value] pairs in the
                        order and spelling the client sent), "server_name" (TLS SNI or
                        null), "action" (the script action used, or null)}
    DIR/script.json     the script: a JSON array of actions (below). Each request takes
                        the first action under a lock and writes the rest back; with no
                        script or an empty array it is served normally. Replace the file
                        atomically (write a temporary file, then rename) from tests.
    DIR/bad-cert        while this file exists, new TLS handshakes present a self-signed
                        certificate for localhost (tests/pki/untrusted-localhost.pem)
                        that no trust store holds.

Script actions (JSON objects; every key besides "action" is optional)
    Common to all:   "times": N        the action answers N requests in a row (default 1)
                     "headers": {...}  extra response headers; a null value removes a
                                       header the server would send (e.g. "Accept-Ranges")
                     "header_delay_ms" wait before the status line is sent

    {"action": "status", "status": 503, "body": "short text"}
        A plain answer with that status and body (default empty), e.g. 503, 429, 404,
        416, 500. "body_base64" gives binary bytes instead of "body".

    {"action": "redirect", "status": 302, "location": "https://..."}
        Any 3xx (default 302) with the Location text as given: absolute, relative,
        http, another host. Without "location" (or with null) no Location header is
        sent. A redirect chain is several redirect actions in a row.

    {"action": "drop", "close": "clean"}
        Reads the request and closes the connection without an answer.

    {"action": "serve", ...}
        Normal serving, changed by these keys:
        "file": "desktop/win/other.exe"   serve this root-relative file instead
        "body" / "body_base64"            serve these bytes instead of a file
        "status": 200|206|...             the status sent. 200 ignores a Range (whole
                                          body from byte 0); 206 without a Range serves
                                          the whole body as "bytes 0-(size-1)/size"
        "offset": N                       the body starts at byte N whatever the client
                                          asked (Content-Range follows unless given)
        "etag": "\"v2\"" | null           the ETag sent and compared with If-Range,
                                          exactly as given; null sends none (and then
                                          no If-Range matches)
        "content_range": "text" | null    the Content-Range text instead of the computed
                                          one (e.g. "bytes 5-9/*"); null omits it
        "content_length": N | null        the announced length instead of the real one;
                                          null omits the header (the body then ends at
                                          connection close)
        "extra_bytes": N                  N filler bytes ("Z") after the body, counted
                                          in Content-Length unless that is overridden
        "stop_after": N                   send only N body bytes, then close
        "chunk_size": N, "delay_ms": M    send the body in N-byte pieces, M ms apart
        "close": "clean" | "reset"        how the connection ends when the answer is
                                          abnormal (stop_after, a wrong length, extra
                                          bytes, no length) or after "drop": "clean"
                                          sends TLS close_notify and FIN, "reset" sends
                                          neither, only a TCP RST (a dropped link)

    Examples:
        [{"action": "status", "status": 503, "times": 4}]
        [{"action": "redirect", "location": "https://localhost/a"},
         {"action": "serve", "etag": "\\"changed\\""}]
        [{"action": "serve", "stop_after": 1000, "close": "reset"}]

    An action that does not fit this format is answered with 500 and a message on
    stderr and in the body; it stays in the script, so the test fails loudly.

Lifecycle: exits 0 after --lifetime seconds or on SIGTERM/SIGINT; exits 1 with a message
on stderr when the port is taken or the inputs are missing; prints "ready" once listening.
"""

import argparse
import base64
import hashlib
import http.server
import json
import os
import signal
import socket
import socketserver
import ssl
import struct
import sys
import tempfile
import threading
import time
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
PKI = os.path.normpath(os.path.join(HERE, "..", "pki"))

COMMON_KEYS = {"action", "times", "headers", "header_delay_ms"}
ACTION_KEYS = {
    "status": COMMON_KEYS | {"status", "body", "body_base64"},
    "redirect": COMMON_KEYS | {"status", "location"},
    "drop": COMMON_KEYS | {"close"},
    "serve": COMMON_KEYS | {"file", "body", "body_base64", "status", "offset", "etag",
                            "content_range", "content_length", "extra_bytes", "stop_after",
                            "chunk_size", "delay_ms", "close"},
}
NULLABLE_KEYS = {"location", "etag", "content_range", "content_length"}
INT_KEYS = {"times", "status", "header_delay_ms", "offset", "content_length",
            "extra_bytes", "stop_after", "chunk_size", "delay_ms"}
STRING_KEYS = {"body", "body_base64", "location", "file", "etag", "content_range"}

READ_PIECE = 65536


class ScriptError(Exception):
    """A script action that does not fit the documented format."""


def validate_action(action):
    """Raises ScriptError unless the action fits the format documented above."""
    if not isinstance(action, dict):
        raise ScriptError("action is not a JSON object: %r" % (action,))
    kind = action.get("action")
    if kind not in ACTION_KEYS:
        raise ScriptError("unknown action %r (use status, redirect, drop or serve)" % (kind,))
    unknown = set(action) - ACTION_KEYS[kind]
    if unknown:
        raise ScriptError("unknown key(s) %s for action %r" % (sorted(unknown), kind))
    for key, value in action.items():
        if value is None:
            if key not in NULLABLE_KEYS:
                raise ScriptError("%r may not be null" % key)
            continue
        if key in INT_KEYS and (not isinstance(value, int) or isinstance(value, bool) or value < 0):
            raise ScriptError("%r must be a non-negative integer" % key)
        if key in STRING_KEYS and not isinstance(value, str):
            raise ScriptError("%r must be a string" % key)
    if kind == "status" and "status" not in action:
        raise ScriptError("a status action needs 'status'")
    if "times" in action and action["times"] < 1:
        raise ScriptError("'times' must be at least 1")
    if "status" in action and not 100 <= action["status"] <= 999:
        raise ScriptError("'status' must be a three-digit HTTP status")
    if kind == "redirect" and "status" in action and not 300 <= action["status"] <= 399:
        raise ScriptError("a redirect needs a 3xx status")
    if "body" in action and "body_base64" in action:
        raise ScriptError("give 'body' or 'body_base64', not both")
    if kind == "serve" and "file" in action and ("body" in action or "body_base64" in action):
        raise ScriptError("give 'file' or a body, not both")
    if "chunk_size" in action and action["chunk_size"] < 1:
        raise ScriptError("'chunk_size' must be at least 1")
    if action.get("close", "clean") not in ("clean", "reset"):
        raise ScriptError("'close' must be \"clean\" or \"reset\"")
    headers = action.get("headers", {})
    if not isinstance(headers, dict) or not all(
            isinstance(v, str) or v is None for v in headers.values()):
        raise ScriptError("'headers' must map names to strings or null")
    if "body_base64" in action:
        try:
            base64.b64decode(action["body_base64"], validate=True)
        except ValueError as e:
            raise ScriptError("'body_base64' is not Base64: %s" % e)


def action_body(action):
    """The inline bytes of an action, or None when it has none."""
    if "body_base64" in action:
        return base64.b64decode(action["body_base64"])
    if "body" in action:
        return action["body"].encode("utf-8")
    return None


class Entity:
    """Bytes to serve: a file (read piecewise, never held whole) or inline bytes."""

    def __init__(self, size, etag, path=None, data=None):
        self.size = size
        self.etag = etag
        self.path = path
        self.data = data

    def pieces(self, start, length):
        """Yields the bytes [start, start+length) in pieces of at most READ_PIECE."""
        if length <= 0:
            return
        if self.data is not None:
            view = memoryview(self.data)[start:start + length]
            for i in range(0, len(view), READ_PIECE):
                yield bytes(view[i:i + READ_PIECE])
            return
        with open(self.path, "rb") as f:
            f.seek(start)
            left = length
            while left > 0:
                piece = f.read(min(READ_PIECE, left))
                if not piece:
                    break  # the file shrank under us; the client sees a short body
                left -= len(piece)
                yield piece


class ChannelState:
    """Everything shared between request threads: the script, the record and caches."""

    def __init__(self, state_dir, root_dir):
        self.state_dir = state_dir
        self.root_dir = os.path.realpath(root_dir)
        self.lock = threading.Lock()
        self.seq = 0
        self.connections = 0
        self.etag_cache = {}
        self.script_path = os.path.join(state_dir, "script.json")
        self.record_path = os.path.join(state_dir, "requests.jsonl")
        self.bad_cert_path = os.path.join(state_dir, "bad-cert")

    def next_connection_id(self):
        with self.lock:
            self.connections += 1
            return self.connections

    def take_action_and_record(self, record, consume=True):
        """Takes the first script action and appends the request record, in one step.

        Both happen under one lock so that the record's order is the order in which
        actions were handed out. Returns the action, None, or raises ScriptError.
        """
        with self.lock:
            self.seq += 1
            record["seq"] = self.seq
            error = None
            action = None
            try:
                action = self._take_action() if consume else None
            except ScriptError as e:
                error = str(e)
            record["action"] = action
            if error is not None:
                record["script_error"] = error
            # Opened and closed (so flushed) per request, so that a test sees the line
            # before the answer and may truncate or delete the file between requests.
            with open(self.record_path, "a", encoding="utf-8") as f:
                f.write(json.dumps(record, ensure_ascii=False) + "\n")
            if error is not None:
                raise ScriptError(error)
            return action

    def _take_action(self):
        try:
            with open(self.script_path, "r", encoding="utf-8") as f:
                text = f.read()
        except FileNotFoundError:
            return None
        if not text.strip():
            return None
        try:
            script = json.loads(text)
        except ValueError as e:
            raise ScriptError("script.json is not JSON: %s" % e)
        if not isinstance(script, list):
            raise ScriptError("script.json must hold a JSON array of actions")
        if not script:
            return None
        action = script[0]
        validate_action(action)
        times = action.get("times", 1)
        if times > 1:
            script[0] = dict(action, times=times - 1)
        else:
            script.pop(0)
        fd, tmp = tempfile.mkstemp(prefix=".script-", dir=self.state_dir)
        with os.fdopen(fd, "w", encoding="utf-8") as f:
            json.dump(script, f, indent=1)
        os.replace(tmp, self.script_path)
        return action

    def resolve(self, url_path):
        """Maps a URL path (without query) to a file under the root, or None."""
        rel = urllib.parse.unquote(url_path).lstrip("/")
        full = os.path.realpath(os.path.join(self.root_dir, rel))
        if full != self.root_dir and not full.startswith(self.root_dir + os.sep):
            return None
        if not os.path.isfile(full):
            return None
        return full

    def file_entity(self, path):
        """A file's entity with its strong ETag (content + mtime), hashed once per version."""
        st = os.stat(path)
        # ctime too: a rewrite that keeps size and mtime (utime) must still change the tag.
        key = (path, st.st_ino, st.st_size, st.st_mtime_ns, st.st_ctime_ns)
        with self.lock:
            etag = self.etag_cache.get(key)
        if etag is None:
            h = hashlib.sha256(str(st.st_mtime_ns).encode("ascii") + b"\0")
            with open(path, "rb") as f:
                for piece in iter(lambda: f.read(1 << 20), b""):
                    h.update(piece)
            etag = '"%s"' % h.hexdigest()[:32]
            with self.lock:
                self.etag_cache[key] = etag
        return Entity(st.st_size, etag, path=path)


def parse_range(value):
    """The first and last byte of a single "bytes=a-" / "bytes=a-b" range, else None.

    Other forms (suffix, several ranges, junk) are ignored as a server may do, which
    means the whole body is sent with 200.
    """
    if value is None:
        return None
    value = value.strip()
    if not value.lower().startswith("bytes="):
        return None
    byte_range = value[6:].strip()
    if "-" not in byte_range:
        return None
    first, last = (part.strip() for part in byte_range.split("-", 1))
    if not first.isdigit() or (last and not last.isdigit()):
        return None
    first = int(first)
    last = int(last) if last else None
    if last is not None and last < first:
        return None
    return first, last


class ChannelHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "TavroTestChannel/1.0"
    sys_version = ""
    # Idle keep-alive connections and stuck clients are dropped after this.
    timeout = 120

    def setup(self):
        super().setup()
        self.connection_id = self.server.state.next_connection_id()
        # The handshake runs here, on the connection's own thread, so one slow or
        # failing client cannot hold up the accept loop.
        self.request.do_handshake()

    def log_message(self, format, *args):
        sys.stderr.write("channel_server: [%d] %s %s\n" % (
            getattr(self, "connection_id", 0), self.address_string(), format % args))

    def do_GET(self):
        self.answer(head=False)

    def do_HEAD(self):
        self.answer(head=True)

    def do_POST(self):
        self.answer(head=False, allowed=False)

    do_PUT = do_DELETE = do_OPTIONS = do_PATCH = do_POST

    # -- request entry ---------------------------------------------------------------

    def answer(self, head, allowed=True):
        state = self.server.state
        record = {
            "seq": 0,
            "time": time.time(),
            "connection": self.connection_id,
            "method": self.command,
            "path": self.path,
            "version": self.request_version,
            "headers": [[name, value] for name, value in self.headers.items()],
            "server_name": getattr(self.request, "tavro_server_name", None),
        }
        try:
            # Other methods are recorded but leave the script alone: the client under
            # test only ever sends GET.
            action = state.take_action_and_record(record, consume=allowed)
        except ScriptError as e:
            message = "channel_server: bad script action: %s" % e
            sys.stderr.write(message + "\n")
            sys.stderr.flush()
            self.send_plain(500, message.encode("utf-8"), {}, head)
            return
        if not allowed:
            self.send_plain(405, b"", {"Allow": "GET, HEAD"}, head)
            return
        if action is None:
            action = {"action": "serve"}
        delay = action.get("header_delay_ms", 0)
        if delay:
            time.sleep(delay / 1000.0)
        kind = action["action"]
        extra = action.get("headers", {})
        if kind == "status":
            self.send_plain(action["status"], action_body(action) or b"", extra, head)
        elif kind == "redirect":
            headers = dict(extra)
            if action.get("location") is not None:
                headers = {"Location": action["location"], **extra}
            self.send_plain(action.get("status", 302), b"", headers, head)
        elif kind == "drop":
            self.end_connection(action.get("close", "clean"))
        else:
            self.serve(action, head)

    # -- answers ---------------------------------------------------------------------

    def send_plain(self, status, body, extra, head):
        headers = {"Content-Type": "text/plain; charset=utf-8", "Content-Length": str(len(body))}
        self.send_head(status, headers, extra)
        if not head:
            self.wfile.write(body)

    def send_head(self, status, headers, extra):
        """Sends the status line and headers; `extra` adds, replaces or (None) removes."""
        merged = {}
        for name, value in headers.items():
            merged[name.lower()] = (name, value)
        for name, value in extra.items():
            if value is None:
                merged.pop(name.lower(), None)
            else:
                merged[name.lower()] = (name, value)
        self.send_response_only(status)
        self.send_header("Date", self.date_time_string())
        for name, value in merged.values():
            self.send_header(name, value)
        self.end_headers()
        self.log_request(status)

    def serve(self, action, head):
        state = self.server.state
        entity = None
        inline = action_body(action)
        if inline is not None:
            etag = '"%s"' % hashlib.sha256(inline).hexdigest()[:32]
            entity = Entity(len(inline), etag, data=inline)
        else:
            url_path = urllib.parse.urlsplit(self.path).path
            if "file" in action:
                url_path = action["file"]
            path = state.resolve(url_path)
            if path is not None:
                entity = state.file_entity(path)
        if entity is None:
            self.send_plain(404, b"", action.get("headers", {}), head)
            return

        size = entity.size
        etag = action["etag"] if "etag" in action else entity.etag
        forced = action.get("status")

        wanted = parse_range(self.headers.get("Range"))
        if_range = self.headers.get("If-Range")
        if wanted is not None and if_range is not None:
            # Strong comparison: a weak or absent ETag never satisfies If-Range.
            if etag is None or etag.startswith("W/") or if_range.strip() != etag:
                wanted = None

        content_range = None
        if "offset" in action:
            start, end, status = action["offset"], size - 1, 206
        elif wanted is not None and forced != 200:
            if wanted[0] >= size:
                start, end, status = 0, -1, 416
                content_range = "bytes */%d" % size
            else:
                start = wanted[0]
                end = size - 1 if wanted[1] is None else min(wanted[1], size - 1)
                status = 206
        else:
            start, end, status = 0, size - 1, 200
        if forced is not None:
            status = forced
        if status == 206 and content_range is None:
            content_range = "bytes %d-%d/%d" % (start, end, size)
        if "content_range" in action:
            content_range = action["content_range"]

        body_length = max(0, end - start + 1)
        extra_bytes = action.get("extra_bytes", 0)
        announced = body_length + extra_bytes
        if "content_length" in action:
            announced = action["content_length"]
        to_send = body_length + extra_bytes
        if "stop_after" in action:
            to_send = min(to_send, action["stop_after"])
        abnormal = announced is None or announced != to_send

        headers = {"Content-Type": "application/octet-stream", "Accept-Ranges": "bytes"}
        if announced is not None:
            headers["Content-Length"] = str(announced)
        if etag is not None:
            headers["ETag"] = etag
        if content_range is not None:
            headers["Content-Range"] = content_range
        if abnormal:
            headers["Connection"] = "close"
        self.send_head(status, headers, action.get("headers", {}))
        if head:
            return

        def stream():
            yield from entity.pieces(start, body_length)
            left = extra_bytes
            while left > 0:
                n = min(left, READ_PIECE)
                left -= n
                yield b"Z" * n

        self.send_body(stream(), to_send, action.get("chunk_size"), action.get("delay_ms", 0))
        if abnormal:
            self.end_connection(action.get("close", "clean"))

    def send_body(self, pieces, limit, chunk_size, delay_ms):
        """Writes at most `limit` bytes from `pieces`, optionally in paced chunks."""
        sent = 0
        first = True
        for piece in pieces:
            if sent >= limit:
                break
            piece = piece[:limit - sent]
            step = chunk_size or len(piece)
            for i in range(0, len(piece), step):
                if delay_ms and not first:
                    time.sleep(delay_ms / 1000.0)
                first = False
                self.wfile.write(piece[i:i + step])
            sent += len(piece)

    def end_connection(self, how):
        """Ends the connection now: "clean" with close_notify and FIN, "reset" with RST."""
        self.close_connection = True
        close_tls(self.request, how)


def close_tls(sock, how):
    """Closes a TLS connection: "clean" sends close_notify then FIN, "reset" only an RST."""
    try:
        if how == "reset":
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            sock.close()
            return
        # Non-blocking: send our close_notify without waiting for the client's.
        sock.settimeout(0.0)
        try:
            sock.unwrap()
        except (ssl.SSLError, OSError, ValueError):
            pass
        try:
            sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        sock.close()
    except OSError:
        pass


class ChannelServer(socketserver.ThreadingMixIn, socketserver.TCPServer):
    allow_reuse_address = True  # Linux still refuses a port that has a listener
    daemon_threads = True
    request_queue_size = 64

    def __init__(self, address, state, good_ctx):
        self.state = state
        self.good_ctx = good_ctx
        super().__init__(address, ChannelHandler)

    def get_request(self):
        sock, addr = self.socket.accept()
        tls = self.good_ctx.wrap_socket(sock, server_side=True, do_handshake_on_connect=False)
        return tls, addr

    def shutdown_request(self, request):
        # An answer that ends the connection ends it with close_notify, so a client
        # can tell a complete close-delimited body from a dropped link.
        close_tls(request, "clean")

    def handle_error(self, request, client_address):
        exc = sys.exc_info()[1]
        if isinstance(exc, (ssl.SSLError, ConnectionError, TimeoutError, socket.timeout, OSError)):
            # Clients under test abort connections on purpose (bad certificate, pause).
            sys.stderr.write("channel_server: connection from %s ended: %s\n" % (
                client_address[0], exc))
            return
        super().handle_error(request, client_address)


def make_contexts(state, cert, key, bad_cert, bad_key):
    """The normal TLS context and the one presented while DIR/bad-cert exists."""
    bad_ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    bad_ctx.load_cert_chain(bad_cert, bad_key)
    good_ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    good_ctx.load_cert_chain(cert, key)

    def choose(sslsock, server_name, _ctx):
        # OpenSSL calls this for every ClientHello, also one without SNI (name None),
        # so the switch works for clients that connect by IP address as well.
        sslsock.tavro_server_name = server_name
        if os.path.exists(state.bad_cert_path):
            sslsock.context = bad_ctx
        return None

    good_ctx.sni_callback = choose
    return good_ctx


def fail(message):
    sys.stderr.write("channel_server: %s\n" % message)
    sys.stderr.flush()
    sys.exit(1)


def write_file_atomically(path, text):
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(tmp, path)


def main(argv=None):
    parser = argparse.ArgumentParser(description="Scriptable HTTPS channel server for tests.")
    parser.add_argument("--state", required=True, help="state directory (script, record, pid)")
    parser.add_argument("--root", required=True, help="channel directory to serve")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=443, help="0 picks a free port")
    parser.add_argument("--lifetime", type=float, default=1800.0,
                        help="seconds until the server exits by itself")
    parser.add_argument("--cert", default=os.path.join(PKI, "localhost.pem"))
    parser.add_argument("--key", default=os.path.join(PKI, "localhost.TEST-KEY.pem"))
    parser.add_argument("--bad-cert", default=os.path.join(PKI, "untrusted-localhost.pem"))
    parser.add_argument("--bad-key", default=os.path.join(PKI, "untrusted-localhost.TEST-KEY.pem"))
    args = parser.parse_args(argv)

    if not os.path.isdir(args.root):
        fail("channel directory %s does not exist" % args.root)
    os.makedirs(args.state, exist_ok=True)
    state_dir = os.path.abspath(args.state)
    ready_path = os.path.join(state_dir, "ready")
    pid_path = os.path.join(state_dir, "server.pid")
    for stale in (ready_path,):
        try:
            os.remove(stale)
        except FileNotFoundError:
            pass

    state = ChannelState(state_dir, args.root)
    try:
        good_ctx = make_contexts(state, args.cert, args.key, args.bad_cert, args.bad_key)
    except (OSError, ssl.SSLError) as e:
        fail("cannot load the test certificates: %s" % e)

    try:
        server = ChannelServer((args.host, args.port), state, good_ctx)
    except OSError as e:
        if e.errno == 98:  # EADDRINUSE
            fail("cannot listen on %s:%d: the port is already in use" % (args.host, args.port))
        fail("cannot listen on %s:%d: %s" % (args.host, args.port, e))

    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())

    port = server.server_address[1]
    write_file_atomically(pid_path, "%d\n" % os.getpid())
    worker = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.2},
                              daemon=True)
    worker.start()
    write_file_atomically(ready_path, "%d\n" % port)
    print("ready", flush=True)
    sys.stderr.write("channel_server: serving %s on https://%s:%d/ (pid %d)\n" % (
        state.root_dir, args.host, port, os.getpid()))
    sys.stderr.flush()

    timed_out = not stop.wait(args.lifetime)
    sys.stderr.write("channel_server: %s, exiting\n" % (
        "lifetime over" if timed_out else "stop requested"))
    server.shutdown()
    server.server_close()
    for path in (ready_path, pid_path):
        try:
            os.remove(path)
        except FileNotFoundError:
            pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
