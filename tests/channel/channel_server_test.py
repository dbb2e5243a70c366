#!/usr/bin/env python3
"""Tests of the scriptable HTTPS channel server, run against a real server process.

The server runs on a free high port with its own state directory; clients trust only
the test root CA, so certificate checks are real.
"""

import base64
import concurrent.futures
import http.client
import json
import os
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER = os.path.join(HERE, "channel_server.py")
PKI = os.path.normpath(os.path.join(HERE, "..", "pki"))
ROOT_CA = os.path.join(PKI, "root-ca.pem")
GOOD_CERT = os.path.join(PKI, "localhost.pem")
BAD_CERT = os.path.join(PKI, "untrusted-localhost.pem")

FEED = b"version: 2.1.0\nfiles:\n  - url: https://localhost/desktop/win/setup.exe\n"
PACKAGE = bytes(range(200))          # 200 distinct-ish bytes, easy to slice
OTHER = b"the other file\n"


def cert_der(path):
    with open(path, "r", encoding="ascii") as f:
        return ssl.PEM_cert_to_DER_cert(f.read())


def start_server(state, root, port=0, lifetime=600, extra=()):
    """Starts a server process; returns (process, port) once it is ready."""
    os.makedirs(state, exist_ok=True)
    err = open(os.path.join(state, "stderr.log"), "ab")
    proc = subprocess.Popen(
        [sys.executable, SERVER, "--state", state, "--root", root, "--port", str(port),
         "--lifetime", str(lifetime), *extra],
        stdout=subprocess.PIPE, stderr=err)
    err.close()
    ready = os.path.join(state, "ready")
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        if proc.poll() is not None:
            raise RuntimeError("server exited with %d: %s" % (
                proc.returncode, read_text(os.path.join(state, "stderr.log"))))
        if os.path.exists(ready):
            text = read_text(ready)
            if text.endswith("\n"):
                return proc, int(text)
        time.sleep(0.02)
    proc.kill()
    raise RuntimeError("server did not become ready")


def stop_server(proc):
    if proc.poll() is None:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
    if proc.stdout:
        proc.stdout.close()


def read_text(path):
    with open(path, "r", encoding="utf-8") as f:
        return f.read()


def client_context():
    return ssl.create_default_context(cafile=ROOT_CA)


