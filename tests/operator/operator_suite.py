#!/usr/bin/env python3
"""The station as an operator meets it: the real window on an X server of its own (Xvfb), real
mouse and key events through XTest (xdotool) at a person's pace, against korvan-sim, checked at
the unit (its registers and the requests it received) and, where cheap, on the screen.

  operator_suite.py --mode quiet|busy --station PATH --sim PATH --rects PATH [--only CASE,...]

quiet: the unit changes nothing by itself. busy: an input of the last module changes every
300 ms, so that every poll brings a change. Cases named in KORVAN_OPERATOR_EXPECT_FAIL
(comma-separated, "NAME" or "MODE:NAME") are known to fail: they are reported, and only other
failures fail the run. KORVAN_OPERATOR_DISPLAYS="Q B" picks the X displays of the two modes
(else Xvfb takes a free one).
Exits 77 (skipped) when Xvfb, xdotool, ImageMagick's import or a private /dev is not to be had.
"""
import argparse
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

PACE = 0.62  # between two keys or clicks: a poll (every 500 ms) falls between them
SCREEN = (2800, 780)  # wide enough for the common panel and ten unit panels side by side
LINK = f"/dev/ttyZOP{os.getpid()}"  # the port lock is by name: one per run
SKIP = 77
PRIVDEV = [os.environ.get("KORVAN_PRIVDEV", ""), "/work/shared/tools/privdev",
           shutil.which("privdev") or ""]
# A /dev of our own, as privdev makes it: the station opens the last serial port it lists,
# which must be this simulator's and nobody else's.
PRIVATE_DEV = r'''
d=$(mktemp -d -t opdev.XXXX)
mount -t tmpfs tmpfs "$d"
for n in null zero random urandom tty full; do touch "$d/$n"; mount --bind "/dev/$n" "$d/$n"; done
mkdir "$d/pts" "$d/shm"; mount --bind /dev/pts "$d/pts"; mount --bind /dev/shm "$d/shm"
ln -s /proc/self/fd "$d/fd"; ln -s pts/ptmx "$d/ptmx"
mount --rbind "$d" /dev
exec "$@"'''
DRIVE_CODES = [0, 1, 2, 3, 4, 5, 6, 7, 8, 11, 12, 21, 22, 30]  # the drive-type list's items


def skip(why):
    print(f"SKIPPED: {why}", flush=True)
    sys.exit(SKIP)


def enter_private_dev():
    if os.environ.get("KORVAN_OPERATOR_PRIVATE_DEV"):
        return
    for tool in ("Xvfb", "xdotool", "import"):
        if not shutil.which(tool):
            skip(f"{tool} is not installed (scripts/install-deps.sh)")
    os.environ["KORVAN_OPERATOR_PRIVATE_DEV"] = "1"
    me = [sys.executable, os.path.abspath(__file__)] + sys.argv[1:]
    privdev = next((p for p in PRIVDEV if p and os.access(p, os.X_OK)), None)
    if privdev:
        os.execv(privdev, [privdev] + me)
    if os.geteuid() == 0 and shutil.which("unshare"):
        os.execvp("unshare", ["unshare", "-m", "--propagation", "private", "bash", "-c",
                              PRIVATE_DEV, "opdev"] + me)
    skip("no private /dev: neither privdev nor root with unshare")


class Failed(Exception):
    pass


def wait_for(what, condition, timeout):
    """Polls `condition` until it gives something true; raises Failed(what) at the deadline."""
    deadline = time.monotonic() + timeout
    while True:
        got = condition()
        if got:
            return got
        if time.monotonic() > deadline:
            raise Failed(what)
        time.sleep(0.1)


