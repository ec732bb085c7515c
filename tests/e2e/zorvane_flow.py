#!/usr/bin/python3
"""Whole-system runs of how a connection's bytes move and end: readers that
pause (curl behind a sleeping shell reader, a raw reader, a forward host, an
FTP data connection), a slow reader on one channel beside a download on
another, the memory held while bytes wait, half-closes passed on in both
directions (ncat and plain sockets), and urgent bytes (ftplib's abort()
against vsftpd and pyftpdlib, and a raw ABOR). The world (two skypesims, the
program as client and as server application, one network namespace per
case) is the one of zorvane_e2e.py.

Measurements are printed as "FIGURE ..." lines.

usage: zorvane_flow.py --host PATH-OF-zorvanefortcp --sim PATH CASE
       zorvane_flow.py --list
"""
import ftplib
import hashlib
import io
import os
import re
import socket
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import zorvane_e2e as e2e  # noqa: E402
import zorvane_faults as faults  # noqa: E402
from zorvane_e2e import log, pattern, BULK_PORT, FTP_HOST, HTTP_PORT  # noqa: E402

PAUSE = 30.0                    # seconds a paused reader reads nothing
HTTP_LOCAL = 80                 # channel 1 at the client application
BULK_LOCAL = 9023               # channel 4 at the client application
LONG = 170                      # seconds any single transfer of a case may take


def sha(data):
    return hashlib.sha256(data).hexdigest()


def wait_listener(port, host="127.0.0.1", proc=None, timeout=20):
    """Waits until a server behind the server application listens."""
    address = "%02X%02X%02X%02X:%04X" % tuple([int(b) for b in reversed(host.split("."))] + [port])
    deadline = time.monotonic() + timeout
    while address not in e2e.listening_sockets():
        assert time.monotonic() < deadline, "nothing listens at %s:%d" % (host, port)
        assert proc is None or proc.poll() is None, "the server at %s:%d ended (%s)" % (host, port, proc.poll())
        time.sleep(0.1)


def read_to_end(sock, limit=None, pause_after=None, pause=PAUSE, on_pause=None):
    """Reads until the peer closes (or `limit` bytes); with pause_after, stops
    reading for `pause` seconds once that many bytes have come (on_pause runs
    in the pause). Returns sha256, byte count and how it ended ("closed",
    "reset", "timeout", "limit")."""
    h = hashlib.sha256()
    got = 0
    paused = pause_after is None
    end = "closed"
    while True:
        want = 65536
        if not paused:
            want = min(want, pause_after - got)
            if want == 0:
                t0 = time.monotonic()
                if on_pause:
                    on_pause()
                time.sleep(max(0.0, pause - (time.monotonic() - t0)))
                paused = True
                continue
        if limit is not None:
            want = min(want, limit - got)
            if want == 0:
                end = "limit"
                break
        try:
            chunk = sock.recv(want)
        except ConnectionResetError:
            end = "reset"
            break
        except socket.timeout:
            end = "timeout"
            break
        if not chunk:
            break
        h.update(chunk)
        got += len(chunk)
    return h.hexdigest(), got, end


def serve_and_finish(conn, data, timeout=LONG):
    """Sends data, ends the sending and waits for the other end's close, so
    that nothing is left behind in a socket nobody holds."""
    try:
        conn.sendall(data)
        conn.shutdown(socket.SHUT_WR)
        conn.settimeout(timeout)
        while conn.recv(65536):
            pass
    except OSError:
        pass
    conn.close()


def serve_each(ls, handler):
    """Calls handler(conn) for every connection to ls, each in a thread,
    until close_listener(ls)."""
    def loop():
        while True:
            try:
                conn, _ = ls.accept()
            except OSError:
                return
            threading.Thread(target=handler, args=(conn,), daemon=True).start()
    threading.Thread(target=loop, daemon=True).start()


def close_listener(ls):
    """Closes a listener that a thread may be waiting on in accept() (a
    plain close would leave it listening)."""
    try:
        ls.shutdown(socket.SHUT_RDWR)
    except OSError:
        pass
    ls.close()


# ---------------------------------------------------- curl behind a sleeper

CURL_SIZE = 12_000_000


