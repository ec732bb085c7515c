#!/usr/bin/python3
"""Throughput of the whole tunnel: one channel, then five channels, each
carrying SIZE bytes both ways at once; CPU % and RSS of every process
sampled from /proc during the five-channel run.

usage: tunnel_bench.py --host PATH-OF-zorvanefortcp --sim PATH [--size BYTES]
Runs in its own network namespace (root), like the whole-system tests.
"""
import argparse
import hashlib
import os
import socket
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "e2e"))
import zorvane_e2e as e2e  # noqa: E402

FORWARD = [("127.0.0.2", 21), ("127.0.0.1", 19101), ("127.0.0.1", 19102),
           ("127.0.0.1", 19103), ("127.0.0.1", 19104)]


def serve_bulk(address, size, seed, results, key):
    ls = socket.socket()
    ls.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    ls.bind(address)
    ls.listen(4)

    def run():
        while True:
            conn, _ = ls.accept()
            r = {}
            e2e.send_all_recv_all(conn, e2e.pattern(seed, size), size, r)
            results[key] = r
            time.sleep(0.5)
            conn.close()

    threading.Thread(target=run, daemon=True).start()


def proc_sample(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    ticks = int(fields[11]) + int(fields[12])
    rss = 0
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                rss = int(line.split()[1])
    return ticks, rss


def run_channels(world, channels, size):
    server_results = {}
    client_results = {}
    threads = []
    t0 = time.monotonic()
    for ch in channels:
        def client(ch=ch):
            s = socket.create_connection(("127.0.0.1", e2e.CLIENT_PORTS[ch]))
            r = {}
            e2e.send_all_recv_all(s, e2e.pattern(100 + ch, size), size, r)
            client_results[ch] = r
            s.close()
        t = threading.Thread(target=client)
        t.start()
        threads.append(t)
    samples = {}
    hz = os.sysconf("SC_CLK_TCK")
    start = {p.name: proc_sample(p.p.pid) for p in world.procs}
    peak = {name: 0 for name in start}
    while any(t.is_alive() for t in threads):
        time.sleep(0.5)
        for p in world.procs:
            _, rss = proc_sample(p.p.pid)
            peak[p.name] = max(peak[p.name], rss)
    elapsed = time.monotonic() - t0
    end = {p.name: proc_sample(p.p.pid) for p in world.procs}
    time.sleep(1)
    for ch in channels:
        want_c = hashlib.sha256(e2e.pattern(200 + ch, size)).hexdigest()
        want_s = hashlib.sha256(e2e.pattern(100 + ch, size)).hexdigest()
        assert client_results[ch]["hash"] == want_c, "channel %d: bytes to the client differ" % ch
        assert server_results_ok(ch, want_s), "channel %d: bytes to the server differ" % ch
    for name in start:
        samples[name] = ((end[name][0] - start[name][0]) / hz / elapsed * 100, peak[name])
    return elapsed, samples


SERVER_RESULTS = {}


def server_results_ok(ch, want):
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        r = SERVER_RESULTS.get(ch)
        if r:
            return r["hash"] == want
        time.sleep(0.1)
    return False


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--host", required=True)
    ap.add_argument("--sim", required=True)
    ap.add_argument("--size", type=int, default=10_000_000)
    args = ap.parse_args()
    e2e.in_own_namespace()
    world = e2e.World(os.path.abspath(args.host), os.path.abspath(args.sim))
    server = {"FOWERDHOST%d" % (ch + 1): h for ch, (h, _) in enumerate(FORWARD)}
    server.update({"FOWERDPORT%d" % (ch + 1): p for ch, (_, p) in enumerate(FORWARD)})
    world.write_ini("bob", {"SYSTEM": {"APPMODE": 0}, "SERVER": server})
    for ch, address in enumerate(FORWARD):
        serve_bulk(address, args.size, 200 + ch, SERVER_RESULTS, ch)
    failed = True
    try:
        world.up()
        elapsed, _ = run_channels(world, [4], args.size)
        print("one channel: %d bytes each way in %.1f s: %.0f B/s per direction, ratio %.3f"
              % (args.size, elapsed, args.size / elapsed, args.size / elapsed / 512000))
        SERVER_RESULTS.clear()
        elapsed, samples = run_channels(world, [0, 1, 2, 3, 4], args.size)
        print("five channels: %d bytes each way each in %.1f s: %.0f B/s per channel per "
              "direction, ratio %.3f" % (args.size, elapsed, args.size / elapsed,
                                        args.size / elapsed / 512000))
        for name, (cpu, rss) in samples.items():
            print("  %-16s CPU %5.1f %%  peak RSS %6.1f MB" % (name, cpu, rss / 1024))
        failed = False
    finally:
        world.close(failed)
    return 0


if __name__ == "__main__":
    sys.exit(main())
