"""The Windows program's folders beyond the drives, under wine on Xvfb: "/" opens
the list of drives in both choosers (Enter answers "/", and a drive entered from
it answers "/c"), and a folder given as a device path ("//?/Z:/..." or
"//./Z:/...", wine's drive Z: being /) or as a network share (//server/share,
which wine finds in its prefix) is listed, answered with both of its leading
slashes, and opens the same folder when the answer is given back as -folder.
The keys go through XTEST (xdotool); every run ends by its own key."""
import os

import pytest

from test_windows_dialogs import desk, run  # noqa: F401 (desk: the wine desktop fixture)
from winepeer import PROGRAM, have_tools

pytestmark = pytest.mark.skipif(not have_tools() or not os.path.exists(PROGRAM),
                                reason="needs wine, Xvfb, xdotool, xwininfo, xwd and the Windows program built")

TITLE = "choose file"
DEVICEFORMS = ("//?/Z:", "//./Z:")
SERVER = "kzvserver"


@pytest.fixture(scope="module")
def tree(tmp_path_factory):
    root = tmp_path_factory.mktemp("winpaths")
    (root / "sub").mkdir()
    (root / "sub" / "inner.txt").write_text("inner")
    (root / "a.txt").write_text("a")
    (root / "b.txt").write_text("b")
    return root


@pytest.fixture(scope="module")
def share(desk, tree):
    """//kzvserver/share: wine reads a network path \\\\server\\share as the folder
    dosdevices/unc/server/share of its prefix, here a link to the tree."""
    unc = os.path.join(desk.prefix, "dosdevices", "unc")
    server = os.path.join(unc, SERVER)
    os.makedirs(server, exist_ok=True)
    link = os.path.join(server, "share")
    if os.path.lexists(link):
        os.unlink(link)
    os.symlink(str(tree), link)
    yield "//%s/share" % SERVER
    os.unlink(link)
    os.rmdir(server)
    if not os.listdir(unc):
        os.rmdir(unc)


def answer(text):
    return (0, (text + "\n").encode(), b"")


def choose(desk, dialog, folder, *keys):
    return run(desk, None, [dialog, "-folder=" + folder], TITLE, keys)


def test_root_opens_the_drive_list(desk):
    assert choose(desk, "dir", "/", "Return") == answer("/")
    # Drive c is the first of the list (a and b are no drives under wine).
    assert choose(desk, "dir", "/", "Left", "Return", "Right", "Return") == answer("/c")
    assert choose(desk, "file", "/", "Return", "Escape") == (0, b"", b"")
    assert choose(desk, "dir", "/", "Escape") == (0, b"", b"")


@pytest.mark.parametrize("form", DEVICEFORMS + ("share",))
def test_device_and_network_paths_keep_both_slashes(desk, tree, share, form):
    folder = share if form == "share" else form + str(tree)
    assert choose(desk, "file", folder, "Return") == answer(folder + "/a.txt")
    assert choose(desk, "file", folder, "Down", "Return") == answer(folder + "/b.txt")
    assert choose(desk, "file", folder, "Left", "Return", "Right", "Return") == answer(folder + "/sub/inner.txt")
    got = choose(desk, "dir", folder, "Return")
    assert got == answer(folder)
    # The answer, given back, opens the same folder.
    again = got[1].decode().rstrip("\n")
    assert choose(desk, "file", again, "Return") == answer(folder + "/a.txt")
    assert choose(desk, "dir", again, "Left", "Return", "Right", "Return") == answer(folder + "/sub")
    # Up from a folder inside is its parent, still with both slashes.
    assert choose(desk, "dir", folder + "/sub", "BackSpace", "Return") == answer(folder)
