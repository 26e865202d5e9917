"""The framebuffer back-end on a real kernel: Debian's kernel boots in
qemu-system-x86_64 (TCG) with a virtual GPU, bochs-display and virtio-gpu in
parallel, and runs the static test program of the x86-64 and of the i386 build
(fbdemo), which opens the driver with flag 4 and places a window of four
coloured quarters in every frame. The monitor's screendump must show the
window's quarters where the program placed them (the i386 one at factor 2, from
an 8888 buffer), black around it, the two frame credits right after the open, and
the blue console back on the screen once the program has closed the display."""
import os
import threading

import pytest

import drmguest

BUILD = os.environ.get("KZV_BUILD", "")
ARCH = os.environ.get("KZV_ARCH", "")
TARGET = os.environ.get("KZV_TARGET", "")

pytestmark = pytest.mark.skipif(TARGET != "linux" or ARCH != "x86_64",
                                reason="the guest test runs in the linux-x86_64 build, with the i386 build beside it")

RED, GREEN, BLUE, WHITE, BLACK = (255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 255), (0, 0, 0)
# Program, format, factor, and the window's place and size in screen units.
PROGRAMS = [
    ("fbdemo-x86_64", os.path.join(BUILD, "fbdemo"), 888, 1, (400, 300, 200, 160)),
    ("fbdemo-i386", os.path.join(BUILD, "..", "linux-i386", "fbdemo"), 8888, 2, (150, 120, 100, 80)),
]


def is_console_blue(pixel):
    r, g, b = pixel
    return b >= 100 and r < 60 and g < 60


def window_points(factor, place):
    """(point, colour) at the middle of each quarter and just outside the window."""
    x, y, w, h = (v * factor for v in place)
    return [((x + w // 4, y + h // 4), RED), ((x + 3 * w // 4, y + h // 4), GREEN),
            ((x + w // 4, y + 3 * h // 4), BLUE), ((x + 3 * w // 4, y + 3 * h // 4), WHITE),
            ((x - 4, y - 4), BLACK), ((x + w + 3, y + h + 3), BLACK)]


def run_guest(guest, device, failures):
    try:
        guest.expect(r"^guest console")
        shot = guest.screendump("console")
        for (name, _, _, factor, place) in PROGRAMS:
            for point, _ in window_points(factor, place)[:4]:
                assert is_console_blue(shot.getpixel(point)), f"{device}: console not blue at {point} before {name}"
        guest.send("go\n")
        for (name, _, _, factor, place) in PROGRAMS:
            m = guest.expect(r"^fbdemo (open|failed) (.*)")
            assert m.group(1) == "open", f"{device}: {name} failed: {m.group(2)}"
            width, height = (int(v) for v in m.group(2).split())
            assert width >= 640 and height >= 480, f"{device}: mode {width}x{height}"
            credits = guest.expect(r"^fbdemo credits (\d) (\d) (\d)")
            assert credits.group(1, 2) == ("1", "1"), f"{device}: {name} credits {credits.group(0)}"
            guest.expect(r"^fbdemo shown (\d+) (\d+)")
            shot = guest.screendump(name + "-window")
            assert shot.size == (width, height), f"{device}: screendump {shot.size} for mode {width}x{height}"
            for point, colour in window_points(factor, place):
                assert shot.getpixel(point) == colour, \
                    f"{device}: {name} shows {shot.getpixel(point)} at {point}, not {colour}"
            guest.send("q\n")
            guest.expect(r"^fbdemo closed on request")
            done = guest.expect(r"^guest program-done (\d+)")
            assert done.group(1) == "0", f"{device}: {name} ended with status {done.group(1)}"
            shot = guest.screendump(name + "-closed")
            for point, _ in window_points(factor, place)[:4]:
                assert is_console_blue(shot.getpixel(point)), \
                    f"{device}: console not back at {point} after {name} closed: {shot.getpixel(point)}"
            guest.send("go\n")
        guest.expect(r"^guest done")
    except AssertionError as e:
        failures.append(str(e))
    except Exception as e:  # a broken monitor or a missing file is a failure of this guest
        failures.append(f"{device}: {type(e).__name__}: {e}")


def test_window_on_the_screen_and_console_back(tmp_path):
    for _, path, _, _, _ in PROGRAMS:
        assert os.path.exists(path), f"{path} is missing: build the linux-x86_64 and linux-i386 presets"
    vmlinuz, root, version = drmguest.fetch_kernel(os.path.join(BUILD, "guest"))
    guests = []
    failures = []
    threads = []
    try:
        for device, names in drmguest.GPU_MODULES.items():
            folder = tmp_path / device
            folder.mkdir()
            modules = drmguest.module_paths(root, version, names)
            programs = [(name, path, f"{fmt} {factor} {' '.join(str(v) for v in place)}")
                        for name, path, fmt, factor, place in PROGRAMS]
            initrd = drmguest.build_initramfs(str(folder), modules, programs)
            guest = drmguest.Guest(str(folder), vmlinuz, initrd, device)
            guests.append(guest)
            t = threading.Thread(target=run_guest, args=(guest, device, failures))
            t.start()
            threads.append(t)
        for t in threads:
            t.join(timeout=600)
        assert not any(t.is_alive() for t in threads), "a guest did not finish within 600 s"
        # A guest that got through powers off by itself; one that failed is stopped at once.
        for guest in guests:
            if not failures:
                guest.wait_end(30)
    finally:
        for guest in guests:
            guest.stop()
    assert not failures, "\n".join(failures)
