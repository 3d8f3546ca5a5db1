#!/usr/bin/env python3
"""Migration benchmark: Movanta against a tar pipeline and rsync, on generated data, in one run.

Runs inside the private network namespace that bench/run.sh makes: on the "loopback" link the two
wizards, the tar pipelines and the rsync daemon all meet on loopback there. Every other link is two
network namespaces of their own joined by the link emulator (bench/linkemu.cpp: a tap device in each, every
frame delayed), the receiving side in one and the sending side in the other. Every copy is compared with
its source afterwards; a difference fails the benchmark.
"""
import argparse
import os
import queue
import random
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

MARK = "@@BENCH@@ "
TAR_PORT = 5401
RSYNC_PORT = 5402
FLOOR_PORT = 5403
MiB = 1024 * 1024
BIG_BUFFER = 4 * MiB  # socat's -b for the strong tar variant
SEND_ADDRESS = "10.77.0.1"
RECV_ADDRESS = "10.77.0.2"

# Emulated links: one-way delay in microseconds (the emulator and the two stacks add about 0.1 ms to the
# round trip) and rate in Mbit/s.
LINKS = {
    "lan": (150, 1000),  # wired gigabit LAN through a switch or two: round trip about 0.4 ms
    "wifi": (1200, 300),  # a good Wi-Fi link: round trip about 2.5 ms
}


class BenchError(Exception):
    pass


