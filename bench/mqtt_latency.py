#!/usr/bin/env python3
"""tavoctl-mqtt's publish-to-first-report latency, against the broker's own hop, and its idle cost.

Starts Debian's mosquitto on a free loopback port and the service built on
the fake controller (the debug preset's tests/tavoctl_mqtt_fake), publishes
ROUNDS key commands one at a time from a plain MQTT 3.1.1 connection, and
takes each latency from the moment before the PUBLISH is written to the
time stamp the fake logs for the report (both CLOCK_MONOTONIC). In the same
run, the broker's own hop: a PUBLISH written to its arrival at a subscriber
that receives as the service does, through libmosquitto's network loop
(mosquitto_sub, its arrival time stamped with CLOCK_REALTIME, as is the
PUBLISH then), and, for comparison, at a plain blocking socket. Every round
starts after the same 2 ms of idleness, for both: a process woken from idle
takes longer than one that has just run. Then the service's CPU time over
IDLE seconds of nothing to do, and its resident set; the same idle measure
for the release build of the real service (build/release/mqtt/tavoctl-mqtt).

usage: bench/mqtt_latency.py [ROUNDS [IDLE]]   (default 100 and 10)
"""
import os
import select
import socket
import statistics
import subprocess
import sys
import tempfile
import time

repo = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
fake = os.path.join(repo, "build/debug/tests/tavoctl_mqtt_fake")
real = os.path.join(repo, "build/release/mqtt/tavoctl-mqtt")
rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 100
idle = int(sys.argv[2]) if len(sys.argv) > 2 else 10


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def packet(kind, body):
    length, size = len(body), b""
    while True:
        byte, length = length % 128, length // 128
        size += bytes([byte | (128 if length else 0)])
        if not length:
            return bytes([kind]) + size + body


def text(s):
    return len(s).to_bytes(2, "big") + s


def connect(port, client_id):
    """A plain MQTT 3.1.1 connection, CONNACK read."""
    for _ in range(200):
        try:
            sock = socket.create_connection(("127.0.0.1", port))
            break
        except OSError:
            time.sleep(0.025)
    sock.sendall(packet(0x10, text(b"MQTT") + bytes([4, 2]) + (60).to_bytes(2, "big") + text(client_id)))
    sock.recv(4)  # CONNACK
    return sock


# Every round starts after this much idleness, the service's as the broker's.
pace = 0.002


def broker_hop(port, rounds):
    """The broker alone: PUBLISH written to its arrival at a plain blocking subscriber, in ms."""
    subscriber, publisher = connect(port, b"bench-sub"), connect(port, b"bench-pub")
    subscriber.sendall(packet(0x82, (1).to_bytes(2, "big") + text(b"bench/hop") + bytes([0])))
    subscriber.recv(5)  # SUBACK
    message = packet(0x30, text(b"bench/hop") + b"1")
    times = []
    # One round first, not timed, as for the service: the first message
    # after the subscription takes some 40 ms.
    for _ in range(rounds + 1):
        time.sleep(pace)
        start = time.monotonic_ns()
        publisher.sendall(message)
        got = b""
        while len(got) < len(message):
            got += subscriber.recv(len(message) - len(got))
        times.append((time.monotonic_ns() - start) / 1e6)
    subscriber.close()
    publisher.close()
    return times[1:]


def library_hop(port, rounds):
    """The broker alone, to a libmosquitto subscriber (mosquitto_sub): PUBLISH
    written to the subscriber's time stamp of its arrival, in ms."""
    subscriber = subprocess.Popen(["mosquitto_sub", "-h", "127.0.0.1", "-p", str(port), "-t", "bench/library",
                                   "-F", "%U"], stdout=subprocess.PIPE, text=True)
    publisher = connect(port, b"bench-pub")
    message = packet(0x30, text(b"bench/library") + b"1")
    times = []
    try:
        # Until it has subscribed: a message it prints.
        for _ in range(200):
            publisher.sendall(message)
            ready, _, _ = select.select([subscriber.stdout], [], [], 0.1)
            if ready:
                subscriber.stdout.readline()
                break
        for _ in range(rounds + 1):
            time.sleep(pace)
            start = time.time_ns()
            publisher.sendall(message)
            seconds, nanoseconds = subscriber.stdout.readline().strip().split(".")
            times.append((int(seconds) * 1_000_000_000 + int(nanoseconds) - start) / 1e6)
    finally:
        subscriber.terminate()
        subscriber.wait()
        publisher.close()
    return times[1:]


