#!/usr/bin/python3
"""Whole-system runs under faults: a skypesim or the server application
killed in the middle of a transfer, many connections in a row and at once,
slow local readers, and malformed notifications sent to the program through
skypesim's control channel. The world (two skypesims, the program as client
and as server application, one network namespace per case) is the one of
zorvane_e2e.py.

Measurements are printed as "FIGURE ..." lines.

usage: zorvane_faults.py --host PATH-OF-zorvanefortcp --sim PATH [--full] CASE
       zorvane_faults.py --list
"""
import argparse
import hashlib
import http.server
import os
import socket
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import zorvane_e2e as e2e  # noqa: E402
from zorvane_e2e import log, log_line, link_status, pattern, CANCEL_LOG, CLIENT_PORTS, BULK_PORT  # noqa: E402

# Event-log line of a stream that Skype no longer lists (a refused one ends
# "を切断(拒否）").
STREAM_CLOSED_LOG = "を切断"


def stream_closed(line):
    return line.startswith(e2e.EVENTLOG) and line.rstrip().endswith(STREAM_CLOSED_LOG)
# Trace line of each application the program creates, channel by channel.
APPNAME_TRACE = "QK_A2AMODEL::createApplication() appname="

OPTIONS = argparse.Namespace(full=False)


# ---------------------------------------------------------------- helpers

def process_figures(proc):
    """Threads, open descriptors and resident size (kB) of a running process."""
    pid = proc.p.pid
    threads = rss = 0
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("Threads:"):
                threads = int(line.split()[1])
            elif line.startswith("VmRSS:"):
                rss = int(line.split()[1])
    fds = len(os.listdir("/proc/%d/fd" % pid))
    return {"threads": threads, "fds": fds, "rss_kb": rss}


def sanitized(proc):
    """True when the process runs with a sanitizer runtime."""
    with open("/proc/%d/maps" % proc.p.pid) as f:
        maps = f.read()
    return "libasan" in maps or "libtsan" in maps


def application_names(host):
    """The five application names, channel 0 first, from the program's trace."""
    names = []
    with host.cond:
        for line in host.lines:
            at = line.find(APPNAME_TRACE)
            if at >= 0:
                names.append(line[at + len(APPNAME_TRACE):].strip())
    assert len(names) >= 5, names
    return names[:5]


def stream_of(world, user, app):
    """(peer, id) of the one stream of application app at user's skypesim."""
    found = [s.split(":") for s in world.streams(user) if s.startswith(app + ":")]
    assert len(found) == 1, world.streams(user)
    return found[0][1], int(found[0][2])


def exchange(port, size, seed_up=11, seed_down=22, server_result=None, server=None):
    """size bytes each way through the client's port, checked end to end
    (the bulk server must already listen behind the channel)."""
    result = {}
    c = socket.create_connection(("127.0.0.1", port), timeout=60)
    e2e.send_all_recv_all(c, pattern(seed_up, size), size, result)
    if server is not None:
        server.join(120)
    c.close()
    assert result.get("hash") == hashlib.sha256(pattern(seed_down, size)).hexdigest(), \
        "bytes to the client differ: %s" % result
    if server_result is not None:
        assert server_result.get("hash") == hashlib.sha256(pattern(seed_up, size)).hexdigest(), \
            "bytes to the server differ: %s" % server_result


def checked_bulk(size):
    server_result = {}
    server = e2e.bulk_server(size, 22, server_result)
    exchange(9023, size, server_result=server_result, server=server)


def first_byte_on(port, timeout=60):
    """Connects and waits for the first byte the server behind it sends."""
    c = socket.create_connection(("127.0.0.1", port), timeout=timeout)
    first = c.recv(1)
    return c, first


def tunnel_back(world, mark_host, mark):
    """Waits for the link, the five streams and the five listeners again;
    returns (seconds to attach, seconds to streams and listeners)."""
    t0 = time.monotonic()
    mark_host.wait_line(link_status(1), 120, start=mark)
    attached = time.monotonic() - t0
    world.wait_streams(5, timeout=180)
    for port in CLIENT_PORTS:
        world.wait_listening(port, timeout=60)
    return attached, time.monotonic() - t0


class PortHttpServer:
    """HTTP/1.0 server at address (host, port) answering every GET with body."""

    def __init__(self, address, body):
        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                self.send_response(200)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        class Server(http.server.ThreadingHTTPServer):
            request_queue_size = 256

        self.server = Server(address, Handler)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def close(self):
        self.server.shutdown()
        self.server.server_close()


