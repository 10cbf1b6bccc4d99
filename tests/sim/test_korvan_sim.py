#!/usr/bin/python3
"""korvan-sim against an independent Modbus RTU master (pymodbus) on its own link.

Run as: test_korvan_sim.py --sim PATH/korvan-sim [unittest arguments, e.g. a test class]
"""
import argparse
import errno
import os
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

import serial
from pymodbus.client import ModbusSerialClient
from pymodbus.framer.rtu_framer import ModbusRtuFramer

SIM = None


def crc16(data):
    """CRC of the Modbus serial line, low byte first, written out here on purpose."""
    crc = 0xFFFF
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return bytes([crc & 0xFF, crc >> 8])


def frame(*body):
    body = bytes(body)
    return body + crc16(body)


def read_request(slave, start, count):
    return frame(slave, 3, start >> 8, start & 0xFF, count >> 8, count & 0xFF)


def write_request(slave, reg, value):
    return frame(slave, 6, reg >> 8, reg & 0xFF, value >> 8, value & 0xFF)


def wait_until(condition, timeout, step=0.02):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(step)
    return condition()


class Sim:
    """One korvan-sim process with its link, control socket and dump file in a temp folder."""

    def __init__(self, *args, link_name="ttyZSIM0", wait_ready=True):
        self.dir = tempfile.mkdtemp(prefix="korvan-sim-e2e-")
        self.link = os.path.join(self.dir, link_name)
        self.control = os.path.join(self.dir, "control.sock")
        self.dump = os.path.join(self.dir, "registers.txt")
        self.args = [SIM, "--link", self.link, "--control", self.control, "--dump", self.dump,
                     *args]
        self.proc = subprocess.Popen(self.args, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     text=True)
        self.ready = self._ready_line(10.0) if wait_ready else None

    def _ready_line(self, timeout):
        readable, _, _ = select.select([self.proc.stdout], [], [], timeout)
        if not readable:
            raise AssertionError("korvan-sim printed no ready line")
        line = self.proc.stdout.readline().strip()
        if not line.startswith("ready "):
            raise AssertionError(f"unexpected first line {line!r}: {self.proc.stderr.read()}")
        return dict(item.split("=", 1) for item in line.split()[1:])

    def command(self, line):
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
            s.settimeout(5)
            s.connect(self.control)
            s.sendall((line + "\n").encode())
            answer = b""
            while not answer.endswith(b"\n"):
                chunk = s.recv(4096)
                if not chunk:
                    break
                answer += chunk
        return answer.decode().strip()

    def ok(self, line):
        answer = self.command(line)
        if not answer.startswith("ok"):
            raise AssertionError(f"{line!r} answered {answer!r}")
        return answer[2:].strip()

    def regs(self):
        return [int(v) for v in self.ok("regs").split()]

    def stats(self):
        return {k: int(v) for k, v in (item.split("=") for item in self.ok("stats").split())}

    def stop(self, sig=signal.SIGTERM):
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
        try:
            return self.proc.wait(10)
        finally:
            self.log = self.proc.stderr.read()
            self.proc.stdout.close()
            self.proc.stderr.close()

    def close(self):
        try:
            if self.proc.poll() is None:
                code = self.stop()
                # Also a crash or a sanitizer report on the way out is a failure.
                if code != 0:
                    raise AssertionError(f"korvan-sim ended with {code}:\n{self.log}")
        finally:
            shutil.rmtree(self.dir, ignore_errors=True)


def master(sim, baud=9600, timeout=1):
    # pymodbus takes whole seconds; no retries, so every failure shows.
    client = ModbusSerialClient(sim.link, framer=ModbusRtuFramer, baudrate=baud, timeout=timeout,
                                retries=0, strict=False)
    if not client.connect():
        raise AssertionError(f"cannot open {sim.link}")
    return client


def raw_port(sim, baud=9600):
    return serial.Serial(sim.link, baud, timeout=0)


