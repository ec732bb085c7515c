#!/usr/bin/python3
"""Throughput and latency of the whole tunnel, each figure with its ratio to
the design limit (one packet of 10,240 payload bytes per stream per 20 ms:
512,000 B/s per channel per direction):

  connect to first byte   on channel 4: a local connection until the byte
                          the forward server sends on accepting arrives
                          (server speaks first), and until the forward
                          server has the byte the client sent (client
                          speaks first)
  one channel up / down   SIZE bytes one way only
  one channel both ways   SIZE bytes each way at once
  five channels both ways SIZE bytes each way on every channel at once

A direction's rate runs from its first byte to its last, so the connect time
is not in it. CPU % (user and system) and peak RSS of the four processes (and of it the
anonymous memory, the rest being mapped files: libraries and fonts) are
sampled from /proc during each run; "per busy channel" divides the sum by the
channels busy.

usage: tunnel_bench.py --host PATH-OF-zorvanefortcp --sim PATH [--size BYTES] [--connects N]
                       [--smoke] [--profile DIR] [--trace]
--smoke: a tiny size and two connects; checks the plumbing (bytes exact),
never the speed. --profile DIR: runs the four processes under callgrind
(output in DIR), counting from the tunnel's being up, with a short size; its
rates mean nothing. The programs run as a user starts them; --trace adds
"-D119", whose trace lines cost time.
Runs in its own network namespace (root), like the whole-system tests.
"""
import argparse
import hashlib
import os
import socket
import statistics
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "e2e"))
import zorvane_e2e as e2e  # noqa: E402

LIMIT = 512000.0
FORWARD = [("127.0.0.2", 21), ("127.0.0.1", 19101), ("127.0.0.1", 19102),
           ("127.0.0.1", 19103), ("127.0.0.1", 19104)]

# What the forward servers do with the next connection: bytes to send, bytes
# to take, or the one-byte greeting of the latency runs.
MODE = {"down": 0, "up": 0, "greet": False, "heard": None}
SERVER_RESULTS = {}
OPEN = {"count": 0}
OPEN_LOCK = threading.Lock()


def exchange(sock, outgoing, incoming_size):
    """Sends outgoing while receiving incoming_size bytes; returns the sha256
    of what arrived, its length and when its first and last bytes came."""
    r = {}
    e2e.send_all_recv_all(sock, outgoing, incoming_size, r)
    return r


def rate(r):
    """Bytes per second from the first byte to the last, or None."""
    if r["first"] is None or r["last"] <= r["first"]:
        return None
    return (r["bytes"] - r["first_len"]) / (r["last"] - r["first"])


def serve(address, key):
    ls = socket.socket()
    ls.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    ls.bind(address)
    ls.listen(4)

    def one(conn):
        try:
            if MODE["greet"]:
                conn.sendall(b"!")
            elif MODE["heard"] is not None:
                if conn.recv(1):
                    MODE["heard"].append(time.monotonic())
            else:
                SERVER_RESULTS[key] = exchange(conn, e2e.pattern(200 + key, MODE["down"]),
                                               MODE["up"])
            conn.settimeout(60)
            while conn.recv(65536):   # until the client closes
                pass
        except OSError:
            pass
        conn.close()
        with OPEN_LOCK:
            OPEN["count"] -= 1

    def run():
        while True:
            conn, _ = ls.accept()
            with OPEN_LOCK:
                OPEN["count"] += 1
            threading.Thread(target=one, args=(conn,), daemon=True).start()

    threading.Thread(target=run, daemon=True).start()


