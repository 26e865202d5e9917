"""The Windows program's window icon under wine on Xvfb: the window class loads
icon 2 from the program, and wine hands a class icon to the X server as the
window's _NET_WM_ICON. Every dialog's X window must carry both images of the
program's icon, the 32 x 32 one pixel for pixel the information icon (read from
resources/img/info.kzv by the independent reader). Without the icon in the
program, wine puts one default image of its own there."""
import os
import shutil

import pytest

import kzvreader
from test_windows_dialogs import Dialog, desk  # noqa: F401 (desk: the wine desktop fixture)
from winepeer import PROGRAM, have_tools, windowspath

pytestmark = pytest.mark.skipif(not have_tools() or not shutil.which("xprop") or not os.path.exists(PROGRAM),
                                reason="needs wine, Xvfb, xdotool, xprop and the Windows program built")

INFOICON = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                        "resources", "img", "info.kzv")


def iconimages(desk, wid):
    """{(width, height): [0xAARRGGBB, ...]} of the window's _NET_WM_ICON."""
    out = desk.tool("xprop", "-id", str(wid), "-notype", "32c", "_NET_WM_ICON").stdout
    if "=" not in out:
        return {}
    values = [int(v) for v in out.split("=", 1)[1].replace(",", " ").split()]
    images = {}
    while len(values) >= 2:
        w, h = values[0], values[1]
        images[(w, h)] = values[2:2 + w * h]
        values = values[2 + w * h:]
    return images


def test_every_dialog_window_has_the_program_icon(desk, tmp_path):
    info = kzvreader.readfile(INFOICON)
    expected = [a << 24 | r << 16 | g << 8 | b for row in info.rows for r, g, b, a in row]
    for args, title in ((["yesno"], "question"), (["info", "-text=x"], "info"),
                        (["file", "-folder=" + windowspath(tmp_path)], "choose file")):
        d = Dialog(desk, args)
        wid = d.desk.findwindow(title)
        assert wid, "no window %r; %s" % (title, d.finish(5))
        d.window = wid[1:]
        images = iconimages(desk, wid[0])
        d.keys("Escape")
        assert d.finish()[0] == 0
        assert sorted(images) == [(16, 16), (32, 32)], (args, sorted(images))
        assert images[(32, 32)] == expected, args
