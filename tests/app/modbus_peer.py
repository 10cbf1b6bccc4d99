#!/usr/bin/python3
"""A Modbus RTU slave on a serial device, made of pymodbus' own serial server.

Usage: modbus_peer.py [--wait] DEVICE [REGISTER=VALUE ...]

It holds 128 holding registers, all 0 except those given, and answers every unit address.
With --wait it loads, says "waiting" and opens the device only when a line "go" comes on stdin.
It tells what the master did, one line each on stdout:
  ready                        the device is open and requests are served
  read FIRST COUNT             a read of COUNT holding registers from FIRST
  write REGISTER VALUE         a register written by the master
It takes commands on stdin, each acknowledged on stdout:
  set REGISTER VALUE   ->  set REGISTER VALUE   (changes the datastore without a "write" line)
  bend KIND            ->  bend KIND            (the next fitting reply goes out bent, with a
                                                 good CRC; "bent KIND" when it is sent)
Kinds: "length" drops the last ten registers of a read reply (byte count to match), "address"
sends a read reply from address 0x37 with register 80 reading 0x1205, "echo" answers a write with
the value plus one.
"""

import asyncio
import os
import sys
import termios
import threading

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.framer.rtu_framer import ModbusRtuFramer
from pymodbus.server import StartAsyncSerialServer
from pymodbus.utilities import computeCRC


def say(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


class ReportingBlock(ModbusSequentialDataBlock):
    """Holding registers that report what the master reads and writes."""

    def getValues(self, address, count=1):
        say(f"read {address} {count}")
        return super().getValues(address, count)

    def setValues(self, address, values):
        if not isinstance(values, list):
            values = [values]
        for offset, value in enumerate(values):
            say(f"write {address + offset} {value}")
        super().setValues(address, values)

    def set_quietly(self, address, value):
        super().setValues(address, [value])


def with_crc(frame):
    crc = computeCRC(bytes(frame))
    return bytes(frame) + bytes([crc >> 8, crc & 0xFF])


def bent(kind, packet):
    """The reply packet bent as asked, or None when the kind does not fit this reply."""
    frame = bytearray(packet[:-2])
    if kind == "length" and frame[1] == 3 and frame[2] > 20:
        frame[2] -= 20
        del frame[-20:]
    elif kind == "address" and frame[1] == 3 and frame[2] >= 2 * 81:
        frame[0] = 0x37
        frame[3 + 2 * 80:3 + 2 * 81] = b"\x12\x05"
    elif kind == "echo" and frame[1] == 6:
        value = (frame[4] << 8 | frame[5]) + 1
        frame[4:6] = bytes([value >> 8 & 0xFF, value & 0xFF])
    else:
        return None
    return with_crc(frame)


class BendingFramer(ModbusRtuFramer):
    """pymodbus' own RTU framer, which bends the next fitting reply when asked to."""

    bends = []

    def buildPacket(self, message):
        packet = super().buildPacket(message)
        if BendingFramer.bends:
            changed = bent(BendingFramer.bends[0], packet)
            if changed is not None:
                say(f"bent {BendingFramer.bends.pop(0)}")
                return changed
        return packet


def read_commands(block):
    for line in sys.stdin:
        words = line.split()
        if len(words) == 2 and words[0] == "bend":
            BendingFramer.bends.append(words[1])
            say(f"bend {words[1]}")
        if len(words) == 3 and words[0] == "set":
            register, value = int(words[1], 0), int(words[2], 0)
            block.set_quietly(register, value)
            say(f"set {register} {value}")
    # The test went away: so does the peer.
    os._exit(0)


def drop_stale_input(device):
    # Requests sent while no peer listened would otherwise be answered late, all at once.
    fd = os.open(device, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    try:
        termios.tcflush(fd, termios.TCIFLUSH)
    finally:
        os.close(fd)


async def serve(device, block):
    store = ModbusSlaveContext(hr=block, zero_mode=True)
    context = ModbusServerContext(slaves=store, single=True)
    server = await StartAsyncSerialServer(context=context, framer=BendingFramer, port=device,
                                          baudrate=9600, defer_start=True)
    await server.start()
    if server.transport is None:
        raise SystemExit(f"cannot open {device}")
    say("ready")
    await server.serve_forever()


def main():
    args = sys.argv[1:]
    wait = args[0] == "--wait"
    if wait:
        args = args[1:]
        say("waiting")
        if sys.stdin.readline().strip() != "go":
            return
    device = args[0]
    registers = [0] * 128
    for setting in args[1:]:
        register, value = setting.split("=")
        registers[int(register, 0)] = int(value, 0)
    block = ReportingBlock(0, registers)
    drop_stale_input(device)
    threading.Thread(target=read_commands, args=(block,), daemon=True).start()
    asyncio.run(serve(device, block))


if __name__ == "__main__":
    main()
