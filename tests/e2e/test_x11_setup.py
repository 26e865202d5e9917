"""velkra against an X server whose answers to the connection set-up go wrong, made
by a relay between it and Xvfb (x11relay): an error in place of the reply to each
set-up request, an extra error ahead of or behind a reply, and a reply that never
comes. The set-up is 17 InternAtom requests (sequences 1-17), GetKeyboardMapping
(18), five QueryExtension (19-23), then RRGetScreenResources and BigReqEnable (24
and 25, Xvfb has RANDR and BIG-REQUESTS). Each fault ends the run with one line on
standard error, status 2 and nothing on standard output, without a dialog: at
once for an error, after the connect timeout (10 s) for a missing reply. Runs
are given longer than that timeout, so that a run the timeout ended shows its
message instead of passing for a hang."""
import os
import subprocess

import pytest

from dialogrun import EMULATOR, PROGRAM, SLOW, prefix
from x11peer import XClient, XServer, have_x_tools, wait_for, windows
from x11relay import BADALLOC, BADVALUE, Relay

pytestmark = pytest.mark.skipif(not have_x_tools() or not os.path.exists(PROGRAM),
                                reason="needs Xvfb, xauth, xwininfo, xprop, xwd, xdotool and velkra built")

SETUP = 25                              # requests the set-up sends to Xvfb
CONNECTWAIT = 10                        # seconds the display selection waits for a set-up


@pytest.fixture(scope="module")
def server():
    s = XServer(depth=24, width=640, height=480)
    yield s
    s.close()


def through(server, relay, tmp_path):
    """The environment that takes velkra to the server through the relay: its
    display over TCP and the server's cookie filed under that display number."""
    auth = tmp_path / ("auth%d" % relay.port)
    auth.write_bytes(b"")
    subprocess.run(["xauth", "-q", "-f", str(auth), "add", ":%d" % (relay.port - 6000), "MIT-MAGIC-COOKIE-1",
                    server.cookie], check=True, timeout=20)
    return server.env(DISPLAY=relay.display, XAUTHORITY=str(auth))


def run(server, faults, tmp_path, seconds):
    """velkra's yes/no question through a relay with these faults: (status, stdout,
    stderr, the relay); the status is "hangs" when the run outlasts `seconds`."""
    relay = Relay(server, faults)
    try:
        p = subprocess.Popen(EMULATOR + [PROGRAM, "yesno", "-text=Go on?"], env=through(server, relay, tmp_path),
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            out, err = p.communicate(timeout=seconds * SLOW)
        except subprocess.TimeoutExpired:
            p.kill()
            out, err = p.communicate()
            return "hangs", out, err, relay
        return p.returncode, out, err, relay
    finally:
        relay.close()


def failed(relay, sequence, name, code):
    return prefix() + b"the X server failed a request of the connection set-up: %s (%d) on request %d.0, " \
        b"sequence %d\n" % (name, code, relay.majors[sequence], sequence)


def test_relay_passes_a_working_set_up(server, tmp_path):
    # Without a fault the question comes up through the relay, whose request count
    # the table below relies on, and a close request ends it as usual.
    relay = Relay(server, {})
    try:
        p = subprocess.Popen(EMULATOR + [PROGRAM, "yesno"], env=through(server, relay, tmp_path),
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        up = wait_for(lambda: p.poll() is not None or [w for w in windows(server) if w[1] == "question"],
                      10 * SLOW)
        assert up is not True and up, p.communicate(timeout=5)
        client = XClient(server)
        client.send_delete_window(up[0][0])
        client.close()
        assert p.communicate(timeout=10 * SLOW) == (b"", b"") and p.returncode == 0
        assert [relay.majors[s] for s in range(1, 24)] == [16] * 17 + [101] + [98] * 5
        assert relay.majors[24] >= 128 and relay.majors[25] >= 128          # RANDR, BIG-REQUESTS
    finally:
        relay.close()


@pytest.mark.parametrize("sequence", range(1, SETUP + 1))
def test_error_in_place_of_a_set_up_reply(server, tmp_path, sequence):
    name, code = (b"BadAlloc", BADALLOC) if sequence % 2 else (b"BadValue", BADVALUE)
    status, out, err, relay = run(server, {sequence: ("replace", code)}, tmp_path, CONNECTWAIT + 5)
    assert relay.injected == [sequence], (relay.problem, status, err)
    assert (status, out, err) == (2, b"", failed(relay, sequence, name, code))


@pytest.mark.parametrize("kind", ["before", "after"])
def test_extra_error_for_the_first_request(server, tmp_path, kind):
    status, out, err, relay = run(server, {1: (kind, BADALLOC)}, tmp_path, CONNECTWAIT + 5)
    assert relay.injected == [1], (relay.problem, status, err)
    assert (status, out, err) == (2, b"", failed(relay, 1, b"BadAlloc", BADALLOC))


@pytest.mark.parametrize("sequence", [1, SETUP])
def test_set_up_reply_that_never_comes(server, tmp_path, sequence):
    # The first wait (atoms, key map, extensions) and the second (screen size,
    # BIG-REQUESTS) are both bounded by the connect timeout.
    status, out, err, relay = run(server, {sequence: ("drop", 0)}, tmp_path, CONNECTWAIT + 10)
    assert relay.injected == [sequence], (relay.problem, status, err)
    assert (status, out) == (2, b"")
    assert err == prefix() + b"the X server at 127.0.0.1:%d did not answer\n" % relay.port
