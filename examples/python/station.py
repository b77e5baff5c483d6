#!/usr/bin/env python3
"""A production loop: every board put on one of the ports is programmed with
the firmware and a serial number of its own, verified, and recorded.

    station.py fw.ihx /dev/ttyUSB0 /dev/ttyUSB1

Numbers come from serial.txt (start it with `echo 1000 > serial.txt`) and
go to 7FF0h, four bytes big-endian; every board gets a line in boards.jsonl.
Ctrl+C ends the loop after the boards in flight.
"""
import sys

import varnel


def show(event):
    if event.state == "output":
        print(f"{event.port}: {event.message}")
    elif event.state == "ok":
        print(f"{event.port}: board {event.board}: ok, serial {event.serial}")
    elif event.state == "failed":
        print(f"{event.port}: board {event.board}: failed (exit {event.exit_status}): {event.message}")
    elif event.state == "waiting" and event.board > 1:
        print(f"{event.port}: put the next board on")


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    firmware, ports = sys.argv[1], sys.argv[2:]
    try:
        station = varnel.Station(ports=ports, file=firmware, baud=38400, reset="pulse",
                                 serial=(0x7FF0, 4, "be"), serial_file="serial.txt",
                                 log="boards.jsonl", verify=True, loop=True, on_event=show)
    except varnel.Error as e:
        sys.exit(f"station.py: {e}")
    try:
        sys.exit(station.run())
    except KeyboardInterrupt:
        sys.exit(130)


if __name__ == "__main__":
    main()
