#!/usr/bin/python3
"""A Modbus TCP gateway for the tests, made of pymodbus: it serves Modbus TCP and forwards unit
1's reads and writes of holding registers to a Modbus RTU line (korvan-sim's port); a request for
any other unit gets exception 0x0B (gateway target device failed to respond), as from a gateway
whose unit is absent.

Usage: mbtcp_gateway.py PORT DEVICE
Listens on 127.0.0.1:PORT and says "ready" on stdout once it does.
"""

import asyncio
import sys

from pymodbus.client import ModbusSerialClient
from pymodbus.datastore import ModbusServerContext
from pymodbus.server import StartAsyncTcpServer


class ForwardedUnit:
    """A slave context whose registers live in the unit behind the RTU line."""

    def __init__(self, client, unit):
        self.client = client
        self.unit = unit

    def reset(self):
        pass

    def validate(self, fc_as_hex, address, count=1):
        return True

    def getValues(self, fc_as_hex, address, count=1):
        reply = self.client.read_holding_registers(address, count, slave=self.unit)
        if reply.isError():
            raise IOError(f"unit {self.unit}: {reply}")
        return reply.registers

    def setValues(self, fc_as_hex, address, values):
        for offset, value in enumerate(values):
            reply = self.client.write_register(address + offset, value, slave=self.unit)
            if reply.isError():
                raise IOError(f"unit {self.unit}: {reply}")


class GatewayContext(ModbusServerContext):
    """Takes requests for every unit id (pymodbus drops a frame for a unit it does not list,
    unless the list holds 0, the id of "any unit" in Modbus TCP); a unit that is not there then
    gets 0x0B."""

    def slaves(self):
        return [0] + super().slaves()


async def main():
    port, device = int(sys.argv[1]), sys.argv[2]
    client = ModbusSerialClient(port=device, baudrate=9600, timeout=1)
    client.connect()
    context = GatewayContext(slaves={1: ForwardedUnit(client, 1)}, single=False)
    server = await StartAsyncTcpServer(context, address=("127.0.0.1", port), defer_start=True)
    serving = asyncio.ensure_future(server.serve_forever())
    await server.serving
    print("ready", flush=True)
    await serving


asyncio.run(main())
