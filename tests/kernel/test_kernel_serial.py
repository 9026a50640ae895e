"""rebounce-cli on the Linux kernel's own serial drivers, in a QEMU guest.

Three groups, one boot each: the 16550 UART (ttyS1) in its internal
loopback; the FTDI USB adapter (ttyUSB0) against an echo peer on the host,
unplugged from QEMU's monitor in the middle of a run; the main window
offscreen on ttyS1.  Run one with `test_kernel_serial.py GROUP`.

Environment: REBOUNCE_CLI, REBOUNCE_GUEST_TOOL (the programs to put in the
guest), REBOUNCE_KERNEL_ASSETS (what `kernel_bench.py prepare` made); for the
window REBOUNCE_WINDOW_RUN and REBOUNCE_QT_OFFSCREEN (its platform plugin).
Skipped (status 77) when not root (REBOUNCE_KERNEL_ANY_USER=1 allows it),
without QEMU, or without the kernel pieces.
"""

import json
import os
import re
import shutil
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kernel_bench  # noqa: E402

PATTERN = "ABCDEFGHIJ" * 100
USER = "1000 1000,20"  # an ordinary user in the dialout group
SKIP_STATUS = 77       # CTest's SKIP_RETURN_CODE for this test
CLI_LIMIT = 30         # seconds for one rebounce-cli command in the guest


def unsupported_rate_line(rate, device):
    return f"The baud rate {rate} is not supported by {device}!"


class CliResult:
    """What one rebounce-cli command in the guest gave: its exit status, its
    output split into the JSON runs and summary and standard error, and the
    wall-clock and processor seconds it took."""

    def __init__(self, status, lines):
        out_end = lines.index("--stderr--")
        err_end = lines.index("--time--")
        self.status = status
        self.stdout = lines[:out_end]
        # time's note on a non-zero status repeats what status says.
        self.stderr = [line for line in lines[out_end + 1:err_end] if line]
        times = [line.split() for line in lines[err_end + 1:] if re.fullmatch(r"[\d.]+ [\d.]+ [\d.]+", line)]
        self.seconds, user, system = (float(v) for v in times[-1]) if times else (0.0, 0.0, 0.0)
        self.cpu_seconds = user + system
        objects = [json.loads(line) for line in self.stdout if line.startswith("{")]
        self.runs = [o for o in objects if o.get("type") == "run"]
        self.summary = next((o for o in objects if o.get("type") == "summary"), None)
        self.statistics = next((o for o in objects if o.get("type") == "statistics"), None)

    def text(self):
        return "\n".join(self.stdout + self.stderr)