def case_curl_sleeping_reader(world):
    """`curl -sS http://127.0.0.1/big | (sleep 30; ...)` with the system's
    default buffers: 12,000,000 bytes wait behind channel 1 while the shell
    reader sleeps; curl exits 0 and every byte arrives."""
    body = pattern(51, CURL_SIZE)
    server = e2e.HttpServer(body)
    out = os.path.join(world.root, "big.out")
    try:
        world.up()
        script = ('curl -sS --max-time %d http://127.0.0.1:%d/big | (sleep %d; tee "$1" | wc -c); '
                  'echo "curl-exit=${PIPESTATUS[0]}"' % (LONG, HTTP_LOCAL, PAUSE))
        t0 = time.monotonic()
        r = subprocess.run(["bash", "-c", script, "bash", out], capture_output=True, text=True,
                           timeout=LONG + 60)
        seconds = time.monotonic() - t0
        lines = r.stdout.split()
        count = int(lines[0]) if lines and lines[0].isdigit() else -1
        exit_code = next((l.split("=")[1] for l in lines if l.startswith("curl-exit=")), "?")
        with open(out, "rb") as f:
            same = sha(f.read()) == sha(body)
        log("FIGURE curl-sleeping-reader bytes=%d of %d curl-exit=%s same=%s seconds=%.1f stderr=%r"
            % (count, CURL_SIZE, exit_code, same, seconds, r.stderr.strip()))
        assert exit_code == "0", "curl exit %s: %s" % (exit_code, r.stderr.strip())
        assert count == CURL_SIZE and same, "%d of %d bytes (same=%s)" % (count, CURL_SIZE, same)
    finally:
        server.close()


# ---------------------------------------------------------- paused readers

# (case, bytes the server sends, bytes read before the pause)
PAUSED_READERS = [
    ("paused_reader", 16_000_000, 200_000),
    ("paused_reader_tail", 130_000, 0),
]


def paused_reader_case(name, size, before):
    def case(world):
        e2e.cap_tcp_buffers()
        body = pattern(61, size)
        ls = e2e.one_shot_server(BULK_PORT)
        serve_each(ls, lambda conn: serve_and_finish(conn, body))
        world.up()
        s = socket.create_connection(("127.0.0.1", BULK_LOCAL), timeout=60)
        t0 = time.monotonic()
        digest, got, end = read_to_end(s, pause_after=before)
        seconds = time.monotonic() - t0
        s.close()
        close_listener(ls)
        same = digest == sha(body)
        log("FIGURE %s bytes=%d of %d read-before-pause=%d pause-s=%.0f same=%s end=%s seconds=%.1f"
            % (name.replace("_", "-"), got, size, before, PAUSE, same, end, seconds))
        assert got == size and same, "%d of %d bytes (pause after %d), %s" % (got, size, before, end)
        assert end == "closed", "ended by %s" % end
    case.__doc__ = ("Channel 4 with capped buffers: the server sends %d bytes and ends; the "
                    "reader reads %d, pauses %.0f s, reads on: every byte, then the close."
                    % (size, before, PAUSE))
    return case


UPLOAD_SIZE = 3_000_000


def case_paused_forward_host(world):
    """Channel 1 with capped buffers: the forward host pauses 30 s before it
    reads a 3 MB upload, then answers with the count and the hash of what
    it read. The client's sending never fails and the answer is exact."""
    e2e.cap_tcp_buffers()
    upload = pattern(71, UPLOAD_SIZE)
    ls = e2e.one_shot_server(HTTP_PORT)
    served = {}
    done = threading.Event()

    def serve(conn):
        time.sleep(PAUSE)
        conn.settimeout(60)
        digest, got, end = read_to_end(conn, limit=UPLOAD_SIZE)
        served.update(bytes=got, same=digest == sha(upload), end=end)
        try:
            conn.sendall(b"%d %s\n" % (got, digest.encode()))
        except OSError as ex:
            served["reply_error"] = str(ex)
        conn.close()
        done.set()

    serve_each(ls, serve)
    world.up()
    c = socket.create_connection(("127.0.0.1", HTTP_LOCAL), timeout=PAUSE + 60)
    send_error = None
    t0 = time.monotonic()
    try:
        c.sendall(upload)
    except OSError as ex:
        send_error = "%s after %.1f s" % (ex, time.monotonic() - t0)
    answer = b""
    try:
        while True:
            chunk = c.recv(4096)
            if not chunk:
                break
            answer += chunk
    except OSError as ex:
        answer += b" (" + str(ex).encode() + b")"
    c.close()
    done.wait(PAUSE + 60)
    close_listener(ls)
    want = b"%d %s\n" % (UPLOAD_SIZE, sha(upload).encode())
    log("FIGURE paused-forward-host read=%s of %d same=%s client-send-error=%s answer-ok=%s seconds=%.1f"
        % (served.get("bytes"), UPLOAD_SIZE, served.get("same"), send_error, answer == want,
           time.monotonic() - t0))
    assert send_error is None, "the client's sending failed: %s" % send_error
    assert served.get("bytes") == UPLOAD_SIZE and served.get("same"), "the forward host read %s" % served
    assert answer == want, "answer %r" % answer[:120]


