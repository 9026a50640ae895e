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
# Seconds for one rebounce-cli command in the guest: a bound for a run that
# hangs, not a measure; a sanitized program starts slowly on an emulated
# processor, and many times slower on a busy host.
CLI_LIMIT = 120
# What a run may take in the guest from an unplug to its end (the run line
# out): seconds, and processor seconds besides a quarter of those.  Winding
# up (closing, the message, the JSON line) took 0.3 s of processor in 0.4 s
# of a sanitized build on the emulated processor; a busy host stretches both,
# since the guest counts the time its processor is held up as the running
# program's.  Waiting out the time-out would take 36 s; a 3 s busy loop
# took 2.6 s of processor in 3.6 s.
UNPLUG_WIND_UP_LIMIT = 15
UNPLUG_WIND_UP_CPU = 1.0


def unsupported_rate_line(rate, device):
    return f"The baud rate {rate} is not supported by {device}!"


def low_bytes(data_bits):
    """A hex: pattern of every value the data bits carry (5 and 6 bits)."""
    return "hex:" + "".join(f"{v:02X}" for v in range(1 << data_bits))


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
        unplug_at = lines.index("--unplug--") if "--unplug--" in lines else len(lines)
        times = [line.split() for line in lines[err_end + 1:unplug_at]
                 if re.fullmatch(r"[\d.]+ [\d.]+ [\d.]+", line)]
        self.seconds, user, system = (float(v) for v in times[-1]) if times else (0.0, 0.0, 0.0)
        self.cpu_seconds = user + system
        self.after_unplug = self._after_unplug(lines[unplug_at + 1:])
        objects = [json.loads(line) for line in self.stdout if line.startswith("{")]
        self.runs = [o for o in objects if o.get("type") == "run"]
        self.summary = next((o for o in objects if o.get("type") == "summary"), None)
        self.statistics = next((o for o in objects if o.get("type") == "statistics"), None)

    def _after_unplug(self, lines):
        """(processor seconds, seconds) of rebounce-cli from the moment the
        guest saw the device go to the moment its run was over (its JSON
        line written), or None.  The lines: the guest's uptime and
        rebounce-cli's /proc/PID/stat as last read while the device was
        there, the same once the run line was out (empty when the program
        had ended before the watcher looked), and the uptime at the end;
        without the second, the end is the program's end, by time."""
        if len(lines) < 3 or ")" not in lines[0]:
            return None

        def sample(line):
            uptime, stat = line.split(" ", 1)
            fields = stat.rsplit(")", 1)[1].split()
            # utime and stime, fields 14 and 15, in the guest's USER_HZ (100, as here)
            return float(uptime), (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

        at, cpu_at = sample(lines[0])
        if ")" in lines[1]:
            end, cpu_end = sample(lines[1])
        else:
            end, cpu_end = float(lines[2].split()[0]), self.cpu_seconds
        return cpu_end - cpu_at, end - at

    def text(self):
        return "\n".join(self.stdout + self.stderr)


class GuestTestCase(unittest.TestCase):
    usb = False
    memory_mb = 1024  # the sanitized programs unpack into the guest's memory
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

    def cliStart(self, arguments, user=None, limit=CLI_LIMIT, watch_unplug_of=None):
        """A run that outlasts the limit is interrupted (exit 130), so that a
        run waiting out a long time-out cannot hold up the guest's console.
        watch_unplug_of: a device whose going the guest watches for, reading
        rebounce-cli's processor time at that moment (CliResult.after_unplug)."""
        prefix = f"guest-serial-tool as {user} " if user else ""
        watch = finish = ""
        if watch_unplug_of:
            # Shell built-ins only while it watches (read, test, case), so
            # that the watching costs the emulated processor little.
            watch = ("rm -f /tmp/unplug.stat; ( p=; a=; b=; i=0; s() { read -r u _ </proc/uptime &&"
                     " read -r st </proc/$p/stat && echo \"$u $st\"; };"
                     f" while [ $i -lt 1200 ] && [ -e {watch_unplug_of} ]"
                     " && { [ -z \"$p\" ] || [ -e /proc/$p ]; }; do"
                     " [ -n \"$p\" ] || p=$(pidof rebounce-cli); [ -n \"$p\" ] && a=$(s); sleep 0.05; i=$((i+1)); done;"
                     " while [ -n \"$p\" ] && [ -e /proc/$p ] && [ $i -lt 1800 ]; do l=; read -r l </tmp/cli.out;"
                     " case \"$l\" in *'\"type\":\"run\"'*) b=$(s); break;; esac; sleep 0.05; i=$((i+1)); done;"
                     " echo \"$a\" >/tmp/unplug.stat; echo \"$b\" >>/tmp/unplug.stat )"
                     " </dev/null >/dev/null 2>&1 & w=$!; ")
            finish = " cat /proc/uptime >/tmp/end.uptime; wait $w;"
        # Only the echo test draws progress.
        quiet = " --no-progress" if arguments.startswith("echo") else ""
        return self.guest.start_command(
            f"{watch}time -f '%e %U %S' -o /tmp/cli.time timeout -s INT {limit} {prefix}rebounce-cli {arguments}"
            f"{quiet} >/tmp/cli.out 2>/tmp/cli.err; s=$?;{finish} cat /tmp/cli.out; echo --stderr--;"
            " cat /tmp/cli.err; echo; echo --time--; cat /tmp/cli.time;"
            + (" echo --unplug--; cat /tmp/unplug.stat /tmp/end.uptime;" if watch_unplug_of else "")
            + " exit $s")

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

    def assertFramesCarryTheData(self, cases):
        """Each (frame, pattern, bytes): applied and read back by the driver,
        the echo passes in it, and the line is left as it was."""
        for frame, pattern, length in cases:
            with self.subTest(frame=frame, pattern=pattern):
                if self.guest.peer:
                    self.guest.peer.reset()
                before = self.lineState(self.device)
                result = self.cli(f"echo --device {self.device} --baud 115200 --frame {frame} --pattern {pattern} --json")
                self.assertEqual(result.status, 0, result.text())
                self.assertEqual(len(result.runs), 1, result.text())
                run = result.runs[0]
                self.assertEqual((run["verdict"], run["frame"], run["sent"], run["received"]),
                                 ("PASS", frame, length, length), result.text())
                self.assertEqual(self.lineState(self.device), before, "the frame was not put back")

    def assertRefusedFrame(self, frame, answer, pattern="spec"):
        """A frame the driver (or termios) cannot run: exit 3 before any
        byte is sent, never a run in another frame."""
        if self.guest.peer:
            self.guest.peer.reset()
        before = self.lineState(self.device)
        result = self.cli(f"echo --device {self.device} --baud 115200 --frame {frame} --pattern {pattern} --json")
        self.assertEqual(result.status, 3, result.text())
        self.assertEqual(result.runs, [], "a refused frame must not run in another one")
        message = "\n".join(result.stderr)
        self.assertIn(f"{self.device} cannot run the frame asked for!", message)
        self.assertIn(f"asked for {frame}, {answer}", message)
        self.assertEqual(self.lineState(self.device), before)
        if self.guest.peer:
            self.assertEqual(self.guest.peer.received, 0, "nothing may be sent in another frame")

    def assertParityFrameIsRunAndMarked(self):
        # 7E1 with the input parity check and the marks for bytes received
        # in error: the run reads its frame back from the driver (a frame the
        # driver does not keep is refused, as above), and the marks are off
        # again after.  Watching the settings from another program during
        # the run proved a race in the guest: the sampler saw the port open
        # at most once, mostly before the frame was set.
        before = self.lineState(self.device)
        if self.guest.peer:
            self.guest.peer.reset()
        result = self.cli(f"echo --device {self.device} --baud 300 --frame 7E1 --length 60 --json")
        self.assertEqual(result.status, 0, result.stderr)
        self.assertEqual([(r["verdict"], r["frame"], r["received"]) for r in result.runs], [("PASS", "7E1", 60)],
                         result.stderr)
        self.assertEqual(self.lineState(self.device), before, "the marks were not put back")

    def lineState(self, device):
        """Everything of a port that a run must leave as it found it."""
        settings = self.guest.check(f"stty -F {device} -g")
        rate = self.guest.check(f"guest-serial-tool rate {device}")
        loop = self.guest.check(f"guest-serial-tool loop {device} show")
        lines = self.guest.check(f"guest-serial-tool lines {device}")
        return settings + rate + loop + lines


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
        status, output = self.guest.run(f"REBOUNCE_LOOPBACK_DEVICE={self.device} timeout -s INT 240"
                                        " serial_pty_test --gtest_color=no --gtest_filter='*LoopbackDevice*'", timeout=300)
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

    def test_frames_are_applied_and_carry_the_data(self):
        # The 8250 sets every frame termios can name, mark and space parity
        # (CMSPAR) too.  In its loopback a byte comes back whole whatever
        # the frame, so a pattern the frame cannot carry is refused by the
        # program, not failed by the line.
        self.assertFramesCarryTheData([
            ("7E1", "spec", 1000), ("8O1", "all-bytes", 256), ("5N1", low_bytes(5), 32), ("8N2", "counting", 1000),
            ("7O2", "spec", 1000), ("8M1", "all-bytes", 256), ("8S1", "0xFF", 1000), ("6E2", low_bytes(6), 64),
            ("5O1.5", low_bytes(5), 32),
        ])
        self.assertParityFrameIsRunAndMarked()
        # termios has 1.5 stop bits only with 5 data bits.
        self.assertRefusedFrame("7E1.5", "the driver refused it")

    # In loopback mode the 16550 wires RTS to CTS, DTR to DSR, OUT1 to RI and
    # OUT2 to DCD: a full loopback plug with RI, whose DCD and RI hang on the
    # UART's spare outputs.
    UART_LOOP_WIRING = "--ri --wiring rts-cts,dtr-dsr,out1-ri,out2-dcd"

    def linesJson(self, arguments):
        result = self.cli(f"lines --device {self.device} {arguments} --json")
        objects = [json.loads(line) for line in result.stdout if line.startswith("{")]
        self.assertEqual(len(objects), 1, result.text())
        return result, objects[0]

    def test_the_line_test_passes_in_loopback_and_names_every_wire_without_it(self):
        cases = [
            # loop, status, the fault of each input's wire (None: PASS)
            (True, 0, {"CTS": None, "DSR": None, "RI": None, "DCD": None}),
            # Without the loop QEMU's 16550 on a pseudo-terminal reads CTS,
            # DSR and DCD high and RI low, whatever the outputs do.
            (False, 1, {"CTS": "CTS does not follow RTS (stuck high)",
                        "DSR": "DSR does not follow DTR (stuck high)",
                        "RI": "RI does not follow OUT1 (stuck low)",
                        "DCD": "DCD does not follow OUT2 (stuck high)"}),
        ]
        for loop, status, faults in cases:
            with self.subTest(loop=loop):
                self.setLoop(loop)
                try:
                    before = self.lineState(self.device)
                    result, lines = self.linesJson(self.UART_LOOP_WIRING)
                    self.assertEqual(result.status, status, result.text())
                    self.assertEqual(lines["verdict"], "PASS" if loop else "FAIL")
                    self.assertEqual({w["input"]: w["fault"] for w in lines["wires"]}, faults)
                    self.assertTrue(all(w["settle_ms"] < lines["settle_limit_ms"] for w in lines["wires"] if
                                        w["verdict"] == "PASS"))
                    self.assertTrue(lines["restored"], result.text())
                    self.assertEqual(self.lineState(self.device), before, "the lines test changed the port")
                finally:
                    self.setLoop(True)
        # The 16550 wires DCD to OUT2, not to DTR as a full loopback plug
        # does: without the wiring, DCD is the one wire that fails.
        result, lines = self.linesJson("")
        self.assertEqual(result.status, 1, result.text())
        self.assertEqual([(w["input"], w["verdict"]) for w in lines["wires"]],
                         [("CTS", "PASS"), ("DSR", "PASS"), ("DCD", "FAIL")])
        # The echo test runs as before on the line the lines test left, and
        # with the line test before its data.
        self.assertPass(self.cli(f"echo --device {self.device} --baud 115200 --json"))
        before = self.lineState(self.device)
        result = self.cli(f"echo --device {self.device} --baud 115200 --lines {self.UART_LOOP_WIRING} --json")
        self.assertPass(result)
        self.assertEqual(result.runs[0]["lines"],
                         {**result.runs[0]["lines"], "verdict": "PASS", "cts": "PASS", "dsr": "PASS", "dcd": "PASS",
                          "ri": "PASS", "restored": True})
        self.assertEqual(self.lineState(self.device), before)
        # A pseudo-terminal of the guest has no handshake lines: refused, not
        # a FAIL.
        refused = self.cli("lines --device /dev/ptmx")
        self.assertEqual((refused.status, refused.stderr),
                         (3, ["/dev/ptmx has no handshake lines (a pseudo-terminal)"]), refused.text())

    def test_flow_control_under_load(self):
        # The reader pauses 2 s while 65536 bytes go out.  What QEMU's 16550
        # and the 8250 driver do (measured): the loop has no line pacing, so
        # the whole pattern leaves within the pause; the driver drops RTS
        # when its input fills, and in loopback CTS follows, but QEMU raises
        # no delta-CTS interrupt in loopback mode, and the driver stops its
        # sender only on one: the sender is never held.  Nothing is lost
        # either way, as the tty layer's buffers take the 65536 bytes.  With
        # rtscts that is the honest FAIL "the driver did not hold the
        # sender", never a PASS of flow control; without flow control the
        # same run passes with no overrun.
        cases = [("rtscts", 1, "FAIL", "not held"), ("none", 0, "PASS", "no flow control")]
        for flow, status, verdict, outcome in cases:
            with self.subTest(flow=flow):
                before = self.lineState(self.device)
                result = self.cli(f"echo --device {self.device} --baud 115200 --flow {flow} --length 65536"
                                  f" --chunk 256 --reader-pause 2000 --json", limit=300)
                self.assertEqual(result.status, status, result.stderr)
                self.assertEqual(len(result.runs), 1, result.stderr)
                run = result.runs[0]
                summary = {k: run.get(k) for k in ("verdict", "sent", "received", "line_errors", "flow_load",
                                                   "missing_bytes", "timeout_ms", "min_transmit_ms")}
                self.assertEqual((run["verdict"], run["sent"], run["received"]), (verdict, 65536, 65536), summary)
                self.assertEqual(run["line_errors"]["overrun"], 0, summary)
                self.assertEqual(run["flow_load"]["outcome"], outcome, summary)
                self.assertEqual(run["flow_load"]["sender_held_ms"], 0, summary)
                self.assertGreater(run["flow_load"]["sent_during_pause"], 8192, summary)
                self.assertGreaterEqual(run["timeout_ms"], 2000 + run["min_transmit_ms"], summary)
                if verdict == "FAIL":
                    self.assertEqual(run["missing_bytes"], 0, summary)
                    self.assertIn("the driver did not hold the sender",
                                  self.cli(f"echo --device {self.device} --baud 115200 --flow rtscts --length 65536"
                                           f" --chunk 256 --reader-pause 2000", limit=300).text())
                self.assertEqual(self.lineState(self.device), before, "the run changed the port")

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

    def test_frames_are_applied_and_carry_the_data(self):
        # The host peer echoes whole bytes, as QEMU's adapter hands them over.
        self.assertFramesCarryTheData([
            ("7E1", "spec", 1000), ("8O1", "all-bytes", 256), ("8N2", "counting", 1000), ("7O2", "spec", 1000),
            ("8S1", "0xFF", 1000), ("8M1", "all-bytes", 256),
        ])
        self.assertParityFrameIsRunAndMarked()
        # FTDI chips have 7 or 8 data bits: ftdi_sio puts the old size back
        # for 6 and keeps the port as it was.
        self.assertRefusedFrame("6N1", "the driver runs 8N1", low_bytes(6))

    def test_unplug_mid_run_fails_at_once_and_the_next_run_after_replug_passes(self):
        # At 300 baud with the peer answering at the line's pace (30 bytes a
        # second) the run lasts 33 s; the adapter goes away after 60 bytes.
        peer = self.guest.peer
        peer.reset(bytes_per_second=30)
        command = self.cliStart(f"echo --device {self.device} --baud 300 --json", limit=40 + CLI_LIMIT,
                                watch_unplug_of=self.device)
        deadline = time.monotonic() + CLI_LIMIT
        while peer.echoed < 60 and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertGreaterEqual(peer.echoed, 60, "the run never got going")
        peer.drop_pending()
        self.guest.qmp.command("device_del", id="ftdi0")
        self.guest.qmp.wait_event("DEVICE_DELETED")
        result = self.cliWait(command, timeout=60 + CLI_LIMIT)
        try:
            # Measured in the guest, from the moment it saw the device go to
            # the end of the run: neither the guest's slow start-up on a busy
            # host nor the program's exit counts.
            self.assertIsNotNone(result.after_unplug, "the guest did not see the unplug:\n" + result.text())
            cpu, wall = result.after_unplug
            print(f"\nafter the unplug: {cpu:.2f} s of processor in {wall:.2f} s", file=sys.stderr)
            self.assertEqual(result.status, 1, result.text())
            self.assertEqual(len(result.runs), 1, result.text())
            run = result.runs[0]
            self.assertEqual(run["verdict"], "FAIL")
            # Waiting for the time-out would take over 30 s.
            self.assertLess(wall, UNPLUG_WIND_UP_LIMIT, "the run did not end at once after the unplug")
            self.assertEqual(run["sent"], peer.received, "bytes sent must be the bytes that left the port")
            self.assertEqual((result.summary["failures"], result.summary["total_sent"]), (1, run["sent"]))
            self.assertGreaterEqual(run["received"], 1)
            self.assertLess(run["received"], 1000)
            # The time of the last read the line still answered, not the line time.
            self.assertIsNotNone(run["last_read_ms"], result.text())
            self.assertLess(run["last_read_ms"], run["min_transmit_ms"], result.text())
            # From the unplug on the run only winds up.  A program that went
            # on polling the dead line would spend nearly all of that time on
            # the processor.
            self.assertLess(cpu, 0.25 * wall + UNPLUG_WIND_UP_CPU, "busy loop after the unplug")
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
            f" QT_QPA_PLATFORM_PLUGIN_PATH={self.plugins}/platforms timeout -s INT 240 guest-window-run", timeout=300)
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
