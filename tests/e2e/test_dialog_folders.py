"""The file chooser on folders with odd contents, in a real terminal (tmux): names
with spaces, UTF-8 and invalid UTF-8, 255-byte names (also below a 511-byte
folder, the longest answer), links to files, folders and nowhere, entries nobody
may read, a pipe, folders with such names entered, and a folder of 100,000
files. Every listed file is chosen once by its place in the list, which follows
the chooser's order (without case for ASCII letters, other bytes as signed
values), and the answer must be its exact path, byte for byte."""
import os
import time

import pytest

from dialogrun import SLOW, dialogpane


def sortkey(name):
    return tuple((b + 32 if 65 <= b <= 90 else b) - (256 if b >= 128 else 0) for b in name)


@pytest.fixture
def pane(tmp_path):
    p = dialogpane(tmp_path)
    yield p
    p.close()


def pick(pane, folder, index, extra=()):
    pane.start(["file", b"-folder=" + folder] + list(extra))
    assert pane.framed(60), "no frame on the screen"
    for _ in range(index):
        pane.send("Down")
    pane.send("Enter")
    return pane.result(60)


def oddfolder(root):
    folder = os.path.join(os.fsencode(str(root)), b"odd names")
    os.mkdir(folder)
    os.mkdir(os.path.join(folder, b"sub folder"))
    files = [b"with space.txt", "\u00fcn\u00efc\u00f6d\u00e9 \u20ac.txt".encode(), b"\xff\xfe-invalid.txt",
             b"trail\xc3", b"n" * 251 + b".txt", b"UPPER.TXT", b"_under", b"locked.txt"]
    for name in files:
        with open(os.path.join(folder, name), "wb") as f:
            f.write(name)
    os.chmod(os.path.join(folder, b"locked.txt"), 0)
    os.symlink(b"with space.txt", os.path.join(folder, b"link to file"))
    os.symlink(b"sub folder", os.path.join(folder, b"link to folder"))
    os.symlink(b"nowhere", os.path.join(folder, b"dangling"))
    os.mkfifo(os.path.join(folder, b"a pipe"))
    listed = sorted(files + [b"link to file"], key=sortkey)
    return folder, listed


def test_odd_names_each_chosen_exactly(pane, tmp_path):
    folder, listed = oddfolder(tmp_path)
    for index, name in enumerate(listed):
        expected = folder + b"/" + name
        assert pick(pane, folder, index) == (expected, b"", 0, True), name


def test_odd_folder_names_entered(pane, tmp_path):
    """Folders named with invalid UTF-8 and with 255 bytes of two-byte characters
    (a path line too wide for its space, shortened between characters) are entered
    with the keyboard, and the file inside is answered byte for byte."""
    root = os.path.join(os.fsencode(str(tmp_path)), b"folders")
    os.mkdir(root)
    names = [b"\xff\xfe-folder", ("\u00e9" * 127 + "x").encode()]
    assert len(names[1]) == 255
    for name in names:
        os.mkdir(os.path.join(root, name))
        open(os.path.join(root, name, b"inside.txt"), "w").close()
    for index, name in enumerate(sorted(names, key=sortkey)):
        pane.start(["file", b"-folder=" + root])
        assert pane.framed(), "no frame on the screen"
        pane.send("Left")
        for _ in range(index):
            pane.send("Down")
        pane.send("Enter")
        pane.send("Right")
        pane.send("Enter")
        assert pane.result() == (root + b"/" + name + b"/inside.txt", b"", 0, True), name


def test_longest_answer(pane, tmp_path):
    """A 511-byte folder and a 255-byte name make the longest path the chooser answers."""
    path = os.fsencode(str(tmp_path))
    while len(path) < 511:
        left = 511 - len(path) - 1
        n = min(left, 200)
        if left - n == 1:
            n -= 1
        path = os.path.join(path, b"d" * n)
        os.mkdir(path)
    name = b"z" * 255
    open(os.path.join(path, name), "w").close()
    expected = path + b"/" + name
    assert len(expected) == 767
    assert pick(pane, path, 0) == (expected, b"", 0, True)


def test_hundred_thousand_files(pane, tmp_path):
    folder = os.path.join(os.fsencode(str(tmp_path)), b"big")
    os.mkdir(folder)
    for i in range(100000):
        os.close(os.open(os.path.join(folder, b"f%06d.dat" % (99999 - i)), os.O_CREAT | os.O_WRONLY, 0o644))
    start = time.time()
    assert pick(pane, folder, 2) == (folder + b"/f000002.dat", b"", 0, True)
    assert time.time() - start < 60 * SLOW
    assert pick(pane, folder, 0, [b"-filter=*99999.dat"]) == (folder + b"/f099999.dat", b"", 0, True)
