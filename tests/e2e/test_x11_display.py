# Finding and authorizing the X server: DISPLAY's forms, a DISPLAY that names no
# display refused by velkra before it connects anywhere, $XAUTHORITY before
# ~/.Xauthority, cookies matched by the whole display number, refused setups and
# missing servers ending the run at once with one line and status 2, and the
# fallbacks without DISPLAY (the display-0 socket, else TCP port 6000), which are
# fixed names and so are tried inside private mount and network namespaces.
import os
import shutil
import socket
import subprocess
import textwrap
import time

import pytest

import dialogrun
from x11peer import XServer, have_x_tools, program, wait_for, windows

pytestmark = pytest.mark.skipif(not have_x_tools() or not os.environ.get("KZV_BUILD"),
                                reason="needs Xvfb, xauth, xwininfo, xprop, xwd, xdotool and a build")


@pytest.fixture(scope="module")
def server():
    s = XServer(depth=24, width=640, height=480, tcp=True)
    yield s
    s.close()


def run_demo(env, tmp_path, seconds=15, until_window=None, server=None):
    """Runs the demo; with until_window, closes it once that window is up."""
    log = tmp_path / "demo.log"
    proc = subprocess.Popen(program("x11demo") + [str(log), "90", "60", until_window or "probe"], env=env,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    start = time.monotonic()
    up = False
    if until_window:
        wait_for(lambda: proc.poll() is not None or any(w[1] == until_window for w in windows(server)),
                 seconds)
        up = any(w[1] == until_window for w in windows(server))
        if proc.poll() is None:
            proc.terminate()
    try:
        out, err = proc.communicate(timeout=seconds)
    except subprocess.TimeoutExpired:
        proc.kill()
        out, err = proc.communicate()
    took = time.monotonic() - start
    return (proc.returncode, out, err, took, up) if until_window else (proc.returncode, out, err, took)


def authfile(path, entries):
    """An authority file made by xauth: (display, cookie hex) pairs in order."""
    open(path, "wb").close()
    for display, cookie in entries:
        subprocess.run(["xauth", "-q", "-f", str(path), "add", display, "MIT-MAGIC-COOKIE-1", cookie],
                       check=True)
    return str(path)


def test_cookie_from_xauthority(server, tmp_path):
    status, out, err, _, up = run_demo(server.env(), tmp_path, until_window="cookie ok", server=server)
    assert up, err
    assert "refused" not in err and "error x11 auth" not in err


def test_wrong_cookie_is_one_line_and_status_2(server, tmp_path):
    wrong = authfile(tmp_path / "wrong", [(":%d" % server.number, "00" * 16)])
    status, out, err, took = run_demo(server.env(XAUTHORITY=wrong), tmp_path)
    assert status == 2
    assert out == ""
    lines = err.splitlines()
    assert len(lines) == 1, err
    assert "refused the connection" in lines[0]
    assert took < 3


def test_no_authority_file(server, tmp_path):
    status, out, err, _ = run_demo(server.env(XAUTHORITY=str(tmp_path / "none")), tmp_path)
    assert status == 2 and out == ""
    lines = err.splitlines()
    assert lines[0] == "error x11 auth"
    assert len(lines) == 2 and "refused the connection" in lines[1], err


def test_xauthority_before_home(server, tmp_path):
    home = tmp_path / "home"
    home.mkdir()
    authfile(home / ".Xauthority", [(":%d" % server.number, server.cookie)])
    wrong = authfile(tmp_path / "wrong", [(":%d" % server.number, "11" * 16)])
    status, out, err, _ = run_demo(server.env(HOME=str(home), XAUTHORITY=wrong), tmp_path)
    assert status == 2 and "refused" in err
    status, out, err, _, up = run_demo(server.env(HOME=str(home), XAUTHORITY=None), tmp_path,
                                       until_window="home cookie", server=server)
    assert up and "refused" not in err and "error x11 auth" not in err, err


def test_whole_display_number_is_matched(server, tmp_path):
    n = server.number
    # Entries for displays whose numbers start or end like this one come first.
    entries = [(":%d" % (n * 10), "22" * 16), (":%d" % (n % 10), "33" * 16), (":%d" % n, server.cookie)]
    good = authfile(tmp_path / "many", entries)
    status, out, err, _, up = run_demo(server.env(XAUTHORITY=good), tmp_path, until_window="whole",
                                       server=server)
    assert up and "refused" not in err, err


def test_no_server_on_the_socket_fails_at_once(server, tmp_path):
    n = next(i for i in range(700, 900) if not os.path.exists("/tmp/.X11-unix/X%d" % i))
    status, out, err, took = run_demo(server.env(DISPLAY=":%d" % n), tmp_path)
    assert status == 2 and out == ""
    lines = err.splitlines()
    assert len(lines) == 1 and "/tmp/.X11-unix/X%d" % n in lines[0], err
    assert took < 2


def test_refused_tcp_connect_fails_at_once(server, tmp_path):
    # A port of our own that is bound but not listening refuses every connect,
    # and nothing else can take it while the test holds it.
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as held:
        held.bind(("127.0.0.1", 0))
        port = held.getsockname()[1]
        assert port > 6000
        status, out, err, took = run_demo(server.env(DISPLAY="127.0.0.1:%d" % (port - 6000)), tmp_path)
    assert status == 2 and out == ""
    assert len(err.splitlines()) == 1 and "127.0.0.1:%d" % port in err, err
    assert took < 3


@pytest.mark.parametrize("display", ["otherhost:0", "x.example:3.0", ":60000", "[::1]:0"])
def test_unreachable_display_names(server, tmp_path, display):
    status, out, err, took = run_demo(server.env(DISPLAY=display), tmp_path)
    assert status == 2 and out == ""
    assert len(err.splitlines()) == 1, err
    assert took < 2


# (DISPLAY, as the message shows it): control bytes and other bytes that are
# not visible ASCII as '?', a value longer than any display name cut with "...".
MALFORMED = [("garbage", "garbage"), ("host:", "host:"), (":abc", ":abc"), (":-1", ":-1"),
             (":100000", ":100000"), ("", ""), (":0.abc", ":0.abc"), ("\x1b[31m:0\n", "?[31m:0?"),
             ("x" * 1000, "x" * 300 + "...")]


@pytest.mark.parametrize("display,shown", MALFORMED, ids=lambda v: repr(v)[:20])
def test_malformed_display_is_refused(display, shown):
    # Before any connection: a socket of display 0 or a server on TCP port 6000
    # (another user's display) is never tried in its place.
    out, err, status = dialogrun.plainrun(["yesno", "-text=secret"], env={"DISPLAY": display}, timeout=10)
    assert (status, out) == (2, b"")
    assert err == dialogrun.prefix() + ("DISPLAY=%s: not a display name\n" % shown).encode()


def own_address():
    """An IPv4 address of this machine other than the loopback, or None."""
    out = subprocess.run(["ip", "-4", "-o", "addr"], capture_output=True, text=True).stdout
    found = [line.split()[3].split("/")[0] for line in out.splitlines() if len(line.split()) > 3]
    return next((a for a in found if not a.startswith("127.")), None)


@pytest.mark.skipif(not shutil.which("ip") or not own_address(), reason="needs an address besides the loopback")
def test_other_host_gets_no_local_cookie(server, tmp_path):
    # The machine's own address is another host to the client (only the loopback
    # counts as this one): the Local entry stays home, an Internet entry for the
    # address is sent.
    address = own_address()
    display = "%s:%d" % (address, server.number)
    local = authfile(tmp_path / "local", [(":%d" % server.number, server.cookie)])
    status, out, err, _ = run_demo(server.env(DISPLAY=display, XAUTHORITY=local), tmp_path)
    assert status == 2 and "error x11 auth" in err and "refused" in err, err
    internet = tmp_path / "internet"
    authfile(internet, [(display, server.cookie)])
    listed = subprocess.run(["xauth", "-f", str(internet), "list"], capture_output=True, text=True).stdout
    assert listed.startswith(display), listed               # xauth made a family Internet entry
    status, out, err, _, up = run_demo(server.env(DISPLAY=display, XAUTHORITY=str(internet)), tmp_path,
                                       until_window="remote", server=server)
    assert up and "refused" not in err, err


# ---- the fixed fallbacks, in namespaces of their own ----

def can_unshare():
    if not shutil.which("unshare") or not shutil.which("ip"):
        return False
    r = subprocess.run(["unshare", "-m", "-n", "--propagation", "private", "sh", "-c",
                        "mount -t tmpfs none /mnt && ip link set lo up"], capture_output=True)
    return r.returncode == 0


FALLBACK = textwrap.dedent("""
    set -u
    ip link set lo up
    mkdir -p /tmp/.X11-unix
    mount -t tmpfs none /tmp/.X11-unix
    auth=$WORK/auth
    : > $auth
    xauth -q -f $auth add :0 MIT-MAGIC-COOKIE-1 $COOKIE
    Xvfb :0 -nolock -noreset -auth $auth -screen 0 320x240x24 $LISTEN > $WORK/xvfb.log 2>&1 &
    xvfb=$!
    for i in $(seq 200); do [ -S /tmp/.X11-unix/X0 ] && break; sleep 0.05; done
    if [ "$DROPSOCKET" = 1 ]; then sleep 0.3; rm -f /tmp/.X11-unix/X0; fi
    env -u DISPLAY XAUTHORITY=$auth $DEMO $WORK/demo.log 90 60 fallback > $WORK/out 2> $WORK/err &
    demo=$!
    for i in $(seq 200); do grep -q ready $WORK/demo.log 2>/dev/null && break; sleep 0.05; done
    DISPLAY=$VIEW XAUTHORITY=$auth xwininfo -root -children > $WORK/tree 2>&1
    kill $demo; wait $demo
    kill $xvfb; wait $xvfb
    exit 0
""")


@pytest.mark.skipif(not can_unshare(), reason="needs private mount and network namespaces")
@pytest.mark.parametrize("dropsocket,listen,view", [(0, "-nolisten tcp", ":0"), (1, "-listen tcp", "127.0.0.1:0")])
def test_fallbacks_without_display(tmp_path, dropsocket, listen, view):
    env = dict(os.environ, WORK=str(tmp_path), COOKIE=os.urandom(16).hex(), LISTEN=listen,
               DROPSOCKET=str(dropsocket), VIEW=view, DEMO=" ".join(program("x11demo")))
    subprocess.run(["unshare", "-m", "-n", "--propagation", "private", "sh", "-c", FALLBACK], env=env,
                   timeout=60, check=True)
    tree = (tmp_path / "tree").read_text()
    assert '"fallback"' in tree, tree + (tmp_path / "err").read_text()
    assert "ready" in (tmp_path / "demo.log").read_text()