def exchange(port, request, expect, wait):
    """Sends one request and collects what comes back within `wait` seconds."""
    port.reset_input_buffer()
    port.write(request)
    got = b""
    deadline = time.monotonic() + wait
    while len(got) < expect and time.monotonic() < deadline:
        readable, _, _ = select.select([port.fileno()], [], [], deadline - time.monotonic())
        if readable:
            got += port.read(expect - len(got))
    return got


def valid(reply):
    return len(reply) >= 4 and crc16(reply[:-2]) == reply[-2:]


class SimCase(unittest.TestCase):
    def start(self, *args, **kwargs):
        sim = Sim(*args, **kwargs)
        self.addCleanup(sim.close)
        return sim

    def client(self, sim, baud=9600):
        c = master(sim, baud)
        self.addCleanup(c.close)
        return c

    def assertException(self, response, function, code):
        self.assertTrue(response.isError(), response)
        self.assertEqual(getattr(response, "function_code", None), function, response)
        self.assertEqual(getattr(response, "exception_code", None), code, response)


class RegistersTest(SimCase):
    def test_reads_116_registers_that_describe_the_network(self):
        sim = self.start("--quiet", "--address", "7", "--units", "4", "--firmware", "3.05")
        rr = self.client(sim).read_holding_registers(0, 116, slave=7)
        self.assertFalse(rr.isError(), rr)
        self.assertEqual(len(rr.registers), 116)
        self.assertEqual(rr.registers, sim.regs())
        self.assertEqual(rr.registers[85] & 0xFF, 4)
        self.assertEqual(rr.registers[86], 0x0305)
        self.assertEqual(rr.registers[80], 7)
        self.assertEqual(rr.registers[81], 3)  # index of 9600
        types = [rr.registers[8 * k] & 0x3F for k in range(10)]
        self.assertTrue(all(t != 0 for t in types[:4]), types)
        self.assertEqual(types[4:], [0] * 6)

    def test_firmware_2_answers_the_first_96_registers_only(self):
        sim = self.start("--quiet", "--firmware", "2.40")
        client = self.client(sim)
        rr = client.read_holding_registers(0, 96, slave=1)
        self.assertFalse(rr.isError(), rr)
        self.assertEqual(rr.registers[86], 0x0228)
        self.assertException(client.read_holding_registers(0, 116, slave=1), 0x83, 2)
        self.assertException(client.read_holding_registers(96, 1, slave=1), 0x83, 2)
        self.assertException(client.write_register(100, 1, slave=1), 0x86, 2)

    def test_written_settings_stay_and_show_in_the_dump(self):
        sim = self.start("--quiet")
        client = self.client(sim)
        for reg, value in ((4, 321), (99, 0x0401), (81, 2), (83, 5000), (0, 0x5E41)):
            wr = client.write_register(reg, value, slave=1)
            self.assertFalse(wr.isError(), wr)
            self.assertEqual((wr.address, wr.value), (reg, value))
        rr = client.read_holding_registers(0, 116, slave=1)
        self.assertEqual([rr.registers[r] for r in (4, 99, 81, 83, 0)],
                         [321, 0x0401, 2, 5000, 0x5E41])
        sim.proc.send_signal(signal.SIGUSR1)
        self.assertTrue(wait_until(lambda: os.path.exists(sim.dump), 5))
        with open(sim.dump) as f:
            dumped = dict(tuple(int(x) for x in line.split()) for line in f)
        self.assertEqual(len(dumped), 116)
        self.assertEqual([dumped[r] for r in (4, 99, 81, 83, 0)], [321, 0x0401, 2, 5000, 0x5E41])
        self.assertEqual(list(dumped.values()), rr.registers)

    def test_status_registers_refuse_writes(self):
        sim = self.start("--quiet")
        client = self.client(sim)
        before = sim.regs()
        for reg in (1, 2, 74, 85, 86):
            self.assertException(client.write_register(reg, 0x1234, slave=1), 0x86, 2)
        self.assertException(client.write_register(116, 1, slave=1), 0x86, 2)
        self.assertEqual(sim.regs(), before)

    def test_unsupported_requests_get_an_exception_reply(self):
        sim = self.start("--quiet")
        client = self.client(sim)
        self.assertException(client.read_coils(0, 8, slave=1), 0x81, 1)
        self.assertException(client.read_input_registers(0, 4, slave=1), 0x84, 1)
        self.assertException(client.write_registers(4, [1, 2], slave=1), 0x90, 1)
        self.assertException(client.read_holding_registers(0, 126, slave=1), 0x83, 3)
        self.assertFalse(client.read_holding_registers(0, 96, slave=1).isError())

    def test_other_addresses_are_ignored_without_losing_the_next_request(self):
        sim = self.start("--quiet", "--address", "3")
        port = raw_port(sim)
        self.addCleanup(port.close)
        self.assertEqual(exchange(port, read_request(4, 0, 96), 197, 0.5), b"")
        # The very next request to this unit is answered: nobody else's reply is awaited.
        reply = exchange(port, read_request(3, 0, 96), 197, 2.0)
        self.assertEqual(len(reply), 197)
        self.assertTrue(valid(reply))
        self.assertEqual(reply[:3], bytes([3, 3, 192]))
        # A broadcast write is carried out and not answered.
        self.assertEqual(exchange(port, write_request(0, 83, 1234), 8, 0.5), b"")
        self.assertEqual(sim.regs()[83], 1234)


