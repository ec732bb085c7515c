"""Test-side helper for skypesim: start a skypesim process and use its control
channel. Standard library only (works with /usr/bin/python3).

    from skypesim_control import SkypeSim
    alice = SkypeSim(exe, "alice", workdir, contacts=["bob"])
    alice.start()
    bob = SkypeSim(exe, "bob", workdir, contacts=["alice@" + alice.listen_address()])
    bob.start()
    bob.wait_for(lambda: bob.contacts().get("alice") is True)
    alice.request("offline")          # -> "OK"
    alice.quit()

The control socket is <workdir>/<user>.ctl, the output (ready line, trace)
goes to <workdir>/<user>.log. Every call has a time-out.
"""

import os
import socket
import subprocess
import time


class ControlError(Exception):
    pass


class SkypeSim:
    def __init__(self, exe, user, workdir, contacts=(), listen=None, attach=None,
                 offline=False, trace=True, desktop=None, extra=()):
        self.exe = exe
        self.user = user
        self.workdir = workdir
        self.control_path = os.path.join(workdir, user + ".ctl")
        self.log_path = os.path.join(workdir, user + ".log")
        args = [exe, "--user", user]
        for c in contacts:
            args += ["--contact", c]
        if listen:
            args += ["--listen", listen]
        if attach:
            args += ["--attach", attach]
        if offline:
            args.append("--offline")
        if trace:
            args.append("--trace")
        if desktop:
            args += ["--desktop", desktop]
        args += list(extra)
        args += ["--control", self.control_path]
        self.args = args
        self.process = None
        self._sock = None
        self._buf = b""

    # ------------------------------------------------------------ process
    def start(self, timeout=10.0, env=None):
        """Starts the process and waits until its control channel answers."""
        if os.path.exists(self.control_path):
            os.unlink(self.control_path)
        log = open(self.log_path, "ab")
        self.process = subprocess.Popen(self.args, stdout=log, stderr=subprocess.STDOUT, env=env)
        log.close()
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise ControlError("skypesim %s ended at start (status %d): %s"
                                   % (self.user, self.process.returncode, self.log()))
            try:
                s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                s.connect(self.control_path)
                self._sock = s
                self._buf = b""
                if self.request("ping", timeout=max(0.1, deadline - time.monotonic())) == "OK":
                    return self
            except OSError:
                pass
            time.sleep(0.02)
        self.kill()
        raise ControlError("skypesim %s did not start: %s" % (self.user, self.log()))

    def running(self):
        return self.process is not None and self.process.poll() is None

    def quit(self, timeout=5.0):
        """Asks the process to end; kills it when it does not. Returns the exit status."""
        if self.running():
            try:
                self.request("quit", timeout=timeout)
            except ControlError:
                pass
            try:
                self.process.wait(timeout)
            except subprocess.TimeoutExpired:
                self.kill()
        self._close()
        return self.process.returncode if self.process else None

    def kill(self):
        if self.running():
            self.process.kill()
            self.process.wait(5)
        self._close()

    def log(self):
        try:
            with open(self.log_path, "r", errors="replace") as f:
                return f.read()[-4000:]
        except OSError:
            return ""

    # ------------------------------------------------------------ control
    def request(self, line, timeout=10.0):
        """Sends one command line and returns the reply line ("OK ..." or "ERR ...")."""
        if self._sock is None:
            raise ControlError("no control channel")
        self._sock.settimeout(timeout)
        try:
            self._sock.sendall(line.encode("utf-8") + b"\n")
            while b"\n" not in self._buf:
                chunk = self._sock.recv(65536)
                if not chunk:
                    raise ControlError("control channel closed")
                self._buf += chunk
        except (OSError, socket.timeout) as e:
            self._close()
            raise ControlError("control request %r failed: %s" % (line, e))
        reply, self._buf = self._buf.split(b"\n", 1)
        return reply.decode("utf-8", errors="replace")

    def ok(self, line, timeout=10.0):
        """Like request, but raises ControlError unless the reply is OK; returns the rest."""
        reply = self.request(line, timeout)
        if not reply.startswith("OK"):
            raise ControlError("%s: %s" % (line, reply))
        return reply[3:]

    def streams(self):
        """Open streams as "app:user:id" texts."""
        return self.ok("streams").split()

    def contacts(self):
        """{name: True when online}."""
        out = {}
        for word in self.ok("contacts").split():
            name, _, state = word.rpartition(":")
            out[name] = state == "online"
        return out

    def info(self):
        out = {}
        for word in self.ok("info").split():
            key, _, value = word.partition("=")
            out[key] = value
        return out

    def listen_address(self):
        return self.info()["listen"]

    def window(self):
        """The API window handle as an int."""
        return int(self.info()["window"], 16)

    @staticmethod
    def wait_for(cond, timeout=10.0, interval=0.02):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if cond():
                return True
            time.sleep(interval)
        return cond()

    def _close(self):
        if self._sock is not None:
            try:
                self._sock.close()
            except OSError:
                pass
        self._sock = None
        self._buf = b""