class Sim:
    def __init__(self, path, run, busy):
        self.sock = os.path.join(run, "sim.sock")
        self.out = open(os.path.join(run, "sim.out"), "w+")
        self.proc = subprocess.Popen(
            [path, "--quiet", "--units", "10", "--link", LINK, "--control", self.sock,
             "--dump", os.path.join(run, "sim.regs")], stdout=self.out, stderr=subprocess.STDOUT)
        wait_for("korvan-sim ready", lambda: self._ready(), 15)
        self.stop = threading.Event()
        self.ticker = threading.Thread(target=self._busy, daemon=True) if busy else None
        if self.ticker:
            self.ticker.start()

    def _ready(self):
        self.out.seek(0)
        if self.proc.poll() is not None:
            raise Failed("korvan-sim ended: " + self.out.read())
        return "ready" in self.out.read()

    def ask(self, line):
        with socket.socket(socket.AF_UNIX) as s:
            s.connect(self.sock)
            s.sendall((line + "\n").encode())
            answer = b""
            while not answer.endswith(b"\n"):
                chunk = s.recv(65536)
                if not chunk:
                    break
                answer += chunk
        words = answer.decode().split()
        if not words or words[0] != "ok":
            raise Failed(f"korvan-sim: {line!r} -> {answer!r}")
        return words[1:]

    def reg(self, r):
        return int(self.ask(f"get {r}")[0])

    def frames(self):
        """(requests received in all, the last of them as hex strings)."""
        words = self.ask("frames")
        return int(words[0]), words[1:]

    def frames_since(self, count):
        total, last = self.frames()
        if total - count > len(last):
            raise Failed(f"{total - count} requests since, more than the unit keeps")
        return last[len(last) - (total - count):] if total > count else []

    def _busy(self):
        # Inputs of the last module, a register nothing in the suite writes or checks.
        value = 0
        while not self.stop.wait(0.3):
            value ^= 1
            try:
                self.ask(f"set 74 {value}")
            except (OSError, Failed):
                return

    def end(self):
        self.stop.set()
        if self.ticker:
            self.ticker.join()
        self.proc.terminate()
        self.proc.wait(5)


def write_frame(reg, value):
    return f"0106{reg:04X}{value:04X}"


def writes_to(frames, reg=None):
    """The write requests among `frames` (to `reg`, else to any register), without their CRC."""
    return [f[:12] for f in frames if f[2:4] == "06" and reg in (None, int(f[4:8], 16))]