class CommandsTest(SimCase):
    def test_start_and_stop_show_in_the_command_signal_inputs(self):
        sim = self.start("--quiet")
        client = self.client(sim)
        self.assertFalse(client.write_register(94, 0x00AA, slave=1).isError())
        regs = client.read_holding_registers(0, 96, slave=1).registers
        self.assertEqual(regs[94], 0x00AA)
        self.assertEqual((regs[2] >> 12) & 3, 0b01)
        self.assertFalse(client.write_register(94, 0x0055, slave=1).isError())
        regs = client.read_holding_registers(0, 96, slave=1).registers
        self.assertEqual(regs[94], 0x0055)
        self.assertEqual((regs[2] >> 12) & 3, 0b10)

    def test_alarm_reset_stops_drives_and_clears_itself(self):
        sim = self.start("--quiet")
        client = self.client(sim)
        self.assertFalse(client.write_register(11, 0x0003, slave=1).isError())
        before = client.read_holding_registers(0, 116, slave=1).registers
        wr = client.write_register(95, 0x00AA, slave=1)
        self.assertEqual(wr.value, 0x00AA)  # the echo carries the command
        after = client.read_holding_registers(0, 116, slave=1).registers
        self.assertEqual(after[95], 0)
        self.assertEqual(after[11] & 3, 0)
        self.assertEqual([after[8 * k] for k in range(10)], [before[8 * k] for k in range(10)])

    def test_factory_restore_resets_settings_and_clears_itself(self):
        sim = self.start("--quiet", "--units", "6")
        client = self.client(sim)
        before = client.read_holding_registers(0, 116, slave=1).registers
        self.assertFalse(client.write_register(95, 0x0055, slave=1).isError())
        after = client.read_holding_registers(0, 116, slave=1).registers
        self.assertEqual(after[95], 0)
        self.assertEqual([after[8 * k] for k in range(10)], [0] * 10)
        self.assertEqual(after[96:116], [0] * 20)
        self.assertEqual(after[85:87], before[85:87])
        self.assertEqual(after[80], 1)


