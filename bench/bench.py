#!/usr/bin/env python3
"""Migration benchmark: Movanta against a tar pipeline and rsync, on generated data, in one run.

Runs inside the private network namespace that bench/run.sh makes: the two wizards, the tar pipeline
and the rsync daemon all meet on loopback there. Every copy is compared with its source afterwards;
a difference fails the benchmark.
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


class BenchError(Exception):
    pass


class Peer:
    """One wizard process, spoken to by command lines; its own diagnostics are drained and dropped."""

    def __init__(self, program, role, home, work, wrap=""):
        env = dict(os.environ, HOME=home, QT_QPA_PLATFORM="offscreen")
        self.role = role
        # A profiler in front of the program, e.g. --wrap "strace -f -c -o /tmp/trace-{role}".
        prefix = wrap.format(role=role).split() if wrap else []
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
    def movanta(self, name, files):
        for d in (self.send_work, self.recv_work):
            shutil.rmtree(d, ignore_errors=True)
            os.makedirs(d)
        settle(os.path.join(self.recv_home, name))
        receiver = Peer(self.args.peer, "receiver", self.recv_home, self.recv_work, self.args.wrap)
        sender = None
        try:
            sender = Peer(self.args.peer, "sender", self.send_home, self.send_work, self.args.wrap)
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
            self.scan_times.append((name, float(fields[1])))
            self.stalls.append((name, int(fields[2])))
            if name == "L":
                sender.command("hwmreset", "reset")
                receiver.command("hwmreset", "reset")
            report = sender.command("start", "report").split()
            done = receiver.command("waitdone", "done")
            if report[2] != "2" or done != "done 0":
                raise BenchError(f"Movanta {name}: the migration did not finish: {report} / {done}")
            if report[3] != str(files) or report[4] != "0":
                raise BenchError(f"Movanta {name}: report says {report[3]} sent, {report[4]} failed; {files} expected")
            if name == "L":
                self.hwm["sender"].append(int(sender.command("hwm", "hwm").split()[1]))
                self.hwm["receiver"].append(int(receiver.command("hwm", "hwm").split()[1]))
            seconds = float(report[1])
        finally:
            if sender:
                sender.close()
            receiver.close()
        verify(os.path.join(self.send_home, name), os.path.join(self.recv_home, name), f"Movanta {name}")
        return seconds

    def tar(self, name, files):
        dst = self.tar_dst
        settle(dst)
        os.makedirs(dst)
        listener = subprocess.Popen(
            ["sh", "-c", f'socat -u TCP-LISTEN:{TAR_PORT},bind=127.0.0.1,reuseaddr - | tar -C "$1" -xf -', "sh", dst])
        try:
            wait_listening(TAR_PORT)
            start = time.perf_counter()
            subprocess.run(["sh", "-c", f'tar -C "$1" -cf - "$2" | socat -u - TCP:127.0.0.1:{TAR_PORT}',
                            "sh", self.send_home, name], check=True)
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

    def rsync(self, name, files):
        settle(self.rsync_dst)
        os.makedirs(self.rsync_dst)
        start = time.perf_counter()
        subprocess.run(["rsync", "-a", os.path.join(self.send_home, name),
                        f"rsync://127.0.0.1:{RSYNC_PORT}/dst/"], check=True)
        seconds = time.perf_counter() - start
        verify(os.path.join(self.send_home, name), os.path.join(self.rsync_dst, name), f"rsync {name}")
        return seconds


    def floor(self, name, files):
        """The same exchange as Movanta's (header, content, a result byte per file, temporary file and rename)
        with nothing else: what one result round trip per file allows on this machine."""
        dst = self.floor_dst
        settle(dst)
        os.makedirs(dst)
        receiver = subprocess.Popen([self.args.floor, "receive", str(FLOOR_PORT), dst])
        try:
            wait_listening(FLOOR_PORT)
            start = time.perf_counter()
            subprocess.run([self.args.floor, "send", str(FLOOR_PORT), self.send_home, name], check=True)
            if receiver.wait(timeout=900) != 0:
                raise BenchError(f"floor {name}: the receiving side failed")
            seconds = time.perf_counter() - start
        finally:
            if receiver.poll() is None:
                receiver.kill()
                receiver.wait()
        verify(os.path.join(self.send_home, name), os.path.join(dst, name), f"floor {name}")
        return seconds


def wait_listening(port, timeout=10.0):
    """Polls the kernel's table of listening sockets (a connect would use up the listener's one accept)."""
    deadline = time.monotonic() + timeout
    needle = f":{port:04X} "
    while time.monotonic() < deadline:
        with open("/proc/net/tcp") as f:
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


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--peer", required=True)
    parser.add_argument("--floor", default="", help="the one-round-trip floor program (contestant \"floor\")")
    parser.add_argument("--quick", action="store_true", help="sets at 1/8 of their size")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--sets", default="L,S,M")
    parser.add_argument("--only", default="", help="contestants to run, e.g. Movanta,tar (default: all)")
    parser.add_argument("--wrap", default="", help="command put in front of each wizard, {role} replaced")
    parser.add_argument("--tmp", default=None, help="folder for data and copies (default: a new temp folder)")
    args = parser.parse_args()
    scale = 0.125 if args.quick else 1.0
    names = [n for n in args.sets.split(",") if n]

    tmp = tempfile.mkdtemp(prefix="movanta-bench-", dir=args.tmp)
    bench = Bench(args, tmp)
    stash = os.path.join(tmp, "stash")
    rng = random.Random(20261208)
    results = {}
    print(f"Machine: {machine()}")
    print(f"Scale: {'quick (1/8 of each set)' if args.quick else 'full size'}; {args.runs} runs per contestant, "
          f"alternating; data in {tmp}", flush=True)
    try:
        bench.start_rsyncd()
        contestants = [("Movanta", bench.movanta), ("tar|socat", bench.tar), ("rsync", bench.rsync)]
        if args.floor:
            contestants.append(("floor", bench.floor))
        if args.only:
            wanted = args.only.split(",")
            contestants = [c for c in contestants if c[0].split("|")[0] in wanted]
        for name in names:
            root = os.path.join(bench.send_home, name)
            SETS[name][1](root, scale, rng)
            files, size = tree_stats(root)
            print(f"\nSet {name}: {SETS[name][0]}{' (scaled)' if args.quick else ''}: "
                  f"{files} files, {size / 1e6:.1f} MB", flush=True)
            times = {c: [] for c, _ in contestants}
            for run in range(args.runs):
                shift = run % len(contestants)
                order = contestants[shift:] + contestants[:shift]
                for label, method in order:
                    seconds = method(name, files)
                    times[label].append(seconds)
                    print(f"  run {run + 1} {label:10s} {seconds:8.3f} s  {size / 1e6 / seconds:8.1f} MB/s  "
                          f"{files / seconds:9.1f} files/s  (copy verified)", flush=True)
            du = du_seconds(root) if name == "S" else None
            results[name] = (files, size, {c: statistics.median(t) for c, t in times.items()}, du)
            # Only one set at a time in the sender's home, so the scans see just that set.
            os.makedirs(stash, exist_ok=True)
            os.rename(root, os.path.join(stash, name))
    except BenchError as e:
        print(f"\nBENCHMARK FAILED: {e}", file=sys.stderr)
        return 1
    finally:
        bench.stop_rsyncd()
        if not results or len(results) < len(names):
            shutil.rmtree(tmp, ignore_errors=True)

    print("\nResults (medians):")
    print(f"{'set':4s} {'contestant':10s} {'seconds':>8s} {'MB/s':>8s} {'files/s':>9s} {'ratio to tar':>12s}")
    targets = {"L": ("MB/s", 0.8), "S": ("files/s", 0.5), "M": ("MB/s", 0.7)}
    verdicts = []
    for name, (files, size, med, du) in results.items():
        tar_time = med.get("tar|socat", float("nan"))
        for label, seconds in med.items():
            ratio = tar_time / seconds
            print(f"{name:4s} {label:10s} {seconds:8.3f} {size / 1e6 / seconds:8.1f} {files / seconds:9.1f} "
                  f"{ratio:12.2f}")
        ratio = tar_time / med["Movanta"] if "Movanta" in med else float("nan")
        unit, want = targets[name]
        verdicts.append(f"{name}: Movanta/tar {unit} {ratio:.2f} (target >= {want}) "
                        f"{'met' if ratio >= want else 'NOT met'}")
        if "floor" in med and "Movanta" in med:
            verdicts.append(f"{name}: the one-round-trip floor reaches {tar_time / med['floor']:.2f} of tar; "
                            f"Movanta reaches {med['floor'] / med['Movanta']:.2f} of the floor")
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
    if "S" in results and bench.scan_times:
        scans = [t for n, t in bench.scan_times if n == "S"]
        stalls = [t for n, t in bench.stalls if n == "S"]
        scan, du = statistics.median(scans), results["S"][3]
        print(f"  Selecting S: {scan:.3f} s vs du -s {du:.3f} s = {scan / du:.2f}x (target <= 3) "
              f"{'met' if scan <= 3 * du else 'NOT met'}; longest event-loop stall {max(stalls)} ms")
    shutil.rmtree(tmp, ignore_errors=True)
    return 0


if __name__ == "__main__":
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)
    sys.exit(main())