def proc_sample(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    ticks = (int(fields[11]), int(fields[12]))   # user, system
    rss = anon = 0
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                rss = int(line.split()[1])
            elif line.startswith("RssAnon:"):
                anon = int(line.split()[1])
    return ticks, (rss, anon)


def wait_server(ch, timeout=60):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if ch in SERVER_RESULTS:
            return SERVER_RESULTS[ch]
        time.sleep(0.05)
    raise AssertionError("channel %d: the forward server got no result" % ch)


def settle(timeout=30):
    """Until the forward servers have seen every connection close, and a
    little more for the tunnel to return to accepting."""
    deadline = time.monotonic() + timeout
    while OPEN["count"] > 0 and time.monotonic() < deadline:
        time.sleep(0.05)
    assert OPEN["count"] == 0, "a forward connection stays open"
    time.sleep(0.5)


def run_channels(world, channels, up, down):
    """Moves up bytes to the forward server and down bytes back on every
    channel at once; returns per-channel (up rate, down rate), the elapsed
    time and (user %, system %, peak RSS kB) of every process."""
    settle()
    SERVER_RESULTS.clear()
    MODE.update(up=up, down=down, greet=False)
    client_results = {}
    threads = []
    hz = os.sysconf("SC_CLK_TCK")
    start = {p.name: proc_sample(p.p.pid) for p in world.procs}
    peak = {name: (0, 0) for name in start}
    t0 = time.monotonic()
    for ch in channels:
        def client(ch=ch):
            s = socket.create_connection(("127.0.0.1", e2e.CLIENT_PORTS[ch]))
            client_results[ch] = exchange(s, e2e.pattern(100 + ch, up), down)
            wait_server(ch)
            s.close()
        t = threading.Thread(target=client)
        t.start()
        threads.append(t)
    while any(t.is_alive() for t in threads):
        time.sleep(0.25)
        for p in world.procs:
            rss = proc_sample(p.p.pid)[1]
            peak[p.name] = tuple(max(a, b) for a, b in zip(peak[p.name], rss))
    elapsed = time.monotonic() - t0
    end = {p.name: proc_sample(p.p.pid) for p in world.procs}
    rates = {}
    for ch in channels:
        c, s = client_results[ch], wait_server(ch)
        assert s["bytes"] == up and s["hash"] == hashlib.sha256(e2e.pattern(100 + ch, up)).hexdigest(), \
            "channel %d: bytes to the server differ" % ch
        assert c["bytes"] == down and c["hash"] == hashlib.sha256(e2e.pattern(200 + ch, down)).hexdigest(), \
            "channel %d: bytes to the client differ" % ch
        rates[ch] = (rate(s) if up else None, rate(c) if down else None)
    samples = {name: tuple((end[name][0][k] - start[name][0][k]) / hz / elapsed * 100
                           for k in (0, 1)) + (peak[name],)
               for name in start}
    return rates, elapsed, samples


def idle_cpu(world, seconds):
    """CPU % (user, system) of every process with the tunnel up and quiet."""
    hz = os.sysconf("SC_CLK_TCK")
    start = {p.name: proc_sample(p.p.pid)[0] for p in world.procs}
    t0 = time.monotonic()
    time.sleep(seconds)
    elapsed = time.monotonic() - t0
    end = {p.name: proc_sample(p.p.pid)[0] for p in world.procs}
    return {name: tuple((end[name][k] - start[name][k]) / hz / elapsed * 100 for k in (0, 1))
            for name in start}


def connect_latency(world, count):
    """Server speaks first: connect until the forward server's greeting
    arrives. Client speaks first: connect and send until the forward server
    has the byte."""
    greet, heard = [], []
    for _ in range(count):
        MODE.update(greet=True, heard=None)
        t0 = time.monotonic()
        s = socket.create_connection(("127.0.0.1", e2e.CLIENT_PORTS[4]))
        s.settimeout(30)
        first = s.recv(1)
        greet.append(time.monotonic() - t0)
        assert first == b"!", "channel 4: greeting %r" % first
        s.close()
        settle()
        arrivals = []
        MODE.update(greet=False, heard=arrivals)
        t0 = time.monotonic()
        s = socket.create_connection(("127.0.0.1", e2e.CLIENT_PORTS[4]))
        s.sendall(b"?")
        deadline = time.monotonic() + 30
        while not arrivals and time.monotonic() < deadline:
            time.sleep(0.0005)
        assert arrivals, "channel 4: the forward server got no byte"
        heard.append(arrivals[0] - t0)
        s.close()
        settle()
    MODE.update(greet=False, heard=None)
    return greet, heard


def fmt_rate(v):
    return "   n/a" if v is None else "%9.0f B/s (%.3f)" % (v, v / LIMIT)


def report(title, rates, elapsed, samples, size, busy):
    print("%s: %d bytes, %.1f s" % (title, size, elapsed))
    ups = [u for u, _ in rates.values() if u is not None]
    downs = [d for _, d in rates.values() if d is not None]
    for ch, (u, d) in sorted(rates.items()):
        print("  channel %d  up %s   down %s" % (ch, fmt_rate(u), fmt_rate(d)))
    if len(rates) > 1:
        both = ups + downs
        print("  lowest per channel per direction %s, mean %s"
              % (fmt_rate(min(both)), fmt_rate(statistics.mean(both))))
    total = sum(user + system for user, system, _ in samples.values())
    for name, (user, system, (rss, anon)) in samples.items():
        print("  %-16s CPU %5.1f %% (user %4.1f, system %4.1f)  peak RSS %6.1f MB (anonymous %5.1f)"
              % (name, user + system, user, system, rss / 1024, anon / 1024))
    print("  all four processes CPU %.1f %% of one core: %.2f %% per busy channel"
          % (total, total / busy))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--host", required=True)
    ap.add_argument("--sim", required=True)
    ap.add_argument("--size", type=int, default=10_000_000)
    ap.add_argument("--connects", type=int, default=10)
    ap.add_argument("--smoke", action="store_true")
    ap.add_argument("--profile", metavar="DIR")
    ap.add_argument("--trace", action="store_true")
    args = ap.parse_args()
    if args.smoke:
        args.size, args.connects = 200_000, 2
    if args.profile:
        profile_dir = os.path.abspath(args.profile)
        os.makedirs(profile_dir, exist_ok=True)
        plain_init = e2e.Proc.__init__

        # Every child (the programs too, which are a subclass) starts under callgrind.
        def profiled_init(self, name, argv, env, cwd=None):
            out = os.path.join(profile_dir, "callgrind.%s" % name)
            plain_init(self, name, ["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out]
                       + argv, env, cwd)
        e2e.Proc.__init__ = profiled_init
    e2e.in_own_namespace()
    world = e2e.World(os.path.abspath(args.host), os.path.abspath(args.sim), debug=args.trace)
    server = {"FOWERDHOST%d" % (ch + 1): h for ch, (h, _) in enumerate(FORWARD)}
    server.update({"FOWERDPORT%d" % (ch + 1): p for ch, (_, p) in enumerate(FORWARD)})
    world.write_ini("bob", {"SYSTEM": {"APPMODE": 0}, "SERVER": server})
    for ch, address in enumerate(FORWARD):
        serve(address, ch)
    failed = True
    try:
        world.up()
        if args.profile:
            # Only the runs are counted, not the start-up.
            for p in world.procs:
                subprocess.run(["callgrind_control", "--zero", str(p.p.pid)],
                               stdout=subprocess.DEVNULL, check=True)
        idle = idle_cpu(world, 2 if args.smoke else 5)
        print("idle, five streams open: all four processes CPU %.1f %% of one core (%s)"
              % (sum(u + v for u, v in idle.values()),
                 ", ".join("%s %.1f" % (n, u + v) for n, (u, v) in idle.items())))
        if args.connects > 0:
            greet, heard = connect_latency(world, args.connects)
            for what, times in (("server speaks first", greet), ("client speaks first", heard)):
                print("connect to first byte, channel 4, %s, %d connections: median %.1f ms, "
                      "min %.1f, max %.1f" % (what, len(times), statistics.median(times) * 1000,
                                             min(times) * 1000, max(times) * 1000))
        size = args.size
        for title, up, down in (("one channel up", size, 0), ("one channel down", 0, size),
                                ("one channel both ways", size, size)):
            rates, elapsed, samples = run_channels(world, [4], up, down)
            report(title, rates, elapsed, samples, size, 1)
        rates, elapsed, samples = run_channels(world, [0, 1, 2, 3, 4], size, size)
        report("five channels both ways", rates, elapsed, samples, size, 5)
        failed = False
    finally:
        world.close(failed)
    return 0


if __name__ == "__main__":
    sys.exit(main())