class Peer:
    """One wizard process, spoken to by command lines; its own diagnostics are drained and dropped."""

    def __init__(self, program, role, home, work, wrap="", place=()):
        env = dict(os.environ, HOME=home, QT_QPA_PLATFORM="offscreen")
        self.role = role
        # A profiler in front of the program, e.g. --wrap "strace -f -c -o /tmp/trace-{role}".
        prefix = list(place) + (wrap.format(role=role).split() if wrap else [])
        self.proc = subprocess.Popen(prefix + [program, role], cwd=work, env=env, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.replies = queue.Queue()
        self.reader = threading.Thread(target=self._read, daemon=False)
        self.reader.start()
        self.expect("up", 60)

    def _read(self):
        for raw in self.proc.stdout:
            if raw.startswith(MARK.encode()):
                self.replies.put(raw[len(MARK):].decode("utf-8", "replace").rstrip("\n"))
        self.replies.put(None)

    def expect(self, prefix, timeout=900):
        try:
            line = self.replies.get(timeout=timeout)
        except queue.Empty:
            raise BenchError(f"{self.role}: no reply within {timeout} s (waiting for {prefix!r})")
        if line is None or not line.startswith(prefix):
            raise BenchError(f"{self.role}: expected {prefix!r}, got {line!r}")
        return line

    def command(self, text, prefix, timeout=900):
        self.proc.stdin.write((text + "\n").encode())
        self.proc.stdin.flush()
        return self.expect(prefix, timeout)

    def close(self):
        try:
            if self.proc.poll() is None:
                self.proc.stdin.write(b"quit\n")
                self.proc.stdin.flush()
                self.proc.stdin.close()
                self.proc.wait(timeout=30)
        except (BrokenPipeError, subprocess.TimeoutExpired):
            self.proc.kill()
            self.proc.wait()
        self.reader.join()


# --- links -----------------------------------------------------------------------------------------

class Link:
    """Two network namespaces joined by the link emulator: the sender's side has SEND_ADDRESS, the
    receiver's RECV_ADDRESS, each with a default route into the link, so the wizard's broadcast and anything
    else it sends go only to the other side."""

    def __init__(self, label, delay_us, rate_mbit, emulator, prefix):
        self.label = label
        self.delay_us = delay_us
        self.rate_mbit = rate_mbit
        self.emulator = emulator
        self.names = (f"{prefix}-{label}-s", f"{prefix}-{label}-r")
        self.proc = None
        self.made = []
        self.rtt = None
        self.stats = ""

    def describe(self):
        rate = f"{self.rate_mbit:g} Mbit/s" if self.rate_mbit else "no rate limit"
        return f"{self.label}: one-way delay {self.delay_us / 1000:g} ms, {rate}"

    def on_sender(self):
        return ["nsenter", f"--net=/run/netns/{self.names[0]}"]

    def on_receiver(self):
        return ["nsenter", f"--net=/run/netns/{self.names[1]}"]

    def up(self):
        for ns in self.names:
            subprocess.run(["ip", "netns", "add", ns], check=True)
            self.made.append(ns)
            subprocess.run(["ip", "netns", "exec", ns, "sysctl", "-qw", "net.ipv6.conf.all.disable_ipv6=1",
                            "net.ipv6.conf.default.disable_ipv6=1"], check=True)
        command = [self.emulator, "--a", f"/run/netns/{self.names[0]}:mv0", "--b", f"/run/netns/{self.names[1]}:mv0",
                   "--delay-us", str(self.delay_us)]
        if self.rate_mbit:
            command += ["--rate-mbit", str(self.rate_mbit)]
        self.proc = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        if self.proc.stdout.readline().strip() != "ready":
            raise BenchError(f"link {self.label}: the emulator did not start: {self.proc.stderr.read()}")
        for ns, address in zip(self.names, (SEND_ADDRESS, RECV_ADDRESS)):
            for args in (["link", "set", "lo", "up"], ["addr", "add", f"{address}/24", "dev", "mv0"],
                         ["link", "set", "mv0", "up"], ["route", "add", "default", "dev", "mv0"]):
                subprocess.run(["ip", "-n", ns] + args, check=True)
        self.rtt = self.ping()

    def ping(self):
        """Round trip of 100 small pings, 10 ms apart: min/avg/max/mdev in ms (after two that resolve the
        address, which would count the ARP exchange)."""
        subprocess.run(self.on_sender() + ["ping", "-q", "-c", "2", "-i", "0.01", "-W", "1", RECV_ADDRESS],
                       capture_output=True)
        result = subprocess.run(self.on_sender() + ["ping", "-q", "-c", "100", "-i", "0.01", "-W", "1", RECV_ADDRESS],
                                capture_output=True, text=True)
        for line in result.stdout.splitlines():
            if line.startswith("rtt ") or line.startswith("round-trip"):
                return tuple(float(v) for v in line.split("=")[1].split()[0].split("/"))
        raise BenchError(f"link {self.label}: no answer to ping:\n{result.stdout}{result.stderr}")

    def down(self):
        if self.proc is not None:
            if self.proc.poll() is None:
                self.proc.terminate()
            try:
                _, err = self.proc.communicate(timeout=10)
                self.stats = err.strip()
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
            self.proc = None
        while self.made:
            subprocess.run(["ip", "netns", "delete", self.made.pop()], check=False)


# --- data sets -----------------------------------------------------------------------------------

def write_random(path, size, rng):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        left = size
        while left > 0:
            n = min(left, 8 * MiB)
            f.write(rng.randbytes(n))
            left -= n


def make_large(root, scale, rng):
    write_random(os.path.join(root, "video", "holiday 2026.mkv"), int(1024 * MiB * scale), rng)


def make_small(root, scale, rng):
    folders = max(2, int(200 * scale))
    for d in range(folders):
        for i in range(100):
            write_random(os.path.join(root, f"mail/folder{d:03d}", f"msg{i:03d}.eml"), 4096, rng)


def make_mixed(root, scale, rng):
    """A home of about 3,000 files and 500 MB: many small files, some zero, a few up to 16 MiB."""
    count = max(30, int(3000 * scale))
    big = max(2, int(20 * scale))
    topics = ["文档", "Pictures", "Music", "src/project", "src/project/lib", "Downloads", "notes 2026"]
    sizes = [0] * (count // 50)
    sizes += [rng.randint(8 * MiB, 16 * MiB) for _ in range(big)]
    while len(sizes) < count:
        sizes.append(int(2 ** rng.uniform(0, 20)))  # log-uniform, 1 B .. 1 MiB
    for n, size in enumerate(sizes):
        folder = os.path.join(root, topics[n % len(topics)], f"set{n % 23}")
        write_random(os.path.join(folder, f"file {n:05d}.dat"), size, rng)


SETS = {
    "L": ("one file of 1 GiB", make_large),
    "S": ("20,000 files of 4 KiB in 200 folders", make_small),
    "M": ("about 3,000 files from 0 B to 16 MiB", make_mixed),
}


def tree_stats(root):
    files = total = 0
    for folder, _, names in os.walk(root):
        for name in names:
            files += 1
            total += os.path.getsize(os.path.join(folder, name))
    return files, total


def reported_entries(root):
    """What Movanta's report counts for a tree: its files and, as entries of their own, its folders."""
    files = folders = 0
    for _, _, names in os.walk(root):
        folders += 1
        files += len(names)
    return files + folders


def verify(source, copy, label):
    """Byte-for-byte comparison of two trees, extra and missing files included."""
    result = subprocess.run(["diff", "-rq", "--no-dereference", source, copy], capture_output=True, text=True)
    if result.returncode != 0:
        raise BenchError(f"{label}: the copy differs from the source:\n{result.stdout[:2000]}{result.stderr[:500]}")


def settle(path):
    """Removes an earlier copy and writes back dirty pages, so no run pays for another's writes.

    Then waits a few seconds: ext4 without a journal (this machine's disk) skips inodes freed in the last
    5 s when it allocates new ones, reading their inode blocks each time, so whoever ran right after a
    deletion of 20,000 files paid several times the normal cost of creating a file."""
    shutil.rmtree(path, ignore_errors=True)
    subprocess.run(["sync"], check=True)
    time.sleep(6)


# --- the contestants -------------------------------------------------------------------------------

class Bench:
    def __init__(self, args, tmp):
        self.args = args
        self.tmp = tmp
        self.send_home = os.path.join(tmp, "send-home")
        self.recv_home = os.path.join(tmp, "recv-home")
        self.send_work = os.path.join(tmp, "send-work")
        self.recv_work = os.path.join(tmp, "recv-work")
        self.tar_dst = os.path.join(tmp, "tar-dst")
        self.rsync_dst = os.path.join(tmp, "rsync-dst")
        self.floor_dst = os.path.join(tmp, "floor-dst")
        for d in (self.send_home, self.recv_home, self.send_work, self.recv_work, self.tar_dst, self.rsync_dst,
                  self.floor_dst):
            os.makedirs(d, exist_ok=True)
        self.rsyncd = None
        self.idle_cpu = None
        self.scan_times = []
        self.stalls = []
        self.hwm = {"sender": [], "receiver": []}

    # Movanta: two fresh wizards per run, paired through the real pages; only the transfer is timed.
    # plain: the receiver leaves the secure channel out of its announcement, as a receiver built from the
    # protocol alone would, so the same two programs run the migration unencrypted.
    def movanta(self, name, files, link, plain=False):
        label = "Movanta-plain" if plain else "Movanta"
        for d in (self.send_work, self.recv_work):
            shutil.rmtree(d, ignore_errors=True)
            os.makedirs(d)
        settle(os.path.join(self.recv_home, name))
        receiver = Peer(self.args.peer, "receiver", self.recv_home, self.recv_work, self.args.wrap,
                        link.on_receiver() if link else ())
        sender = None
        try:
            sender = Peer(self.args.peer, "sender", self.send_home, self.send_work, self.args.wrap,
                          link.on_sender() if link else ())
            if plain:
                receiver.command("withhold secure", "withheld")
            receiver.command("role", "ok")
            sender.command("role", "ok")
            receiver.command("settle", "settled")
            sender.command("settle", "settled")
            sender.command("cards", "cards", 60)
            if self.idle_cpu is None:
                used, wall = map(float, sender.command("idlecpu 5", "idlecpu", 60).split()[1:3])
                self.idle_cpu = 100.0 * used / wall
            sender.command("click", "pairing")
            code = receiver.command("code", "code ").split()[1]
            sender.command("type " + code, "selecting")
            fields = sender.command("select", "selected").split()
            if link is None and not plain:
                self.scan_times.append((name, float(fields[1])))
                self.stalls.append((name, int(fields[2])))
            measure_memory = name == "L" and link is None and not plain
            if measure_memory:
                sender.command("hwmreset", "reset")
                receiver.command("hwmreset", "reset")
            report = sender.command("start", "report").split()
            done = receiver.command("waitdone", "done")
            if report[2] != "2" or done != "done 0":
                raise BenchError(f"{label} {name}: the migration did not finish: {report} / {done}")
            entries = reported_entries(os.path.join(self.send_home, name))
            if report[3] != str(entries) or report[4] != "0":
                raise BenchError(f"{label} {name}: report says {report[3]} sent, {report[4]} failed; "
                                 f"{entries} expected ({files} files and their folders)")
            # The pages say which kind of connection ran: a table must not compare plain with plain.
            shown = "未加密：对方为旧版本" if plain else "加密连接"
            for peer in (sender, receiver):
                if peer.command("shows " + shown, "shows") != "shows yes":
                    raise BenchError(f"{label} {name}: the {peer.role} does not show \"{shown}\"")
            if measure_memory:
                self.hwm["sender"].append(int(sender.command("hwm", "hwm").split()[1]))
                self.hwm["receiver"].append(int(receiver.command("hwm", "hwm").split()[1]))
            seconds = float(report[1])
        finally:
            if sender:
                sender.close()
            receiver.close()
        verify(os.path.join(self.send_home, name), os.path.join(self.recv_home, name), f"{label} {name}")
        return seconds

    def movanta_plain(self, name, files, link):
        return self.movanta(name, files, link, plain=True)

    def tar(self, name, files, link, buffer=0):
        dst = self.tar_dst
        settle(dst)
        os.makedirs(dst)
        host = RECV_ADDRESS if link else "127.0.0.1"
        socat = f"socat -b {buffer}" if buffer else "socat"
        listener = subprocess.Popen((link.on_receiver() if link else []) + [
            "sh", "-c", f'{socat} -u TCP-LISTEN:{TAR_PORT},bind={host},reuseaddr - | tar -C "$1" -xf -', "sh", dst])
        try:
            wait_listening(TAR_PORT, listener.pid)
            start = time.perf_counter()
            subprocess.run((link.on_sender() if link else []) + [
                "sh", "-c", f'tar -C "$1" -cf - "$2" | {socat} -u - TCP:{host}:{TAR_PORT}', "sh", self.send_home, name],
                check=True)
            if listener.wait(timeout=900) != 0:
                raise BenchError(f"tar {name}: the receiving side failed")
            seconds = time.perf_counter() - start
        finally:
            if listener.poll() is None:
                listener.kill()
                listener.wait()
        verify(os.path.join(self.send_home, name), os.path.join(dst, name), f"tar {name}")
        return seconds

    def start_rsyncd(self):
        conf = os.path.join(self.tmp, "rsyncd.conf")
        with open(conf, "w") as f:
            f.write(f"address = 127.0.0.1\nport = {RSYNC_PORT}\nuse chroot = no\n"
                    f"pid file = {self.tmp}/rsyncd.pid\nlog file = {self.tmp}/rsyncd.log\n"
                    f"[dst]\npath = {self.rsync_dst}\nread only = no\nuid = {os.getuid()}\ngid = {os.getgid()}\n")
        self.rsyncd = subprocess.Popen(["rsync", "--daemon", "--no-detach", f"--config={conf}"])
        wait_listening(RSYNC_PORT)

    def stop_rsyncd(self):
        if self.rsyncd and self.rsyncd.poll() is None:
            self.rsyncd.terminate()
            try:
                self.rsyncd.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.rsyncd.kill()
                self.rsyncd.wait()
        self.rsyncd = None

    def tar_big(self, name, files, link):
        return self.tar(name, files, link, BIG_BUFFER)

    def rsync(self, name, files, link):
        settle(self.rsync_dst)
        os.makedirs(self.rsync_dst)
        start = time.perf_counter()
        subprocess.run(["rsync", "-a", os.path.join(self.send_home, name),
                        f"rsync://127.0.0.1:{RSYNC_PORT}/dst/"], check=True)
        seconds = time.perf_counter() - start
        verify(os.path.join(self.send_home, name), os.path.join(self.rsync_dst, name), f"rsync {name}")
        return seconds


    def floor(self, name, files, link):
        """The same exchange as Movanta's (header, content, a result byte per file, temporary file and rename)
        with nothing else: what one result round trip per file allows on this machine."""
        dst = self.floor_dst
        settle(dst)
        os.makedirs(dst)
        host = [RECV_ADDRESS] if link else []
        receiver = subprocess.Popen((link.on_receiver() if link else []) +
                                    [self.args.floor, "receive", str(FLOOR_PORT), dst] + host)
        try:
            wait_listening(FLOOR_PORT, receiver.pid)
            start = time.perf_counter()
            subprocess.run((link.on_sender() if link else []) +
                           [self.args.floor, "send", str(FLOOR_PORT), self.send_home, name] + host, check=True)
            if receiver.wait(timeout=900) != 0:
                raise BenchError(f"floor {name}: the receiving side failed")
            seconds = time.perf_counter() - start
        finally:
            if receiver.poll() is None:
                receiver.kill()
                receiver.wait()
        verify(os.path.join(self.send_home, name), os.path.join(dst, name), f"floor {name}")
        return seconds


def wait_listening(port, pid=None, timeout=10.0):
    """Polls the kernel's table of listening sockets (a connect would use up the listener's one accept), in
    the network namespace of process `pid` (default: this one's)."""
    deadline = time.monotonic() + timeout
    table = f"/proc/{pid}/net/tcp" if pid else "/proc/net/tcp"
    while time.monotonic() < deadline:
        with open(table) as f:
            for line in f.readlines()[1:]:
                fields = line.split()
                if fields[1].endswith(f":{port:04X}") and fields[3] == "0A":
                    return
        time.sleep(0.02)
    raise BenchError(f"nothing listens on port {port}")


def du_seconds(path, runs=3):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(["du", "-s", path], check=True, stdout=subprocess.DEVNULL)
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def machine():
    model = "unknown"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as f:
        mem_kib = int(f.readline().split()[1])
    return f"{os.cpu_count()} CPU(s), {model}, {mem_kib / MiB:.1f} GiB memory, kernel {os.uname().release}"


def parse_links(text):
    """"loopback", a profile of LINKS, or NAME:DELAY_US:RATE_MBIT for a link of one's own."""
    links = []
    for item in (t for t in text.split(",") if t):
        if item == "loopback":
            links.append("loopback")
        elif item in LINKS:
            links.append((item,) + LINKS[item])
        elif item.count(":") == 2:
            label, delay, rate = item.split(":")
            links.append((label, int(delay), float(rate)))
        else:
            raise SystemExit(f"unknown link {item!r}: loopback, {', '.join(LINKS)} or NAME:DELAY_US:RATE_MBIT")
    return links


def stopped(signum, frame):
    raise SystemExit(128 + signum)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--peer", required=True)
    parser.add_argument("--floor", default="", help="the one-round-trip floor program (contestant \"floor\")")
    parser.add_argument("--emulator", default="", help="the link emulator program (needed for links but loopback)")
    parser.add_argument("--quick", action="store_true", help="sets at 1/8 of their size, one run unless --runs")
    parser.add_argument("--runs", type=int, default=None)
    parser.add_argument("--sets", default="L,S,M")
    parser.add_argument("--links", default="loopback,lan,wifi",
                        help="loopback, lan, wifi or NAME:DELAY_US:RATE_MBIT, comma-separated")
    parser.add_argument("--link-sets", default="S,M", help="the sets that also run over the emulated links")
    parser.add_argument("--netns-prefix", default=f"mvbench-{os.getpid()}", help="names of the namespaces made")
    parser.add_argument("--only", default="", help="contestants to run, e.g. Movanta,tar (default: all)")
    parser.add_argument("--wrap", default="", help="command put in front of each wizard, {role} replaced")
    parser.add_argument("--tmp", default=None, help="folder for data and copies (default: a new temp folder)")
    args = parser.parse_args()
    if args.runs is None:
        args.runs = 1 if args.quick else 3
    scale = 0.125 if args.quick else 1.0
    names = [n for n in args.sets.split(",") if n]
    link_sets = [n for n in args.link_sets.split(",") if n]
    wanted_links = parse_links(args.links)
    if any(l != "loopback" for l in wanted_links):
        if not args.emulator:
            raise SystemExit("links other than loopback need --emulator")
        if os.geteuid() != 0:
            raise SystemExit("emulated links make network namespaces and tap devices: run as root, or --links loopback")
    signal.signal(signal.SIGTERM, stopped)

    if args.tmp:
        os.makedirs(args.tmp, exist_ok=True)
    tmp = tempfile.mkdtemp(prefix="movanta-bench-", dir=args.tmp)
    bench = Bench(args, tmp)
    stash = os.path.join(tmp, "stash")
    rng = random.Random(20261208)
    results = {}
    links = []
    print(f"Machine: {machine()}")
    print(f"Scale: {'quick (1/8 of each set)' if args.quick else 'full size'}; {args.runs} runs per contestant, "
          f"alternating; data in {tmp}", flush=True)
    complete = False
    try:
        for item in wanted_links:
            if item == "loopback":
                links.append(None)
                continue
            link = Link(*item, args.emulator, args.netns_prefix)
            links.append(link)
            link.up()
            low, avg, high, mdev = link.rtt
            print(f"Link {link.describe()}; ping round trip min/avg/max/mdev {low:.3f}/{avg:.3f}/{high:.3f}/"
                  f"{mdev:.3f} ms", flush=True)
        if None in links:
            bench.start_rsyncd()
        everyone = [("Movanta", bench.movanta), ("Movanta-plain", bench.movanta_plain), ("tar|socat", bench.tar), ("tar|socat-b4M", bench.tar_big),
                    ("rsync", bench.rsync)]
        if args.floor:
            everyone.append(("floor", bench.floor))
        if args.only:
            wanted = args.only.split(",")
            everyone = [c for c in everyone if c[0].split("|")[0] in wanted or c[0] in wanted]
        for name in names:
            root = os.path.join(bench.send_home, name)
            SETS[name][1](root, scale, rng)
            files, size = tree_stats(root)
            print(f"\nSet {name}: {SETS[name][0]}{' (scaled)' if args.quick else ''}: "
                  f"{files} files, {size / 1e6:.1f} MB", flush=True)
            for link in links:
                if link is not None and name not in link_sets:
                    continue
                where = link.label if link else "loopback"
                # rsync talks to its daemon on loopback only.
                contestants = [c for c in everyone if link is None or c[0] != "rsync"]
                times = {c: [] for c, _ in contestants}
                for run in range(args.runs):
                    shift = run % len(contestants)
                    order = contestants[shift:] + contestants[:shift]
                    for label, method in order:
                        seconds = method(name, files, link)
                        times[label].append(seconds)
                        print(f"  {where:8s} run {run + 1} {label:13s} {seconds:8.3f} s  {size / 1e6 / seconds:8.1f} MB/s"
                              f"  {files / seconds:9.1f} files/s  (copy verified)", flush=True)
                du = du_seconds(root) if name == "S" and link is None else None
                results[(where, name)] = (files, size, {c: statistics.median(t) for c, t in times.items()}, du)
            # Only one set at a time in the sender's home, so the scans see just that set.
            os.makedirs(stash, exist_ok=True)
            os.rename(root, os.path.join(stash, name))
        for link in links:
            if link is not None:
                low, avg, high, mdev = link.ping()
                print(f"Link {link.label} at the end: ping round trip min/avg/max/mdev {low:.3f}/{avg:.3f}/"
                      f"{high:.3f}/{mdev:.3f} ms")
        complete = True
    except (BenchError, subprocess.CalledProcessError) as e:
        print(f"\nBENCHMARK FAILED: {e}", file=sys.stderr)
        return 1
    finally:
        bench.stop_rsyncd()
        for link in links:
            if link is not None:
                link.down()
                if complete and link.stats:
                    print(f"Emulator of {link.label}:\n  " + link.stats.replace("\n", "\n  "))
        shutil.rmtree(tmp, ignore_errors=True)

    report(results, links, bench)
    return 0


def report(results, links, bench):
    rtts = {l.label: l.rtt for l in links if l is not None}
    print("\nResults (medians; ratios are the contestant's speed over tar's, default socat and socat -b 4 MiB):")
    print("| link | round trip | set | contestant | seconds | MB/s | files/s | / tar | / tar -b4M |")
    print("|---|---|---|---|---|---|---|---|---|")
    targets = {("loopback", "L"): 0.8, ("loopback", "S"): 0.5, ("lan", "S"): 0.7, ("wifi", "S"): 0.5}
    verdicts = []
    for (where, name), (files, size, med, du) in results.items():
        rtt = f"{rtts[where][1]:.2f} ms" if where in rtts else "loopback"
        tar = med.get("tar|socat", float("nan"))
        big = med.get("tar|socat-b4M", float("nan"))
        for label, seconds in med.items():
            print(f"| {where} | {rtt} | {name} | {label} | {seconds:.3f} | {size / 1e6 / seconds:.1f} | "
                  f"{files / seconds:.0f} | {tar / seconds:.2f} | {big / seconds:.2f} |")
        if "Movanta" in med:
            strongest = min(tar, big)
            ratio = strongest / med["Movanta"]
            want = targets.get((where, name))
            verdict = f" (target >= {want}) {'met' if ratio >= want else 'NOT met'}" if want else ""
            verdicts.append(f"{where} {name}: Movanta / faster tar {ratio:.2f}{verdict}; / tar {tar / med['Movanta']:.2f},"
                            f" / tar -b4M {big / med['Movanta']:.2f}")
            if "Movanta-plain" in med:
                verdicts.append(f"{where} {name}: Movanta-plain / faster tar {strongest / med['Movanta-plain']:.2f}; "
                                f"encrypted reaches {med['Movanta-plain'] / med['Movanta']:.2f} of plain")
            if "floor" in med:
                verdicts.append(f"{where} {name}: the one-round-trip floor reaches {strongest / med['floor']:.2f} of the "
                                f"faster tar; Movanta reaches {med['floor'] / med['Movanta']:.2f} of the floor")
    print("\nTargets:")
    for v in verdicts:
        print("  " + v)
    if bench.idle_cpu is not None:
        print(f"  Sender page idle on the receiver list, 5 s: {bench.idle_cpu:.2f} % of one core (target < 2) "
              f"{'met' if bench.idle_cpu < 2 else 'NOT met'}")
    for side in ("sender", "receiver"):
        if bench.hwm[side]:
            peak = max(bench.hwm[side]) / 1024
            print(f"  Peak memory (VmHWM) of the {side} during L: {peak:.1f} MiB (target < 150) "
                  f"{'met' if peak < 150 else 'NOT met'}")
    if ("loopback", "S") in results and bench.scan_times:
        scans = [t for n, t in bench.scan_times if n == "S"]
        stalls = [t for n, t in bench.stalls if n == "S"]
        scan, du = statistics.median(scans), results[("loopback", "S")][3]
        print(f"  Selecting S: {scan:.3f} s vs du -s {du:.3f} s = {scan / du:.2f}x (target <= 3) "
              f"{'met' if scan <= 3 * du else 'NOT met'}; longest event-loop stall {max(stalls)} ms")


if __name__ == "__main__":
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)
    sys.exit(main())
