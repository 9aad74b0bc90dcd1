"""A bench script's view of `krl7741 serve`, through PyVISA's pure-Python backend.

  pyvisa_client.py PORT
Drives the chip as any VISA instrument and checks each answer; prints one
line per check that fails and exits 1 when any did.
"""
import sys

import pyvisa

port = int(sys.argv[1])
rm = pyvisa.ResourceManager("@py")
board = rm.open_resource(f"TCPIP::127.0.0.1::{port}::SOCKET", read_termination="\n",
                         write_termination="\n", timeout=5000)
other = rm.open_resource(f"TCPIP::127.0.0.1::{port}::SOCKET", read_termination="\n",
                         write_termination="\n", timeout=5000)
failures = []


def expect(query, wanted, client=board):
    got = client.query(query)
    if got != wanted:
        failures.append(f"{query!r}: {got!r}, not {wanted!r}")


fields = board.query("*IDN?").split(",")
if fields[:3] != ["Halvern", "KRL7741", "EVB-0001"] or len(fields) != 4:
    failures.append(f"*IDN?: {fields!r}")
board.write("*RST")
expect("SYST:ERR?", '0,"No error"')
board.write("PWM1 17")
expect("LAST?", "ACK,1,81,81")
expect("SOUR:PWM2 5;PWM3 30;:PWM2?;PWM3?", "5;30")
expect("PWM1?", "17", client=other)  # the chip is shared
board.write("PWM1 31")
expect("SYST:ERR?", '-222,"Data out of range"')
expect("SYST:ERR?", '0,"No error"', client=other)  # the queue is not
board.write("DEV C;PWM1 2")
expect("LAST?;DEV?", "NACK,240,66,66;C")
expect("SYST:ERR?", '-240,"Hardware error;I2C error : no Acknowledge from device"')
board.write("*RST")
expect("DEV?;PWM1?;SEQ:SEL?;INT1?", "B;0;1;50")
expect("*OPC?", "1")

for failure in failures:
    print("FAIL", failure)
sys.exit(1 if failures else 0)
