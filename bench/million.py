#!/usr/bin/env python3
"""A home of a million small files: selection against `du -s`, peak memory of both wizards, the report
page's opening time and the transfer rate against S's, all in one run.

Runs inside the private network namespace that bench/million.sh makes; both wizards meet on loopback.
"""
import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bench import BenchError, Peer, machine, make_small, reported_entries, settle, verify  # noqa: E402


def make_many(root, count, rng):
    """`count` files of 0 to 4 KiB in nested folders, as caches, mail and source trees have them: folders
    of 1 to 3 levels, 1 to 200 files each."""
    pool = rng.randbytes(64 * 1024)
    made = 0
    top = 0
    while made < count:
        top += 1
        for second in range(rng.randint(1, 30)):
            for third in range(rng.randint(0, 12) or 1):
                parts = [f"area {top:04d}", f"sub{second:02d}"] + ([f"leaf{third:02d}"] if third else [])
                folder = os.path.join(root, *parts)
                os.makedirs(folder, exist_ok=True)
                for i in range(min(rng.randint(1, 200), count - made)):
                    size = rng.randint(0, 4096)
                    at = rng.randrange(0, len(pool) - size + 1)
                    fd = os.open(os.path.join(folder, f"item{i:03d}.dat"), os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644)
                    os.write(fd, pool[at:at + size])
                    os.close(fd)
                    made += 1
                if made >= count:
                    return


def tree_stats(root):
    files = total = 0
    for folder, _, names in os.walk(root):
        for name in names:
            files += 1
            total += os.lstat(os.path.join(folder, name)).st_size
    return files, total


