#!/usr/bin/python3
"""A soak of tarvo-gateway: hours of a plant's faults in minutes.

The gateway polls two lines, each a pxrsim on a pseudo-terminal: "a", the
simulator's built-in plant (every family; the items of
scripts/builtin_plant.json), and "b", two pxr5700 modules (4 and 6) with
outputs. It publishes to a mosquitto of its own on a free port of
127.0.0.1 and serves its metrics on another. For MINUTES it goes through
the same cycle of faults, one every few tens of seconds:

  - malformed payloads on set topics (outputs', inputs', an unknown
    item's), a result topic and the status topic: bytes that are not
    UTF-8, 64 KiB, empty, zeros, values that are not a switch; then a
    burst of valid writes to one output;
  - module 6 of line b silent: that line's simulator started again with
    --fault 6:silent, and healthy again after SILENT seconds (each
    restart also takes the line's device away for a moment);
  - line a's device removed (its simulator stopped) for GONE seconds, then
    restored;
  - the broker stopped for BROKER seconds and started again (it keeps
    nothing: the gateway publishes everything anew).

Each fault must show: a write to output DO4.3 refused on its result topic
within 10 s of the payloads; at the end of the silence, module 6's input
failed while module 4's reads; a reading of line a failed, and "online"
published again, by 20 s after the device and the broker are back. The
last cycle ends SETTLE seconds before the end. Every 10 s the gateway's
resident memory (VmRSS), open descriptors (/proc/PID/fd) and threads are
sampled, and /metrics is scraped. At the end:

  - every item must have been published, read well, after the last fault
    was mended: a message that came live from the broker (not retained)
    whose payload's "time" (when the value was read) is after it;
  - the samples must be flat: the first WARMUP seconds are left out and the
    rest cut in thirds; the mean of the last third may exceed the mean of
    the first by no more than 5 % + 1 MiB of resident memory, and by 1 of
    descriptors or threads (the fault in progress moves these by one; in
    30 minutes each third spans more than three whole cycles, so the
    faults weigh the same in each). A least-squares slope per hour is
    shown beside each.

The gateway must live through it all. Exit status 0 when all held, 1 when
one did not (or a part of the plant did not come up), 2 for a usage error
or when stopped by SIGINT or SIGTERM. Every process it starts is stopped
at the end, also then. The samples (CSV), the gateway's log and, at the
end, a summary stay in OUT.
Needs mosquitto and python3-paho-mqtt (scripts/deps.sh installs them).
Usage:
  scripts/soak.py BUILD_DIR [--minutes 30] [--out build/soak] [--utf8-only]
--utf8-only leaves out the payloads that are not UTF-8 (the rest of the
soak, for a gateway that cannot take them yet).
"""
import argparse
import collections
import csv
import datetime
import json
import os
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

import paho.mqtt.client as mqtt

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PREFIX = "soak"
SAMPLE_SECONDS = 10
START_SECONDS = 30  # before the first fault
LINE_B_PLANT = {"modules": [
    {"family": "pxr5700", "address": 4, "inputs": 3, "outputs": 2,
     "temperatures": [{"channel": 1, "ta": 38.5}]},
    {"family": "pxr5700", "address": 6, "inputs": 2, "outputs": 1}]}
LINE_B_CLASSES = [{"class": "pxr5700", "items": [
    {"item": "DI4.0", "name": "pump"}, {"item": "DO4.3", "name": "valve"},
    {"item": "TA4.1", "unit": "°C", "topic": "pump/flow"},
    {"item": "DI6.0"}, {"item": "DO6.2", "name": "fan"}]}]
MALFORMED = [b"\xff\xfe\x00", b"\xc3\x28", b"A" * 65536, b"", b"\x00" * 16, b"maybe",
             b"1; DROP", b"on\x00off", b"-1", b"0x1"]
MALFORMED_TOPICS = ["b/DO4.3/set", "b/DI4.0/set", "b/pump/flow/set", "a/DO4.2/set",
                    "a/TA1.0.0/set", "a/NOSUCH/set", "b/DO4.3/result", "status"]


