#!/usr/bin/env python3
"""tarvo-gateway's figures of docs/performance.md, over a paced pty.

pxrsim --baud serves its built-in plant; tarvo-gateway polls it (the
classes of scripts/builtin_plant.json on one line) for SECONDS, publishing
to a mosquitto of its own on a free port of 127.0.0.1, while a subscriber
on a raw MQTT socket here takes every message with the time it arrived.
Measured:

  CPU per value: the time the gateway's threads ran, user and system
  (the sum of /proc/PID/task/*/schedstat, in nanoseconds: the total that
  /proc/PID/stat gives as utime + stime in 10 ms clock ticks, shown
  beside it), from its start and after its first WARMUP seconds, divided
  by the item messages that arrived in the same span (checked against
  tarvo_reads_total of /metrics); and of the whole run, its stop
  included, from the rusage of its exit.
  Delivery: for each item message, its arrival less its "time" (when the
  driver call that read the value ended).

Then tarvo-poll polls the same plant through a new pxrsim for as long, with
-f json into a pipe: its CPU per value read the same way, and its delivery,
the time each JSON line arrived less its "time" (it prints at the end
of each poll). Lines of items still waiting for a gate (no value read in
that poll) are left out.

The payload times have whole milliseconds, cut off, so each delivery is
overstated by 0 to 1 ms. Needs mosquitto (scripts/deps.sh installs it).
Usage:
  scripts/gateway_bench.py BUILD_DIR [--seconds 60] [--warmup 15] [--baud 9600]
"""
import argparse
import datetime
import json
import os
import re
import shutil
import signal
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TICKS = os.sysconf("SC_CLK_TCK")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(condition, what, seconds=10):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            sys.exit(f"gateway_bench: {what} did not come up")
        time.sleep(0.05)