def du_seconds(path, runs=3):
    subprocess.run(["du", "-s", path], check=True, stdout=subprocess.DEVNULL)  # same warm caches as the scan
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(["du", "-s", path], check=True, stdout=subprocess.DEVNULL)
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def migrate(peer, send_home, recv_home, work, wrap):
    """One migration of everything in `send_home` through the real pages; returns the figures."""
    send_work, recv_work = os.path.join(work, "send-work"), os.path.join(work, "recv-work")
    for d in (send_work, recv_work):
        shutil.rmtree(d, ignore_errors=True)
        os.makedirs(d)
    figures = {}
    receiver = Peer(peer, "receiver", recv_home, recv_work, wrap)
    sender = None
    try:
        sender = Peer(peer, "sender", send_home, send_work, wrap)
        receiver.command("role", "ok")
        sender.command("role", "ok")
        receiver.command("settle", "settled")
        sender.command("settle", "settled")
        figures["idle_kib"] = (int(sender.command("hwm", "hwm").split()[1]),
                               int(receiver.command("hwm", "hwm").split()[1]))
        sender.command("cards", "cards", 60)
        sender.command("click", "pairing")
        code = receiver.command("code", "code ").split()[1]
        sender.command("type " + code, "selecting")
        fields = sender.command("select", "selected", 1800).split()
        figures["scan"] = float(fields[1])
        figures["scan_stall_ms"] = int(fields[2])
        figures["after_scan_kib"] = int(sender.command("hwm", "hwm").split()[1])
        report = sender.command("start", "report", 7200).split()
        done = receiver.command("waitdone", "done", 600)
        if report[2] != "2" or done != "done 0":
            raise BenchError(f"the migration did not finish: {report} / {done}")
        figures["seconds"] = float(report[1])
        figures["sent"], figures["failed"] = int(report[3]), int(report[4])
        figures["report_open_ms"] = float(report[5]) if len(report) > 5 else float("nan")
        figures["transfer_stall_ms"] = int(report[6]) if len(report) > 6 else -1
        figures["peak_kib"] = (int(sender.command("hwm", "hwm").split()[1]),
                               int(receiver.command("hwm", "hwm").split()[1]))
    finally:
        if sender:
            sender.close()
        receiver.close()
    return figures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--peer", required=True)
    parser.add_argument("--files", type=int, default=1000000)
    parser.add_argument("--tmp", default=None, help="folder for data and copies (default: a new temp folder)")
    parser.add_argument("--wrap", default="", help="command put in front of each wizard, {role} replaced")
    parser.add_argument("--skip-s", action="store_true", help="no S run to compare the rate with")
    args = parser.parse_args()
    if args.tmp:
        os.makedirs(args.tmp, exist_ok=True)
    work = tempfile.mkdtemp(prefix="movanta-million-", dir=args.tmp)
    rng = random.Random(20261208)
    print(f"Machine: {machine()}")
    print(f"Data in {work}", flush=True)
    try:
        many_home, s_home = os.path.join(work, "send-many"), os.path.join(work, "send-s")
        recv_many, recv_s = os.path.join(work, "recv-many"), os.path.join(work, "recv-s")
        for d in (many_home, s_home, recv_many, recv_s):
            os.makedirs(d)
        start = time.perf_counter()
        make_many(os.path.join(many_home, "Many"), args.files, rng)
        files, size = tree_stats(os.path.join(many_home, "Many"))
        print(f"Home of {files} files, {size / 1e6:.1f} MB, made in {time.perf_counter() - start:.0f} s", flush=True)
        subprocess.run(["sync"], check=True)
        du = du_seconds(many_home)
        print(f"du -s: {du:.3f} s (median of 3, warm)", flush=True)

        s_rate = None
        if not args.skip_s:
            make_small(os.path.join(s_home, "S"), 1.0, rng)
            settle(os.path.join(recv_s, "S"))
            s = migrate(args.peer, s_home, recv_s, work, args.wrap)
            verify(os.path.join(s_home, "S"), os.path.join(recv_s, "S"), "Movanta S")
            s_rate = 20000 / s["seconds"]
            print(f"S: 20000 files in {s['seconds']:.3f} s = {s_rate:.0f} files/s (copy verified)", flush=True)
            shutil.rmtree(os.path.join(recv_s, "S"), ignore_errors=True)
            settle(os.path.join(recv_s, "S"))

        m = migrate(args.peer, many_home, recv_many, work, args.wrap)
        entries = reported_entries(os.path.join(many_home, "Many"))
        if m["sent"] != entries or m["failed"] != 0:
            raise BenchError(f"report says {m['sent']} sent, {m['failed']} failed; {entries} expected "
                             f"({files} files and their folders)")
        got_files, got_size = tree_stats(os.path.join(recv_many, "Many"))
        if (got_files, got_size) != (files, size):
            raise BenchError(f"the copy has {got_files} files, {got_size} bytes; {files}, {size} expected")
        rate = files / m["seconds"]
        send_peak, recv_peak = (k / 1024 for k in m["peak_kib"])
        send_idle, recv_idle = (k / 1024 for k in m["idle_kib"])
        print(f"\nMillion: {files} files in {m['seconds']:.1f} s = {rate:.0f} files/s (count and bytes of the copy "
              f"checked)")
        print(f"  Selecting: {m['scan']:.3f} s vs du -s {du:.3f} s = {m['scan'] / du:.2f}x (target <= 3) "
              f"{'met' if m['scan'] <= 3 * du else 'NOT met'}; longest event-loop stall {m['scan_stall_ms']} ms "
              f"(target <= 100) {'met' if m['scan_stall_ms'] <= 100 else 'NOT met'}")
        print(f"  Sender peak memory after the scan: {m['after_scan_kib'] / 1024:.1f} MiB "
              f"(at rest before it: {send_idle:.1f} MiB)")
        for side, peak, idle in (("sender", send_peak, send_idle), ("receiver", recv_peak, recv_idle)):
            per_file = (peak - idle) * 1024 * 1024 / files
            print(f"  Peak memory of the {side}: {peak:.1f} MiB (target < 300) {'met' if peak < 300 else 'NOT met'}; "
                  f"{per_file:.0f} bytes per file above its {idle:.1f} MiB at rest")
        print(f"  Report page open after the last result: {m['report_open_ms']:.0f} ms (target <= 1000) "
              f"{'met' if m['report_open_ms'] <= 1000 else 'NOT met'}; longest event-loop stall during the "
              f"transfer {m['transfer_stall_ms']} ms")
        if s_rate:
            print(f"  Rate: {rate:.0f} files/s vs S {s_rate:.0f} files/s = {rate / s_rate:.2f} of S's rate")
    except BenchError as e:
        print(f"\nBENCHMARK FAILED: {e}", file=sys.stderr)
        return 1
    finally:
        start = time.perf_counter()
        shutil.rmtree(work, ignore_errors=True)
        print(f"(data removed in {time.perf_counter() - start:.0f} s)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
