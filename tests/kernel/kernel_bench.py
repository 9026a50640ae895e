"""A QEMU guest whose serial ports are the Linux kernel's own drivers.

The guest has a 16550 UART (ttyS1, the 8250 driver) and an emulated FTDI
USB-serial adapter (ttyUSB0, the ftdi_sio driver) that can be unplugged and
plugged back from QEMU's monitor.  Its ports come only from pseudo-terminals
(-chardev pty) and -device usb-serial: no device of the host ever reaches
the guest.  Its console (ttyS0) is QEMU's standard input and output, which
this module drives as a command channel.

Standard library only.  Also a command-line tool:
    kernel_bench.py prepare DEB_TREE ASSETS   the kernel pieces the guest needs
    kernel_bench.py shell ASSETS PROGRAM...   a guest with these programs in
                                              /usr/local/bin, to try by hand
"""

import ctypes
import json
import lzma
import os
import re
import select
import shutil
import signal
import socket
import stat
import subprocess
import sys
import tempfile
import threading
import time
import tty

# Load order matters: each module needs the ones before it.  8250 is built in.
USB_MODULES = ["usb-common", "usbcore", "xhci-hcd", "xhci-pci", "usbserial", "ftdi_sio"]

# The guest's own serial devices: nodes of the guest kernel, reached only
# through commands run in the guest (QEMU feeds them from pseudo-terminals).
GUEST_UART = "/dev/ttyS1"          # the 16550 on the 8250 driver
GUEST_USB_ADAPTER = "/dev/ttyUSB0"  # the FTDI adapter on ftdi_sio

# Generous: the emulated machine boots in 3 to 12 s on an idle host, but a
# host whose cores are all busy stretches that many times over.
BOOT_TIMEOUT = 240
COMMAND_TIMEOUT = 120


class BenchError(Exception):
    pass


# ---- kernel pieces -----------------------------------------------------------

def extract_vmlinux(vmlinuz_path, out_path):
    """QEMU boots an uncompressed ELF kernel directly through its PVH entry,
    which skips the firmware and halves the boot time.  The bzImage holds it
    as one xz stream."""
    with open(vmlinuz_path, "rb") as image_file:
        data = image_file.read()
    at = data.find(b"\xfd7zXZ\x00")
    while at >= 0:
        try:
            image = lzma.LZMADecompressor().decompress(data[at:])
        except lzma.LZMAError:
            image = b""
        if image.startswith(b"\x7fELF"):
            with open(out_path, "wb") as out:
                out.write(image)
            return
        at = data.find(b"\xfd7zXZ\x00", at + 1)
    raise BenchError(f"no xz-compressed ELF kernel found in {vmlinuz_path}")


def prepare_assets(deb_tree, assets):
    """From an unpacked linux-image .deb: vmlinux and the USB serial modules."""
    boot = os.path.join(deb_tree, "boot")
    vmlinuz = [n for n in os.listdir(boot) if n.startswith("vmlinuz-")]
    if len(vmlinuz) != 1:
        raise BenchError(f"expected one vmlinuz in {boot}, found {vmlinuz}")
    release = vmlinuz[0][len("vmlinuz-"):]
    os.makedirs(os.path.join(assets, "modules"), exist_ok=True)
    extract_vmlinux(os.path.join(boot, vmlinuz[0]), os.path.join(assets, "vmlinux"))
    found = {}
    for folder, _, files in os.walk(os.path.join(deb_tree, "lib", "modules", release)):
        for name in files:
            stem = name.split(".ko")[0]
            if stem in USB_MODULES and name.endswith((".ko", ".ko.xz")):
                found[stem] = os.path.join(folder, name)
    missing = [m for m in USB_MODULES if m not in found]
    if missing:
        raise BenchError(f"modules missing from the kernel package: {missing}")
    for stem, path in found.items():
        with open(path, "rb") as module_file:
            data = module_file.read()
        if path.endswith(".xz"):
            data = lzma.decompress(data)
        with open(os.path.join(assets, "modules", stem + ".ko"), "wb") as out:
            out.write(data)
    with open(os.path.join(assets, "release"), "w") as out:
        out.write(release + "\n")


# ---- the guest's initramfs ---------------------------------------------------