def stat_cpu_seconds(pid):
    """utime + stime of /proc/PID/stat (all threads, whole clock ticks)."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def cpu_seconds(pid):
    """The time the process's live threads have run, to the nanosecond
    (/proc/PID/task/*/schedstat); the same total as utime + stime, which
    /proc/PID/stat gives in clock ticks of 10 ms."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as f:
                total += int(f.read().split()[0])
        except FileNotFoundError:
            pass  # a thread that ended meanwhile
    return total / 1e9


def stop_with_usage(process, signal_number=signal.SIGTERM):
    """Signals the process and reaps it: its exit status and its whole CPU
    time (user and system, all threads, to the microsecond)."""
    process.send_signal(signal_number)
    deadline = time.monotonic() + 30
    while True:
        pid, status, usage = os.wait4(process.pid, os.WNOHANG)
        if pid:
            process.returncode = os.waitstatus_to_exitcode(status)
            return process.returncode, usage.ru_utime + usage.ru_stime
        if time.monotonic() > deadline:
            process.kill()
        time.sleep(0.05)


def parse_time(text):
    return datetime.datetime.fromisoformat(text).timestamp()


class Subscriber:
    """An MQTT 3.1.1 client on a plain socket: subscribes to one filter at
    QoS 0 and keeps (arrival time, topic, payload) of every PUBLISH."""

    def __init__(self, port, topic_filter):
        self.messages = []
        self.sock = socket.create_connection(("127.0.0.1", port))
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.stream = self.sock.makefile("rb")
        client = f"gateway-bench-{os.getpid()}".encode()
        # CONNECT: protocol level 4, clean session, no keepalive.
        self.send(0x10, b"\x00\x04MQTT\x04\x02\x00\x00" + self.string(client))
        kind, body = self.read()
        if kind != 0x20 or body[1] != 0:
            sys.exit(f"gateway_bench: the broker refused the subscriber: {body!r}")
        self.send(0x82, b"\x00\x01" + self.string(topic_filter.encode()) + b"\x00")
        kind, body = self.read()
        if kind != 0x90 or body[2] != 0:
            sys.exit(f"gateway_bench: the subscription was refused: {body!r}")
        self.thread = threading.Thread(target=self.receive, daemon=True)
        self.thread.start()

    @staticmethod
    def string(data):
        return struct.pack("!H", len(data)) + data

    def send(self, header, body):
        length, encoded = len(body), b""
        while True:
            byte, length = length % 128, length // 128
            encoded += bytes([byte | (0x80 if length else 0)])
            if not length:
                break
        self.sock.sendall(bytes([header]) + encoded + body)

    def read(self):
        header = self.stream.read(1)
        if not header:
            return None, b""
        length, shift = 0, 0
        while True:
            byte = self.stream.read(1)[0]
            length |= (byte & 0x7F) << shift
            shift += 7
            if not byte & 0x80:
                break
        return header[0] & 0xF0, self.stream.read(length)

    def receive(self):
        while True:
            kind, body = self.read()
            arrived = time.time()
            if kind is None:
                return
            if kind != 0x30:
                continue
            size = struct.unpack("!H", body[:2])[0]
            topic = body[2:2 + size].decode()
            self.messages.append((arrived, topic, body[2 + size:]))

    def close(self):
        self.send(0xE0, b"")  # DISCONNECT
        self.sock.close()


def summary(values):
    values = sorted(values)
    if not values:
        return "none"
    p95 = values[min(len(values) - 1, int(round(0.95 * (len(values) - 1))))]
    return (f"n {len(values)}, median {statistics.median(values):.1f} ms, "
            f"95th percentile {p95:.1f} ms, min {values[0]:.1f}, max {values[-1]:.1f} ms")


def start_pxrsim(build, work, name, baud):
    link = os.path.join(work, name)
    sim = subprocess.Popen([f"{build}/tools/pxrsim", "--baud", str(baud), "--link", link],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_for(lambda: os.path.islink(link), "pxrsim")
    return sim, link


def stop(process):
    process.send_signal(signal.SIGTERM)
    try:
        return process.wait(timeout=30)
    except subprocess.TimeoutExpired:
        process.kill()
        return process.wait()


def run_gateway(build, work, args, classes, library):
    broker_port = free_port()
    conf = os.path.join(work, "mosquitto.conf")
    with open(conf, "w") as f:
        f.write(f"listener {broker_port} 127.0.0.1\nallow_anonymous true\n")
    broker = subprocess.Popen(["mosquitto", "-c", conf], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    sim = None
    try:
        def broker_up():
            try:
                socket.create_connection(("127.0.0.1", broker_port), timeout=1).close()
                return True
            except OSError:
                return False
        wait_for(broker_up, "mosquitto")
        sim, link = start_pxrsim(build, work, "pxrsim-gateway", args.baud)
        plant = os.path.join(work, "gateway.json")
        with open(plant, "w") as f:
            json.dump({"mqtt": {"host": "127.0.0.1", "port": broker_port, "prefix": "bench"},
                       "http": {"address": "127.0.0.1", "port": 0},
                       "lines": [{"line": "plant", "port": link, "classes": classes}]}, f)
        subscriber = Subscriber(broker_port, "bench/#")
        log = open(os.path.join(work, "gateway.log"), "w+")
        gateway = subprocess.Popen([f"{build}/tools/tarvo-gateway", "--library", library, plant],
                                   stdout=subprocess.DEVNULL, stderr=log)
        started = time.time()
        time.sleep(args.warmup)
        warm_cpu, warm_time = cpu_seconds(gateway.pid), time.time()
        time.sleep(args.seconds - args.warmup)
        end_cpu, end_time = cpu_seconds(gateway.pid), time.time()
        end_ticks = stat_cpu_seconds(gateway.pid)
        log.seek(0)
        port = re.search(r"metrics on http://[^:]+:(\d+)/metrics", log.read()).group(1)
        metrics = urllib.request.urlopen(f"http://127.0.0.1:{port}/metrics").read().decode()
        status, whole_cpu = stop_with_usage(gateway)
        time.sleep(0.5)  # "offline"
        subscriber.close()
    finally:
        if sim:
            stop(sim)
        stop(broker)

    reads = sum(float(m) for m in re.findall(r"^tarvo_reads_total\{.*\} (\S+)$", metrics, re.M))
    exchanges = sum(float(m) for m in
                    re.findall(r"^tarvo_exchanges_total\{.*\} (\S+)$", metrics, re.M))
    items = [(arrived, topic, json.loads(payload)) for arrived, topic, payload in
             subscriber.messages
             if topic.count("/") >= 2 and not topic.endswith(("/set", "/result"))
             and payload not in (b"online", b"offline")]  # a line's status
    until_scrape = [m for m in items if m[0] <= end_time]
    window = [m for m in until_scrape if m[0] > warm_time]
    delivery = {}
    for arrived, topic, payload in items:
        if payload["ok"] and payload["time"]:
            delivery.setdefault(payload["class"], []).append(
                1000 * (arrived - parse_time(payload["time"])))
    print(f"== tarvo-gateway, {args.seconds} s (exit status {status})")
    print(f"item messages: {len(until_scrape)} until /metrics was read "
          f"(tarvo_reads_total {reads:.0f}, tarvo_exchanges_total {exchanges:.0f}), "
          f"{len(items)} in all")
    print(f"CPU until /metrics was read: {1000 * end_cpu:.1f} ms in {end_time - started:.1f} s "
          f"(utime + stime of /proc/PID/stat: {1000 * end_ticks:.0f} ms): "
          f"{1e6 * end_cpu / max(len(until_scrape), 1):.0f} µs per value")
    print(f"CPU after the first {args.warmup:.0f} s: {1000 * (end_cpu - warm_cpu):.1f} ms for "
          f"{len(window)} values: {1e6 * (end_cpu - warm_cpu) / max(len(window), 1):.0f} µs "
          f"per value")
    print(f"CPU of the whole run, stop included (rusage): {1000 * whole_cpu:.1f} ms for "
          f"{len(items)} values: {1e6 * whole_cpu / max(len(items), 1):.0f} µs per value")
    print(f"delivery (arrival less the payload's time): "
          f"{summary([d for v in delivery.values() for d in v])}")
    for family, values in sorted(delivery.items()):
        print(f"  {family}: {summary(values)}")
    return delivery


def run_poll(build, work, args, library):
    sim, link = start_pxrsim(build, work, "pxrsim-poll", args.baud)
    lines = []
    try:
        poll = subprocess.Popen([f"{build}/tools/tarvo-poll", "--library", library, "-p", link,
                                 "-f", "json", "--plant",
                                 os.path.join(SOURCE, "scripts/builtin_plant.json")],
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)

        def read():
            for line in poll.stdout:
                lines.append((time.time(), line))
        reader = threading.Thread(target=read, daemon=True)
        reader.start()
        time.sleep(args.warmup)
        warm_cpu, warm_time = cpu_seconds(poll.pid), time.time()
        time.sleep(args.seconds - args.warmup)
        cpu, ended = cpu_seconds(poll.pid), time.time()
        stop_with_usage(poll, signal.SIGINT)  # ends after the call in progress
        reader.join(timeout=5)
    finally:
        if poll.poll() is None:
            poll.kill()
        stop(sim)
    delivery = {}
    values = window = 0
    for arrived, line in lines:
        record = json.loads(line)
        if record["op"] == "read" and not record["waiting"] and record["time"]:
            read_at = parse_time(record["time"])
            values += read_at <= ended
            window += warm_time < read_at <= ended
        if record["op"] == "read" and record["ok"] and not record["waiting"]:
            family = record["class"]
            delivery.setdefault(family, []).append(
                1000 * (arrived - parse_time(record["time"])))
    print(f"== tarvo-poll -f json, {args.seconds} s")
    print(f"CPU: {1000 * cpu:.1f} ms for {values} values read: "
          f"{1e6 * cpu / max(values, 1):.0f} µs per value")
    print(f"CPU after the first {args.warmup:.0f} s: {1000 * (cpu - warm_cpu):.1f} ms for "
          f"{window} values: {1e6 * (cpu - warm_cpu) / max(window, 1):.0f} µs per value")
    print(f"delivery (arrival of the line less its time): "
          f"{summary([d for v in delivery.values() for d in v])}")
    for family, values in sorted(delivery.items()):
        print(f"  {family}: {summary(values)}")
    return delivery


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("build", help="the build folder (build/linux)")
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--warmup", type=float, default=15,
                        help="seconds left out of the second CPU figure")
    parser.add_argument("--baud", type=int, default=9600)
    args = parser.parse_args()
    if shutil.which("mosquitto") is None:
        sys.exit("gateway_bench: no mosquitto (scripts/deps.sh installs it)")
    build = os.path.abspath(args.build)
    library = os.path.join(build, "src", "libtarvo.so.1")
    with open(os.path.join(SOURCE, "scripts/builtin_plant.json")) as f:
        classes = json.load(f)["classes"]
    print(f"load average before: {os.getloadavg()[0]:.2f} {os.getloadavg()[1]:.2f} "
          f"{os.getloadavg()[2]:.2f}")
    with tempfile.TemporaryDirectory(prefix="gateway-bench.") as work:
        gateway = run_gateway(build, work, args, classes, library)
        poll = run_poll(build, work, args, library)
    print("== median delivery per class, gateway / tarvo-poll")
    for family in sorted(set(gateway) | set(poll)):
        g = statistics.median(gateway[family]) if family in gateway else float("nan")
        p = statistics.median(poll[family]) if family in poll else float("nan")
        print(f"  {family}: {g:.1f} ms / {p:.1f} ms")
    print(f"load average after: {os.getloadavg()[0]:.2f} {os.getloadavg()[1]:.2f} "
          f"{os.getloadavg()[2]:.2f}")


if __name__ == "__main__":
    main()