class Station:
    """The real window on the X server, and the operator's hands on it."""

    def __init__(self, path, rects_tool, run, display):
        self.env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb",
                        QT_ENABLE_HIGHDPI_SCALING="0")
        self.rects = {}
        for line in subprocess.run([rects_tool], capture_output=True, text=True,
                                   check=True).stdout.splitlines():
            name, *numbers = line.split()
            self.rects[name] = tuple(int(n) for n in numbers)
        self.log = open(os.path.join(run, "station.out"), "w")
        self.proc = subprocess.Popen([path], env=self.env, stdout=self.log,
                                     stderr=subprocess.STDOUT)
        self.window = wait_for("the station's window", lambda: self.windows(), 20)[0]
        # No window manager here to maximise it: it gets the whole screen as it would then.
        self.xdo("windowmove", self.window, 0, 0, "windowsize", self.window, *SCREEN)
        wait_for("the window at the top left, screen-wide", lambda: self.geometry() ==
                 (0, 0) + SCREEN, 10)

    def xdo(self, *args):
        return subprocess.run(["xdotool", *map(str, args)], env=self.env, capture_output=True,
                              text=True).stdout

    def windows(self):
        return self.xdo("search", "--onlyvisible", "--pid", self.proc.pid).split()

    def geometry(self, window=None):
        shell = dict(line.split("=") for line in
                     self.xdo("getwindowgeometry", "--shell", window or self.window).split())
        return tuple(int(shell[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))

    def centre(self, name, dx=None):
        x, y, w, h = self.rects[name]
        return x + (w // 2 if dx is None else dx), y + h // 2

    # The operator's hands: each action is followed by the pause of a person.
    def click(self, name, dx=None):
        self.xdo("mousemove", *self.centre(name, dx), "click", 1)
        time.sleep(PACE)

    def click_at(self, x, y):
        self.xdo("mousemove", x, y, "click", 1)
        time.sleep(PACE)

    def key(self, *keys):
        for k in keys:
            self.xdo("key", k)
            time.sleep(PACE)

    def type(self, text):
        self.key(*text)

    def wheel_notch(self, name):
        self.xdo("mousemove", *self.centre(name), "click", 5)
        time.sleep(PACE)
        self.park_mouse()

    def park_mouse(self):
        # Over the background below the panels, where hovering lights nothing up.
        self.xdo("mousemove", SCREEN[0] - 40, SCREEN[1] - 40)
        time.sleep(PACE)

    def popup(self, before):
        """The list's drop-down window once it has opened: (x, y, width, height)."""
        found = wait_for("the list's drop-down", lambda: [w for w in self.windows()
                                                          if w not in before], 5)
        return self.geometry(found[0])

    # The screen as the operator sees it: the control's pixels, 8-bit RGB.
    def pixels(self, name, x=None, y=None, w=None, h=None):
        x, y, w, h = (x, y, w, h) if w else self.rects[name]
        return subprocess.run(["import", "-window", "root", "-crop", f"{w}x{h}+{x}+{y}",
                               "-depth", "8", "rgb:-"], env=self.env, capture_output=True,
                              check=True).stdout

    def colour(self, name):
        x, y = self.centre(name)
        return "#" + self.pixels(name, x, y, 1, 1)[:3].hex().upper()

    def screenshot(self, path):
        subprocess.run(["import", "-window", "root", path], env=self.env, check=False)

    def end(self):
        self.proc.terminate()
        try:
            self.proc.wait(5)
        except subprocess.TimeoutExpired:
            self.proc.kill()


RED, GREEN = "#FF0000", "#008000"
WRITE_WAIT = 3.0  # a finished choice is written at the next write turn: well within this


class Cases:
    """Each case acts on one control and checks the register it stands for."""

    def __init__(self, station, sim):
        self.st, self.sim = station, sim
        self.entries = 0

    def expect_written(self, reg, value, since, what):
        """The unit holds `value` in `reg`, written by one request, and nothing else was
        written: a lost entry that comes out later is a value nobody chose then."""
        wait_for(f"{what}: register {reg} = {value} (holds {self.sim.reg(reg)})",
                 lambda: self.sim.reg(reg) == value and writes_to(
                     self.sim.frames_since(since), reg), WRITE_WAIT)
        writes = writes_to(self.sim.frames_since(since))
        if writes != [write_frame(reg, value)]:
            raise Failed(f"{what}: writes {writes}")

    def expect_polls_without_write(self, reg, value, since, what, polls=4):
        wait_for(f"{polls} polls", lambda: self.sim.frames()[0] >= since + polls, 10)
        writes = writes_to(self.sim.frames_since(since))
        if writes or self.sim.reg(reg) != value:
            raise Failed(f"{what}: register {reg} {value} -> {self.sim.reg(reg)}, "
                         f"writes {writes}")

    def entry(self, field, reg, finish, other):
        """Click, Ctrl+A, the digits one by one, then Return, Tab or a click on `other`."""
        # A new number each time: retyping the text a field already shows proves nothing.
        self.entries += 1
        old = self.sim.reg(reg)
        value = next(v for v in (60 + self.entries, 30 + self.entries) if v != old)
        since = self.sim.frames()[0]
        self.st.click(field)
        self.st.key("ctrl+a")
        self.st.type(str(value))
        if finish == "click":
            self.st.click(other)
        else:
            self.st.key(finish)
        self.expect_written(reg, value, since, f"{field} {value} + {finish}")

    def list_by_mouse(self, name, reg, mask, codes):
        old = self.sim.reg(reg)
        index = codes.index(old & mask)
        target = (index + 2) % len(codes) or 2
        since = self.sim.frames()[0]
        before = self.st.windows()
        self.st.click(name)
        x, y, w, h = self.st.popup(before)
        self.st.click_at(x + w // 2, y + (2 * target + 1) * h // (2 * len(codes)))
        self.st.park_mouse()
        self.expect_written(reg, (old & ~mask) | codes[target], since, f"{name} item {target}")

    def list_by_keys(self, name, reg, count):
        old = self.sim.reg(reg)
        down = old + 1 < count
        since = self.sim.frames()[0]
        before = self.st.windows()
        self.st.click(name)
        self.st.popup(before)
        self.st.key("Down" if down else "Up", "Return")
        self.st.park_mouse()
        self.expect_written(reg, old + 1 if down else old - 1, since, f"{name} by keys")

    def wheel(self, name, reg):
        self.st.park_mouse()
        old, look = self.sim.reg(reg), self.st.pixels(name)
        since = self.sim.frames()[0]
        self.st.wheel_notch(name)
        self.expect_polls_without_write(reg, old, since, f"wheel over {name}")
        # The notch passes to the window, which may scroll: one notch back over the background
        # puts the list where it was, so that only a changed item shows.
        self.st.xdo("mousemove", SCREEN[0] - 40, SCREEN[1] - 40, "click", 4)
        time.sleep(PACE)
        if self.st.pixels(name) != look:
            # The unit got nothing (checked above); the window scrolls under the notch, which
            # moves the list's pixels as well, so this alone is reported, not failed.
            print(f"note: wheel over {name}: the list's pixels moved", flush=True)

    def toggle(self, name, reg, bit, colour=False, dx=None):
        old = self.sim.reg(reg)
        since = self.sim.frames()[0]
        self.st.click(name, dx)
        self.st.park_mouse()
        new = old ^ (1 << bit)
        self.expect_written(reg, new, since, f"click on {name}")
        if colour:
            want = RED if new >> bit & 1 else GREEN
            wait_for(f"{name} shows {want} (shows {self.st.colour(name)})",
                     lambda: self.st.colour(name) == want, 2)

    def radio(self, one, two, reg, bit):
        old = self.sim.reg(reg)
        since = self.sim.frames()[0]
        self.st.click(one if old >> bit & 1 else two, dx=6)
        self.expect_written(reg, old ^ (1 << bit), since, f"{one}/{two}")

    def command(self, button, value, indicator):
        since = self.sim.frames()[0]
        self.st.click(button)
        self.st.park_mouse()
        self.expect_written(94, value, since, button)
        want = RED if value == 0xAA else GREEN
        wait_for(f"{indicator} shows {want}", lambda: self.st.colour(indicator) == want, 2)

    def reset(self):
        since = self.sim.frames()[0]
        before = self.st.windows()
        self.st.click("RES_BUT")
        wait_for("the question of Сброс", lambda: [w for w in self.st.windows()
                                                   if w not in before], 5)
        self.st.key("Return")
        wait_for("the question closed", lambda: self.st.windows() == before, 3)
        self.st.park_mouse()
        wait_for("Сброс sent to register 95", lambda: writes_to(
            self.sim.frames_since(since), 95) == [write_frame(95, 0xAA)], WRITE_WAIT)

    def slave_address(self):
        """To an address nobody answers and back: the requests follow the field."""
        self.st.click("SENDADR")
        self.st.key("ctrl+a")
        self.st.type("7")
        self.st.key("Return")
        # The unit hears nothing for address 7 while bytes keep coming down the line.
        line = lambda: int(dict(w.split("=") for w in self.sim.ask("stats"))["to_unit"])
        count, bytes_before = self.sim.frames()[0], line()
        wait_for("requests to another address", lambda: line() >= bytes_before + 24, 5)
        if self.sim.frames()[0] > count + 1:
            raise Failed("the unit at address 1 still gets the requests")
        wait_for("the link lost on the screen", lambda: self.st.colour("ONLINE") != GREEN, 6)
        self.st.click("SENDADR")
        self.st.key("ctrl+a")
        self.st.type("1")
        self.st.key("Return")
        count = self.sim.frames()[0]
        wait_for("requests to address 1 again", lambda: self.sim.frames()[0] >= count + 2, 5)
        if any(f[:2] != "01" for f in self.sim.frames_since(count)):
            raise Failed("requests to another address than 1")
        self.st.park_mouse()
        wait_for("the link back on the screen", lambda: self.st.colour("ONLINE") == GREEN, 6)

    def choose_speed(self, key):
        before = self.st.windows()
        self.st.click("PCSPD")
        self.st.popup(before)
        self.st.key(key, "Return")
        self.st.park_mouse()

    def line_speed(self):
        """To a speed the unit does not hear and back by keys: the line follows the list."""
        self.choose_speed("Down")  # 9600 -> 19200
        # The unit at 9600 makes out no request while bytes keep coming down the line.
        line = lambda: int(dict(w.split("=") for w in self.sim.ask("stats"))["to_unit"])
        count, bytes_before = self.sim.frames()[0], line()
        wait_for("requests at another speed", lambda: line() >= bytes_before + 24, 5)
        if self.sim.frames()[0] > count + 1:
            raise Failed("the unit still makes out the requests at 19200")
        wait_for("the link lost on the screen", lambda: self.st.colour("ONLINE") != GREEN, 6)
        self.choose_speed("Up")  # back to 9600
        count = self.sim.frames()[0]
        wait_for("requests made out again", lambda: self.sim.frames()[0] >= count + 2, 5)
        wait_for("the link back on the screen", lambda: self.st.colour("ONLINE") == GREEN, 6)

    def bus_scan(self):
        """At a speed the unit does not hear, F4, Return to scan, Return to connect: the station
        polls the unit it found at the unit's own speed."""
        # The address cases wrote the unit's address setting, which the simulator does not
        # follow; a unit whose setting disagrees with where it answers is no unit of ours.
        self.sim.ask("set 80 1")
        self.choose_speed("Down")
        wait_for("the link lost on the screen", lambda: self.st.colour("ONLINE") != GREEN, 6)
        self.st.click("SENDADR")  # the keyboard in the main window, off the speed list
        before = self.st.windows()
        self.st.key("F4")
        wait_for("the scan window", lambda: [w for w in self.st.windows() if w not in before], 5)
        since = self.sim.frames()[0]
        self.st.key("Return")  # "Начать"
        wait_for("the unit probed", lambda: any(f.startswith("010300500007")
                                                for f in self.sim.frames_since(since)), 10)
        time.sleep(2 * PACE)  # the scan ends at its first find; the person reads the row
        self.st.key("Return")  # "Подключиться"
        wait_for("the scan window closed", lambda: self.st.windows() == before, 5)
        count = self.sim.frames()[0]
        wait_for("the station's own polls", lambda: self.sim.frames()[0] >= count + 2, 6)
        if any(not f.startswith("01030000") for f in self.sim.frames_since(count)):
            raise Failed(f"not the station's polls: {self.sim.frames_since(count)}")
        self.st.park_mouse()
        wait_for("the link back on the screen", lambda: self.st.colour("ONLINE") == GREEN, 6)

    def diagram(self):
        """F5, then the wheel and a click over the state diagram: a view, the unit gets no write."""
        old = self.sim.reg(8)
        self.st.click("SENDADR")
        before = self.st.windows()
        self.st.key("F5")
        found = wait_for("the diagram window", lambda: [w for w in self.st.windows()
                                                        if w not in before], 5)
        since = self.sim.frames()[0]
        x, y, w, h = self.st.geometry(found[0])
        self.st.xdo("mousemove", x + w // 2, y + h // 2, "click", 4)  # zoom in
        time.sleep(PACE)
        self.st.xdo("click", 1)  # a marker or an edge
        time.sleep(PACE)
        self.expect_polls_without_write(8, old, since, "the diagram")

    def table(self):
        """(name, action): one station run goes through them in this order."""
        c = self
        cases = []
        for field, reg, other in (("DEL", 83, "ADR"), ("ADR", 80, "DEL"),
                                  ("TD1_0", 4, "TP1_0"), ("TD1_1", 12, "TP1_1")):
            for finish in ("Return", "Tab", "click"):
                cases.append((f"{field}.{finish}",
                              lambda f=field, r=reg, o=other, how=finish: c.entry(f, r, how, o)))
        cases += [
            ("Ut_1.mouse", lambda: c.list_by_mouse("Ut_1", 8, 0x3F, DRIVE_CODES)),
            ("PANEL.keys", lambda: c.list_by_keys("PANEL", 84, 4)),
            ("Cd_1.check", lambda: c.toggle("Cd_1", 8, 7, dx=6)),
            ("O1_1.check", lambda: c.toggle("O1_1", 8, 10, dx=6)),
            ("TWO_1.radio", lambda: c.radio("ONE_1", "TWO_1", 8, 6)),
            ("FIN0_1.tick", lambda: c.toggle("FIN0_1", 97, 0, dx=6)),
            ("OUT1_1.click", lambda: c.toggle("OUT1_1", 11, 0, colour=True)),
            ("RELAY1.click", lambda: c.toggle("RELAY1", 3, 8, colour=True)),
            ("GO_BUT", lambda: c.command("GO_BUT", 0xAA, "PUSK")),
            ("ST_BUT", lambda: c.command("ST_BUT", 0x55, "PUSK")),
            ("RES_BUT", c.reset),
            ("Ut_1.wheel", lambda: c.wheel("Ut_1", 8)),
            ("PANEL.wheel", lambda: c.wheel("PANEL", 84)),
            ("SPD.wheel", lambda: c.wheel("SPD", 81)),
            ("SENDADR", c.slave_address),
            ("PCSPD.keys", c.line_speed),
            ("F4.scan", c.bus_scan),
            ("F5.diagram", c.diagram),
        ]
        return cases


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mode", choices=("quiet", "busy"), required=True)
    parser.add_argument("--station", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--rects", required=True)
    parser.add_argument("--only", default="")
    parser.add_argument("--keep", help="folder for the logs and a screenshot per failure")
    args = parser.parse_args()
    enter_private_dev()

    expected = {n for n in os.environ.get("KORVAN_OPERATOR_EXPECT_FAIL", "").split(",") if n}
    run = args.keep or tempfile.mkdtemp(prefix=f"korvan-operator-{args.mode}.")
    os.makedirs(run, exist_ok=True)
    displays = os.environ.get("KORVAN_OPERATOR_DISPLAYS", "").split()
    display_number = displays[args.mode == "busy"] if len(displays) == 2 else None
    started = time.monotonic()
    # Xvfb writes its display number to the pipe once it takes connections.
    read, write = os.pipe()
    xvfb = subprocess.Popen(["Xvfb"] + ([f":{display_number}"] if display_number else []) +
                            ["-displayfd", str(write), "-screen", "0",
                             f"{SCREEN[0]}x{SCREEN[1]}x24", "-nolisten", "tcp"],
                            pass_fds=(write,), stderr=open(os.path.join(run, "xvfb.out"), "w"))
    os.close(write)
    number = b""
    while not number.endswith(b"\n"):  # it may come in pieces; the pipe stays open behind it
        piece = os.read(read, 16)
        if not piece:
            break
        number += piece
    display = ":" + number.decode().strip()
    if display == ":":
        print(f"{args.mode}: Xvfb did not start", flush=True)
        return 1
    sim = station = None
    results = []
    try:
        sim = Sim(args.sim, run, args.mode == "busy")
        station = Station(args.station, args.rects, run, display)
        # Every unit answering and shown: the station reads the wide block of firmware 3.
        wait_for("the station reading 116 registers", lambda: any(
            f.startswith("010300000074") for f in sim.frames()[1]), 15)
        wait_for("the link up on the screen", lambda: station.colour("ONLINE") == GREEN, 10)
        cases = Cases(station, sim)
        only = set(filter(None, args.only.split(",")))
        for name, action in cases.table():
            if only and name not in only:
                continue
            t0 = time.monotonic()
            try:
                action()
                verdict, why = "ok", ""
            except Failed as failure:
                verdict, why = "FAIL", str(failure)
                if args.keep:
                    station.screenshot(os.path.join(run, f"{name}.png"))
                station.key("Escape")
            results.append((name, verdict, why))
            print(f"{args.mode:5} {name:14} {verdict:4} {time.monotonic() - t0:5.1f} s  {why}",
                  flush=True)
    except Failed as failure:
        if station:
            station.screenshot(os.path.join(run, "rig.png"))
        print(f"{args.mode}: the rig did not come up: {failure} (logs in {run})", flush=True)
        return 1
    finally:
        for part in (station, sim):
            if part:
                part.end()
        xvfb.terminate()
        xvfb.wait()
    failed = {n for n, v, _ in results if v == "FAIL"}
    known = {n for n in failed if n in expected or f"{args.mode}:{n}" in expected}
    fixed = {n for n, v, _ in results if v == "ok" and (n in expected or
                                                        f"{args.mode}:{n}" in expected)}
    print(f"{args.mode}: {len(results) - len(failed)} of {len(results)} cases passed in "
          f"{time.monotonic() - started:.0f} s; failed: {','.join(sorted(failed)) or 'none'}")
    if failed - known:
        print(f"{args.mode}: unexpected failures: {','.join(sorted(failed - known))} "
              f"(logs in {run})")
    if fixed:
        print(f"{args.mode}: expected to fail, passed: {','.join(sorted(fixed))}")
    if not failed and not args.keep:
        shutil.rmtree(run, ignore_errors=True)
    return 1 if failed - known else 0


if __name__ == "__main__":
    sys.exit(main())