GUEST_INIT = r"""#!/bin/busybox sh
/bin/busybox mkdir -p /proc /sys /dev /tmp /sbin /usr/bin /usr/sbin
/bin/busybox mount -t proc proc /proc
/bin/busybox --install -s
export PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin HOME=/tmp
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/pts && mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /tmp
exec </dev/ttyS0 >/dev/ttyS0 2>&1
dmesg -n 1
for m in MODULES; do insmod /modules/$m.ko || echo "@@INSMOD-FAILED $m"; done
ENVIRONMENT
# The command channel: one line in, the output between two markers out.
stty -echo -onlcr
echo "@@READY"
while IFS= read -r line; do
  id=${line%% *}
  echo "@@B $id"
  sh -c "${line#* }" </dev/null 2>&1
  echo "@@E $id $?"
done
"""


def _cpio_entry(name, mode, data=b"", rdev=(0, 0)):
    name_bytes = name.encode() + b"\0"
    fields = [0, mode, 0, 0, 1, 0, len(data), 0, 0, rdev[0], rdev[1], len(name_bytes), 0]
    header = b"070701" + b"".join(b"%08X" % f for f in fields)
    out = header + name_bytes
    out += b"\0" * (-len(out) % 4)
    out += data + b"\0" * (-len(data) % 4)
    return out


def _shared_libraries(program):
    """The libraries and the loader a dynamic program needs, as ldd names them."""
    result = subprocess.run(["ldd", program], capture_output=True, text=True)
    if result.returncode != 0:  # a static program
        return []
    paths = []
    for line in result.stdout.splitlines():
        match = re.search(r"(?:=>\s*)?(/\S+)\s+\(0x", line)
        if match:
            paths.append(match.group(1))
    return paths


SANITIZER_VARIABLES = ("ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS")


def sanitizer_environment(environ):
    """The sanitizer options of this run for the guest, and the files they
    name (suppressions) as guest path -> host path."""
    exports, files = {}, {}
    for variable in SANITIZER_VARIABLES:
        if not environ.get(variable):
            continue
        options = []
        for option in environ[variable].split(":"):
            key, _, value = option.partition("=")
            if key == "suppressions" and value:
                guest_path = f"/etc/sanitizer/{variable.lower()}.supp"
                files[guest_path] = value
                option = f"{key}={guest_path}"
            options.append(option)
        exports[variable] = ":".join(options)
    return exports, files


def build_initramfs(out_path, assets, programs, environment=None):
    """busybox, the USB serial modules, and each program (a dict guest path ->
    host path) with its shared libraries at the paths ldd names; environment
    is exported to every command."""
    # busybox-static needs nothing more; a dynamic busybox brings its libraries.
    busybox = shutil.which("busybox") or "/bin/busybox"
    files = {}
    for module in USB_MODULES:
        files[f"modules/{module}.ko"] = os.path.join(assets, "modules", module + ".ko")
    for guest_path, host_path in {"/bin/busybox": busybox, **programs}.items():
        files[guest_path.lstrip("/")] = host_path
        for library in _shared_libraries(host_path):
            files.setdefault(library.lstrip("/"), os.path.realpath(library))
    folders = set()
    for path in files:
        parts = path.split("/")[:-1]
        for i in range(1, len(parts) + 1):
            folders.add("/".join(parts[:i]))
    with open(out_path, "wb") as out:
        for folder in sorted(folders):
            out.write(_cpio_entry(folder, stat.S_IFDIR | 0o755))
        out.write(_cpio_entry("dev", stat.S_IFDIR | 0o755))
        out.write(_cpio_entry("dev/console", stat.S_IFCHR | 0o600, rdev=(5, 1)))
        exports = "".join(f"export {k}='{v}'\n" for k, v in (environment or {}).items())
        init = GUEST_INIT.replace("MODULES", " ".join(USB_MODULES)).replace("ENVIRONMENT\n", exports).encode()
        out.write(_cpio_entry("init", stat.S_IFREG | 0o755, init))
        for path, host_path in sorted(files.items()):
            with open(host_path, "rb") as content:
                out.write(_cpio_entry(path, stat.S_IFREG | 0o755, content.read()))
        out.write(_cpio_entry("TRAILER!!!", 0))


# ---- the host end of the USB adapter -----------------------------------------