FTP_PAUSED_SIZE = 4_000_000


def case_ftp_paused_data(world):
    """A passive RETR from pyftpdlib (default handler) with capped buffers,
    whose data connection is read only after a 30 s pause; in the pause the
    control connection answers a NOOP. Every byte arrives, then the 226."""
    e2e.cap_tcp_buffers()
    files, served = e2e.ftp_files(world, FTP_PAUSED_SIZE)
    server = e2e.FtpServer(files)
    try:
        world.up()
        ftp = e2e.ftp_login()
        ftp.voidcmd("TYPE I")
        conn = ftp.transfercmd("RETR served.bin")
        noop = {}

        def noop_in_pause():
            time.sleep(5)
            t0 = time.monotonic()
            ftp.sock.settimeout(PAUSE - 10)
            try:
                ftp.putcmd("NOOP")
                lines = []
                while not lines or not lines[-1].startswith("200"):
                    lines.append(ftp.getline())
                noop.update(lines=lines, seconds=time.monotonic() - t0)
            except (OSError, EOFError) as ex:
                noop.update(error=repr(ex), seconds=time.monotonic() - t0)

        conn.settimeout(60)
        digest, got, end = read_to_end(conn, pause_after=65536, on_pause=noop_in_pause)
        conn.close()
        ftp.sock.settimeout(20)
        final = next((l for l in noop.get("lines", []) if l.startswith("226")), None)
        if final is None:     # the transfer's reply comes after the NOOP's
            try:
                final = ftp.voidresp()
            except (OSError, EOFError, ftplib.Error) as ex:
                final = repr(ex)
        log("FIGURE ftp-paused-data bytes=%d of %d same=%s end=%s noop=%s noop-s=%.2f final=%r"
            % (got, FTP_PAUSED_SIZE, digest == sha(served), end, noop.get("lines", noop.get("error")),
               noop.get("seconds", -1), final))
        assert "lines" in noop, "NOOP in the pause: %s" % noop.get("error")
        assert got == FTP_PAUSED_SIZE and digest == sha(served), "%d of %d bytes, %s" % (got, FTP_PAUSED_SIZE, end)
        assert str(final).startswith("226"), "after the transfer: %s" % final
        ftp.quit()
    finally:
        server.close()


# ------------------------------------------ a slow reader on another channel

BESIDE_SIZE = 3_000_000
SLOW_READER_RATE = 50_000


def timed_download(port, size):
    """Reads size bytes; (bytes per second from the first byte to the last,
    longest wait between two reads after the first byte, bytes, same)."""
    s = socket.create_connection(("127.0.0.1", port), timeout=60)
    h = hashlib.sha256()
    got, first, last, gap = 0, None, None, 0.0
    while got < size:
        try:
            chunk = s.recv(65536)
        except OSError:
            break
        if not chunk:
            break
        now = time.monotonic()
        if first is None:
            first = now
        else:
            gap = max(gap, now - last)
        last = now
        h.update(chunk)
        got += len(chunk)
    s.close()
    rate = got / (last - first) if first is not None and last > first else 0.0
    return rate, gap, got, h.hexdigest()