def http_get(port, body, timeout, refused=None):
    """One HTTP/1.0 GET through the client's port; None when the whole
    answer arrived with exactly body, else a description of what came.
    With a list for refused, a connection reset or refused before any byte
    of the answer is put there instead of being a failure."""
    data = bytearray()
    try:
        c = socket.create_connection(("127.0.0.1", port), timeout=timeout)
        c.settimeout(timeout)
        c.sendall(b"GET /x HTTP/1.0\r\nHost: tunnel\r\n\r\n")
        while True:
            chunk = c.recv(65536)
            if not chunk:
                break
            data += chunk
        c.close()
    except (ConnectionResetError, ConnectionRefusedError) as ex:
        if refused is not None and not data:
            refused.append("port %d: %s" % (port, ex))
            return None
        return "port %d: %s after %d bytes" % (port, ex, len(data))
    except OSError as ex:
        return "port %d: %s after %d bytes" % (port, ex, len(data))
    head, _, got = bytes(data).partition(b"\r\n\r\n")
    if not head.startswith(b"HTTP/1.0 200") or got != body:
        return "port %d: %d bytes, head %r" % (port, len(data), head[:40])
    return None


# ---------------------------------------------------------------- cases

def case_skypesim_restarted(world):
    """skypesim of the client killed during a 20 MB transfer and started
    again: the local connection closes, the program attaches and connects
    again by itself (auto-connect), and a new transfer is exact."""
    s, got = e2e.transfer_in_progress(world)
    host = world.hosts["alice"]
    sim, _ = world.sims["alice"]
    mark = len(host.lines)
    t_kill = time.monotonic()
    sim.p.kill()
    sim.p.wait()
    log("skypesim of alice killed after %d bytes" % got)
    lost = host.wait_line(link_status(0), 60, start=mark)
    host.wait_count(log_line(CANCEL_LOG), 5, 60, start=lost)
    assert e2e.wait_closed(s, 60), "local connection still open"
    s.close()
    closed = time.monotonic() - t_kill
    assert host.p.poll() is None, "client application died"
    mark = len(host.lines)
    world.start_sim("alice")
    t_back = time.monotonic()
    attached, streams = tunnel_back(world, host, mark)
    # A working tunnel: the first byte of a new connection through channel 4.
    server_result = {}
    size = 2_000_000
    server = e2e.bulk_server(size, 22, server_result)
    c, first = first_byte_on(9023)
    working = time.monotonic() - t_back
    assert first == pattern(22, size)[:1], "first byte %r" % first
    rest = {}
    e2e.send_all_recv_all(c, pattern(11, size), size - 1, rest)
    server.join(120)
    c.close()
    want = hashlib.sha256(pattern(22, size)[1:]).hexdigest()
    assert rest.get("hash") == want, "bytes to the client differ: %s" % rest
    assert server_result.get("hash") == hashlib.sha256(pattern(11, size)).hexdigest(), server_result
    log("FIGURE skypesim-restart closed-after-kill-s=%.2f attach-s=%.2f streams-and-listeners-s=%.2f "
        "first-byte-s=%.2f (from skypesim's ready line)" % (closed, attached, streams, working))


def case_server_killed(world):
    """The server application killed during a transfer: the client's
    streams go with their log lines and the local connection closes; once
    the server application runs again the client's listeners carry new
    connections."""
    body = pattern(3, 200_000)
    web = e2e.HttpServer(body)
    try:
        s, got = e2e.transfer_in_progress(world)
        alice = world.hosts["alice"]
        mark = len(alice.lines)
        world.hosts["bob"].stop(e2e.signal.SIGKILL)
        log("server application killed after %d bytes" % got)
        alice.wait_count(stream_closed, 5, 60, start=mark)
        assert e2e.wait_closed(s, 60), "local connection still open"
        s.close()
        deadline = time.monotonic() + 30
        while world.streams("alice") and time.monotonic() < deadline:
            time.sleep(0.2)
        assert world.streams("alice") == [], world.streams("alice")
        assert alice.p.poll() is None, "client application died"
        log("client streams gone, %d closing lines" % sum(1 for line in alice.lines[mark:] if stream_closed(line)))
        mark = len(alice.lines)
        t_back = time.monotonic()
        world.start_host("bob")
        world.wait_streams(5, timeout=180)
        for port in CLIENT_PORTS:
            world.wait_listening(port, timeout=60)
        streams = time.monotonic() - t_back
        failure = http_get(80, body, 60)
        assert failure is None, failure
        checked_bulk(2_000_000)
        log("FIGURE server-restart streams-and-listeners-s=%.2f; HTTP and 2 MB each way through "
            "the listeners afterwards" % streams)
    finally:
        web.close()