class LineTest(SimCase):
    def timed_read(self, client, count):
        started = time.monotonic()
        rr = client.read_holding_registers(0, count, slave=1)
        took = time.monotonic() - started
        self.assertFalse(rr.isError(), rr)
        return took

    def test_replies_take_the_time_the_line_needs(self):
        sim = self.start("--quiet")
        client = self.client(sim)
        took96 = self.timed_read(client, 96)
        took116 = self.timed_read(client, 116)
        self.assertGreaterEqual(took96, 197 * 10 / 9600)  # about 205 ms
        self.assertGreaterEqual(took116, 237 * 10 / 9600)
        self.assertLess(took96, 0.45)  # inside the station's 500 ms response window

        fast = self.start("--quiet", "--baud", "38400", link_name="ttyZSIM1")
        took_fast = self.timed_read(self.client(fast, 38400), 116)
        self.assertGreaterEqual(took_fast, 237 * 10 / 38400)
        self.assertLess(took_fast, took116)

    def test_speed_mismatch_gives_no_valid_reply(self):
        sim = self.start("--quiet")
        port = raw_port(sim, 19200)
        self.addCleanup(port.close)
        for _ in range(3):
            self.assertFalse(valid(exchange(port, read_request(1, 0, 96), 197, 0.5)))
        self.assertGreater(sim.stats()["garbled"], 0)
        self.assertEqual(sim.stats()["replies"], 0)
        # The same port at the unit's speed works at once.
        port.baudrate = 9600
        reply = exchange(port, read_request(1, 0, 96), 197, 2.0)
        self.assertTrue(valid(reply), reply.hex())

    def test_unit_at_another_speed_answers_only_at_that_speed(self):
        sim = self.start("--quiet", "--baud", "19200")
        self.assertTrue(self.client(sim, 9600).read_holding_registers(0, 96, slave=1).isError())
        rr = self.client(sim, 19200).read_holding_registers(0, 96, slave=1)
        self.assertFalse(rr.isError(), rr)
        self.assertEqual(rr.registers[81], 4)  # index of 19200


class FaultsTest(SimCase):
    def test_dropped_replies(self):
        sim = self.start("--quiet")
        port = raw_port(sim)
        self.addCleanup(port.close)
        sim.ok("drop 100")
        self.assertEqual(exchange(port, read_request(1, 0, 96), 197, 0.5), b"")
        # The unit still carries out what it hears; only its answer is lost.
        self.assertEqual(exchange(port, write_request(1, 83, 777), 8, 0.5), b"")
        self.assertEqual(sim.stats()["dropped"], 2)
        sim.ok("drop 0")
        reply = exchange(port, read_request(1, 0, 96), 197, 2.0)
        self.assertTrue(valid(reply))
        self.assertEqual(int.from_bytes(reply[3 + 2 * 83:5 + 2 * 83], "big"), 777)

    def test_a_share_of_replies_is_dropped(self):
        sim = self.start("--quiet", "--drop", "50", "--seed", "3")
        port = raw_port(sim)
        self.addCleanup(port.close)
        answered = sum(len(exchange(port, read_request(1, 0, 8), 21, 0.4)) == 21
                       for _ in range(16))
        self.assertGreater(answered, 0)
        self.assertLess(answered, 16)
        stats = sim.stats()
        self.assertEqual(stats["dropped"] + answered, 16)

    def test_corrupted_crc(self):
        sim = self.start("--quiet", "--corrupt", "100")
        port = raw_port(sim)
        self.addCleanup(port.close)
        reply = exchange(port, read_request(1, 0, 96), 197, 2.0)
        self.assertEqual(len(reply), 197)
        self.assertFalse(valid(reply))
        regs = sim.regs()
        self.assertEqual(reply[3:195], b"".join(v.to_bytes(2, "big") for v in regs[:96]))
        self.assertTrue(self.client(sim).read_holding_registers(0, 96, slave=1).isError())
        sim.ok("corrupt 0")
        self.assertTrue(valid(exchange(port, read_request(1, 0, 96), 197, 2.0)))

    def test_silence_for_a_while(self):
        sim = self.start("--quiet")
        port = raw_port(sim)
        self.addCleanup(port.close)
        sim.ok("silence on")
        self.assertEqual(exchange(port, read_request(1, 0, 8), 21, 0.4), b"")
        sim.ok("silence off")
        self.assertTrue(valid(exchange(port, read_request(1, 0, 8), 21, 1.0)))

        started = time.monotonic()
        sim.ok("silence 1.2")
        self.assertEqual(exchange(port, read_request(1, 0, 8), 21, 0.4), b"")
        self.assertTrue(wait_until(
            lambda: valid(exchange(port, read_request(1, 0, 8), 21, 0.3)), 5, step=0))
        self.assertGreaterEqual(time.monotonic() - started, 1.2)

    def test_port_pulled_out_by_itself(self):
        sim = self.start("--quiet", "--hangup-after", "0.5")
        port = raw_port(sim)
        self.addCleanup(port.close)
        self.assertTrue(valid(exchange(port, read_request(1, 0, 8), 21, 1.0)))
        self.assertTrue(wait_until(lambda: not os.path.lexists(sim.link), 5))
        poller = select.poll()
        poller.register(port.fileno(), select.POLLIN)
        self.assertTrue(poller.poll(2000)[0][1] & select.POLLHUP)

    def test_silence_from_the_start(self):
        sim = self.start("--quiet", "--silence", "30")
        port = raw_port(sim)
        self.addCleanup(port.close)
        self.assertEqual(exchange(port, read_request(1, 0, 8), 21, 0.4), b"")
        self.assertEqual(sim.stats()["silent"], 1)

    def test_hang_up_pulls_the_port_and_plug_brings_it_back(self):
        sim = self.start("--quiet")
        port = raw_port(sim)
        self.addCleanup(port.close)
        self.assertTrue(valid(exchange(port, read_request(1, 0, 8), 21, 1.0)))
        sim.ok("hangup")
        self.assertFalse(os.path.lexists(sim.link))
        poller = select.poll()
        poller.register(port.fileno(), select.POLLIN)
        events = poller.poll(2000)
        self.assertTrue(events and events[0][1] & select.POLLHUP, events)
        with self.assertRaises(OSError) as caught:
            os.write(port.fileno(), read_request(1, 0, 8))
        self.assertEqual(caught.exception.errno, errno.EIO)
        self.assertEqual(sim.stats()["hung_up"], 1)
        self.assertTrue(sim.command("hangup").startswith("ok"))  # twice changes nothing

        tty = sim.ok("plug").split("=")[1]
        self.assertEqual(os.readlink(sim.link), tty)
        self.assertTrue(sim.command("plug").startswith("error"))
        rr = self.client(sim).read_holding_registers(0, 96, slave=1)
        self.assertFalse(rr.isError(), rr)


