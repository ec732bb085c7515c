"""Checks the Python control helper against real skypesims.
Usage: control_py_check.py <skypesim executable> <folder of skypesim_control.py> <work dir>
"""
import os
import sys

exe, module_dir, work = sys.argv[1:4]
sys.path.insert(0, module_dir)
from skypesim_control import ControlError, SkypeSim  # noqa: E402

desktop = os.path.join(work, "desktop")
alice = SkypeSim(exe, "alice", work, contacts=["bob"], desktop=desktop).start()
bob = SkypeSim(exe, "bob", work, contacts=["alice@" + alice.listen_address()], desktop=desktop).start()
try:
    assert bob.wait_for(lambda: bob.contacts() == {"alice": True}), bob.log()
    assert alice.wait_for(lambda: alice.contacts() == {"bob": True}), alice.log()
    assert alice.streams() == []
    info = alice.info()
    assert info["user"] == "alice" and info["attached"] == "0" and info["status"] == "ONLINE", info
    assert alice.window() != 0
    alice.ok("cut bob")
    assert bob.wait_for(lambda: bob.contacts() == {"alice": False})
    alice.ok("restore bob")
    assert bob.wait_for(lambda: bob.contacts() == {"alice": True})
    bob.ok("offline")
    assert alice.wait_for(lambda: alice.contacts() == {"bob": False})
    assert bob.info()["status"] == "OFFLINE"
    bob.ok("online")
    assert alice.wait_for(lambda: alice.contacts() == {"bob": True})
    try:
        alice.ok("cut nobody")
        raise AssertionError("ERR expected")
    except ControlError as e:
        assert "unknown contact" in str(e)
    assert bob.quit() == 0
    assert alice.wait_for(lambda: alice.contacts() == {"bob": False})
    assert alice.quit() == 0
finally:
    alice.kill()
    bob.kill()
print("ok")
