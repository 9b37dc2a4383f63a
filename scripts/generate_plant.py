#!/usr/bin/env python3
"""Plant files of a generated line: FAMILY:MODULES:CHANNELSxPOINTS, e.g.
pxr5100:128:8x64 for a full line (modules at addresses 0.., a temperature
sensor at points 0.. of channels 0.. of each).

  generate_plant.py SPEC DIR [--port PORT] [--baud BAUD] [--broker-port N] [--http-port N]
                    [--timeout-ms N]

writes into DIR:
  sim.json      the simulator's plant (pxrsim --plant)
  poll.json     the items, TA of every point (tarvo-poll --plant)
  gateway.json  the same items on one line at PORT and BAUD, publishing to
                127.0.0.1:N with its HTTP endpoint on 127.0.0.1 (tarvo-gateway)
"""
import argparse
import json
import os
import sys

# The families whose modules are chains of sensor points, with their shape.
SHAPES = {"pxr5100": (8, 64), "pxr530x": (8, 64), "pxr5303": (1, 16)}


def parse_spec(text):
    try:
        family, modules, shape = text.split(":")
        channels, points = (int(n) for n in shape.lower().split("x"))
        modules = int(modules)
    except ValueError:
        raise SystemExit(f"generate_plant.py: {text}: expected FAMILY:MODULES:CHANNELSxPOINTS")
    if family not in SHAPES:
        raise SystemExit(f"generate_plant.py: {family}: one of {', '.join(SHAPES)}")
    most_channels, most_points = SHAPES[family]
    if not (1 <= modules <= 128 and 1 <= channels <= most_channels and 1 <= points <= most_points):
        raise SystemExit(f"generate_plant.py: {text}: 1..128 modules of {family}, "
                         f"1..{most_channels} channels of 1..{most_points} points")
    return family, modules, channels, points


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("spec")
    parser.add_argument("dir")
    parser.add_argument("--port", default="/tmp/pxrsim")
    parser.add_argument("--baud", type=int, default=115200)
    parser.add_argument("--broker-port", type=int, default=1883)
    parser.add_argument("--http-port", type=int, default=9464)
    parser.add_argument("--timeout-ms", type=int, help="the line's transfer time-out")
    args = parser.parse_args()
    family, modules, channels, points = parse_spec(args.spec)
    os.makedirs(args.dir, exist_ok=True)

    def temperature(m, c, p):
        return round(10 + (m % 16) + c * 0.5 + p * 0.25, 2)

    sim = {"modules": [
        {"family": family, "address": m,
         "channels": [{"channel": c,
                       "points": [{"point": p, "ta": temperature(m, c, p)} for p in range(points)]}
                      for c in range(channels)]}
        for m in range(modules)]}
    items = [{"item": f"TA{m}.{c}.{p}"}
             for m in range(modules) for c in range(channels) for p in range(points)]
    poll = {"classes": [{"class": family, "items": items}]}
    gateway = {
        "mqtt": {"host": "127.0.0.1", "port": args.broker_port, "prefix": "tarvo"},
        "http": {"address": "127.0.0.1", "port": args.http_port},
        "lines": [{"line": "line", "port": args.port, "baud": args.baud,
                   "classes": [{"class": family, "items": items}]}]}
    if args.timeout_ms:
        gateway["lines"][0]["timeout_ms"] = args.timeout_ms
    for name, document in (("sim.json", sim), ("poll.json", poll), ("gateway.json", gateway)):
        with open(os.path.join(args.dir, name), "w") as f:
            json.dump(document, f, separators=(",", ":"))
            f.write("\n")
    print(f"{modules * channels * points} items in {args.dir}", file=sys.stderr)


if __name__ == "__main__":
    main()
