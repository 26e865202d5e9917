"""The file stream and whole-file loading from outside: embedded resources served
when no file of the name is on disk (and compared with the generated files in
resources/), a disk file taking precedence, a directory of the name falling back
to the archive, and a pipe read through the stream fallback of `loadfile`."""
import os
import subprocess
import threading

from streamtool import ROOT, SLOW, command

TIMEOUT = 30 * SLOW


def run(*args, cwd=None, **kw):
    return subprocess.run(command(*args), cwd=cwd, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=TIMEOUT, **kw)


def resource(name):
    with open(os.path.join(ROOT, "resources", name), "rb") as f:
        return f.read()


def test_embedded_resources_are_served(tmp_path):
    for name in ("img/info.kzv", "img/question.kzv", "fnt/droidmono#_960"):
        r = run("cat", name, cwd=tmp_path)
        assert r.returncode == 0, name
        assert r.stdout == resource(name), name


def test_disk_file_takes_precedence(tmp_path):
    (tmp_path / "img").mkdir()
    (tmp_path / "img" / "info.kzv").write_bytes(b"the disk copy")
    r = run("cat", "img/info.kzv", cwd=tmp_path)
    assert (r.returncode, r.stdout) == (0, b"the disk copy")


def test_directory_of_the_name_falls_back_to_the_archive(tmp_path):
    (tmp_path / "img" / "info.kzv").mkdir(parents=True)
    r = run("cat", "img/info.kzv", cwd=tmp_path)
    assert (r.returncode, r.stdout) == (0, resource("img/info.kzv"))
    (tmp_path / "nothere").mkdir()
    r = run("cat", "nothere", cwd=tmp_path)
    assert (r.returncode, r.stdout) == (1, b"")


def test_loadfile_of_a_pipe_takes_the_stream_read():
    rfd, wfd = os.pipe()
    text = b"text that comes through a pipe\n"

    def feed():
        os.write(wfd, text)
        os.close(wfd)

    writer = threading.Thread(target=feed)
    writer.start()
    writer.join()
    try:
        r = run("load", "/dev/fd/%d" % rfd, 1000, pass_fds=(rfd,))
    finally:
        os.close(rfd)
    assert (r.returncode, r.stdout) == (0, text)


def test_loadwhole_reads_every_byte(tmp_path):
    data = bytes(range(256)) * 300
    (tmp_path / "blob").write_bytes(data)
    r = run("loadwhole", tmp_path / "blob")
    assert (r.returncode, r.stdout) == (0, data)
    (tmp_path / "empty").write_bytes(b"")
    assert run("loadwhole", tmp_path / "empty").returncode == 1
    assert run("load", tmp_path / "blob", 1000).stdout == data[:1000]