def many_connections_world(world):
    """Every channel of the server application forwards to a web server of
    its own (channel 0, the FTP channel, at the FTP server's address and
    port 21); returns the servers and the bodies, by channel."""
    addresses = [(e2e.FTP_HOST, 21)] + [("127.0.0.1", 18091 + ch) for ch in range(4)]
    server = {"SYSTEM": {"APPMODE": 0, "ENABLEUSER": 0}, "SERVER": {}}
    for ch, (host, port) in enumerate(addresses):
        server["SERVER"]["FOWERDHOST%d" % (ch + 1)] = host
        server["SERVER"]["FOWERDPORT%d" % (ch + 1)] = port
    world.write_ini("bob", server)
    bodies = [pattern(100 + ch, 20_000 + 1_000 * ch) for ch in range(5)]
    servers = [PortHttpServer(address, body) for address, body in zip(addresses, bodies)]
    return servers, bodies


def figures_line(figures):
    return " ".join("%s-%s=%s" % (user, key, figures[user][key])
                    for user in ("alice", "bob") for key in ("threads", "fds", "rss_kb"))


def case_many_connections(world):
    """1,000 HTTP connections one after another through channel 1, then
    200 at once across the five channels: all 200 answered, none reset,
    every answer exact, and threads,
    descriptors and resident size of both applications back near where
    they started."""
    servers, bodies = many_connections_world(world)
    try:
        world.up()
        # Every channel has carried one connection before the first figures.
        for ch in range(5):
            failure = http_get(CLIENT_PORTS[ch], bodies[ch], 60)
            assert failure is None, failure
        time.sleep(2)
        before = {u: process_figures(world.hosts[u]) for u in ("alice", "bob")}
        log("FIGURE before %s" % figures_line(before))

        t0 = time.monotonic()
        for n in range(1000):
            failure = http_get(80, bodies[1], 60)
            assert failure is None, "connection %d: %s" % (n, failure)
        seconds = time.monotonic() - t0
        log("FIGURE sequential connections=1000 seconds=%.1f per-connection-ms=%.1f"
            % (seconds, seconds * 1000 / 1000))
        time.sleep(2)
        middle = {u: process_figures(world.hosts[u]) for u in ("alice", "bob")}
        log("FIGURE after-sequential %s" % figures_line(middle))

        # A channel carries one connection at a time; the others wait in its
        # listener's queue and are served in turn: every one is answered,
        # exactly, and none is reset.
        failures = []
        refused = []
        answered = [0] * 5
        lock = threading.Lock()
        go = threading.Event()

        def one(ch):
            go.wait()
            turned_away = []
            failure = http_get(CLIENT_PORTS[ch], bodies[ch], 600, refused=turned_away)
            with lock:
                if failure:
                    failures.append(failure)
                elif not turned_away:
                    answered[ch] += 1
                refused.extend(turned_away)

        threads = [threading.Thread(target=one, args=(n % 5,), daemon=True) for n in range(200)]
        for t in threads:
            t.start()
        t0 = time.monotonic()
        go.set()
        for t in threads:
            t.join(900)
        seconds = time.monotonic() - t0
        assert not any(t.is_alive() for t in threads), "connections still open after 900 s"
        log("FIGURE concurrent connections=200 channels=5 seconds=%.1f answered=%d (by channel %s) "
            "reset-unanswered=%d" % (seconds, sum(answered), answered, len(refused)))
        assert not failures, "%d of 200 failed: %s" % (len(failures), failures[:5])
        assert not refused, "%d of 200 reset: %s" % (len(refused), refused[:5])
        assert sum(answered) == 200, "answered %d of 200: %s" % (sum(answered), answered)
        # Every channel carries a connection again after the burst.
        for ch in range(5):
            failure = http_get(CLIENT_PORTS[ch], bodies[ch], 60)
            assert failure is None, "after the burst: %s" % failure
        time.sleep(2)
        after = {u: process_figures(world.hosts[u]) for u in ("alice", "bob")}
        log("FIGURE after-concurrent %s" % figures_line(after))

        for user in ("alice", "bob"):
            host = world.hosts[user]
            assert host.p.poll() is None, "%s's application died" % user
            b, m, a = before[user], middle[user], after[user]
            # The address sanitizer holds freed memory back (its quarantine), so
            # resident size tells nothing there; its leak check runs at exit.
            rss_bound = None if sanitized(host) else 8192
            for label, now in (("after 1,000 in a row", m), ("after 200 at once", a)):
                assert now["threads"] <= b["threads"] + 2, "%s: threads %s" % (user, (label, b, now))
                assert now["fds"] <= b["fds"] + 4, "%s: descriptors %s" % (user, (label, b, now))
                assert rss_bound is None or now["rss_kb"] <= b["rss_kb"] + rss_bound, \
                    "%s: resident size %s (bound %d kB)" % (user, (label, b, now), rss_bound)
    finally:
        for s in servers:
            s.close()


