#!/usr/bin/env python3
"""A stand-in for the management server, for tests and demonstrations.

It accepts heartbeat posts over HTTP or HTTPS on 127.0.0.1 (or --host), prints each one readably,
appends it to a JSON-lines record file and answers with a heartbeat reply described by a
JSON script file. The script is read again for every request, so a test can change the
server's behaviour while an agent runs. Keys of the script (all optional):

  "interval"      heartbeat-interval of the reply (number or text); null leaves it out
  "statistics"    list of attribute objects, one <stat> each; null leaves the element out
  "alarms"        list of attribute objects, one <alarm> each; null leaves the element out
  "mappings"      XML text put into the reply as is (a <mappings> element)
  "devices"       XML text put into the reply as is (a <devices> element)
  "body"          the whole reply body, instead of one built from the keys above
  "content_type"  Content-Type of the reply (default "application/xml")
  "status"        status code (default 200); 301/302 send "location" as Location
  "location"      Location header for a redirect
  "misbehave"     "no-content-length": send the body and close without a length;
                  "short-body": announce more bytes than are sent, then close;
                  "zero-length": announce a length of 0 (the body is not sent);
                  "malformed-xml": send a body that is not well-formed;
                  "silent": read the request and never answer;
                  "close-reused": close a connection at its second request, unanswered
  "delay"         seconds to wait before answering
  "keep_alive"    answer HTTP/1.1 and keep the connection open for the next request when the
                  request asks for it (HTTP/1.1 without "Connection: close", or HTTP/1.0
                  with "Connection: keep-alive"); otherwise HTTP/1.0 and "Connection: close"
  "keep_alive_header"  with keep_alive: also send "Connection: keep-alive" (an HTTP/1.1 reply
                  keeps the connection without it)
  "http10"        with keep_alive: answer "HTTP/1.0" (kept only with "keep_alive_header")
  "chunked"       send the body with "Transfer-Encoding: chunked" (in chunks of "chunk_size"
                  bytes, default 16) instead of a Content-Length; HTTP/1.1 replies only
  "close_after"   with keep_alive: answer the Nth request of a connection with
                  "Connection: close" and close it
  "paths"         object mapping a request path to keys that replace the ones above
  "agents"        object mapping a heartbeat's <ip-address> (a device's address, or the
                  agent's own for its status heartbeat) to keys that replace the ones above

Keys left out take the defaults: an interval of 300 seconds and empty lists of requested
statistics and alarms. Each recorded request carries the number of its connection
("connection", from 1 in the order accepted) and its place on that connection ("on_connection",
from 1).

Usage: management_server.py --port 0 [--host 127.0.0.1|::1] [--script FILE] [--record FILE]
                            [--cert FILE --key FILE]   (serve HTTPS)
Once it listens it prints "listening on PORT" with the actual port.
"""

import argparse
import json
import re
import socket
import ssl
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from xml.sax.saxutils import quoteattr, escape

DEFAULT_SCRIPT = {"interval": 300, "statistics": [], "alarms": []}


def load_script(path):
    if not path:
        return dict(DEFAULT_SCRIPT)
    try:
        with open(path, encoding="utf-8") as f:
            script = json.load(f)
    except (OSError, ValueError) as e:
        print(f"script {path} unusable ({e}); using the default reply", flush=True)
        return dict(DEFAULT_SCRIPT)
    return script


def heartbeat_address(body):
    found = re.search(rb"<ip-address>([^<]*)</ip-address>", body)
    return found.group(1).decode("utf-8", "replace") if found else None


def script_for(script, path, body):
    merged = dict(DEFAULT_SCRIPT)
    merged.update({k: v for k, v in script.items() if k not in ("paths", "agents")})
    merged.update(script.get("paths", {}).get(path, {}))
    merged.update(script.get("agents", {}).get(heartbeat_address(body), {}))
    return merged


def element_list(name, child, items):
    if items is None:
        return ""
    rows = "".join(
        f"    <{child}{''.join(f' {k}={quoteattr(str(v))}' for k, v in item.items())}/>\n"
        for item in items)
    return f"  <{name}>\n{rows}  </{name}>\n"