class ServerCase(unittest.TestCase):
    """One server for the whole class; every test starts from a clean state and root."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="channel-test-")
        cls.root = os.path.join(cls.tmp, "root")
        cls.state = os.path.join(cls.tmp, "state")
        os.makedirs(os.path.join(cls.root, "desktop", "win"))
        cls.proc, cls.port = start_server(cls.state, cls.root)

    @classmethod
    def tearDownClass(cls):
        stop_server(cls.proc)
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def setUp(self):
        for name in ("script.json", "requests.jsonl", "bad-cert"):
            try:
                os.remove(os.path.join(self.state, name))
            except FileNotFoundError:
                pass
        self.put("desktop/win/latest.yml", FEED)
        self.put("desktop/win/setup.exe", PACKAGE)
        self.put("desktop/win/other.bin", OTHER)

    # -- helpers ---------------------------------------------------------------------

    def put(self, rel, data):
        path = os.path.join(self.root, rel)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def script(self, actions):
        path = os.path.join(self.state, "script.json")
        with open(path + ".new", "w", encoding="utf-8") as f:
            f.write(actions if isinstance(actions, str) else json.dumps(actions))
        os.replace(path + ".new", path)

    def remaining_script(self):
        return json.loads(read_text(os.path.join(self.state, "script.json")))

    def records(self):
        path = os.path.join(self.state, "requests.jsonl")
        if not os.path.exists(path):
            return []
        return [json.loads(line) for line in read_text(path).splitlines()]

    def get(self, path, headers=None, method="GET", conn=None):
        """One request through http.client; returns (status, headers as dict, body)."""
        own = conn is None
        if own:
            conn = http.client.HTTPSConnection("localhost", self.port, context=client_context(),
                                               timeout=10)
        try:
            conn.request(method, path, headers=headers or {})
            resp = conn.getresponse()
            body = resp.read()
            return resp.status, {k.lower(): v for k, v in resp.getheaders()}, body
        finally:
            if own:
                conn.close()

    def raw(self, request, server_hostname="localhost"):
        """Sends raw request bytes; reads to the end. Returns (bytes, error or None).

        TLS runs over memory buffers so that the socket's own outcome is visible: a
        close_notify ends without error, a FIN without it gives SSLEOFError and an RST
        gives ConnectionResetError (ssl.SSLSocket reports both as SSLEOFError).
        """
        sock = socket.create_connection(("127.0.0.1", self.port), timeout=10)
        incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
        tls = client_context().wrap_bio(incoming, outgoing, server_hostname=server_hostname)
        data = b""
        error = None

        def flush():
            pending = outgoing.read()
            if pending:
                sock.sendall(pending)

        def pump(operation, *args):
            while True:
                try:
                    result = operation(*args)
                    flush()
                    return result
                except ssl.SSLWantReadError:
                    flush()
                    piece = sock.recv(65536)
                    if piece:
                        incoming.write(piece)
                    else:
                        incoming.write_eof()

        try:
            pump(tls.do_handshake)
            pump(tls.write, request)
            while True:
                piece = pump(tls.read, 65536)
                if not piece:
                    break
                data += piece
        except ssl.SSLZeroReturnError:
            pass
        except (OSError, ssl.SSLError) as e:
            error = e
        finally:
            sock.close()
        return data, error

    @staticmethod
    def split(data):
        """Splits one raw response into (status, headers lower-cased, body)."""
        head, _, body = data.partition(b"\r\n\r\n")
        lines = head.decode("latin-1").split("\r\n")
        status = int(lines[0].split()[1])
        headers = {}
        for line in lines[1:]:
            name, _, value = line.partition(":")
            headers[name.strip().lower()] = value.strip()
        return status, headers, body

    def etag_of(self, path):
        status, headers, _ = self.get(path)
        self.assertEqual(status, 200)
        return headers["etag"]


class NormalServingTest(ServerCase):

    def test_serves_file_with_length_and_a_stable_strong_etag(self):
        status, headers, body = self.get("/desktop/win/latest.yml")
        self.assertEqual(status, 200)
        self.assertEqual(body, FEED)
        self.assertEqual(headers["content-length"], str(len(FEED)))
        self.assertRegex(headers["etag"], r'^"[^"]+"$')
        self.assertNotIn("content-range", headers)
        self.assertEqual(self.etag_of("/desktop/win/latest.yml"), headers["etag"])
        self.assertNotEqual(self.etag_of("/desktop/win/setup.exe"), headers["etag"])

    def test_etag_changes_with_content_and_with_mtime(self):
        path = self.put("desktop/win/setup.exe", PACKAGE)
        os.utime(path, ns=(1_600_000_000_000_000_000, 1_600_000_000_000_000_000))
        first = self.etag_of("/desktop/win/setup.exe")
        os.utime(path, ns=(1_600_000_000_000_000_000, 1_600_000_001_000_000_000))
        touched = self.etag_of("/desktop/win/setup.exe")
        self.put("desktop/win/setup.exe", PACKAGE[::-1])
        os.utime(path, ns=(1_600_000_000_000_000_000, 1_600_000_001_000_000_000))
        changed = self.etag_of("/desktop/win/setup.exe")
        self.assertEqual(len({first, touched, changed}), 3)

    def test_range_and_if_range(self):
        etag = self.etag_of("/desktop/win/setup.exe")
        cases = [
            # request headers, status, Content-Range, body
            ({"Range": "bytes=0-"}, 206, "bytes 0-199/200", PACKAGE),
            ({"Range": "bytes=100-"}, 206, "bytes 100-199/200", PACKAGE[100:]),
            ({"Range": "bytes=199-"}, 206, "bytes 199-199/200", PACKAGE[199:]),
            ({"Range": "bytes=10-19"}, 206, "bytes 10-19/200", PACKAGE[10:20]),
            ({"Range": "bytes=200-"}, 416, "bytes */200", b""),
            ({"Range": "bytes=5000-"}, 416, "bytes */200", b""),
            ({"Range": "bytes=100-", "If-Range": etag}, 206, "bytes 100-199/200", PACKAGE[100:]),
            ({"Range": "bytes=100-", "If-Range": '"older"'}, 200, None, PACKAGE),
            ({"Range": "bytes=100-", "If-Range": "W/" + etag}, 200, None, PACKAGE),
            ({"Range": "bytes=100-", "If-Range": etag.strip('"')}, 200, None, PACKAGE),
            ({"If-Range": etag}, 200, None, PACKAGE),
            ({"Range": "bytes=-50"}, 200, None, PACKAGE),
            ({"Range": "bytes=0-9,20-29"}, 200, None, PACKAGE),
        ]
        for headers, status, content_range, body in cases:
            with self.subTest(headers=headers):
                got_status, got_headers, got_body = self.get("/desktop/win/setup.exe", headers)
                self.assertEqual(got_status, status)
                self.assertEqual(got_headers.get("content-range"), content_range)
                self.assertEqual(got_body, body)
                self.assertEqual(got_headers["content-length"], str(len(body)))

    def test_missing_directory_and_escaping_paths_give_404(self):
        with open(os.path.join(self.tmp, "outside.txt"), "wb") as f:
            f.write(b"secret")
        for path in ("/desktop/win/nope.yml", "/desktop/win", "/", "/../outside.txt",
                     "/desktop/%2e%2e/%2e%2e/outside.txt", "/desktop/win/../../../outside.txt"):
            with self.subTest(path=path):
                status, headers, body = self.get(path)
                self.assertEqual(status, 404)
                self.assertEqual(headers["content-length"], str(len(body)))
                self.assertNotIn(b"secret", body)

    def test_query_is_ignored_for_the_file_and_kept_in_the_record(self):
        status, _, body = self.get("/desktop/win/latest.yml?channel=beta&x=%20")
        self.assertEqual((status, body), (200, FEED))
        self.assertEqual(self.records()[0]["path"], "/desktop/win/latest.yml?channel=beta&x=%20")

    def test_keep_alive_serves_several_requests_on_one_connection(self):
        conn = http.client.HTTPSConnection("localhost", self.port, context=client_context(),
                                           timeout=10)
        try:
            first = self.get("/desktop/win/latest.yml", conn=conn)
            second = self.get("/desktop/win/setup.exe", {"Range": "bytes=150-"}, conn=conn)
        finally:
            conn.close()
        self.assertEqual((first[0], first[2]), (200, FEED))
        self.assertEqual((second[0], second[2]), (206, PACKAGE[150:]))
        conns = [r["connection"] for r in self.records()]
        self.assertEqual(len(conns), 2)
        self.assertEqual(conns[0], conns[1])

    def test_head_sends_headers_without_body(self):
        data, error = self.raw(b"HEAD /desktop/win/setup.exe HTTP/1.1\r\nHost: localhost\r\n"
                               b"Connection: close\r\n\r\n")
        self.assertIsNone(error)
        status, headers, body = self.split(data)
        self.assertEqual((status, headers["content-length"], body), (200, "200", b""))


class ScriptTest(ServerCase):

    def test_status_actions_repeat_then_fall_back_to_normal_serving(self):
        self.script([{"action": "status", "status": 503, "body": "busy", "times": 2},
                     {"action": "status", "status": 429, "headers": {"Retry-After": "1"}}])
        first = self.get("/desktop/win/latest.yml")
        self.assertEqual(self.remaining_script()[0]["times"], 1)
        second = self.get("/desktop/win/latest.yml")
        third = self.get("/desktop/win/latest.yml")
        fourth = self.get("/desktop/win/latest.yml")
        self.assertEqual((first[0], first[2], first[1]["content-length"]), (503, b"busy", "4"))
        self.assertEqual((second[0], second[2]), (503, b"busy"))
        self.assertEqual((third[0], third[2], third[1]["retry-after"]), (429, b"", "1"))
        self.assertEqual((fourth[0], fourth[2]), (200, FEED))
        self.assertEqual(self.remaining_script(), [])

    def test_plain_statuses(self):
        for status in (404, 416, 500, 503, 429, 200):
            with self.subTest(status=status):
                self.script([{"action": "status", "status": status, "body_base64": "AAE="}])
                got = self.get("/desktop/win/setup.exe", {"Range": "bytes=3-"})
                self.assertEqual((got[0], got[2]), (status, b"\x00\x01"))
                self.assertNotIn("content-range", got[1])

    def test_redirects_send_the_location_text_unchanged_or_none(self):
        cases = [
            (301, "https://127.0.0.1/desktop/win/latest.yml"),
            (302, "https://untrusted.example/desktop/win/latest.yml"),
            (303, "http://localhost/desktop/win/latest.yml"),
            (307, "desktop/win/latest.yml"),
            (308, "/desktop/win/latest.yml?a=1#frag"),
            (302, ""),
            (399, None),
        ]
        for status, location in cases:
            with self.subTest(status=status, location=location):
                action = {"action": "redirect", "status": status}
                if location is not None:
                    action["location"] = location
                self.script([action])
                got_status, headers, body = self.get("/desktop/win/latest.yml")
                self.assertEqual((got_status, body, headers["content-length"]), (status, b"", "0"))
                self.assertEqual(headers.get("location"), location)
        self.script([{"action": "redirect", "location": None}])
        status, headers, _ = self.get("/desktop/win/latest.yml")
        self.assertEqual((status, headers.get("location")), (302, None))

    def test_redirect_chain_is_consumed_one_hop_per_request(self):
        self.script([{"action": "redirect", "location": "https://localhost/hop%d" % i}
                     for i in range(6)] + [{"action": "serve", "file": "desktop/win/other.bin"}])
        locations = [self.get("/start")[1]["location"] for _ in range(6)]
        self.assertEqual(locations, ["https://localhost/hop%d" % i for i in range(6)])
        self.assertEqual(self.get("/desktop/win/latest.yml")[2], OTHER)
        self.assertEqual(self.get("/desktop/win/latest.yml")[2], FEED)

    def test_serve_modifiers(self):
        etag = self.etag_of("/desktop/win/setup.exe")
        other_etag = self.etag_of("/desktop/win/other.bin")
        ranged = {"Range": "bytes=100-"}
        # action, request headers, status, expected headers (None: absent), body
        cases = [
            ({"content_range": "bytes 100-199/*"}, ranged, 206,
             {"content-range": "bytes 100-199/*"}, PACKAGE[100:]),
            ({"content_range": "bytes 100-149/200"}, ranged, 206,
             {"content-range": "bytes 100-149/200", "content-length": "100"}, PACKAGE[100:]),
            ({"content_range": None}, ranged, 206, {"content-range": None}, PACKAGE[100:]),
            ({"status": 200}, ranged, 200, {"content-range": None}, PACKAGE),
            ({"status": 206}, {}, 206, {"content-range": "bytes 0-199/200"}, PACKAGE),
            ({"offset": 99}, ranged, 206, {"content-range": "bytes 99-199/200"}, PACKAGE[99:]),
            ({"etag": None}, {}, 200, {"etag": None}, PACKAGE),
            ({"etag": None}, dict(ranged, **{"If-Range": etag}), 200, {"content-range": None},
             PACKAGE),
            ({"etag": '"v2"'}, {}, 200, {"etag": '"v2"'}, PACKAGE),
            ({"etag": 'W/"weak"'}, {}, 200, {"etag": 'W/"weak"'}, PACKAGE),
            ({"etag": 'W/"weak"'}, dict(ranged, **{"If-Range": 'W/"weak"'}), 200,
             {"content-range": None}, PACKAGE),
            ({"etag": '"v2"'}, dict(ranged, **{"If-Range": etag}), 200,
             {"etag": '"v2"', "content-range": None}, PACKAGE),
            ({"etag": '"v2"'}, dict(ranged, **{"If-Range": '"v2"'}), 206,
             {"content-range": "bytes 100-199/200"}, PACKAGE[100:]),
            ({"file": "desktop/win/other.bin"}, {}, 200, {"etag": other_etag}, OTHER),
            ({"file": "/desktop/win/missing.bin"}, {}, 404, {}, b""),
            ({"body": "inline bytes"}, {"Range": "bytes=7-"}, 206,
             {"content-range": "bytes 7-11/12"}, b"bytes"),
            ({"body_base64": base64.b64encode(b"\xff\x00\xfe").decode()}, {}, 200,
             {"content-length": "3"}, b"\xff\x00\xfe"),
            ({"headers": {"Accept-Ranges": None, "X-Extra": "yes", "content-type": "text/yaml"}},
             {}, 200, {"accept-ranges": None, "x-extra": "yes", "content-type": "text/yaml"},
             PACKAGE),
        ]
        for action, headers, status, expected, body in cases:
            with self.subTest(action=action, headers=headers):
                self.script([dict(action, action="serve")])
                got_status, got_headers, got_body = self.get("/desktop/win/setup.exe", headers)
                self.assertEqual(got_status, status)
                for name, value in expected.items():
                    self.assertEqual(got_headers.get(name), value, name)
                if "content-length" not in expected:
                    self.assertEqual(got_headers["content-length"], str(len(body)))
                self.assertEqual(got_body, body)

    def request_bytes(self, path="/desktop/win/setup.exe", extra=b""):
        return b"GET " + path.encode() + b" HTTP/1.1\r\nHost: localhost\r\n" + extra + b"\r\n"

    def test_bodies_that_do_not_match_their_announced_length(self):
        ranged = b"Range: bytes=100-\r\n"
        # action, extra request headers, announced length (None: no header), body sent
        cases = [
            ({"stop_after": 50}, b"", "200", PACKAGE[:50]),
            ({"stop_after": 0}, ranged, "100", b""),
            ({"stop_after": 99}, ranged, "100", PACKAGE[100:199]),
            ({"content_length": None}, b"", None, PACKAGE),
            ({"content_length": None, "stop_after": 199}, b"", None, PACKAGE[:199]),
            ({"extra_bytes": 3}, b"", "203", PACKAGE + b"ZZZ"),
            ({"extra_bytes": 1}, ranged, "101", PACKAGE[100:] + b"Z"),
            ({"extra_bytes": 5, "content_length": 200}, b"", "200", PACKAGE + b"ZZZZZ"),
            ({"content_length": 150}, b"", "150", PACKAGE),
            ({"content_length": 201}, b"", "201", PACKAGE),
        ]
        for action, extra, announced, sent in cases:
            with self.subTest(action=action, ranged=bool(extra)):
                self.script([dict(action, action="serve")])
                data, error = self.raw(self.request_bytes(extra=extra + b"Connection: close\r\n"))
                # The server closes with close_notify, so no error even without a length.
                self.assertIsNone(error)
                _, headers, body = self.split(data)
                self.assertEqual(headers.get("content-length"), announced)
                if announced != str(len(sent)):
                    self.assertEqual(headers.get("connection"), "close")
                self.assertEqual(body, sent)

    def test_reset_close_drops_the_connection_without_close_notify(self):
        self.script([{"action": "serve", "stop_after": 40, "close": "reset"}])
        data, error = self.raw(self.request_bytes())
        self.assertIsInstance(error, ConnectionResetError)
        if data:
            _, headers, body = self.split(data)
            self.assertEqual(headers["content-length"], "200")
            self.assertTrue(PACKAGE[:40].startswith(body))

    def test_drop_answers_nothing(self):
        for close, error_type in (("clean", type(None)), ("reset", ConnectionResetError)):
            with self.subTest(close=close):
                self.script([{"action": "drop", "close": close}])
                data, error = self.raw(self.request_bytes())
                self.assertEqual(data, b"")
                self.assertIsInstance(error, error_type)
                self.assertEqual(self.records()[-1]["action"]["action"], "drop")

    def test_slow_body_arrives_in_paced_pieces(self):
        self.script([{"action": "serve", "chunk_size": 50, "delay_ms": 150}])
        sock = socket.create_connection(("127.0.0.1", self.port), timeout=10)
        tls = client_context().wrap_socket(sock, server_hostname="localhost")
        try:
            tls.sendall(self.request_bytes(extra=b"Connection: close\r\n"))
            arrivals = []
            data = b""
            while True:
                piece = tls.recv(65536)
                if not piece:
                    break
                data += piece
                arrivals.append(time.monotonic())
        finally:
            tls.close()
        _, headers, body = self.split(data)
        self.assertEqual((headers["content-length"], body), ("200", PACKAGE))
        # Four pieces, three pauses of 150 ms between the first and the last.
        self.assertGreaterEqual(arrivals[-1] - arrivals[0], 0.4)

    def test_header_delay_holds_back_the_status_line(self):
        self.script([{"action": "status", "status": 204, "header_delay_ms": 400}])
        started = time.monotonic()
        status, _, _ = self.get("/desktop/win/latest.yml")
        self.assertEqual(status, 204)
        self.assertGreaterEqual(time.monotonic() - started, 0.4)

    def test_concurrent_requests_each_take_a_different_action(self):
        count = 24
        self.script([{"action": "status", "status": 200, "body": str(i)} for i in range(count)])
        with concurrent.futures.ThreadPoolExecutor(count) as pool:
            bodies = list(pool.map(lambda _: self.get("/desktop/win/latest.yml")[2],
                                   range(count)))
        self.assertEqual(sorted(int(b) for b in bodies), list(range(count)))
        self.assertEqual(self.remaining_script(), [])
        # Records are written in the order the actions were handed out.
        self.assertEqual([r["action"]["body"] for r in self.records()],
                         [str(i) for i in range(count)])
        seqs = [r["seq"] for r in self.records()]
        self.assertEqual(seqs, list(range(seqs[0], seqs[0] + count)))

    def test_bad_actions_fail_loudly_and_stay_in_the_script(self):
        cases = [
            '{"action": "status"}',
            "[1]",
            '[{"action": "teleport"}]',
            '[{"action": "status", "body": "no status"}]',
            '[{"status": 503}]',
            '[{"action": "status", "status": 503, "time": 4}]',
            '[{"action": "status", "status": "503"}]',
            '[{"action": "status", "status": 503, "times": 0}]',
            '[{"action": "redirect", "status": 200}]',
            '[{"action": "serve", "body": "a", "body_base64": "YQ=="}]',
            '[{"action": "serve", "file": "a", "body": "a"}]',
            '[{"action": "serve", "close": "slam"}]',
            '[{"action": "serve", "stop_after": -1}]',
            '[{"action": "serve", "etag": 7}]',
            '[{"action": "serve", "offset": null}]',
            '[{"action": "serve", "body_base64": "***"}]',
            '[{"action": "serve", "headers": {"X": 1}}]',
            '[{"action": "serve", "chunk_size": 0}]',
            "not json",
        ]
        log = os.path.join(self.state, "stderr.log")
        for text in cases:
            with self.subTest(script=text):
                self.script(text)
                status, _, body = self.get("/desktop/win/latest.yml")
                self.assertEqual(status, 500)
                self.assertIn(b"bad script action", body)
                self.assertEqual(read_text(os.path.join(self.state, "script.json")), text)
                self.assertIn(body.decode(), read_text(log))
                self.assertIn("script_error", self.records()[-1])

    def test_empty_or_missing_script_serves_normally(self):
        for text in ("[]", "", "  \n"):
            with self.subTest(script=text):
                self.script(text)
                self.assertEqual(self.get("/desktop/win/latest.yml")[0], 200)


class RecordingTest(ServerCase):

    def test_records_method_path_and_headers_as_sent(self):
        request = (b"GET /desktop/win/setup.exe?arch=x64 HTTP/1.1\r\n"
                   b"Host: localhost\r\n"
                   b"user-agent: TavroInstaller/1.0\r\n"
                   b"Accept-Encoding: identity\r\n"
                   b"Range: bytes=5-\r\n"
                   b"If-Range: \"abc\"\r\n"
                   b"X-Twice: 1\r\n"
                   b"X-Twice: 2\r\n"
                   b"Connection: close\r\n\r\n")
        data, error = self.raw(request)
        self.assertIsNone(error)
        self.assertEqual(self.split(data)[0], 200)  # If-Range does not match: whole file
        (record,) = self.records()
        self.assertEqual(record["method"], "GET")
        self.assertEqual(record["path"], "/desktop/win/setup.exe?arch=x64")
        self.assertEqual(record["version"], "HTTP/1.1")
        self.assertEqual(record["server_name"], "localhost")
        self.assertIsNone(record["action"])
        self.assertEqual(record["headers"], [
            ["Host", "localhost"], ["user-agent", "TavroInstaller/1.0"],
            ["Accept-Encoding", "identity"], ["Range", "bytes=5-"], ["If-Range", '"abc"'],
            ["X-Twice", "1"], ["X-Twice", "2"], ["Connection", "close"]])

    def test_record_is_written_before_the_answer(self):
        self.script([{"action": "status", "status": 204, "header_delay_ms": 1500}])
        with concurrent.futures.ThreadPoolExecutor(1) as pool:
            pending = pool.submit(self.get, "/desktop/win/latest.yml")
            deadline = time.monotonic() + 1.2
            while not self.records() and time.monotonic() < deadline:
                time.sleep(0.02)
            self.assertFalse(pending.done())
            self.assertEqual(len(self.records()), 1)
            self.assertEqual(self.records()[0]["action"]["status"], 204)
            self.assertEqual(pending.result()[0], 204)

    def test_other_methods_are_recorded_but_leave_the_script(self):
        self.script([{"action": "status", "status": 503}])
        status, headers, _ = self.get("/desktop/win/latest.yml", method="POST")
        self.assertEqual((status, headers["allow"]), (405, "GET, HEAD"))
        self.assertEqual(self.records()[0]["method"], "POST")
        self.assertEqual(len(self.remaining_script()), 1)

    def test_record_file_may_be_truncated_between_requests(self):
        self.get("/desktop/win/latest.yml")
        open(os.path.join(self.state, "requests.jsonl"), "w").close()
        self.get("/desktop/win/setup.exe")
        self.assertEqual([r["path"] for r in self.records()], ["/desktop/win/setup.exe"])


class BadCertificateTest(ServerCase):

    def presented_cert(self, server_hostname):
        """The DER certificate the server presents, without judging it."""
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
        ctx.check_hostname = False
        ctx.verify_mode = ssl.CERT_NONE
        with socket.create_connection(("127.0.0.1", self.port), timeout=10) as sock:
            with ctx.wrap_socket(sock, server_hostname=server_hostname) as tls:
                return tls.getpeercert(binary_form=True)

    def test_bad_cert_file_swaps_the_certificate_for_new_handshakes(self):
        bad_marker = os.path.join(self.state, "bad-cert")
        good, bad = cert_der(GOOD_CERT), cert_der(BAD_CERT)
        # With SNI (by name) and without (by IP address) alike.
        for name in ("localhost", None):
            with self.subTest(server_hostname=name):
                self.assertEqual(self.presented_cert(name), good)
                open(bad_marker, "w").close()
                self.assertEqual(self.presented_cert(name), bad)
                os.remove(bad_marker)
                self.assertEqual(self.presented_cert(name), good)

    def test_bad_cert_fails_verification_against_the_test_root(self):
        open(os.path.join(self.state, "bad-cert"), "w").close()
        with self.assertRaises(ssl.SSLCertVerificationError):
            self.get("/desktop/win/latest.yml")
        os.remove(os.path.join(self.state, "bad-cert"))
        self.assertEqual(self.get("/desktop/win/latest.yml")[0], 200)
        self.assertEqual(len(self.records()), 1)  # the failed handshake sent no request


class LifecycleTest(unittest.TestCase):

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="channel-life-")
        self.root = os.path.join(self.tmp, "root")
        os.makedirs(self.root)
        self.procs = []

    def tearDown(self):
        for proc in self.procs:
            stop_server(proc)
        shutil.rmtree(self.tmp, ignore_errors=True)

    def start(self, name, **kw):
        proc, port = start_server(os.path.join(self.tmp, name), self.root, **kw)
        self.procs.append(proc)
        return proc, port

    def run_server(self, state, *args):
        return subprocess.run(
            [sys.executable, SERVER, "--state", os.path.join(self.tmp, state), *args],
            capture_output=True, text=True, timeout=20)

    def test_taken_port_fails_loudly(self):
        _, port = self.start("first")
        result = self.run_server("second", "--root", self.root, "--port", str(port))
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("port is already in use", result.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.tmp, "second", "ready")))
        self.assertFalse(os.path.exists(os.path.join(self.tmp, "second", "server.pid")))

    def test_missing_channel_directory_fails_loudly(self):
        result = self.run_server("s", "--root", os.path.join(self.tmp, "nowhere"), "--port", "0")
        self.assertEqual(result.returncode, 1)
        self.assertIn("does not exist", result.stderr)

    def test_sigterm_stops_cleanly_and_removes_pid_and_ready(self):
        proc, port = self.start("s")
        state = os.path.join(self.tmp, "s")
        self.assertEqual(read_text(os.path.join(state, "server.pid")).strip(), str(proc.pid))
        self.assertEqual(proc.stdout.readline(), b"ready\n")
        proc.send_signal(signal.SIGTERM)
        self.assertEqual(proc.wait(10), 0)
        self.assertFalse(os.path.exists(os.path.join(state, "server.pid")))
        self.assertFalse(os.path.exists(os.path.join(state, "ready")))
        with self.assertRaises(ConnectionRefusedError):
            socket.create_connection(("127.0.0.1", port), timeout=5).close()

    def test_lifetime_ends_the_server_by_itself(self):
        proc, _ = self.start("s", lifetime=1)
        self.assertEqual(proc.wait(10), 0)
        self.assertIn("lifetime over", read_text(os.path.join(self.tmp, "s", "stderr.log")))


if __name__ == "__main__":
    unittest.main(verbosity=2)