def wait_until(done, why, bound=20.0):
    deadline = time.monotonic() + bound
    while not done():
        if time.monotonic() > deadline:
            raise SystemExit("bench: gave up waiting: " + why())
        time.sleep(0.0005)


def cpu_and_rss(pid, seconds):
    def ticks():
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return int(fields[11]) + int(fields[12])

    before = ticks()
    time.sleep(seconds)
    used = (ticks() - before) / os.sysconf("SC_CLK_TCK")
    with open(f"/proc/{pid}/status") as f:
        rss = next(line.split()[1] for line in f if line.startswith("VmRSS:"))
    return used / seconds * 100, int(rss)


def main():
    work = tempfile.mkdtemp()
    port = free_port()
    with open(f"{work}/mosquitto.conf", "w") as f:
        f.write(f"listener {port} 127.0.0.1\nallow_anonymous true\npersistence false\nlog_dest none\n")
    with open(f"{work}/scenario", "w") as f:
        f.write("device 6666:f100 serial=TV1 name=Tavo\n")
    with open(f"{work}/mqtt.conf", "w") as f:
        f.write(f"host = 127.0.0.1\nport = {port}\n")
    log = f"{work}/log"
    open(log, "w").close()
    broker = subprocess.Popen(["mosquitto", "-c", f"{work}/mosquitto.conf"])
    env = dict(os.environ, TAVO_FAKE_SCENARIO=f"{work}/scenario", TAVO_FAKE_LOG=log)
    service = subprocess.Popen([fake, "--config", f"{work}/mqtt.conf"], env=env, stderr=open(f"{work}/service.log", "w"))
    processes = [service, broker]
    try:
        client = connect(port, b"bench")
        command = packet(0x30, text(b"tavoctl/TV1/0/key/set") + b"1")

        def lines():
            with open(log) as f:
                return f.read().splitlines()

        # Until the service has subscribed: one report, not timed.
        for _ in range(200):
            client.sendall(command)
            time.sleep(0.1)
            if lines():
                break
        time.sleep(0.5)
        first = len(lines())
        latencies = []
        for i in range(first, first + rounds):
            time.sleep(pace)
            start = time.monotonic_ns()
            client.sendall(command)
            wait_until(lambda: len(lines()) > i,
                       lambda: f"round {i - first}; the service said:\n" + open(f"{work}/service.log").read()[-2000:])
            latencies.append((int(lines()[i].split()[2]) - start) / 1e6)
        hops = broker_hop(port, rounds)
        library_hops = library_hop(port, rounds)
        fake_cpu, fake_rss = cpu_and_rss(service.pid, idle)
        real_service = subprocess.Popen([real, "--config", f"{work}/mqtt.conf"], stderr=subprocess.DEVNULL)
        processes.append(real_service)
        time.sleep(1)
        real_cpu, real_rss = cpu_and_rss(real_service.pid, idle)
    finally:
        for process in processes:
            process.terminate()
            process.wait()
    print(f"rounds: {rounds}, each after {pace * 1000:.0f} ms idle")
    for name, times in (("broker alone, to a libmosquitto subscriber", library_hops),
                        ("broker alone, to a blocking socket", hops),
                        ("publish to first report", latencies)):
        print(f"{name}: median {statistics.median(times):.2f} ms, worst {max(times):.2f} ms")
    ratio = statistics.median(latencies) / statistics.median(library_hops)
    print(f"publish to first report / broker to a libmosquitto subscriber, medians: {ratio:.2f} (goal: at most 2)")
    ratio = statistics.median(latencies) / statistics.median(hops)
    print(f"publish to first report / broker to a blocking socket, medians: {ratio:.2f}")
    print(f"idle over {idle} s, on the fake (debug build): CPU {fake_cpu:.2f} %, RSS {fake_rss} KiB")
    print(f"idle over {idle} s, real backend (release build, no controller): CPU {real_cpu:.2f} %, RSS {real_rss} KiB")


main()