def case_beside_slow_reader(world):
    """Channel 4 downloads 3 MB alone, then again while channel 1 carries a
    download read at 50 KB/s (capped buffers): beside the slow reader it
    keeps at least 0.9 of its rate alone, with no wait over 0.5 s."""
    e2e.cap_tcp_buffers()
    body = pattern(81, BESIDE_SIZE)
    bulk = e2e.one_shot_server(BULK_PORT)
    serve_each(bulk, lambda conn: serve_and_finish(conn, body))
    endless = e2e.one_shot_server(HTTP_PORT)
    block = pattern(82, 65536)

    def serve_endless(conn):
        try:
            while True:
                conn.sendall(block)
        except OSError:
            conn.close()

    serve_each(endless, serve_endless)
    world.up()
    alone, alone_gap, got, digest = timed_download(BULK_LOCAL, BESIDE_SIZE)
    assert got == BESIDE_SIZE and digest == sha(body), "alone: %d of %d bytes" % (got, BESIDE_SIZE)

    stop = threading.Event()
    slow = {"bytes": 0}

    def slow_reader():
        s = socket.socket()
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 16384)
        s.settimeout(30)
        s.connect(("127.0.0.1", HTTP_LOCAL))
        t0 = time.monotonic()
        try:
            while not stop.is_set():
                chunk = s.recv(4096)
                if not chunk:
                    slow["end"] = "closed"
                    break
                slow["bytes"] += len(chunk)
                ahead = slow["bytes"] / SLOW_READER_RATE - (time.monotonic() - t0)
                if ahead > 0:
                    time.sleep(ahead)
        except OSError as ex:
            slow["end"] = repr(ex)
        slow["seconds"] = time.monotonic() - t0
        s.close()

    reader = threading.Thread(target=slow_reader, daemon=True)
    reader.start()
    time.sleep(3)   # the slow channel's queues fill first
    beside, beside_gap, got, digest = timed_download(BULK_LOCAL, BESIDE_SIZE)
    stop.set()
    reader.join(40)
    close_listener(bulk)
    close_listener(endless)
    ratio = beside / alone if alone else 0.0
    log("FIGURE beside-slow-reader alone-Bps=%.0f alone-longest-wait-s=%.2f beside-Bps=%.0f "
        "beside-longest-wait-s=%.2f ratio=%.3f slow-reader-Bps=%.0f slow-reader-end=%s"
        % (alone, alone_gap, beside, beside_gap, ratio,
           slow["bytes"] / slow["seconds"] if slow.get("seconds") else 0, slow.get("end", "open")))
    assert got == BESIDE_SIZE and digest == sha(body), "beside: %d of %d bytes" % (got, BESIDE_SIZE)
    assert ratio >= 0.9, "beside a slow reader: %.0f B/s of %.0f alone (%.3f)" % (beside, alone, ratio)
    assert beside_gap <= 0.5, "beside a slow reader: a wait of %.2f s" % beside_gap


# ------------------------------------------ memory while bytes wait

MEMORY_SIZE = 16_000_000
MEMORY_BOUND_KB = 8192


def rss_kb(proc):
    return faults.process_figures(proc)["rss_kb"]


def case_memory_paused(world):
    """Capped buffers; 16 MB wait behind a paused reader in each direction at
    once (a local reader on channel 4, a forward host on channel 1), 30 s:
    no process of the four grows by more than 8 MB, and every byte arrives
    afterwards."""
    e2e.cap_tcp_buffers()
    down_body = pattern(91, MEMORY_SIZE)
    up_body = pattern(92, MEMORY_SIZE)
    warm = pattern(93, 1_000_000)
    # The first byte says what a connection is: "w" one warm-up megabyte,
    # else the 16 MB that wait behind a paused reader.
    bulk = e2e.one_shot_server(BULK_PORT)
    serve_each(bulk, lambda conn: serve_and_finish(conn, warm if conn.recv(1) == b"w" else down_body))
    up_server = e2e.one_shot_server(HTTP_PORT)
    up = {}

    def serve_up(conn):
        conn.settimeout(60)
        if conn.recv(1) == b"w":
            read_to_end(conn)
            conn.close()
            return
        time.sleep(PAUSE)
        digest, got, end = read_to_end(conn, limit=MEMORY_SIZE)
        up.update(bytes=got, same=digest == sha(up_body), end=end)
        conn.close()

    serve_each(up_server, serve_up)
    world.up()
    # Each direction once before the first figures.
    c = socket.create_connection(("127.0.0.1", BULK_LOCAL), timeout=60)
    c.sendall(b"w")
    assert read_to_end(c)[1] == len(warm), "warm-up download"
    c.close()
    c = socket.create_connection(("127.0.0.1", HTTP_LOCAL), timeout=60)
    c.sendall(b"w" + warm)
    c.shutdown(socket.SHUT_WR)
    c.recv(1)
    c.close()
    time.sleep(2)
    procs = {"client-application": world.hosts["alice"], "server-application": world.hosts["bob"],
             "skypesim-alice": world.sims["alice"][0], "skypesim-bob": world.sims["bob"][0]}
    before = {n: rss_kb(p) for n, p in procs.items()}
    peak = dict(before)
    sample_stop = threading.Event()

    def sample():
        while not sample_stop.is_set():
            for n, p in procs.items():
                if p.p.poll() is None:
                    peak[n] = max(peak[n], rss_kb(p))
            sample_stop.wait(0.5)

    sampler = threading.Thread(target=sample, daemon=True)
    sampler.start()

    def uploader():
        s = socket.create_connection(("127.0.0.1", HTTP_LOCAL), timeout=LONG)   # sendall: 30 s of pause, then 16 MB
        try:
            s.sendall(b"u" + up_body)
            s.recv(1)         # the forward host closes once it has read it all
        except OSError as ex:
            up["send_error"] = str(ex)
        s.close()

    sender = threading.Thread(target=uploader, daemon=True)
    sender.start()
    c = socket.create_connection(("127.0.0.1", BULK_LOCAL), timeout=60)
    c.sendall(b"d")
    digest, got, end = read_to_end(c, pause_after=200_000)
    c.close()
    sender.join(LONG)
    sample_stop.set()
    sampler.join(5)
    close_listener(bulk)
    close_listener(up_server)
    growth = {n: peak[n] - before[n] for n in procs}
    log("FIGURE memory-paused " + " ".join("%s-growth-kb=%d" % (n, growth[n]) for n in procs))
    log("FIGURE memory-paused down-bytes=%d of %d down-end=%s up-bytes=%s of %d up-same=%s up-send-error=%s"
        % (got, MEMORY_SIZE, end, up.get("bytes"), MEMORY_SIZE, up.get("same"), up.get("send_error")))
    assert got == MEMORY_SIZE and digest == sha(down_body), "down: %d of %d bytes, %s" % (got, MEMORY_SIZE, end)
    assert up.get("bytes") == MEMORY_SIZE and up.get("same"), "up: %s" % up
    # The address sanitizer holds freed memory back, so resident size says
    # nothing there.
    for n, p in procs.items():
        if not faults.sanitized(p):
            assert growth[n] <= MEMORY_BOUND_KB, "%s grew by %d kB" % (n, growth[n])


