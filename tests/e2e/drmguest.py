"""A virtual machine for the tests that need a real kernel: Debian's own kernel
(fetched with apt-get download and unpacked with dpkg-deb, never installed), an
initramfs of busybox, the kernel's DRM modules when a virtual GPU is asked for,
and the static test programs, booted by qemu-system-x86_64 under TCG. The
guest's serial console is QEMU's standard input and output; its picture is read
with the monitor's screendump. Every wait is bounded, and every QEMU is stopped
by its pid."""
import fcntl
import os
import queue
import re
import shutil
import signal
import socket
import subprocess
import threading
import time

from PIL import Image

KERNEL_META = "linux-image-amd64"
BUSYBOX = "/bin/busybox"
# The modules each virtual GPU needs, their dependencies first (modprobe lists them).
GPU_MODULES = {"bochs-display": ["bochs"], "virtio-gpu-pci": ["virtio_pci", "virtio-gpu"]}
STEP_SECONDS = 90           # longest wait for one step of the guest under TCG


def tool(name):
    """A program by name, also from the system folders a user's PATH may lack."""
    for folder in [None, "/usr/sbin", "/sbin"]:
        path = shutil.which(name, path=folder)
        if path:
            return path
    raise RuntimeError(f"{name} is missing: run tools/install-deps.sh")


def run(args, cwd=None, seconds=600):
    return subprocess.run(args, cwd=cwd, check=True, timeout=seconds, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True).stdout


def kernel_package():
    """The versioned image package that linux-image-amd64 depends on."""
    out = run(["apt-cache", "depends", KERNEL_META], seconds=60)
    m = re.search(r"Depends: (linux-image-(\S+)-amd64)\b", out)
    if not m:
        raise RuntimeError("no kernel image package behind " + KERNEL_META)
    return m.group(1), m.group(2) + "-amd64"


class CacheLock:
    """The cache folder to one test at a time: the guest tests of one build run in
    parallel, and two fetching into one folder would unpack over each other."""

    def __init__(self, cache, seconds=600):
        self.path = os.path.join(cache, "fetch.lock")
        self.seconds = seconds

    def __enter__(self):
        self.file = open(self.path, "w")
        end = time.monotonic() + self.seconds
        while True:
            try:
                fcntl.flock(self.file, fcntl.LOCK_EX | fcntl.LOCK_NB)
                return self
            except BlockingIOError:
                if time.monotonic() > end:
                    self.file.close()
                    raise RuntimeError(f"{self.path} stayed locked for {self.seconds} s")
                time.sleep(0.2)

    def __exit__(self, *exc):
        self.file.close()       # closing gives the lock back


def fetch_kernel(cache):
    """Downloads and unpacks the kernel once per cache folder; returns the kernel
    image, the unpacked root and the version, with modules.dep made by depmod."""
    os.makedirs(cache, exist_ok=True)
    with CacheLock(cache):
        return fetch_kernel_locked(cache)


def fetch_kernel_locked(cache):
    package, version = kernel_package()
    root = os.path.join(cache, "root-" + version)
    vmlinuz = os.path.join(root, "boot", "vmlinuz-" + version)
    if not os.path.exists(vmlinuz):
        debs = [f for f in os.listdir(cache) if f.startswith(package + "_") and f.endswith(".deb")]
        if not debs:
            run(["apt-get", "download", package], cwd=cache)
            debs = [f for f in os.listdir(cache) if f.startswith(package + "_") and f.endswith(".deb")]
        partial = root + ".partial"
        shutil.rmtree(partial, ignore_errors=True)
        run(["dpkg-deb", "-x", os.path.join(cache, debs[0]), partial])
        run([tool("depmod"), "-b", partial, version])
        os.rename(partial, root)
    return vmlinuz, root, version


def module_paths(root, version, names):
    """The .ko files to load for `names`, in loading order, each once."""
    paths = []
    for name in names:
        out = run([tool("modprobe"), "-d", root, "-S", version, "--show-depends", name], seconds=60)
        for line in out.splitlines():
            parts = line.split()
            if len(parts) >= 2 and parts[0] == "insmod" and parts[1] not in paths:
                paths.append(parts[1])
    return paths


INIT = r"""#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
mkdir -p /proc /sys /dev
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
exec </dev/ttyS0 >/dev/ttyS0 2>&1
# A guest without a virtual GPU has no modules to load and no screen to wait for.
if [ -s /modules.list ]; then
    for m in $(cat /modules.list); do insmod /modules/$m || echo "guest insmod failed $m"; done
    n=0
    while [ ! -e /dev/dri/card0 ] || [ ! -e /dev/tty1 ]; do
        n=$((n + 1)); [ $n -gt 400 ] && break; sleep 0.05
    done
    [ -e /dev/dri/card0 ] || echo "guest no card0"
    # The console on the virtual GPU: blue all over, without a cursor.
    printf '\033[?25l\033[44m\033[2J' > /dev/tty1
fi
echo "guest console"
read go
while read -r program arguments; do
    [ -n "$program" ] || continue
    /$program $arguments </dev/ttyS0
    echo "guest program-done $?"
    read go </dev/ttyS0
done </programs.list
echo "guest done"
poweroff -f
"""