class GuestTestCase(unittest.TestCase):
    usb = False
    memory_mb = 512
    guest = None

    @classmethod
    def setUpClass(cls):
        for variable in ("REBOUNCE_CLI", "REBOUNCE_GUEST_TOOL", "REBOUNCE_KERNEL_ASSETS"):
            if not os.environ.get(variable):
                raise unittest.SkipTest(f"{variable} is not set (tools/kernel-test.sh sets it)")
        programs = {"/usr/local/bin/rebounce-cli": os.environ["REBOUNCE_CLI"],
                    "/usr/local/bin/guest-serial-tool": os.environ["REBOUNCE_GUEST_TOOL"]}
        programs.update(cls.morePrograms())
        cls.guest = kernel_bench.Guest(os.environ["REBOUNCE_KERNEL_ASSETS"], programs, usb=cls.usb,
                                       memory_mb=cls.memory_mb)
        cls.guest.__enter__()
        print(f"\n{cls.__name__}: guest up in {cls.guest.boot_seconds:.1f} s", file=sys.stderr)
        try:
            cls.prepareGuest()
        except BaseException:
            cls.guest.stop()
            raise

    @classmethod
    def tearDownClass(cls):
        if cls.guest is not None:
            cls.guest.stop()

    @classmethod
    def morePrograms(cls):
        return {}

    @classmethod
    def prepareGuest(cls):
        pass

    def cli(self, arguments, user=None, limit=CLI_LIMIT):
        return self.cliWait(self.cliStart(arguments, user, limit), limit + 20)

    def cliStart(self, arguments, user=None, limit=CLI_LIMIT):
        """A run that outlasts the limit is interrupted (exit 130), so that a
        run waiting out a long time-out cannot hold up the guest's console."""
        prefix = f"guest-serial-tool as {user} " if user else ""
        return self.guest.start_command(
            f"time -f '%e %U %S' -o /tmp/cli.time timeout -s INT {limit} {prefix}rebounce-cli {arguments} --no-progress"
            " >/tmp/cli.out 2>/tmp/cli.err; s=$?; cat /tmp/cli.out; echo --stderr--; cat /tmp/cli.err;"
            " echo; echo --time--; cat /tmp/cli.time; exit $s")

    def cliWait(self, command_id, timeout=kernel_bench.COMMAND_TIMEOUT):
        return CliResult(*self.guest.wait(command_id, timeout))

    def assertPass(self, result):
        self.assertEqual(result.status, 0, result.text())
        self.assertEqual(len(result.runs), 1, result.text())
        run = result.runs[0]
        self.assertEqual((run["verdict"], run["sent"], run["received"]), ("PASS", 1000, 1000), result.text())
        self.assertEqual(run["received_text"], PATTERN)
        counts = {k: result.summary[k] for k in ("passes", "failures", "total_sent", "total_received")}
        self.assertEqual(counts, {"passes": 1, "failures": 0, "total_sent": 1000, "total_received": 1000})

    def assertRefusedRate(self, result, rate, device):
        self.assertEqual(result.status, 3, result.text())
        self.assertEqual(result.runs, [], "a refused rate must not run at another rate")
        self.assertTrue(result.stderr, result.text())
        self.assertEqual(result.stderr[0], unsupported_rate_line(rate, device))

    def lineState(self, device):
        """Everything of a port that a run must leave as it found it."""
        settings = self.guest.check(f"stty -F {device} -g")
        rate = self.guest.check(f"guest-serial-tool rate {device}")
        loop = self.guest.check(f"guest-serial-tool loop {device} show")
        return settings + rate + loop


