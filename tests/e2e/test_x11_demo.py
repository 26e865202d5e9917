# The X11 back-end against a real X server (Xvfb): the demo program opens a
# window, and the tests check what the server holds (xwininfo, xprop), what it
# shows (a screenshot compared pixel by pixel with the board the demo draws),
# input made through XTEST (xdotool), a window manager's WM_DELETE_WINDOW, depth
# 16 with an odd width, TCP displays, two-digit display numbers with a screen
# part, and the server going away mid-run.
import os
import random
import subprocess
import time

import pytest

from x11peer import XClient, XServer, have_x_tools, program, wait_for, windows

pytestmark = pytest.mark.skipif(not have_x_tools() or not os.environ.get("KZV_BUILD"),
                                reason="needs Xvfb, xauth, xwininfo, xprop, xwd, xdotool and a build")

COLOURS = [(255, 255, 255), (255, 0, 0), (0, 255, 0), (0, 0, 255)]


def board(x, y, w, h, shift=0):
    if x in (0, w - 1) or y in (0, h - 1):
        return (0, 0, 0)
    return COLOURS[(x // 8 + y // 8 + shift) % 4]


class Demo:
    def __init__(self, server, tmp_path, width, height, title="x11demo", env=None):
        self.log = tmp_path / ("demo-%d.log" % time.monotonic_ns())
        self.proc = subprocess.Popen(program("x11demo") + [str(self.log), str(width), str(height), title],
                                     env=env or server.env(), stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True)

    def lines(self):
        return self.log.read_text().splitlines() if self.log.exists() else []

    def ready(self, seconds=20):
        line = wait_for(lambda: next((l for l in self.lines() if l.startswith("ready")), None), seconds)
        assert line, "no ready line; stderr: %s" % self.finish(5)[2]
        x, y, w, h, sw, sh, fmt = map(int, line.split()[1:])
        return dict(x=x, y=y, w=w, h=h, sw=sw, sh=sh, format=fmt)

    def events(self):
        return [tuple(map(int, l.split()[1:])) for l in self.lines() if l.startswith("event")]

    def finish(self, seconds=10):
        try:
            out, err = self.proc.communicate(timeout=seconds)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            out, err = self.proc.communicate()
        return self.proc.returncode, out, err


@pytest.fixture
def server():
    s = XServer(depth=24, width=800, height=600)
    yield s
    s.close()


def find_window(server, title):
    return wait_for(lambda: next((w for w in windows(server) if w[1] == title), None), 10)


def check_picture(server, geometry, shift=0):
    shot = server.screenshot()
    x0, y0, w, h = geometry["x"], geometry["y"], geometry["w"], geometry["h"]
    bad = [(x, y) for y in range(h) for x in range(w)
           if shot.getpixel((x0 + x, y0 + y)) != board(x, y, w, h, shift)]
    assert not bad, "%d pixels differ, first at %s: %s" % (len(bad), bad[0], shot.getpixel(
        (x0 + bad[0][0], y0 + bad[0][1])))


def test_window_properties_picture_and_close_request(server, tmp_path):
    demo = Demo(server, tmp_path, 301, 201, "Kzv demo title")
    g = demo.ready()
    assert (g["w"], g["h"], g["sw"], g["sh"], g["format"]) == (301, 201, 800, 600, 888)
    win = find_window(server, "Kzv demo title")
    assert win, windows(server)
    wid, name, w, h, x, y = win
    assert (w, h) == (301, 201)
    assert (x, y) == ((800 - 301) // 2, (600 - 201) // 2)          # centred
    props = server.tool("xprop", "-id", str(wid)).stdout
    assert 'WM_NAME(STRING) = "Kzv demo title"' in props
    assert 'WM_ICON_NAME(STRING) = "Kzv demo title"' in props
    assert "WM_PROTOCOLS(ATOM): protocols  WM_DELETE_WINDOW" in props
    hints = server.tool("xprop", "-id", str(wid), "-f", "WM_NORMAL_HINTS", "32c", " = $0+",
                        "WM_NORMAL_HINTS").stdout
    values = [int(v) for v in hints.split("=")[1].split(",")]
    assert values == [15] + [0] * 17                               # a whole WM_SIZE_HINTS
    assert "user specified location" in props and "program specified size" in props
    time.sleep(0.2)
    check_picture(server, g)

    client = XClient(server)
    client.send_delete_window(wid)
    client.close()
    status, out, err = demo.finish()
    assert status == 0, err
    assert out == "x11demo closed\n"
    assert (163, 0, 0) in demo.events()
    assert not [w for w in windows(server) if w[1] == "Kzv demo title"]


def test_keys_buttons_and_motion_through_xtest(server, tmp_path):
    demo = Demo(server, tmp_path, 200, 120, "input")
    g = demo.ready()
    find_window(server, "input")
    px, py = g["x"] + 10, g["y"] + 20
    xdo = lambda *a: server.tool("xdotool", *a)
    xdo("mousemove", "--sync", str(px), str(py))
    xdo("click", "1")
    xdo("click", "3")
    xdo("click", "2")
    xdo("click", "4")
    xdo("click", "5")
    for key in ("a", "shift+a", "ctrl+c", "Return", "Escape", "Tab", "Left", "Up", "Right", "Down",
                "BackSpace", "Delete", "Home", "End", "Prior", "Next", "F1", "F12", "ctrl+Left"):
        xdo("key", key)
    xdo("type", "r")
    time.sleep(0.3)
    check_picture(server, g, shift=1)                             # redrawn after 'r'
    xdo("key", "q")
    status, out, err = demo.finish()
    assert status == 0, err
    assert out == "x11demo done\n"
    ev = demo.events()
    assert (173, 10, 20) in ev
    for down, up in ((165, 166), (169, 170), (167, 168)):
        assert (down, 10, 20) in ev and (up, 10, 20) in ev
    assert (177, 10, 20) in ev and (178, 10, 20) in ev
    downs = [a for code, a, b in ev if code == 174]
    assert downs == [ord("a"), ord("A"), 3, 10, 27, 9, 0x10000, 0x10002, 0x10001, 0x10003,
                     0x10007, 0x10006, 0x10004, 0x10005, 0x10008, 0x10009, 0x1000A, 0x10015,
                     ord("r"), ord("q")]
    ups = [a for code, a, b in ev if code == 175]
    assert ord("a") in ups and 10 in ups


def test_depth16_odd_width_is_not_skewed(tmp_path):
    s = XServer(depth=16, width=640, height=480)
    try:
        for width in (301, 157, 2):
            demo = Demo(s, tmp_path, width, 99, "d16")
            g = demo.ready()
            assert g["format"] == 565
            find_window(s, "d16")
            time.sleep(0.2)
            check_picture(s, g)
            s.tool("xdotool", "mousemove", "--sync", str(g["x"] + 1), str(g["y"] + 1))
            s.tool("xdotool", "key", "q")
            assert demo.finish()[0] == 0
    finally:
        s.close()


@pytest.mark.parametrize("host", ["localhost", "127.0.0.1"])
def test_tcp_display(tmp_path, host):
    s = XServer(depth=24, width=640, height=480, tcp=True)
    try:
        env = s.env(DISPLAY="%s:%d.0" % (host, s.number))
        demo = Demo(s, tmp_path, 120, 80, "over tcp", env=env)
        g = demo.ready()
        find_window(s, "over tcp")
        time.sleep(0.2)
        check_picture(s, g)
        s.tool("xdotool", "mousemove", "--sync", str(g["x"] + 5), str(g["y"] + 5))
        s.tool("xdotool", "key", "q")
        status, out, err = demo.finish()
        assert status == 0 and out == "x11demo done\n", err
    finally:
        s.close()


def test_two_digit_display_with_screen_part(tmp_path):
    server = XServer(depth=24, width=800, height=600, numbers=random.sample(range(10, 100), 30))
    try:
        assert server.number >= 10
        demo = Demo(server, tmp_path, 64, 48, "screen part",
                    env=server.env(DISPLAY=":%d.0" % server.number))
        g = demo.ready()
        assert find_window(server, "screen part")
        server.tool("xdotool", "mousemove", "--sync", str(g["x"] + 5), str(g["y"] + 5))
        server.tool("xdotool", "key", "q")
        assert demo.finish()[0] == 0
    finally:
        server.close()


@pytest.mark.parametrize("transport", ["unix", "tcp"])
def test_server_killed_mid_run_ends_with_status_2(tmp_path, transport):
    server = XServer(depth=24, width=640, height=480, tcp=transport == "tcp")
    display = ":%d" if transport == "unix" else "localhost:%d"
    demo = Demo(server, tmp_path, 100, 100, "doomed", env=server.env(DISPLAY=display % server.number))
    demo.ready()
    start = time.monotonic()
    server.kill()
    server.close()
    status, out, err = demo.finish(10)
    took = time.monotonic() - start
    assert status == 2
    assert took < 2.0, took
    assert out == ""
    lines = err.splitlines()
    assert len(lines) == 1 and "connection to the X server was lost" in lines[0], err


def test_window_larger_than_screen_takes_the_screen(tmp_path):
    s = XServer(depth=24, width=320, height=200)
    try:
        demo = Demo(s, tmp_path, 1000, 150, "big")
        g = demo.ready()
        assert (g["x"], g["y"], g["w"], g["h"]) == (0, 0, 320, 200)
        win = find_window(s, "big")
        assert win[2:] == (320, 200, 0, 0)
        props = s.tool("xprop", "-id", str(win[0]), "-f", "_MOTIF_WM_HINTS", "32c", " = $0+",
                       "_MOTIF_WM_HINTS").stdout
        assert props.split("=")[1].replace(" ", "").strip() == "2,0,0,0,0"
        demo.proc.terminate()
        demo.finish()
    finally:
        s.close()