def slow_read(sock, rate, result):
    """Reads until the peer closes, at most `rate` bytes per second; result
    gets the byte count, the sha256, the seconds, whether the end was a
    clean close (not a reset) and whether nothing came within the socket's
    time-out."""
    h = hashlib.sha256()
    got = 0
    t0 = time.monotonic()
    clean = True
    stalled = False
    while True:
        try:
            chunk = sock.recv(4096)
        except ConnectionResetError:
            clean = False
            break
        except socket.timeout:
            stalled = True
            break
        if not chunk:
            break
        h.update(chunk)
        got += len(chunk)
        ahead = got / rate - (time.monotonic() - t0)
        if ahead > 0:
            time.sleep(ahead)
    result.update(bytes=got, hash=h.hexdigest(), seconds=time.monotonic() - t0, clean=clean,
                  stalled=stalled)


def small_buffers(sock):
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 16384)


def case_slow_reader(world):
    """A local reader of 50 KB/s at each end in turn: downward the server
    sends and closes, the client reads slowly; upward the client sends and
    closes, the server reads slowly. The bytes arrive exact and in order,
    then the close. 2 MB per direction; 20 MB with --full."""
    size = 20_000_000 if OPTIONS.full else 2_000_000
    rate = 50_000
    ls = socket.socket()
    ls.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    small_buffers(ls)
    ls.bind(("127.0.0.1", BULK_PORT))
    ls.listen(2)
    world.up()
    timeout = size / rate * 3 + 120

    # Downward: the server sends size bytes and closes; the client reads slowly.
    down = {}
    c = socket.socket()
    small_buffers(c)
    c.settimeout(120)
    c.connect(("127.0.0.1", 9023))
    conn, _ = ls.accept()

    def send_and_close(sock, data):
        # The socket is kept until the tunnel has taken everything and closes
        # in turn: a socket closed with megabytes unsent would be an orphan
        # that the system may drop, and the reader would wait for ever.
        sock.sendall(data)
        sock.shutdown(socket.SHUT_WR)
        sock.settimeout(timeout)
        try:
            while sock.recv(65536):
                pass
        except OSError:
            pass
        sock.close()

    sender = threading.Thread(target=send_and_close, args=(conn, pattern(31, size)), daemon=True)
    sender.start()
    slow_read(c, rate, down)
    c.close()   # the reader's end: only then does the tunnel close the sender's
    sender.join(timeout)
    assert down["bytes"] == size and down["hash"] == hashlib.sha256(pattern(31, size)).hexdigest(), \
        "downward: %s" % down
    assert down["clean"], "downward: reset instead of a close"
    log("FIGURE slow-reader down bytes=%d seconds=%.1f rate-Bps=%.0f"
        % (size, down["seconds"], size / down["seconds"]))

    # Upward: the client sends size bytes and closes; the server reads slowly.
    up = {}
    c = socket.socket()
    c.settimeout(timeout)   # sendall's whole run: the tunnel takes the bytes at the reader's pace
    c.connect(("127.0.0.1", 9023))
    conn, _ = ls.accept()
    ls.close()
    conn.settimeout(120)
    def read_and_close():
        slow_read(conn, rate, up)
        conn.close()

    reader = threading.Thread(target=read_and_close, daemon=True)
    reader.start()
    send_and_close(c, pattern(32, size))
    reader.join(timeout)
    assert not reader.is_alive(), "upward: no close after %d bytes" % up.get("bytes", -1)
    assert up["bytes"] == size and up["hash"] == hashlib.sha256(pattern(32, size)).hexdigest(), \
        "upward: %s" % up
    assert up["clean"], "upward: reset instead of a close"
    log("FIGURE slow-reader up bytes=%d seconds=%.1f rate-Bps=%.0f"
        % (size, up["seconds"], size / up["seconds"]))