class UartLoopback(GuestTestCase):
    """ttyS1, the 8250 driver, with the UART's internal loopback switched on:
    a real echo plug inside the chip, no host peer at all."""

    device = kernel_bench.GUEST_UART

    @classmethod
    def prepareGuest(cls):
        cls.guest.check(f"chgrp 20 {cls.device} && chmod 660 {cls.device}")
        # The loopback bit is a modem-control bit of the port, not of an open
        # file: it stays set after the tool that set it has closed the port,
        # so no helper has to keep the port open (which would make it held).
        cls.guest.check(f"guest-serial-tool loop {cls.device} on")
        if cls.guest.check(f"guest-serial-tool loop {cls.device} show") != ["loop=1"]:
            raise kernel_bench.BenchError("the UART's loopback bit did not survive close")

    @classmethod
    def morePrograms(cls):
        suite = os.environ.get("REBOUNCE_ECHO_SUITE")
        return {"/usr/local/bin/serial_pty_test": suite} if suite else {}

    def test_the_serial_layer_echo_suite_on_the_uart(self):
        # The serial layer's own echo suite, whose looped-back-port row runs
        # only where a real port is: every byte value included.
        if not os.environ.get("REBOUNCE_ECHO_SUITE"):
            self.skipTest("REBOUNCE_ECHO_SUITE names no echo suite binary")
        status, output = self.guest.run(f"REBOUNCE_LOOPBACK_DEVICE={self.device} timeout -s INT 60"
                                        " serial_pty_test --gtest_color=no --gtest_filter='*LoopbackDevice*'", timeout=90)
        text = "\n".join(output)
        self.assertEqual(status, 0, text)
        self.assertRegex(text, r"\[  PASSED  \] [1-9]\d* test")
        self.assertNotIn("SKIPPED", text)

    def setLoop(self, on):
        self.assertEqual(self.guest.check(f"guest-serial-tool loop {self.device} {'on' if on else 'off'}"),
                         [f"loop={int(on)}"])

    def test_echo_passes_and_the_line_is_put_back(self):
        for rate in (45, 9600, 115200):
            with self.subTest(rate=rate):
                before = self.lineState(self.device)
                result = self.cli(f"echo --device {self.device} --baud {rate} --json")
                self.assertPass(result)
                self.assertEqual(result.runs[0]["baud"], rate)
                self.assertEqual(self.lineState(self.device), before, "line settings or modem lines changed")

    def test_a_rate_the_driver_does_not_apply_is_refused(self):
        # The 8250 accepts 1000000 through termios2 and silently keeps its
        # previous rate.
        before = self.lineState(self.device)
        self.assertRefusedRate(self.cli(f"echo --device {self.device} --baud 1000000 --json"), 1000000, self.device)
        self.assertEqual(self.lineState(self.device), before)
        self.assertPass(self.cli(f"echo --device {self.device} --baud 115200 --json"))

    def startHolder(self, command, user=None):
        """Starts a program that keeps the port open; returns its pid."""
        prefix = f"guest-serial-tool as {user} " if user else ""
        self.guest.check("rm -f /tmp/holder.*")
        self.guest.check(f"( {prefix}{command} >/tmp/holder.out 2>&1 & echo $! >/tmp/holder.pid; wait $!;"
                         " echo $? >/tmp/holder.status ) >/dev/null 2>&1 &")
        self.assertTrue(self.guest.wait_for_path("/tmp/holder.pid", True))
        pid = int(self.guest.check("cat /tmp/holder.pid")[0])
        # Held once the device shows among its open files.
        status, _ = self.guest.run(f"i=0; until ls -l /proc/{pid}/fd 2>/dev/null | grep -q {self.device};"
                                   f" do [ $i -ge 100 ] && exit 1; sleep 0.1; i=$((i+1)); done")
        self.assertEqual(status, 0, "the holder never opened the port:\n"
                         + "\n".join(self.guest.run("cat /tmp/holder.out")[1]))
        return pid

    def stopHolder(self, pid):
        self.guest.check(f"kill -INT {pid}")
        self.assertTrue(self.guest.wait_for_path("/tmp/holder.status", True), "the holder did not end")
        return int(self.guest.check("cat /tmp/holder.status")[0])

    def test_a_held_port_is_refused_and_free_again_after(self):
        # Each holder keeps the port open; the contender, started from the
        # other account, must be refused while it does, and pass after.
        # rebounce-cli holds the port with no loopback: at 45 baud it then
        # waits minutes for an echo.
        cases = [
            ("plain program, user", USER, f"guest-serial-tool hold {self.device}", None, 0),
            ("program in exclusive mode, user", USER, f"guest-serial-tool hold {self.device} exclusive", None, 0),
            ("rebounce-cli, user", USER, f"rebounce-cli echo --device {self.device} --baud 45 --no-progress",
             None, 130),
            ("rebounce-cli, root", None, f"rebounce-cli echo --device {self.device} --baud 45 --no-progress",
             USER, 130),
        ]
        for name, holder_user, holder, contender_user, holder_status in cases:
            with self.subTest(holder=name):
                self.setLoop(False)
                pid = self.startHolder(holder, holder_user)
                try:
                    refused = self.cli(f"echo --device {self.device} --baud 9600 --json", contender_user)
                    self.assertEqual(refused.status, 3, refused.text())
                    self.assertEqual(refused.runs, [])
                    message = "\n".join(refused.stderr)
                    self.assertIn(f"{self.device} already open!", message)
                    self.assertIn("(In use by another program", message)
                    # Root passes the exclusive mode; it must neither take
                    # the port nor clear the holder's mode on its way out.
                    if "exclusive" in holder:
                        self.assertEqual(self.guest.check(f"guest-serial-tool exclusive {self.device}"),
                                         ["exclusive=1"])
                    if contender_user is None:  # root sees every process, so it can name the holder
                        with self.subTest("names the holder"):
                            self.assertIn(f"pid {pid}", message)
                finally:
                    status = self.stopHolder(pid)
                # Only now: a holder that puts the modem lines back as it
                # found them at close would clear the bit again.
                self.setLoop(True)
                self.assertEqual(status, holder_status)
                self.assertPass(self.cli(f"echo --device {self.device} --baud 9600 --json", contender_user))