def cycles(args):
    """The whole cycles of faults that fit before the settling."""
    seconds = args.silent + args.gone + args.broker + 70  # the pauses of Soak.cycle
    return int((60 * args.minutes - START_SECONDS - args.settle) // seconds)


class Failure(Exception):
    pass


class Stopped(Exception):
    pass


def log(text):
    print(f"{time.strftime('%H:%M:%S')} soak: {text}", flush=True)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(condition, what, seconds=20):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            raise Failure(f"{what} did not come up")
        time.sleep(0.05)


class Processes:
    """The processes the soak started, by name; all stopped at the end."""

    def __init__(self):
        self.running = {}

    def start(self, name, argv, output=subprocess.DEVNULL):
        self.running[name] = subprocess.Popen(argv, stdout=output, stderr=output)
        return self.running[name]

    def stop(self, name):
        process = self.running.pop(name, None)
        if process is None or process.poll() is not None:
            return None if process is None else process.returncode
        process.terminate()
        try:
            return process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            process.kill()
            return process.wait()

    def stop_all(self):
        for name in list(self.running):
            self.stop(name)


class Soak:
    def __init__(self, args, work):
        self.args = args
        self.work = work
        self.build = os.path.abspath(args.build)
        self.processes = Processes()
        self.broker_port = free_port()
        self.lock = threading.Lock()
        self.fresh = {}  # topic -> payload "time" of its latest live good reading
        self.latest = {}  # topic -> its latest live payload
        self.back = {}  # topic -> when its first good reading after the latest fault was read
        # What shows that a fault took effect: "online" messages, refused
        # writes by result topic, failed readings by line.
        self.seen = collections.Counter()
        self.without_effect = []
        self.errors = []  # messages the subscriber could not take
        self.last_fault_mended = None  # wall-clock time
        self.faults = 0

    # The parts of the plant.
    def start_broker(self):
        conf = os.path.join(self.work, "mosquitto.conf")
        with open(conf, "w") as f:
            f.write(f"listener {self.broker_port} 127.0.0.1\nallow_anonymous true\n"
                    "persistence false\n")
        self.processes.start("broker", ["mosquitto", "-c", conf])

        def up():
            try:
                socket.create_connection(("127.0.0.1", self.broker_port), timeout=1).close()
                return True
            except OSError:
                return False
        wait_for(up, "mosquitto")

    def link(self, line):
        return os.path.join(self.work, f"line-{line}")

    def start_sim(self, line, faults=()):
        argv = [f"{self.build}/tools/pxrsim", "--link", self.link(line)]
        if line == "b":
            argv += ["--plant", os.path.join(self.work, "line-b.json")]
        for fault in faults:
            argv += ["--fault", fault]
        self.processes.start(f"sim-{line}", argv)
        wait_for(lambda: os.path.islink(self.link(line)), f"pxrsim of line {line}")

    def start_gateway(self):
        with open(os.path.join(SOURCE, "scripts/builtin_plant.json")) as f:
            classes_a = json.load(f)["classes"]
        with open(os.path.join(self.work, "line-b.json"), "w") as f:
            json.dump(LINE_B_PLANT, f)
        self.items = [f"{PREFIX}/a/{i['item']}" for c in classes_a for i in c["items"]]
        self.items += [f"{PREFIX}/b/{i.get('topic', i['item'])}"
                       for c in LINE_B_CLASSES for i in c["items"]]
        plant = os.path.join(self.work, "gateway.yaml")
        with open(plant, "w") as f:  # JSON is YAML too
            json.dump({"mqtt": {"host": "127.0.0.1", "port": self.broker_port,
                                "prefix": PREFIX, "client_id": "soak-gateway"},
                       "http": {"address": "127.0.0.1", "port": 0},
                       "lines": [{"line": "a", "port": self.link("a"), "classes": classes_a},
                                 {"line": "b", "port": self.link("b"),
                                  "classes": LINE_B_CLASSES}]}, f)
        self.gateway_log = open(os.path.join(self.args.out, "gateway.log"), "w+")
        self.gateway = self.processes.start(
            "gateway", [f"{self.build}/tools/tarvo-gateway", "--library",
                        f"{self.build}/src/libtarvo.so.1", plant], self.gateway_log)

        def metrics_port():
            self.gateway_log.seek(0)
            found = re.search(r"metrics on http://[^:]+:(\d+)/metrics", self.gateway_log.read())
            self.metrics_port = found and int(found.group(1))
            return found
        wait_for(metrics_port, "tarvo-gateway's metrics")

    def alive(self):
        if self.gateway.poll() is not None:
            raise Failure(f"tarvo-gateway ended with status {self.gateway.returncode}: "
                          f"see {self.args.out}/gateway.log")

    # The subscriber: paho reconnects by itself after each broker restart.
    def subscribe(self):
        self.client = mqtt.Client(client_id=f"soak-{os.getpid()}", clean_session=True)
        self.client.reconnect_delay_set(1, 2)
        self.client.on_connect = lambda c, u, f, rc: c.subscribe(f"{PREFIX}/#", qos=1)
        self.client.on_message = self.received
        self.client.connect_async("127.0.0.1", self.broker_port, keepalive=10)
        self.client.loop_start()

    def received(self, client, userdata, message):
        try:
            self.take(message)
        except Exception as e:  # the check fails, rather than paho's thread
            self.errors.append(f"{message.topic}: {e!r}")

    def take(self, message):
        topic = message.topic
        if topic == f"{PREFIX}/gateway/soak-gateway/status":
            # Also retained: after a broker restart, only the gateway's own.
            self.seen[message.payload.decode(errors="replace")] += 1
            return
        if message.retain or not (topic in self.item_set or topic.endswith("/result")):
            return
        try:
            payload = json.loads(message.payload)
        except ValueError:
            return
        if not isinstance(payload, dict):
            return  # the soak's own malformed payloads on a result topic
        if topic.endswith("/result"):
            self.seen[f"refused on {topic}"] += payload.get("ok") is False
            return
        self.seen[f"failed on line {topic.split('/')[1]}"] += payload.get("ok") is False
        with self.lock:
            self.latest[topic] = payload
            if payload.get("ok") is not True:
                return
            try:
                read = datetime.datetime.fromisoformat(payload["time"]).timestamp()
            except (TypeError, ValueError, KeyError):
                return  # a good reading always has its time: the check fails
            self.fresh[topic] = read
            if self.last_fault_mended and read > self.last_fault_mended:
                self.back.setdefault(topic, read)

    # Faults.
    def malformed_payloads(self):
        payloads = MALFORMED[2:] if self.args.utf8_only else MALFORMED
        for topic in MALFORMED_TOPICS:
            for payload in payloads:
                self.client.publish(f"{PREFIX}/{topic}", payload, qos=1)
        for n in range(200):
            self.client.publish(f"{PREFIX}/b/DO6.2/set", "on" if n % 2 else "off", qos=0)
        self.client.publish(f"{PREFIX}/b/DO6.2/set", "on", qos=1)

    def silent_module(self, seconds):
        self.processes.stop("sim-b")
        self.start_sim("b", ["6:silent"])
        self.pause(seconds)
        with self.lock:
            six, four = (self.latest.get(f"{PREFIX}/b/{item}", {}) for item in ("DI6.0", "DI4.0"))
        if not (six.get("ok") is False and four.get("ok") is True):
            self.without_effect.append(f"module 6 silent: DI6.0 ok {six.get('ok')}, "
                                       f"DI4.0 ok {four.get('ok')} at its end")
        self.processes.stop("sim-b")
        self.start_sim("b")

    def device_removed(self, seconds):
        self.processes.stop("sim-a")
        self.pause(seconds)
        self.start_sim("a")

    def broker_restart(self, seconds):
        self.processes.stop("broker")
        self.pause(seconds)
        self.start_broker()

    def cycle(self):
        a = self.args
        yield "malformed payloads", self.malformed_payloads, 10, \
            f"refused on {PREFIX}/b/DO4.3/result"
        yield f"module 6 of line b silent for {a.silent} s", \
            lambda: self.silent_module(a.silent), 20, None
        yield f"line a's device removed for {a.gone} s", lambda: self.device_removed(a.gone), \
            20, "failed on line a"
        yield f"broker stopped for {a.broker} s", lambda: self.broker_restart(a.broker), 20, \
            "online"

    # Samples.
    def sample(self):
        pid = self.gateway.pid
        with open(f"/proc/{pid}/status") as f:
            status = dict(line.split(":", 1) for line in f if ":" in line)
        descriptors = len(os.listdir(f"/proc/{pid}/fd"))
        scraped = 0
        try:
            with urllib.request.urlopen(f"http://127.0.0.1:{self.metrics_port}/metrics",
                                        timeout=5) as answer:
                scraped = int(answer.status == 200)
        except OSError:
            pass
        row = {"seconds": round(time.monotonic() - self.started),
               "rss_kib": int(status["VmRSS"].split()[0]), "descriptors": descriptors,
               "threads": int(status["Threads"]), "metrics_ok": scraped}
        self.samples.append(row)
        self.csv.writerow(row)
        self.csv_file.flush()

    def pause(self, seconds):
        """Sleeps, sampling on the 10 s marks, and checks that the gateway lives."""
        end = time.monotonic() + seconds
        while True:
            self.alive()
            now = time.monotonic()
            if now >= self.next_sample:
                self.sample()
                self.next_sample += SAMPLE_SECONDS
            if now >= end:
                return
            time.sleep(min(0.5, end - now, max(0, self.next_sample - now)))

    def run(self):
        a = self.args
        self.start_broker()
        self.start_gateway()
        self.item_set = set(self.items)
        self.start_sim("a")
        self.start_sim("b")
        self.subscribe()
        self.csv_file = open(os.path.join(a.out, "samples.csv"), "w", newline="")
        self.csv = csv.DictWriter(self.csv_file, ["seconds", "rss_kib", "descriptors",
                                                  "threads", "metrics_ok"])
        self.csv.writeheader()
        self.samples = []
        self.started = self.next_sample = time.monotonic()
        end = self.started + 60 * a.minutes
        log(f"{len(self.items)} items on 2 lines, broker on 127.0.0.1:{self.broker_port}, "
            f"metrics on 127.0.0.1:{self.metrics_port}, {a.minutes} min")
        # As many whole cycles as end SETTLE seconds before the end.
        self.pause(START_SECONDS)
        for _ in range(cycles(a)):
            for what, fault, after, effect in self.cycle():
                log(what)
                before = self.seen[effect]
                fault()
                self.faults += 1
                with self.lock:
                    self.last_fault_mended = time.time()
                    self.back = {}
                self.pause(after)
                if effect and self.seen[effect] == before:
                    self.without_effect.append(f"{what}: no {effect} message")
        log(f"{self.faults} faults; the last mended, settling until the end")
        self.pause(end - time.monotonic())
        return self.verdict()

    def verdict(self):
        failures = []
        with self.lock:
            stale = [t for t in self.items if self.fresh.get(t, 0) <= self.last_fault_mended]
            for topic in stale:
                latest = self.latest.get(topic, {})
                failures.append(f"{topic}: no good reading published after the last fault "
                                f"(the latest: ok {latest.get('ok')}, code {latest.get('code')}, "
                                f"read at {latest.get('time')})")
            slowest = max(self.back.values(), default=self.last_fault_mended)
        lines = [f"items: {len(self.items) - len(stale)} of {len(self.items)} published "
                 f"again after the last fault, the last {slowest - self.last_fault_mended:.1f} s "
                 f"after it was mended"]
        settled = [s for s in self.samples if s["seconds"] >= self.args.warmup]
        third = len(settled) // 3
        if third < 2:
            failures.append(f"too few samples after the warm-up ({len(settled)})")
        else:
            first, last = settled[:third], settled[-third:]
            for key, allowed in (("rss_kib", lambda m: 0.05 * m + 1024),
                                 ("descriptors", lambda m: 1), ("threads", lambda m: 1)):
                before = statistics.mean(s[key] for s in first)
                after = statistics.mean(s[key] for s in last)
                slope = statistics.linear_regression(
                    [s["seconds"] for s in settled], [s[key] for s in settled]).slope
                values = [s[key] for s in settled]
                lines.append(f"{key}: first third {before:.1f}, last third {after:.1f} "
                             f"(allowed {before + allowed(before):.1f}), min {min(values)}, "
                             f"max {max(values)}, slope {3600 * slope:+.1f}/h")
                if after > before + allowed(before):
                    failures.append(f"{key} grows: {before:.1f} -> {after:.1f}")
        scrapes = sum(s["metrics_ok"] for s in self.samples)
        lines.append(f"samples: {len(self.samples)} ({len(settled)} after the warm-up), "
                     f"/metrics answered {scrapes} of {len(self.samples)}")
        lines.append(f"faults: {self.faults}; seen: "
                     f"{sum(n for k, n in self.seen.items() if k.startswith('refused'))} writes "
                     f"refused (superseded among them), {self.seen['online']} online, "
                     f"{sum(n for k, n in self.seen.items() if k.startswith('failed'))} "
                     f"failed readings")
        failures += [f"a fault without effect: {what}" for what in self.without_effect]
        failures += [f"the subscriber failed on {error}" for error in self.errors]
        with open(os.path.join(self.args.out, "summary.txt"), "w") as f:
            f.write("\n".join(lines + failures) + "\n")
        for line in lines:
            log(line)
        for failure in failures:
            log(f"FAIL: {failure}")
        return 1 if failures else 0

    def close(self):
        if hasattr(self, "client"):
            self.client.loop_stop()
        status = self.processes.stop("gateway")
        if status not in (None, 0):
            log(f"tarvo-gateway stopped with status {status}")
        self.processes.stop_all()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("build", help="the build folder (build/linux)")
    parser.add_argument("--minutes", type=float, default=30)
    parser.add_argument("--out", default=os.path.join(SOURCE, "build/soak"))
    parser.add_argument("--warmup", type=float, default=120,
                        help="seconds of samples left out of the trend")
    parser.add_argument("--settle", type=float, default=180,
                        help="seconds after the last fault, for every item to come back")
    parser.add_argument("--silent", type=float, default=40)
    parser.add_argument("--gone", type=float, default=30)
    parser.add_argument("--broker", type=float, default=10)
    parser.add_argument("--utf8-only", action="store_true",
                        help="leave out the payloads that are not UTF-8")
    args = parser.parse_args()
    if cycles(args) < 1:
        parser.error(f"{args.minutes} min leave no time for a cycle of faults and the settling "
                     f"({args.settle:.0f} s)")
    if shutil.which("mosquitto") is None:
        sys.exit("soak: no mosquitto (scripts/deps.sh installs it)")
    os.makedirs(args.out, exist_ok=True)

    def stop(signum, frame):
        raise Stopped(signal.Signals(signum).name)
    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    with tempfile.TemporaryDirectory(prefix="tarvo-soak.") as work:
        soak = Soak(args, work)
        try:
            return soak.run()
        except Failure as e:
            log(f"FAIL: {e}")
            return 1
        except Stopped as e:
            log(f"stopped by {e}")
            return 2
        finally:
            signal.signal(signal.SIGTERM, signal.SIG_IGN)
            signal.signal(signal.SIGINT, signal.SIG_IGN)
            soak.close()


if __name__ == "__main__":
    sys.exit(main())