def reply_body(script):
    if "body" in script:
        return script["body"]
    if script.get("misbehave") == "malformed-xml":
        return "<heartbeat-reply><heartbeat-interval>300</heartbeat-reply"
    parts = ['<?xml version="1.0" encoding="utf-8"?>\n<heartbeat-reply>\n']
    if script.get("interval") is not None:
        parts.append(f"  <heartbeat-interval>{escape(str(script['interval']))}"
                     "</heartbeat-interval>\n")
    parts.append(element_list("requested-statistics", "stat", script.get("statistics")))
    parts.append(element_list("requested-alarms", "alarm", script.get("alarms")))
    for pushed in ("mappings", "devices"):
        if script.get(pushed):
            parts.append(script[pushed] + "\n")
    parts.append("</heartbeat-reply>\n")
    return "".join(parts)


REASONS = {200: "OK", 204: "No Content", 301: "Moved Permanently", 302: "Found",
           404: "Not Found", 500: "Internal Server Error"}


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    server_version = "management-server/1.0"

    def setup(self):
        super().setup()
        self.connection_number = self.server.new_connection()
        self.served = 0
        self.handshake_failed = False
        if isinstance(self.request, ssl.SSLSocket):
            try:
                self.request.do_handshake()
            except (ssl.SSLError, OSError) as e:
                self.server.say(f"TLS handshake with {self.client_address[0]} failed: {e}")
                self.handshake_failed = True

    def handle(self):
        if not self.handshake_failed:
            try:
                super().handle()
            except (ssl.SSLError, ConnectionError) as e:
                self.server.say(f"connection from {self.client_address[0]} ended: {e}")

    def log_message(self, format, *args):  # the record below says more
        pass

    def handle_request(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length > 0 else b""
        self.served += 1
        self.close_connection = True
        script = script_for(load_script(self.server.script_path), self.path.split("?")[0], body)
        number = self.server.record(self, body, script)
        if script.get("misbehave") == "close-reused" and self.served > 1:
            self.server.say(f"#{number}: closing connection {self.connection_number} unanswered")
            return
        self.server.say(self.describe(number, body))
        if script.get("delay"):
            time.sleep(float(script["delay"]))
        if script.get("misbehave") == "silent":
            self.server.say(f"#{number}: staying silent")
            self.wait_for_close()
            return
        self.answer(number, script)

    do_POST = do_GET = do_PUT = handle_request

    def describe(self, number, body):
        scheme = "https" if isinstance(self.request, ssl.SSLSocket) else "http"
        lines = [f"=== heartbeat #{number} from {self.client_address[0]} ({scheme}) ===",
                 self.requestline]
        lines += [f"{name}: {value}" for name, value in self.headers.items()]
        lines += ["", body.decode("utf-8", "replace").rstrip("\n")]
        return "\n".join(lines)

    def keeps_connection(self, script):
        """Whether this answer leaves the connection open, and the version it is given."""
        asked = [t.strip().lower() for t in self.headers.get("Connection", "").split(",")]
        if not script.get("keep_alive"):
            return False, "HTTP/1.0"
        version = "HTTP/1.0" if script.get("http10") else "HTTP/1.1"
        if self.request_version == "HTTP/1.1":
            keep = "close" not in asked
        else:
            keep = "keep-alive" in asked
        if version == "HTTP/1.0" and not script.get("keep_alive_header"):
            keep = False
        if script.get("misbehave") not in (None, "close-reused"):
            keep = False
        close_after = script.get("close_after")
        if close_after and self.served >= int(close_after):
            keep = False
        return keep, version

    def answer(self, number, script):
        status = int(script.get("status", 200))
        misbehave = script.get("misbehave")
        body = reply_body(script).encode("utf-8") if status == 200 else b""
        keep, version = self.keeps_connection(script)
        chunked = bool(script.get("chunked")) and version == "HTTP/1.1"
        head = [f"{version} {status} {REASONS.get(status, 'Unknown')}"]
        if status in (301, 302):
            head.append(f"Location: {script.get('location', '')}")
        head.append(f"Content-Type: {script.get('content_type', 'application/xml')}")
        if misbehave == "zero-length":
            head.append("Content-Length: 0")
            body = b""
        elif misbehave == "short-body":
            head.append(f"Content-Length: {len(body) + 100}")
        elif chunked:
            head.append("Transfer-Encoding: chunked")
            size = int(script.get("chunk_size", 16))
            body = b"".join(b"%x\r\n%s\r\n" % (len(body[i:i + size]), body[i:i + size])
                            for i in range(0, len(body), size)) + b"0\r\n\r\n"
        elif misbehave != "no-content-length":
            head.append(f"Content-Length: {len(body)}")
        if not keep:
            head.append("Connection: close")
        elif script.get("keep_alive_header"):
            head.append("Connection: keep-alive")
        self.wfile.write(("\r\n".join(head) + "\r\n\r\n").encode("latin-1") + body)
        self.wfile.flush()
        self.close_connection = not keep
        self.server.say(f"--- #{number}: answered {status} with {len(body)} bytes"
                        + (f" ({misbehave})" if misbehave else "")
                        + (f", connection {self.connection_number} kept" if keep else ""))

    def wait_for_close(self):
        self.request.settimeout(0.5)
        while not self.server.stopping.is_set():
            try:
                if not self.request.recv(4096):
                    return
            except socket.timeout:
                continue
            except (OSError, ssl.SSLError):
                return


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    # An agent posts up to agent/max-concurrent-posts heartbeats at once; the default backlog
    # of 5 would drop most of such a burst and hold them in connection retries.
    request_queue_size = 4096

    def __init__(self, host, port, script_path, record_path, tls):
        if ":" in host:
            self.address_family = socket.AF_INET6
        super().__init__((host, port), Handler)
        self.script_path = script_path
        self.record_path = record_path
        self.tls = tls
        self.lock = threading.Lock()
        self.count = 0
        self.connections = 0
        self.stopping = threading.Event()

    def get_request(self):
        connection, address = super().get_request()
        if self.tls:
            # The handshake runs in the connection's own thread, so a client that never
            # completes it cannot stall the listener.
            connection = self.tls.wrap_socket(connection, server_side=True,
                                              do_handshake_on_connect=False)
        return connection, address

    def new_connection(self):
        with self.lock:
            self.connections += 1
            return self.connections

    def say(self, text):
        with self.lock:
            print(text, flush=True)

    def record(self, handler, body, script):
        with self.lock:
            self.count += 1
            entry = {
                "number": self.count,
                "tls": isinstance(handler.request, ssl.SSLSocket),
                "request_line": handler.requestline,
                "method": handler.command,
                "path": handler.path,
                "version": handler.request_version,
                "headers": [[name, value] for name, value in handler.headers.items()],
                "body": body.decode("utf-8", "replace"),
                "connection": handler.connection_number,
                "on_connection": handler.served,
                # What the script answers it with: 0 for no answer at all.
                "status": (0 if script.get("misbehave") == "silent"
                           else int(script.get("status", 200))),
            }
            if self.record_path:
                with open(self.record_path, "a", encoding="utf-8") as f:
                    f.write(json.dumps(entry) + "\n")
            return self.count


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--port", type=int, default=8080, help="0 picks a free port")
    parser.add_argument("--host", default="127.0.0.1", help="loopback address to listen on")
    parser.add_argument("--script", help="JSON file describing the replies")
    parser.add_argument("--record", help="JSON-lines file that receives every request")
    parser.add_argument("--cert", help="server certificate (PEM); serves HTTPS")
    parser.add_argument("--key", help="private key of the certificate (PEM)")
    args = parser.parse_args()

    tls = None
    if args.cert:
        tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        tls.load_cert_chain(args.cert, args.key)
    server = Server(args.host, args.port, args.script, args.record, tls)
    print(f"listening on {server.server_address[1]}", flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.stopping.set()
        server.server_close()


if __name__ == "__main__":
    sys.exit(main())