class EchoPeer(threading.Thread):
    """The far end of ttyUSB0: the host side of its pseudo-terminal.

    QEMU writes what the guest sends to the pty with a blocking call from its
    processor thread, so a host end that stops reading freezes the whole
    machine (only SIGKILL ends it then).  This peer therefore never stops
    reading: it takes in everything at once and answers from a buffer,
    either at once or paced to a number of bytes per second."""

    def __init__(self, pty_path):
        super().__init__(daemon=True)
        self.fd = os.open(pty_path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        tty.setraw(self.fd)
        self._wake_read, self._wake_write = os.pipe()
        self._lock = threading.Lock()
        self._closing = False
        self._pending = bytearray()
        self._pace = None
        self._pace_start = 0.0
        self._paced_out = 0
        self.echoing = True
        self.received = 0
        self.echoed = 0

    def reset(self, echoing=True, bytes_per_second=None):
        """Drops whatever is held and starts counting afresh."""
        with self._lock:
            self._pending.clear()
            self.echoing = echoing
            self._pace = bytes_per_second
            self._pace_start = time.monotonic()
            self._paced_out = 0
            self.received = 0
            self.echoed = 0
        os.write(self._wake_write, b"x")

    def drop_pending(self):
        with self._lock:
            self._pending.clear()
            self.echoing = False

    def _allowance(self):
        if self._pace is None:
            return len(self._pending)
        due = int((time.monotonic() - self._pace_start) * self._pace) - self._paced_out
        return max(0, min(due, len(self._pending)))

    def run(self):
        while not self._closing:
            with self._lock:
                want_write = self._allowance() > 0
            writers = [self.fd] if want_write else []
            readable, writable, _ = select.select([self.fd, self._wake_read], writers, [], 0.02)
            if self._wake_read in readable:
                os.read(self._wake_read, 64)
            if self.fd in readable:
                try:
                    while True:
                        data = os.read(self.fd, 4096)
                        if not data:
                            break
                        with self._lock:
                            self.received += len(data)
                            if self.echoing:
                                self._pending += data
                except (BlockingIOError, InterruptedError):
                    pass
                except OSError:
                    time.sleep(0.01)  # QEMU side not connected for a moment
            with self._lock:
                count = self._allowance()
                chunk = bytes(self._pending[:count])
            if chunk and (self.fd in writable or self._pace is None):
                try:
                    written = os.write(self.fd, chunk)
                except (BlockingIOError, InterruptedError):
                    written = 0
                except OSError:
                    written = 0
                with self._lock:
                    del self._pending[:written]
                    self._paced_out += written
                    self.echoed += written

    def close(self):
        self._closing = True
        os.write(self._wake_write, b"x")
        self.join(timeout=5)
        for fd in (self.fd, self._wake_read, self._wake_write):
            os.close(fd)


# ---- QEMU's machine protocol ---------------------------------------------------

class Qmp:
    def __init__(self, path, timeout=30):
        deadline = time.monotonic() + timeout
        while True:
            try:
                self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                self.sock.connect(path)
                break
            except OSError:
                self.sock.close()
                if time.monotonic() > deadline:
                    raise BenchError(f"QEMU's monitor socket {path} did not appear")
                time.sleep(0.05)
        self.sock.settimeout(timeout)
        self.reader = self.sock.makefile("r")
        self.events = []
        self._next()  # greeting
        self.command("qmp_capabilities")

    def _next(self):
        line = self.reader.readline()
        if not line:
            raise BenchError("QEMU's monitor closed")
        return json.loads(line)

    def command(self, name, **arguments):
        request = {"execute": name}
        if arguments:
            request["arguments"] = arguments
        self.sock.sendall(json.dumps(request).encode() + b"\n")
        while True:
            answer = self._next()
            if "event" in answer:
                self.events.append(answer)
                continue
            if "error" in answer:
                raise BenchError(f"{name}: {answer['error'].get('desc')}")
            return answer.get("return")

    def wait_event(self, name, timeout=10):
        deadline = time.monotonic() + timeout
        while True:
            for i, event in enumerate(self.events):
                if event["event"] == name:
                    return self.events.pop(i)
            left = deadline - time.monotonic()
            if left <= 0:
                raise BenchError(f"no {name} event from QEMU")
            self.sock.settimeout(left)
            try:
                answer = self._next()
            except socket.timeout:
                continue
            if "event" in answer:
                self.events.append(answer)

    def close(self):
        self.reader.close()
        self.sock.close()


# ---- the guest -----------------------------------------------------------------

def _kill_with_parent():
    # QEMU must not outlive the harness, whatever ends it (a CTest time-out).
    libc = ctypes.CDLL(None, use_errno=True)
    PR_SET_PDEATHSIG = 1
    libc.prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


class Guest:
    """One booted virtual machine.  Use as a context manager: QEMU is killed
    (by its pid) on the way out, whatever happened."""

    def __init__(self, assets, programs, usb=False, memory_mb=512):
        self.assets = assets
        self.programs = programs
        self.usb = usb
        self.memory_mb = memory_mb
        self.workdir = tempfile.mkdtemp(prefix="rebounce-guest-")
        self.qemu = None
        self.qmp = None
        self.peer = None
        self._lines = []
        self._cond = threading.Condition()
        self._next_id = 0
        self._reader = None
        self._log = None
        self.stuck = False
        self.boot_seconds = None

    def __enter__(self):
        try:
            self.start()
        except BaseException:
            self.stop()
            raise
        return self

    def __exit__(self, *exc):
        self.stop()

    def start(self):
        started = time.monotonic()
        initramfs = os.path.join(self.workdir, "initramfs.cpio")
        # A sanitised build in the guest reports as it would on the host.
        environment, files = sanitizer_environment(os.environ)
        build_initramfs(initramfs, self.assets, {**self.programs, **files}, environment)
        qmp_path = os.path.join(self.workdir, "qmp.sock")
        command = [
            "qemu-system-x86_64", "-machine", "pc,accel=tcg", "-m", str(self.memory_mb), "-smp", "1",
            "-nodefaults", "-no-user-config", "-display", "none", "-no-reboot", "-S",
            "-kernel", os.path.join(self.assets, "vmlinux"), "-initrd", initramfs,
            # no_timer_check: on a busy host the emulated processor can miss
            # the ticks the kernel's IO-APIC timer check waits for at boot,
            # and the kernel then panics ("IO-APIC + timer doesn't work!").
            "-append", "console=ttyS0 loglevel=1 panic=-1 rdinit=/init no_timer_check",
            # ttyS0 is the console (standard input and output); ttyS1 a
            # pseudo-terminal that nobody on the host opens.
            "-serial", "stdio",
            "-chardev", "pty,id=s1", "-serial", "chardev:s1",
            "-qmp", f"unix:{qmp_path},server=on,wait=off",
        ]
        if self.usb:
            command += ["-device", "qemu-xhci,id=xhci",
                        "-chardev", "pty,id=u1", "-device", "usb-serial,chardev=u1,id=ftdi0"]
        # The guest's ports come from pseudo-terminals QEMU makes itself; a
        # device path of this machine must never reach its command line.
        if any("/dev/" in argument for argument in command):
            raise BenchError(f"a host device on QEMU's command line: {command}")
        self._log = open(os.path.join(self.workdir, "qemu.log"), "wb")
        self.qemu = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=self._log, preexec_fn=_kill_with_parent)
        self._reader = threading.Thread(target=self._read_console, daemon=True)
        self._reader.start()
        self.qmp = Qmp(qmp_path)
        if self.usb:
            # The adapter only attaches once its pty has a host end, and that
            # end must be reading before the guest can send anything.
            chardevs = {c["label"]: c["filename"] for c in self.qmp.command("query-chardev")}
            self.peer = EchoPeer(chardevs["u1"].removeprefix("pty:"))
            self.peer.start()
        self.qmp.command("cont")
        self._wait_line(lambda line: line == "@@READY", BOOT_TIMEOUT, "the guest's shell")
        failed = [line for line in self._lines if line.startswith("@@INSMOD-FAILED")]
        if failed:
            raise BenchError(f"guest could not load {failed}")
        self.boot_seconds = time.monotonic() - started

    def stop(self):
        """Kills QEMU by its pid, then releases everything else.  Safe to
        call more than once."""
        if self.qemu is not None:
            if self.qemu.poll() is None:
                os.kill(self.qemu.pid, signal.SIGKILL)
            self.qemu.wait()
            if self._reader is not None:
                self._reader.join(timeout=5)
            self.qemu.stdin.close()
            self.qemu.stdout.close()
            self.qemu = None
        if self.qmp is not None:
            self.qmp.close()
            self.qmp = None
        if self.peer is not None:
            self.peer.close()
            self.peer = None
        if self._log is not None:
            self._log.close()
            self._log = None
        if self.workdir is None:
            return
        if os.environ.get("REBOUNCE_KERNEL_KEEP"):
            print(f"guest files kept in {self.workdir}", file=sys.stderr)
        else:
            shutil.rmtree(self.workdir, ignore_errors=True)
        self.workdir = None

    def qemu_log(self):
        try:
            with open(os.path.join(self.workdir, "qemu.log"), errors="replace") as log:
                return log.read()
        except OSError:
            return ""

    def _read_console(self):
        for raw in self.qemu.stdout:
            line = raw.decode("utf-8", "replace").rstrip("\r\n").replace("\r", "")
            with self._cond:
                self._lines.append(line)
                self._cond.notify_all()
        with self._cond:
            self._lines.append("@@QEMU-ENDED")
            self._cond.notify_all()

    def _wait_line(self, predicate, timeout, what):
        deadline = time.monotonic() + timeout
        with self._cond:
            seen = 0
            while True:
                for i in range(seen, len(self._lines)):
                    if predicate(self._lines[i]):
                        return i
                    if self._lines[i] == "@@QEMU-ENDED":
                        raise BenchError(f"QEMU ended while waiting for {what}:\n" + self.qemu_log()
                                         + "\n".join(self._lines[-30:]))
                seen = len(self._lines)
                left = deadline - time.monotonic()
                if left <= 0:
                    raise BenchError(f"timed out waiting for {what}; console ends with:\n"
                                     + "\n".join(self._lines[-30:]))
                self._cond.wait(left)

    # -- commands ---------------------------------------------------------------

    def start_command(self, shell_command):
        """Sends a shell command line; its result is taken with wait()."""
        if "\n" in shell_command:
            raise ValueError("one line per command")
        if self.stuck:
            raise BenchError(f"not sent, the console is still busy with an earlier command: {shell_command}")
        self._next_id += 1
        self.qemu.stdin.write(f"{self._next_id} {shell_command}\n".encode())
        self.qemu.stdin.flush()
        return self._next_id

    def wait(self, command_id, timeout=COMMAND_TIMEOUT):
        """(exit status, output lines) of a command that start_command sent."""
        end_prefix = f"@@E {command_id} "
        try:
            begin = self._wait_line(lambda line: line == f"@@B {command_id}", timeout, f"command {command_id}")
            end = self._wait_line(lambda line: line.startswith(end_prefix), timeout, f"command {command_id}")
        except BenchError:
            # Commands run one after the other: later ones would only queue.
            self.stuck = True
            raise
        with self._cond:
            output = [line for line in self._lines[begin + 1:end] if not line.startswith("@@")]
            status = int(self._lines[end][len(end_prefix):])
        return status, output

    def run(self, shell_command, timeout=COMMAND_TIMEOUT):
        return self.wait(self.start_command(shell_command), timeout)

    def check(self, shell_command, timeout=COMMAND_TIMEOUT):
        """Output of a command that must succeed."""
        status, output = self.run(shell_command, timeout)
        if status != 0:
            raise BenchError(f"guest command failed ({status}): {shell_command}\n" + "\n".join(output))
        return output

    def wait_for_path(self, path, present, timeout=20):
        """True once the path exists (or is gone), polled inside the guest."""
        condition = f"[ -e {path} ]" if present else f"[ ! -e {path} ]"
        status, _ = self.run(f"i=0; until {condition}; do [ $i -ge {int(timeout * 10)} ] && exit 1;"
                             f" sleep 0.1; i=$((i+1)); done", timeout + 10)
        return status == 0