# ------------------------------------------------------------- half-closes

HALF_UP = 200_000
HALF_DOWN = 300_000
DATE_LINE = re.compile(rb"^Date: [^\r\n]*\r\n", re.M)


def ncat_request(port):
    """`printf 'GET / HTTP/1.0...' | ncat 127.0.0.1 PORT`: (exit code, reply)."""
    r = subprocess.run(["bash", "-c", "printf 'GET / HTTP/1.0\\r\\nHost: x\\r\\n\\r\\n' | ncat 127.0.0.1 %d" % port],
                       capture_output=True, timeout=60)
    return r.returncode, r.stdout


def half_ncat_client(world):
    """ncat at the client application ends its sending when its input ends
    and reads the reply of Python's http.server: the same reply as
    directly."""
    code, direct = ncat_request(HTTP_PORT)
    code_t, through = ncat_request(HTTP_LOCAL)
    same = DATE_LINE.sub(b"", direct) == DATE_LINE.sub(b"", through)
    figure = "direct-bytes=%d tunnel-bytes=%d ncat-exit=%d same=%s" % (len(direct), len(through), code_t, same)
    if len(direct) < HALF_DOWN or code != 0:
        return figure, "the direct request gave %d bytes (exit %d)" % (len(direct), code)
    return figure, None if same and code_t == 0 else "through the tunnel: %d of %d bytes" % (len(through), len(direct))


def half_socket_client(world):
    """The client sends 200 KB, ends its sending and reads; the forward host
    reads to the end, then answers 300 KB and closes."""
    up, down = pattern(101, HALF_UP), pattern(102, HALF_DOWN)
    ls = e2e.one_shot_server(BULK_PORT)
    served = {}

    def serve(conn):
        conn.settimeout(60)
        digest, got, end = read_to_end(conn)
        served.update(bytes=got, same=digest == sha(up), end=end)
        try:
            conn.sendall(down)
        except OSError as ex:
            served["reply_error"] = str(ex)
        conn.close()

    serve_each(ls, serve)
    c = socket.create_connection(("127.0.0.1", BULK_LOCAL), timeout=60)
    c.sendall(up)
    c.shutdown(socket.SHUT_WR)
    digest, got, end = read_to_end(c)
    c.close()
    time.sleep(0.5)
    close_listener(ls)
    figure = "server-read=%s of %d reply-error=%s client-read=%d of %d end=%s" % (
        served.get("bytes"), HALF_UP, served.get("reply_error"), got, HALF_DOWN, end)
    ok = served.get("bytes") == HALF_UP and served.get("same") and got == HALF_DOWN and digest == sha(down)
    return figure, None if ok else "bytes lost"