def build_initramfs(folder, modules, programs):
    """programs: (file in the guest's root, host path, arguments). Answers the cpio."""
    tree = os.path.join(folder, "tree")
    shutil.rmtree(tree, ignore_errors=True)
    for d in ("bin", "modules", "proc", "sys", "dev"):
        os.makedirs(os.path.join(tree, d))
    shutil.copy(BUSYBOX, os.path.join(tree, "bin", "busybox"))
    names = []
    for path in modules:
        names.append(os.path.basename(path))
        shutil.copy(path, os.path.join(tree, "modules", names[-1]))
    with open(os.path.join(tree, "modules.list"), "w") as f:
        f.write("".join(name + "\n" for name in names))
    with open(os.path.join(tree, "programs.list"), "w") as f:
        for name, host, arguments in programs:
            shutil.copy(host, os.path.join(tree, name))
            os.chmod(os.path.join(tree, name), 0o755)
            f.write(f"{name} {arguments}\n")
    init = os.path.join(tree, "init")
    with open(init, "w") as f:
        f.write(INIT)
    os.chmod(init, 0o755)
    cpio = os.path.join(folder, "initramfs.cpio")
    listing = subprocess.run(["find", "."], cwd=tree, check=True, stdout=subprocess.PIPE, timeout=60).stdout
    with open(cpio, "wb") as out:
        subprocess.run(["cpio", "-o", "-H", "newc", "--quiet"], cwd=tree, input=listing, stdout=out,
                       check=True, timeout=60)
    return cpio


class Guest:
    """One QEMU with one virtual GPU, or none when device is None; lines of the
    serial console in a queue."""

    def __init__(self, folder, vmlinuz, initrd, device=None):
        self.folder = folder
        self.monitor_path = os.path.join(folder, "monitor.sock")
        self.lines = queue.Queue()
        self.log = []
        self.proc = subprocess.Popen(
            [tool("qemu-system-x86_64"), "-accel", "tcg", "-m", "512", "-no-reboot",
             "-kernel", vmlinuz, "-initrd", initrd,
             "-append", "console=ttyS0 quiet panic=-1",
             "-display", "none", "-serial", "stdio",
             "-monitor", f"unix:{self.monitor_path},server=on,wait=off",
             "-vga", "none"] + (["-device", device] if device else []),
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        self.monitor = None

    def _read(self):
        for raw in iter(self.proc.stdout.readline, b""):
            line = raw.decode("utf-8", "replace").rstrip("\r\n")
            self.log.append(line)
            self.lines.put(line)
        self.lines.put(None)

    def expect(self, pattern, seconds=STEP_SECONDS, passed=None):
        """The first match of the pattern on a console line to come; the lines
        before it go to the list `passed` when one is given."""
        end = time.monotonic() + seconds
        while True:
            left = end - time.monotonic()
            if left <= 0:
                raise AssertionError(f"no {pattern!r} within {seconds} s; console:\n" + "\n".join(self.log[-40:]))
            try:
                line = self.lines.get(timeout=left)
            except queue.Empty:
                continue
            if line is None:
                raise AssertionError(f"QEMU ended before {pattern!r}; console:\n" + "\n".join(self.log[-40:]))
            m = re.search(pattern, line)
            if m:
                return m
            if passed is not None:
                passed.append(line)

    def send(self, text):
        self.proc.stdin.write(text.encode())
        self.proc.stdin.flush()

    def _monitor_reply(self, seconds=30):
        data = b""
        end = time.monotonic() + seconds
        while not data.endswith(b"(qemu) "):
            if time.monotonic() > end:
                raise AssertionError("the QEMU monitor did not answer")
            self.monitor.settimeout(max(0.1, end - time.monotonic()))
            chunk = self.monitor.recv(4096)
            if not chunk:
                raise AssertionError("the QEMU monitor went away")
            data += chunk
        return data

    def screendump(self, name):
        """The guest's screen as an RGB image."""
        if self.monitor is None:
            end = time.monotonic() + 30
            while True:
                try:
                    self.monitor = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                    self.monitor.connect(self.monitor_path)
                    break
                except OSError:
                    self.monitor.close()
                    self.monitor = None
                    if time.monotonic() > end:
                        raise
                    time.sleep(0.1)
            self._monitor_reply()
        path = os.path.join(self.folder, name + ".ppm")
        if os.path.exists(path):
            os.unlink(path)
        self.monitor.sendall(f"screendump {path}\n".encode())
        self._monitor_reply()
        with Image.open(path) as im:
            return im.convert("RGB")

    def wait_end(self, seconds=60):
        try:
            self.proc.wait(timeout=seconds)
        except subprocess.TimeoutExpired:
            pass

    def stop(self):
        """Stops QEMU by its pid (a monitor quit on a closed socket could hang)."""
        if self.monitor is not None:
            self.monitor.close()
        if self.proc.poll() is None:
            os.kill(self.proc.pid, signal.SIGKILL)
        try:
            self.proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            pass
        for f in (self.proc.stdin, self.proc.stdout):
            try:
                f.close()
            except OSError:
                pass