class UsbAdapter(GuestTestCase):
    """ttyUSB0, the ftdi_sio driver on an emulated FTDI adapter, whose far end
    is an echo peer on the host side of its pseudo-terminal."""

    usb = True
    device = kernel_bench.GUEST_USB_ADAPTER

    @classmethod
    def prepareGuest(cls):
        if not cls.guest.wait_for_path(cls.device, True):
            raise kernel_bench.BenchError(f"{cls.device} did not appear")

    def setUp(self):
        self.guest.peer.reset()

    def test_echo_passes_against_the_host_peer(self):
        for rate in (9600, 115200):
            with self.subTest(rate=rate):
                self.guest.peer.reset()
                result = self.cli(f"echo --device {self.device} --baud {rate} --json")
                self.assertPass(result)
                self.assertEqual(self.guest.peer.received, 1000, "bytes the host end saw")

    def test_records_name_the_adapter_and_low_latency_is_put_back(self):
        timer = "/sys/class/tty/ttyUSB0/device/latency_timer"
        # Set to 16 ms first: QEMU's adapter starts at 0, a real one at 16.
        self.guest.check(f"echo 16 >{timer}")
        before = "\n".join(self.guest.check(f"cat {timer}")).strip()
        self.assertEqual(before, "16")
        ports = json.loads("\n".join(self.guest.check("rebounce-cli ports --json")))
        adapter = next(p for p in ports if p["path"] == self.device)
        self.assertEqual((adapter["usb_id"], adapter["interface"], adapter["latency_timer_ms"]), ("0403:6001", 0, 16))
        result = self.cli(f"echo --device {self.device} --baud 115200 --json --low-latency")
        self.assertPass(result)
        run = result.runs[0]
        self.assertEqual(run["usb_id"], "0403:6001", result.text())
        self.assertEqual(run["driver"], "ftdi_sio")
        self.assertEqual(run["interface"], 0)
        self.assertEqual(run["usb_path"], adapter["usb_path"])
        self.assertEqual((run["latency_timer_ms"], run["low_latency"]), (1, True), result.text())
        self.assertEqual("\n".join(self.guest.check(f"cat {timer}")).strip(), "16", "the timer was not put back")

    def test_a_rate_the_driver_does_not_apply_is_refused(self):
        # ftdi_sio falls back to 9600 for a rate its divisor cannot make.
        self.assertPass(self.cli(f"echo --device {self.device} --baud 115200 --json"))
        self.guest.peer.reset()
        self.assertRefusedRate(self.cli(f"echo --device {self.device} --baud 12345678 --json"),
                               12345678, self.device)
        self.assertEqual(self.guest.peer.received, 0, "nothing may be sent at another rate")

    def test_unplug_mid_run_fails_at_once_and_the_next_run_after_replug_passes(self):
        # At 300 baud with the peer answering at the line's pace (30 bytes a
        # second) the run lasts 33 s; the adapter goes away after 60 bytes.
        peer = self.guest.peer
        peer.reset(bytes_per_second=30)
        command = self.cliStart(f"echo --device {self.device} --baud 300 --json", limit=50)
        deadline = time.monotonic() + 30
        while peer.echoed < 60 and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertGreaterEqual(peer.echoed, 60, "the run never got going")
        peer.drop_pending()
        unplugged = time.monotonic()
        self.guest.qmp.command("device_del", id="ftdi0")
        self.guest.qmp.wait_event("DEVICE_DELETED")
        result = self.cliWait(command, timeout=70)
        ended = time.monotonic() - unplugged
        try:
            self.assertEqual(result.status, 1, result.text())
            self.assertEqual(len(result.runs), 1, result.text())
            run = result.runs[0]
            self.assertEqual(run["verdict"], "FAIL")
            self.assertLess(ended, 6, "the run did not end at once after the unplug")
            self.assertEqual(run["sent"], peer.received, "bytes sent must be the bytes that left the port")
            self.assertEqual((result.summary["failures"], result.summary["total_sent"]), (1, run["sent"]))
            self.assertGreaterEqual(run["received"], 1)
            self.assertLess(run["received"], 1000)
            self.assertLess(result.cpu_seconds, 0.3 * result.seconds + 0.5, "busy loop after the unplug")
            self.assertRegex(result.text(), f"{self.device}.*(disconnected|hung up)|Access is denied")
            self.assertEqual(self.guest.run("pidof rebounce-cli")[0], 1, "rebounce-cli still running")
        finally:
            self.assertTrue(self.guest.wait_for_path(self.device, False), "the device node stayed")
            peer.reset()
            self.guest.qmp.command("device_add", driver="usb-serial", chardev="u1", id="ftdi0")
            self.assertTrue(self.guest.wait_for_path(self.device, True), "the adapter did not come back")
        self.assertPass(self.cli(f"echo --device {self.device} --baud 300 --json"))