class LifecycleTest(SimCase):
    def test_ready_line_names_the_link_and_its_terminal(self):
        sim = self.start("--quiet")
        self.assertEqual(sim.ready["link"], sim.link)
        self.assertEqual(sim.ready["control"], sim.control)
        self.assertEqual(sim.ready["dump"], sim.dump)
        self.assertTrue(sim.ready["tty"].startswith("/dev/pts/"))
        self.assertEqual(os.readlink(sim.link), sim.ready["tty"])

    def test_link_and_socket_removed_on_sigterm_and_sigint(self):
        for sig in (signal.SIGTERM, signal.SIGINT):
            sim = self.start("--quiet")
            self.assertTrue(os.path.lexists(sim.link))
            self.assertEqual(sim.stop(sig), 0)
            self.assertFalse(os.path.lexists(sim.link), sig)
            self.assertFalse(os.path.exists(sim.control), sig)

    def test_leftovers_of_a_killed_simulator_are_replaced(self):
        first = self.start("--quiet")
        first.stop(signal.SIGKILL)
        self.assertTrue(os.path.lexists(first.link))
        self.assertTrue(os.path.exists(first.control))
        again = subprocess.Popen([SIM, "--quiet", "--link", first.link, "--control",
                                  first.control, "--dump", first.dump],
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        try:
            readable, _, _ = select.select([again.stdout], [], [], 10)
            self.assertTrue(readable)
            self.assertTrue(again.stdout.readline().startswith("ready "))
            self.assertTrue(os.readlink(first.link).startswith("/dev/pts/"))
        finally:
            again.terminate()
            again.wait(10)
            again.stdout.close()
            again.stderr.close()
        self.assertFalse(os.path.lexists(first.link))

    def test_an_occupied_link_path_is_refused(self):
        folder = tempfile.mkdtemp(prefix="korvan-sim-e2e-")
        self.addCleanup(shutil.rmtree, folder, True)
        path = os.path.join(folder, "ttyS9")
        with open(path, "w") as f:
            f.write("a real device stands here")
        result = subprocess.run([SIM, "--quiet", "--link", path, "--control",
                                 os.path.join(folder, "c.sock")],
                                capture_output=True, text=True, timeout=10)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stdout, "")
        self.assertIn(path, result.stderr)
        with open(path) as f:
            self.assertEqual(f.read(), "a real device stands here")
        self.assertFalse(os.path.exists(os.path.join(folder, "c.sock")))

    def test_help_and_bad_options(self):
        result = subprocess.run([SIM, "--help"], capture_output=True, text=True, timeout=10)
        self.assertEqual(result.returncode, 0)
        for option in ("--link", "--address", "--baud", "--firmware", "--units", "--quiet",
                       "--drop", "--corrupt", "--silence", "--control", "--dump"):
            self.assertIn(option, result.stdout)
        result = subprocess.run([SIM, "--baud", "1234"], capture_output=True, text=True,
                                timeout=10)
        self.assertEqual(result.returncode, 2)
        self.assertIn("--baud", result.stderr)

    def test_default_link_sorts_after_the_machines_serial_ports(self):
        result = subprocess.run([SIM, "--help"], capture_output=True, text=True, timeout=10)
        default = next(word for word in result.stdout.split() if word.startswith("/dev/tty"))
        default = default.rstrip(")")
        names = [f"/dev/{n}" for n in os.listdir("/sys/class/tty")]
        names += ["/dev/ttyS0", "/dev/ttyS31", "/dev/ttyUSB0", "/dev/ttyACM0", "/dev/ttyAMA0"]
        self.assertEqual(sorted(names + [default], key=str.lower)[-1], default)

    def test_scenario_changes_inputs_and_faults(self):
        sim = self.start("--period", "3")
        fire_input, fault = 8 * 1 + 2, 8 * 3 + 1
        self.assertTrue(wait_until(lambda: sim.regs()[fire_input] & 1, 5))
        self.assertTrue(wait_until(lambda: sim.regs()[fault] != 0, 5))
        self.assertTrue(wait_until(lambda: sim.regs()[fault] == 0, 5))
        # And the station sees it too.
        rr = self.client(sim).read_holding_registers(0, 116, slave=1)
        self.assertFalse(rr.isError(), rr)

    def test_control_commands_are_checked(self):
        sim = self.start("--quiet")
        for bad in ("drop 101", "corrupt x", "silence soon", "get 128", "set 3", "set 3 65536",
                    "scenario maybe", "launch", ""):
            self.assertTrue(sim.command(bad).startswith("error"), bad)
        sim.ok("set 25 128")
        self.assertEqual(sim.ok("get 25"), "128")
        rr = self.client(sim).read_holding_registers(25, 1, slave=1)
        self.assertEqual(rr.registers, [128])

    def test_frames_reports_the_requests_as_received(self):
        sim = self.start("--quiet")
        self.assertEqual(sim.ok("frames"), "0")
        port = raw_port(sim)
        self.addCleanup(port.close)
        requests = [write_request(1, 20, i) for i in range(40)]
        for request in requests:
            self.assertEqual(exchange(port, request, 8, 1.0), request)
        # Broken and foreign frames are not the unit's requests.
        exchange(port, frame(1, 3, 0, 0, 0, 1)[:-1] + b"\x00", 7, 0.3)
        exchange(port, read_request(2, 0, 1), 7, 0.3)
        words = sim.ok("frames").split()
        self.assertEqual(words[0], "40")
        self.assertEqual(words[1:], [r.hex().upper() for r in requests[-32:]])


def main():
    global SIM
    parser = argparse.ArgumentParser()
    parser.add_argument("--sim", required=True)
    args, rest = parser.parse_known_args()
    SIM = os.path.abspath(args.sim)
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
