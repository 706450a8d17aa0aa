#!/usr/bin/env python3
"""A SCPI optical power meter for the tests, speaking the command set of a
Thorlabs PM100 console (--model pm100) or of a Keysight N774x multiport meter
(--model n774x), over a pseudo-terminal (--link pty; it stands in for a serial
port and for a /dev/usbtmcN node) or a TCP port on 127.0.0.1 (--link tcp).

It prints one line once it is ready, "PTY <path>" or "TCP <port>", and then
answers until it is killed or its script drops the link.

Every power query (FETC?, MEAS:POW?, READ?, READ<n>:POW?, FETC<n>:POW?) of
the scripted channel takes the next entry of the script, a JSON list:
  0.001                    a power in W, answered in the unit set (W or dBm)
  "over", "under"          out of range, as the model says it
  "overcode"               the error code -231 in place of a value
  "garbage"                a line of junk
  "silent"                 no answer at all
  {"slow": 1.5, "power": 0.001}   the power, 1.5 s late
  "drop"                   the link goes down instead of an answer
After the last entry the last power is held. Other channels read 1 nW.
"""
import argparse
import json
import math
import os
import re
import socket
import sys
import threading
import time
import tty

TRACE = os.environ.get("SCPISIM_TRACE") == "1"

IDN = {
    "pm100": "Thorlabs,PM100D,P0012345,2.7.0",
    "n774x": "Keysight Technologies,N7744A,MY54321000,V1.24",
}


def pattern_match(pattern, header):
    """Matches a header ("SENS3:POW:WAV?") against a pattern of long forms
    ("SENSe#:[CHANnel#]:POWer:WAVelength?"); returns the numeric suffixes, or
    None. Upper-case letters are the short form; '#' takes a number;
    [nodes] may be left out."""
    if header.endswith("?") != pattern.endswith("?"):
        return None
    tokens = header.rstrip("?").lstrip(":").upper().split(":")
    nodes = pattern.rstrip("?").split(":")

    def node_match(node, token):
        node = node.strip("[]")
        numbered = node.endswith("#")
        node = node.rstrip("#")
        short = "".join(c for c in node if c.isupper() or c == "*")
        m = re.fullmatch(r"([A-Z*]+)(\d*)", token)
        if not m or m.group(1) not in (short, node.upper()):
            return None
        if m.group(2) and not numbered:
            return None
        return int(m.group(2)) if m.group(2) else 1

    def walk(i, j, found):
        if i == len(nodes):
            return found if j == len(tokens) else None
        if j < len(tokens):
            got = node_match(nodes[i], tokens[j])
            if got is not None:
                result = walk(i + 1, j + 1, found + [got])
                if result is not None:
                    return result
        if nodes[i].startswith("["):
            return walk(i + 1, j, found + [1])
        return None

    return walk(0, 0, [])