def half_socket_server(world):
    """The forward host answers 300 KB and ends its sending at once; the
    client reads the answer to its end, then sends 200 KB and closes; the
    forward host reads all of it."""
    up, down = pattern(103, HALF_UP), pattern(104, HALF_DOWN)
    ls = e2e.one_shot_server(BULK_PORT)
    served = {}
    done = threading.Event()

    def serve(conn):
        conn.settimeout(60)
        try:
            conn.sendall(down)
            conn.shutdown(socket.SHUT_WR)
        except OSError as ex:
            served["send_error"] = str(ex)
        digest, got, end = read_to_end(conn)
        served.update(bytes=got, same=digest == sha(up), end=end)
        conn.close()
        done.set()

    serve_each(ls, serve)
    c = socket.create_connection(("127.0.0.1", BULK_LOCAL), timeout=60)
    digest, got, end = read_to_end(c)
    send_error = None
    try:
        c.sendall(up)
        c.shutdown(socket.SHUT_WR)
        c.recv(1)
    except OSError as ex:
        send_error = str(ex)
    c.close()
    done.wait(60)
    close_listener(ls)
    figure = "client-read=%d of %d end=%s client-send-error=%s server-read=%s of %d" % (
        got, HALF_DOWN, end, send_error, served.get("bytes"), HALF_UP)
    ok = got == HALF_DOWN and digest == sha(down) and served.get("bytes") == HALF_UP and served.get("same")
    return figure, None if ok else "bytes lost"


def half_ncat_server(world):
    """`ncat -l` behind the server application sends its input, ends its
    sending at the input's end and writes what it receives; the client reads
    the answer to its end, then sends 200 KB and closes."""
    up, down = pattern(105, HALF_UP), pattern(106, HALF_DOWN)
    reply, received = os.path.join(world.root, "ncat-reply"), os.path.join(world.root, "ncat-received")
    with open(reply, "wb") as f:
        f.write(down)
    with open(reply, "rb") as stdin, open(received, "wb") as stdout:
        server = subprocess.Popen(["ncat", "-l", "127.0.0.1", str(BULK_PORT)], stdin=stdin, stdout=stdout,
                                  stderr=subprocess.DEVNULL)
    try:
        wait_listener(BULK_PORT, proc=server)
        c = socket.create_connection(("127.0.0.1", BULK_LOCAL), timeout=60)
        digest, got, end = read_to_end(c)
        send_error = None
        try:
            c.sendall(up)
        except OSError as ex:
            send_error = str(ex)
        c.close()
        try:
            server.wait(60)
        except subprocess.TimeoutExpired:
            pass
    finally:
        if server.poll() is None:
            server.kill()
            server.wait()
    with open(received, "rb") as f:
        heard = f.read()
    figure = "client-read=%d of %d end=%s client-send-error=%s ncat-received=%d of %d" % (
        got, HALF_DOWN, end, send_error, len(heard), HALF_UP)
    ok = got == HALF_DOWN and digest == sha(down) and heard == up
    return figure, None if ok else "bytes lost"


# (name, who ends its sending first, run)
HALF_CLOSES = [
    ("ncat-client", "client", half_ncat_client),
    ("socket-client", "client", half_socket_client),
    ("socket-server", "forward host", half_socket_server),
    ("ncat-server", "forward host", half_ncat_server),
]