def packet_hex(payload_size, payload=b"", kind=2, sequence=0):
    """Hexadecimal text of a packet header (and payload) as the peer writes it."""
    header = bytearray(40)
    header[0:2] = (40).to_bytes(2, "little")
    header[2:4] = payload_size.to_bytes(2, "little")
    header[4:6] = (2).to_bytes(2, "little")
    header[6:8] = (1).to_bytes(2, "little")
    header[10:12] = kind.to_bytes(2, "little")
    header[28:32] = sequence.to_bytes(4, "little")
    return (bytes(header) + payload).hex()


def case_malformed(world):
    """Malformed notifications sent to the client application: each row is
    a notification and the trace line that the program answers it with; the
    program lives on, its streams stay, and every channel still carries
    connections exactly afterwards."""
    body = pattern(4, 100_000)
    web = e2e.HttpServer(body)
    try:
        world.up()
        host = world.hosts["alice"]
        control = world.sims["alice"][1]
        names = application_names(host)
        peer, bulk_id = stream_of(world, "alice", names[4])
        read_reply = "ALTER APPLICATION %s READ %s:%d " % (names[4], peer, bulk_id)
        streams_before = sorted(world.streams("alice"))
        long_name = "n" * 5000
        own_streams = "%s:%d" % stream_of(world, "alice", names[1])
        cases = [
            # (what, notification, trace line the program answers with)
            # The model keeps the name as the link's text gives it (one token,
            # 1023 bytes); the trace shows the start of the query.
            ("overlong name in USERS", "USERS %s, bob" % long_name,
             "<-(0): GET USER %s" % ("n" * 500)),
            ("overlong name in USER", "USER %s ONLINESTATUS ONLINE" % long_name,
             "->(0): USER nnnn"),
            ("overlong own name", "CURRENTUSERHANDLE %s" % long_name,
             "QK_SKYPEMODEL::notifyCurrentUser(nnnn"),
            ("overlong peer name in STREAMS",
             "APPLICATION %s STREAMS %s %s:7" % (names[1], own_streams, long_name),
             "ALTER APPLICATION %s DISCONNECT nnnn" % names[1]),
            ("hex of odd length", read_reply + packet_hex(0)[:-1],
             "●●●●DATA NASHI headerSize=0"),
            ("hex of 200,000 characters", read_reply + "0" * 200_000,
             "●●●●DATA NASHI headerSize=0"),
            ("header claiming more than it holds", read_reply + packet_hex(1000, b"0123456789"),
             "QK_SKYPESTREAM::repRead() packet of 1040 bytes in 50 decoded bytes: no packet"),
            ("STREAMS entry without ':'",
             "APPLICATION %s STREAMS %s bob" % (names[1], own_streams),
             "書式エラーユーザ名なし"),
            ("USERS with empty names", "USERS , ,bob",
             "<-(0): GET USER  ONLINESTATUS"),
        ]
        failures = []
        for what, text, answer in cases:
            mark = len(host.lines)
            reply = control.request("notify " + text, timeout=30)
            if reply != "OK":
                failures.append("%s: control reply %r" % (what, reply))
                continue
            try:
                host.wait_line(lambda line, a=answer: a in line, 20, start=mark)
            except AssertionError:
                failures.append("%s: no trace line containing %r" % (what, answer[:80]))
            if host.p.poll() is not None:
                failures.append("%s: the program ended (status %s)" % (what, host.p.poll()))
                break
            log("malformed: %s: answered" % what)
        assert not failures, "\n".join(failures)
        # The contact list as Skype has it, and no stream lost or opened.
        assert control.request("notify USERS bob") == "OK"
        time.sleep(1)
        assert not host.has("SEQ NO Error"), "a malformed READ reply moved the receive counter"
        assert not any(stream_closed(line) for line in host.lines), "a stream was closed"
        assert sorted(world.streams("alice")) == streams_before, world.streams("alice")
        failure = http_get(80, body, 60)
        assert failure is None, failure
        checked_bulk(1_000_000)
        assert not host.has("SEQ NO Error"), "the bulk stream lost its sequence"
        log("malformed notifications: program alive, streams kept, channels 1 and 4 exact afterwards")
    finally:
        web.close()


CASES = {
    "skypesim_restarted": case_skypesim_restarted,
    "server_killed": case_server_killed,
    "many_connections": case_many_connections,
    "slow_reader": case_slow_reader,
    "malformed": case_malformed,
}


def configure(ap):
    ap.add_argument("--full", action="store_true", help="slow_reader with 20 MB per direction")

    def apply(args):
        OPTIONS.full = args.full
    return apply


if __name__ == "__main__":
    sys.exit(e2e.main(CASES, configure))