class Meter:
    def __init__(self, model, channel, script):
        self.model = model
        self.channel = channel
        self.script = list(script)
        self.held = 1e-3
        self.unit = {}  # channel -> "W" or "DBM"; dBm until set
        self.wavelength = {}  # channel -> nm
        self.errors = []

    def number(self, value):
        if self.model == "pm100":
            return "%.6E" % value
        mantissa, exponent = ("%+.8E" % value).split("E")
        return "%sE%+04d" % (mantissa, int(exponent))

    def power_text(self, watts, channel):
        if self.unit.get(channel, "DBM") == "W":
            return self.number(watts)
        return self.number(10.0 * math.log10(watts * 1e3))

    def next_entry(self):
        if self.script:
            entry = self.script.pop(0)
        else:
            entry = self.held
        if isinstance(entry, (int, float)):
            self.held = float(entry)
        return entry

    def power(self, channel):
        """The answer to a power query: (text or None, delay, drop)."""
        if channel != self.channel:
            return self.power_text(1e-9, channel), 0.0, False
        entry = self.next_entry()
        if isinstance(entry, dict):
            return self.power_text(float(entry["power"]), channel), float(entry["slow"]), False
        if isinstance(entry, (int, float)):
            return self.power_text(float(entry), channel), 0.0, False
        watt = self.unit.get(channel, "DBM") == "W"
        if entry == "over":
            return self.number(9.91e37 if self.model == "pm100" else 9.9e37), 0.0, False
        if entry == "under":
            if self.model == "pm100" and watt:
                return self.number(-1.2e-10), 0.0, False
            return self.number(0.0 if watt else -9.9e37), 0.0, False
        if entry == "overcode":
            return '-231,"Data questionable;Input overload"', 0.0, False
        if entry == "garbage":
            return "\x15#?!garbage\x7f", 0.0, False
        if entry == "silent":
            return None, 0.0, False
        if entry == "drop":
            return None, 0.0, True
        raise SystemExit("unknown script entry %r" % (entry,))

    def handle(self, line):
        """Returns (answer or None, delay, drop)."""
        text = line.strip()
        if not text:
            return None, 0.0, False
        if TRACE:
            print("sim %.3f <- %s" % (time.monotonic(), text), file=sys.stderr, flush=True)
        header, _, argument = text.partition(" ")
        argument = argument.strip().upper()
        none = (None, 0.0, False)

        def match(*patterns):
            for p in patterns:
                found = pattern_match(p, header)
                if found is not None:
                    return found
            return None

        if match("*IDN?"):
            return IDN[self.model], 0.0, False
        if match("*OPC?"):
            return "1", 0.0, False
        if match("*RST", "*CLS", "*OPC"):
            return none
        if match("SYSTem:ERRor?", "SYSTem:ERRor:NEXT?"):
            return (self.errors.pop(0) if self.errors else '+0,"No error"'), 0.0, False
        if self.model == "pm100":
            if match("[SENSe]:CORRection:WAVelength"):
                self.wavelength[1] = float(argument)
                return none
            if match("[SENSe]:CORRection:WAVelength?"):
                return self.number(self.wavelength.get(1, 1550.0)), 0.0, False
            if match("[SENSe]:POWer:[DC]:UNIT"):
                self.unit[1] = "W" if argument == "W" else "DBM"
                return none
            if match("[SENSe]:POWer:[DC]:UNIT?"):
                return self.unit.get(1, "DBM"), 0.0, False
            if match("CONFigure:[SCALar]:POWer", "INITiate:[IMMediate]", "ABORt"):
                return none
            if match("FETCh?", "READ?", "MEASure:[SCALar]:POWer?"):
                return self.power(1)
        else:
            found = match("SENSe#:[CHANnel#]:POWer:WAVelength")
            if found:
                value = float(argument[:-2]) * 1e-9 if argument.endswith("NM") else float(argument)
                self.wavelength[found[0]] = value * 1e9
                return none
            found = match("SENSe#:[CHANnel#]:POWer:WAVelength?")
            if found:
                return self.number(self.wavelength.get(found[0], 1550.0) * 1e-9), 0.0, False
            found = match("SENSe#:[CHANnel#]:POWer:UNIT")
            if found:
                self.unit[found[0]] = "W" if argument in ("1", "W") else "DBM"
                return none
            found = match("SENSe#:[CHANnel#]:POWer:UNIT?")
            if found:
                return ("+1" if self.unit.get(found[0]) == "W" else "+0"), 0.0, False
            if match("INITiate#:[CHANnel#]:[IMMediate]", "INITiate#:[CHANnel#]:CONTinuous"):
                return none
            found = match("READ#:[CHANnel#]:[SCALar]:POWer:[DC]?",
                          "FETCh#:[CHANnel#]:[SCALar]:POWer:[DC]?")
            if found:
                return self.power(found[0])
        # As an instrument does: no answer, an entry in the error queue.
        self.errors.append('-113,"Undefined header"')
        print("sim: unknown command %r" % text, file=sys.stderr, flush=True)
        return none


def serve(read, write, meter):
    """Answers lines until the peer goes (False) or the script drops the
    link (True)."""
    pending = b""
    while True:
        data = read()
        if not data:
            return False
        pending += data
        while b"\n" in pending:
            line, pending = pending.split(b"\n", 1)
            answer, delay, drop = meter.handle(line.decode("latin-1"))
            if drop:
                return True
            if delay:
                time.sleep(delay)
            if answer is not None:
                write((answer + "\n").encode("latin-1"))


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--model", choices=sorted(IDN), required=True)
    parser.add_argument("--link", choices=["pty", "tcp"], required=True)
    parser.add_argument("--channel", type=int, default=1, help="the scripted channel")
    parser.add_argument("--script", default="[]", help="JSON list, or @FILE")
    args = parser.parse_args()
    script_text = args.script
    if script_text.startswith("@"):
        with open(script_text[1:], encoding="utf-8") as f:
            script_text = f.read()
    meter = Meter(args.model, args.channel, json.loads(script_text))

    if args.link == "pty":
        master, slave = os.openpty()
        # Raw, so that the other side reads exactly what is written; the
        # terminal keeps its settings while this end holds it open.
        tty.setraw(slave)
        print("PTY", os.ttyname(slave), flush=True)

        def read():
            try:
                return os.read(master, 4096)
            except OSError:
                return b""

        def write(data):
            os.write(master, data)

        serve(read, write, meter)
        os.close(master)
        os.close(slave)
        return

    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", 0))
    server.listen(8)
    print("TCP", server.getsockname()[1], flush=True)
    # Several clients at once (one per port of a multiport meter), each on a
    # thread of its own; the script's drop ends the whole instrument.
    lock = threading.Lock()

    class Locked:
        def handle(self, line):
            with lock:
                return meter.handle(line)

    def client(connection):
        connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

        def read():
            try:
                return connection.recv(4096)
            except OSError:
                return b""

        if serve(read, connection.sendall, Locked()):
            os._exit(0)
        connection.close()

    while True:
        connection, _ = server.accept()
        threading.Thread(target=client, args=(connection,), daemon=True).start()

if __name__ == "__main__":
    main()