def shell(assets, programs):
    """A guest to try things by hand: each line is a guest command, except
    !unplug and !plug (the USB adapter) and !quit.  The host end of ttyUSB0
    echoes what it gets."""
    with Guest(assets, programs, usb=True) as guest:
        guest.wait_for_path("/dev/ttyUSB0", True)
        print(f"guest up in {guest.boot_seconds:.1f} s; ports {GUEST_UART} and {GUEST_USB_ADAPTER}", file=sys.stderr)
        for line in sys.stdin:
            line = line.strip()
            if not line:
                continue
            if line == "!quit":
                break
            if line == "!unplug":
                guest.peer.drop_pending()
                guest.qmp.command("device_del", id="ftdi0")
                guest.qmp.wait_event("DEVICE_DELETED")
                continue
            if line == "!plug":
                guest.peer.reset()
                guest.qmp.command("device_add", driver="usb-serial", chardev="u1", id="ftdi0")
                print("back" if guest.wait_for_path("/dev/ttyUSB0", True) else "not back", file=sys.stderr)
                continue
            status, output = guest.run(line, timeout=600)
            print("\n".join(output + [f"[exit {status}]"]), flush=True)
    return 0


def main(argv):
    if len(argv) == 4 and argv[1] == "prepare":
        prepare_assets(argv[2], argv[3])
        return 0
    if len(argv) >= 3 and argv[1] == "shell":
        programs = {f"/usr/local/bin/{os.path.basename(p)}": os.path.abspath(p) for p in argv[3:]}
        return shell(argv[2], programs)
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