class WindowInGuest(GuestTestCase):
    """The main window, offscreen, running one test on ttyS1 in loopback."""

    memory_mb = 1024
    device = kernel_bench.GUEST_UART
    plugins = "/usr/local/lib/qt6/plugins"

    @classmethod
    def morePrograms(cls):
        for variable in ("REBOUNCE_WINDOW_RUN", "REBOUNCE_QT_OFFSCREEN"):
            if not os.environ.get(variable):
                raise unittest.SkipTest(f"{variable} is not set (a build without the windows)")
        plugin = os.environ["REBOUNCE_QT_OFFSCREEN"]
        return {"/usr/local/bin/guest-window-run": os.environ["REBOUNCE_WINDOW_RUN"],
                f"{cls.plugins}/platforms/{os.path.basename(plugin)}": plugin}

    @classmethod
    def prepareGuest(cls):
        cls.guest.check(f"guest-serial-tool loop {cls.device} on && mkdir -m 700 /tmp/xdg")

    def test_one_run_in_the_window_passes(self):
        status, output = self.guest.run(
            f"REBOUNCE_COM1={self.device} QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=/tmp/xdg"
            f" QT_QPA_PLATFORM_PLUGIN_PATH={self.plugins}/platforms timeout -s INT 90 guest-window-run", timeout=120)
        self.assertEqual(status, 0, "\n".join(output))


def reason_to_skip():
    if os.geteuid() != 0 and not os.environ.get("REBOUNCE_KERNEL_ANY_USER"):
        return "the guest's tests run as root, inside tools/guard.sh (tools/kernel-test.sh)"
    if not shutil.which("qemu-system-x86_64"):
        return "qemu-system-x86_64 is not installed (tools/kernel-test.sh installs it)"
    assets = os.environ.get("REBOUNCE_KERNEL_ASSETS", "")
    if not os.path.isfile(os.path.join(assets, "vmlinux")):
        return f"no kernel in '{assets}' (tools/kernel-test.sh prepares it)"
    return None


if __name__ == "__main__":
    reason = reason_to_skip()
    if reason:
        print(f"skipped: {reason}", file=sys.stderr)
        sys.exit(SKIP_STATUS)
    unittest.main(verbosity=2)
