#!/usr/bin/env python3
"""How soon tavoctl-mqtt tells of a controller plugged in or unplugged.

usage: plug_to_online.py GADGET ID ROUNDS
       plug_to_online.py --summary FILE ROUNDS

Run by the VM's benchmark (tests/system/run --bench) in the guest's Debian
userland, against the broker and the service that guest/with_mqtt runs, with
the gadgets' configfs mounted where the guest's own is. Each round unplugs
GADGET (its UDC file emptied) and plugs it in again, and times, on the
monotonic clock, from the write to the UDC file until a subscriber of the
broker reads ID's availability turn offline, and online. Odd rounds instead
time the kernel alone, until the hidraw node is gone and back (looked for
every millisecond, which would slow the rest), so that the service's share
shows. Prints one line per measure: "plug_online MS", "unplug_offline MS",
"plug_node MS" or "unplug_node MS"; and leaves GADGET plugged in. With
--summary, prints bench/results.md's section for such lines in FILE.
"""
import glob
import os
import statistics
import subprocess
import sys
import threading
import time

LABELS = {"plug_node": "plug to hidraw node (kernel)", "plug_online": "plug to online",
          "unplug_node": "unplug to hidraw node gone (kernel)", "unplug_offline": "unplug to offline"}


def summary(path, rounds):
    measured = {measure: [] for measure in LABELS}
    with open(path) as f:
        for line in f:
            measure, value = line.split()
            measured[measure].append(float(value))
    if not all(measured.values()):
        sys.exit(f"{path}: not every measure was taken")
    print(f"""# tavoctl-mqtt: plug to online

Made by the same run, in the guest's Debian userland: Debian's mosquitto, udevd, and
tavoctl-mqtt from its package (as tests/system/guest/with_mqtt runs them), and
bench/plug_to_online.py, which unplugs the gadget (its UDC file emptied) and plugs it
in again, {rounds} rounds, and times from that write until a subscriber of the broker
reads the controller's availability turn offline, and online. Every other round times
the kernel alone instead, until the hidraw node is gone and back: the rest is udevd's
and the service's (it hears of the node from the kernel's and udevd's events, and looks
at the controllers at once). Target: online within about half a second of the node;
here the emulated USB enumeration alone takes about that long.

| measure | median | worst | rounds |
|---|---|---|---|""")
    for measure, label in LABELS.items():
        values = measured[measure]
        print(f"| {label} | {statistics.median(values):.0f} ms | {max(values):.0f} ms | {len(values)} |")


if sys.argv[1] == "--summary":
    summary(sys.argv[2], int(sys.argv[3]))
    sys.exit(0)

gadget, controller_id, rounds = sys.argv[1], sys.argv[2], int(sys.argv[3])
udc_file = f"/sys/kernel/config/usb_gadget/{gadget}/UDC"
bound_s = 60  # every wait's bound: a step past it is the testbed's fault

with open(udc_file) as f:
    udc = f.read().strip()
if not udc:
    sys.exit(f"{gadget} is not plugged in")


class subscriber:
    """mosquitto_sub on the controller's availability: each message with the
    moment it was read."""

    def __init__(self):
        self.lines = []
        self.changed = threading.Condition()
        self.process = subprocess.Popen(
            ["mosquitto_sub", "-h", "127.0.0.1", "-t", f"tavoctl/{controller_id}/availability"],
            stdout=subprocess.PIPE, text=True, bufsize=1)
        threading.Thread(target=self.read, daemon=True).start()

    def read(self):
        for line in self.process.stdout:
            with self.changed:
                self.lines.append((time.monotonic(), line.strip()))
                self.changed.notify_all()

    def wait_for(self, payload, after):
        """The moment `payload` was read, the first time after `after` messages."""
        deadline = time.monotonic() + bound_s
        with self.changed:
            while True:
                for at, line in self.lines[after:]:
                    if line == payload:
                        return at
                left = deadline - time.monotonic()
                if left <= 0 or not self.changed.wait(left):
                    sys.exit(f"no '{payload}' within {bound_s} s")

    def count(self):
        with self.changed:
            return len(self.lines)


def hidraw_of_gadget():
    """Whether the gadget's hidraw node is there: its host controller is the
    dummy_hcd paired with its UDC (dummy_udc.N)."""
    hcd = "dummy_hcd." + udc.rsplit(".", 1)[1]
    return any(f"/{hcd}/" in os.path.realpath(node) for node in glob.glob("/sys/class/hidraw/hidraw*"))


def wait_node(present):
    deadline = time.monotonic() + bound_s
    while hidraw_of_gadget() != present:
        if time.monotonic() > deadline:
            sys.exit(f"the hidraw node of {gadget} did not {'come' if present else 'go'} within {bound_s} s")
        time.sleep(0.001)
    return time.monotonic()


def write_udc(text):
    start = time.monotonic()
    with open(udc_file, "w") as f:
        f.write(text + "\n")
    return start


sub = subscriber()
sub.wait_for("online", 0)  # retained: subscribed, and the controller is there
for round_number in range(rounds):
    kernel_only = round_number % 2 == 1
    for plug in (False, True):
        seen = sub.count()
        start = write_udc(udc if plug else "")
        word = "plug" if plug else "unplug"
        if kernel_only:
            end = wait_node(plug)
            print(f"{word}_node {(end - start) * 1000:.1f}", flush=True)
        else:
            end = sub.wait_for("online" if plug else "offline", seen)
            print(f"{word}_{'online' if plug else 'offline'} {(end - start) * 1000:.1f}", flush=True)
        # The next step starts from a settled state: the service has told
        # of this one, and the node is as it should be.
        sub.wait_for("online" if plug else "offline", seen)
        wait_node(plug)
sub.process.terminate()
sub.process.wait()