def case_half_close(world):
    """A half-close is passed on, both ways: each row ends one direction
    first (at the client or at the forward host) while the other direction
    goes on; every byte of both directions arrives."""
    www = os.path.join(world.root, "www")
    os.makedirs(www)
    with open(os.path.join(www, "index.html"), "wb") as f:
        f.write(pattern(107, HALF_DOWN).hex().encode()[:HALF_DOWN])
    web = subprocess.Popen(["/usr/bin/python3", "-m", "http.server", str(HTTP_PORT), "--bind", "127.0.0.1",
                            "--directory", www], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        wait_listener(HTTP_PORT, proc=web)
        world.up()
        failures = []
        for name, first, run in HALF_CLOSES:
            figure, failure = run(world)
            log("FIGURE half-close %s (%s ends first) %s" % (name, first, figure))
            if failure:
                failures.append("%s: %s (%s)" % (name, failure, figure))
        assert not failures, "\n".join(failures)
    finally:
        web.terminate()
        web.wait(10)


# ------------------------------------------------------------ urgent bytes

URGENT_SENT = b"RETR f\r\nABOR\r"
URGENT_LINE = URGENT_SENT + b"\n" + b"NOOP\r\n"

# (channel, local port, forward host)
URGENT_CHANNELS = [
    ("plain", BULK_LOCAL, ("127.0.0.1", BULK_PORT)),
    ("ftp", 21, (FTP_HOST, 21)),
]


def case_urgent_bytes(world):
    """`RETR f\\r\\nABOR\\r`, then `\\n` sent urgent (MSG_OOB), then
    `NOOP\\r\\n`, through a plain channel and the FTP channel: the forward
    host (urgent bytes kept in the stream) reads the bytes in order, the
    urgent one in its place."""
    servers = []
    heard = {}
    for name, _, address in URGENT_CHANNELS:
        ls = e2e.one_shot_server(address[1], host=address[0])
        # An urgent byte stays in the stream here, as FTP servers have it;
        # accepted sockets take the option from the listener.
        ls.setsockopt(socket.SOL_SOCKET, socket.SO_OOBINLINE, 1)
        servers.append(ls)

        def serve(conn, name=name):
            conn.settimeout(10)
            data = b""
            try:
                while len(data) < len(URGENT_LINE) and not data.endswith(b"NOOP\r\n"):
                    chunk = conn.recv(4096)
                    if not chunk:
                        break
                    data += chunk
            except OSError:
                pass
            heard[name] = data
            conn.close()

        serve_each(ls, serve)
    world.up()
    failures = []
    for name, port, _ in URGENT_CHANNELS:
        c = socket.create_connection(("127.0.0.1", port), timeout=20)
        c.sendall(URGENT_SENT)
        time.sleep(0.1)
        c.send(b"\n", socket.MSG_OOB)
        time.sleep(0.1)
        c.sendall(b"NOOP\r\n")
        deadline = time.monotonic() + 15
        while name not in heard and time.monotonic() < deadline:
            time.sleep(0.1)
        c.close()
        log("FIGURE urgent-byte channel=%s forward-host-read=%r" % (name, heard.get(name)))
        if heard.get(name) != URGENT_LINE:
            failures.append("%s channel: the forward host read %r" % (name, heard.get(name)))
    for ls in servers:
        close_listener(ls)
    assert not failures, "\n".join(failures)


VSFTPD_CONF = """listen=YES
listen_ipv6=NO
listen_address=%(host)s
listen_port=21
background=NO
anonymous_enable=YES
no_anon_password=YES
anon_root=%(root)s
local_enable=NO
write_enable=NO
secure_chroot_dir=%(empty)s
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
async_abor_enable=YES
pasv_enable=YES
xferlog_enable=YES
xferlog_std_format=NO
log_ftp_protocol=YES
syslog_enable=NO
vsftpd_log_file=%(log)s
"""


class Vsftpd:
    """Debian's vsftpd, standalone at the FTP server's address, anonymous
    and read-only, serving the files of a directory of its own."""

    def __init__(self, world, files):
        base = os.path.join(world.root, "vsftpd")
        self.root = os.path.join(base, "root")
        empty = os.path.join(base, "empty")
        self.log_path = os.path.join(base, "vsftpd.log")
        os.makedirs(self.root)
        os.makedirs(empty)
        for name, data in files.items():
            with open(os.path.join(self.root, name), "wb") as f:
                f.write(data)
            os.chmod(os.path.join(self.root, name), 0o644)
        for d in (base, self.root, empty):
            os.chmod(d, 0o755)
        conf = os.path.join(base, "vsftpd.conf")
        with open(conf, "w") as f:
            f.write(VSFTPD_CONF % {"host": FTP_HOST, "root": self.root, "empty": empty, "log": self.log_path})
        self.p = subprocess.Popen(["/usr/sbin/vsftpd", conf], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_listener(21, host=FTP_HOST, proc=self.p)

    def commands(self):
        """The commands vsftpd's log shows it read."""
        try:
            with open(self.log_path, errors="replace") as f:
                return re.findall(r'FTP command: Client "[^"]*", "([^"]*)"', f.read())
        except OSError:
            return []

    def close(self):
        self.p.terminate()
        self.p.wait(10)


class Pyftpd:
    """pyftpdlib's default handler (FtpServer of zorvane_e2e.py)."""

    def __init__(self, world, files):
        root = os.path.join(world.root, "pyftpd")
        os.makedirs(root)
        for name, data in files.items():
            with open(os.path.join(root, name), "wb") as f:
                f.write(data)
        self.server = e2e.FtpServer(root)

    def commands(self):
        return []

    def close(self):
        self.server.close()


def abort_session(host, login, name, served, prefix=65536, timeout=20):
    """A passive RETR read for `prefix` bytes, then ftplib's abort(), the
    data connection closed and a NOOP whose 200 ends the replies left; then
    a second RETR. Returns what happened, and None or a failure."""
    ftp = ftplib.FTP()
    ftp.connect(host, 21, timeout=timeout)
    ftp.login(*login)
    ftp.voidcmd("TYPE I")
    conn = ftp.transfercmd("RETR " + name)
    got = b""
    while len(got) < prefix:
        chunk = conn.recv(prefix - len(got))
        if not chunk:
            break
        got += chunk
    time.sleep(1)
    t0 = time.monotonic()
    try:
        answer = ftp.abort()
    except ftplib.Error as ex:       # a reply, if not one abort() expects
        answer = "%s (%s)" % (ex, type(ex).__name__)
    except (OSError, EOFError) as ex:
        conn.close()
        return {"abort": "no answer: %r after %.1f s" % (ex, time.monotonic() - t0)}, "abort() had no answer"
    seconds = time.monotonic() - t0
    conn.close()
    result = {"abort": answer, "abort-s": "%.2f" % seconds}
    try:
        ftp.putcmd("NOOP")
        lines = []
        while not lines or not lines[-1].startswith("200"):
            lines.append(ftp.getline())
        result["until-noop"] = lines
    except (OSError, EOFError) as ex:
        result["until-noop"] = "no 200: %r" % ex
        return result, "the NOOP after abort() had no 200"
    buf = io.BytesIO()
    try:
        result["next-retr"] = ftp.retrbinary("RETR " + name, buf.write)
        ftp.quit()
    except (OSError, EOFError, ftplib.Error) as ex:
        result["next-retr"] = repr(ex)
    result["next-retr-bytes"] = len(buf.getvalue())
    if buf.getvalue() != served:
        return result, "the next RETR gave %d of %d bytes" % (len(buf.getvalue()), len(served))
    return result, None


# (case, server, login, file size)
ABORTS = [
    ("ftp_abort_vsftpd", Vsftpd, ("anonymous", ""), 200_000),
    ("ftp_abort_pyftpdlib", Pyftpd, ("user", "secret"), 4_000_000),
]


def ftp_abort_case(name, server_class, login, size):
    def case(world):
        served = pattern(111, size)
        server = server_class(world, {"served.bin": served})
        try:
            # Directly first: the same session must work without the tunnel.
            direct, failure = abort_session(FTP_HOST, login, "served.bin", served)
            log("FIGURE %s direct %s" % (name.replace("_", "-"), direct))
            assert failure is None, "directly, without the tunnel: %s (%s)" % (failure, direct)
            world.up()
            through, failure = abort_session("127.0.0.1", login, "served.bin", served)
            log("FIGURE %s tunnel %s" % (name.replace("_", "-"), through))
            if server.commands():
                log("FIGURE %s server-read-commands %s" % (name.replace("_", "-"), server.commands()))
            assert failure is None, "through the tunnel: %s (%s)" % (failure, through)
        finally:
            server.close()
    case.__doc__ = ("ftplib's abort() during a passive RETR of %d bytes from %s, directly and through "
                    "the tunnel: it is answered, the replies end with a NOOP's, and the next RETR is "
                    "exact." % (size, server_class.__name__))
    return case


CASES = {
    "curl_sleeping_reader": case_curl_sleeping_reader,
}
CASES.update({name: paused_reader_case(name, size, before) for name, size, before in PAUSED_READERS})
CASES.update({
    "paused_forward_host": case_paused_forward_host,
    "ftp_paused_data": case_ftp_paused_data,
    "beside_slow_reader": case_beside_slow_reader,
    "memory_paused": case_memory_paused,
    "half_close": case_half_close,
    "urgent_bytes": case_urgent_bytes,
})
CASES.update({name: ftp_abort_case(name, server, login, size) for name, server, login, size in ABORTS})


if __name__ == "__main__":
    sys.exit(e2e.main(CASES))
