#!/usr/bin/env python3
"""Side-by-side runs of httpget, curl and the bare receive loop against Debian's nginx on loopback.

Starts nginx with a configuration of its own in a temporary folder, on a free
high port, makes the test files, and runs each case in interleaved rounds
(the programs' order rotating from round to round), so that all see the same
load. Reports medians of wall time, CPU time (user + system) and peak
resident memory, the ratio httpget / curl, and for the large bodies the ratio
httpget / limit, the limit being the bare receive loop (bareloop.c). See
README.md.
"""
import argparse
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

NGINX_CONF = """\
{user}
worker_processes 1;
daemon off;
pid {tmp}/nginx.pid;
error_log {tmp}/error.log warn;
events {{ worker_connections 64; }}
http {{
    access_log off;
    client_body_temp_path {tmp}/body;
    proxy_temp_path {tmp}/proxy;
    fastcgi_temp_path {tmp}/fastcgi;
    uwsgi_temp_path {tmp}/uwsgi;
    scgi_temp_path {tmp}/scgi;
    default_type application/octet-stream;
    sendfile on;
    keepalive_requests 1000000;
    keepalive_timeout 60s;
    server {{
        listen 127.0.0.1:{port};
        root {tmp}/www;
        # The same files, chunked: the substitution filter (which never
        # matches here) makes nginx drop Content-Length and send the body
        # in chunked transfer coding, as it passes the file through.
        location /chunked/ {{
            alias {tmp}/www/;
            sub_filter_types *;
            sub_filter_once off;
            sub_filter 'kestrin-bench-no-match' '';
        }}
    }}
}}
"""

HOSTILE = b"HTTP/1.1 200 OK\r\nContent-Length: 2147483647\r\n\r\n0123456789"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_port(port, seconds=10):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return
        except OSError:
            time.sleep(0.05)
    sys.exit("nginx did not start; see its error.log")


def hostile_server():
    """Answers each connection with a Content-Length of 2^31-1, 10 bytes, then closes."""
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)

    def serve():
        while True:
            try:
                conn, _ = listener.accept()
            except OSError:
                return
            with conn:
                conn.settimeout(5)
                try:
                    data = b""
                    while b"\r\n\r\n" not in data:
                        chunk = conn.recv(4096)
                        if not chunk:
                            break
                        data += chunk
                    conn.sendall(HOSTILE)
                except OSError:
                    pass

    threading.Thread(target=serve, daemon=True).start()
    return listener


def run(argv):
    """Runs one program; returns wall s, CPU s, peak KiB, exit status, stderr.

    GNU time reports the peak resident memory of the program alone (a child
    of this script would count this script's own memory, which the child
    shares until it execs); wait4 gives the CPU time of time and the program
    in microseconds, time's own share being a fraction of a millisecond.
    """
    with tempfile.TemporaryFile() as err, tempfile.NamedTemporaryFile("r") as peak:
        start = time.perf_counter()
        p = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", peak.name] + argv,
                             stdout=subprocess.DEVNULL, stderr=err)
        _, status, usage = os.wait4(p.pid, 0)
        wall = time.perf_counter() - start
        p.returncode = os.waitstatus_to_exitcode(status)
        err.seek(0)
        text = err.read().decode(errors="replace")
        lines = peak.read().split()
        peak_kib = int(lines[-1]) if lines else 0
    return wall, usage.ru_utime + usage.ru_stime, peak_kib, p.returncode, text


def rounds(name, programs, count):
    """Runs `count` rounds of every program in `programs` (a list of (name,
    argv)); the order rotates and turns from round to round, so that no
    program always runs first or right after the same other one."""
    results = {who: [] for who, _ in programs}
    for i in range(count):
        shift = (i // 2) % len(programs)
        order = programs[shift:] + programs[:shift]
        if i % 2:
            order.reverse()
        for who, argv in order:
            results[who].append(run(argv))
    return name, results


def pairs(name, httpget, curl, count, limit=None, baseline=None):
    programs = [("httpget", httpget), ("curl", curl)]
    if limit:
        programs.append(("limit", limit))
    if baseline:
        programs.append(("baseline", baseline))
    return rounds(name, programs, count)


def median(values):
    return statistics.median(values)


def round_ratio(results, a, b, field):
    """Median of the per-round ratios a / b: each round's programs ran next
    to each other, so this follows a load that drifts during the case."""
    return median([x[field] / y[field] for x, y in zip(results[a], results[b])])


def report(name, results, requests=None):
    print(f"\n== {name}")
    med = {}
    for who in results:
        runs = results[who]
        wall = median([r[0] for r in runs])
        cpu = median([r[1] for r in runs])
        peak = median([r[2] for r in runs]) / 1024
        statuses = sorted({r[3] for r in runs})
        med[who] = (wall, cpu, peak)
        line = f"  {who:8} wall {wall * 1000:9.1f} ms  cpu {cpu * 1000:9.1f} ms  peak {peak:7.1f} MiB  exit {statuses}"
        if requests:
            line += f"  {requests / wall:8.0f} req/s  {cpu / requests * 1e6:6.1f} us cpu/req"
        print(line)
        last_err = runs[-1][4].strip()
        if last_err:
            print(f"           stderr: {last_err.splitlines()[-1][:100]}")
    h, c = med["httpget"], med["curl"]
    print(f"  ratio httpget/curl: wall {h[0] / c[0]:.2f}  cpu {h[1] / c[1]:.2f}  peak {h[2] / c[2]:.2f}")
    if "limit" in med:
        l = med["limit"]
        print(f"  ratio httpget/limit: wall {h[0] / l[0]:.2f} (median of round ratios "
              f"{round_ratio(results, 'httpget', 'limit', 0):.2f})  cpu {h[1] / l[1]:.2f}")
    if "baseline" in med:
        b = med["baseline"]
        print(f"  ratio httpget/baseline: wall {h[0] / b[0]:.2f} (median of round ratios "
              f"{round_ratio(results, 'httpget', 'baseline', 0):.2f})  cpu {h[1] / b[1]:.2f}")


def report_sizes(name, results, sizes, reference):
    """The sizes case: each program's medians, and every figure as a ratio
    to the limit at the reference size and at the same size."""
    print(f"\n== {name}")
    ref = median([r[0] for r in results[f"limit {reference}"]])
    for who, runs in results.items():
        wall = median([r[0] for r in runs])
        cpu = median([r[1] for r in runs])
        line = f"  {who:15} wall {wall * 1000:8.1f} ms  cpu {cpu * 1000:8.1f} ms  / limit {reference}: {wall / ref:.2f}"
        if who.startswith("httpget"):
            same = "limit " + who.split()[1]
            line += f"  / {same}: {round_ratio(results, who, same, 0):.2f}"
        print(line + f"  exit {sorted({r[3] for r in runs})}")


def receive_calls(argv, tmp):
    """Receive system calls of one run of argv, counted by strace -c."""
    out = os.path.join(tmp, "strace.txt")
    subprocess.run(["strace", "-f", "-c", "-e", "trace=recvfrom,recvmsg,read", "-o", out] + argv,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    calls = 0
    with open(out) as f:
        for line in f:
            fields = line.split()
            if fields and fields[-1] in ("recvfrom", "recvmsg", "read") and fields[3].isdigit():
                calls += int(fields[3])
    return calls


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--httpget", default=os.path.join(here, "..", "build", "bench", "tools", "httpget", "httpget"))
    parser.add_argument("--bareloop", default=os.path.join(here, "..", "build", "bench", "bench", "bareloop"))
    parser.add_argument("--limit-recv", type=int, default=65536,
                        help="the bare loop's receive size (its fastest here, README.md)")
    parser.add_argument("--sizes", default="16384,32768,65536,131072,262144",
                        help="receive sizes of the sizes case")
    parser.add_argument("--baseline", help="another httpget (an earlier build, say) to run beside the others")
    parser.add_argument("--curl", default="curl")
    parser.add_argument("--nginx", default="/usr/sbin/nginx")
    parser.add_argument("--pairs", type=int, default=7)
    parser.add_argument("--size-mib", type=int, default=256)
    parser.add_argument("--requests", type=int, default=10000)
    parser.add_argument("--cases", default="length,chunked,keepalive,hostile",
                        help="of length, chunked, keepalive, hostile, sizes, receives")
    args = parser.parse_args()
    cases = args.cases.split(",")
    httpget = os.path.abspath(args.httpget)
    bareloop = os.path.abspath(args.bareloop)
    for program in (httpget, bareloop):
        if not os.access(program, os.X_OK):
            sys.exit(f"no program at {program}; build it first (README.md)")

    tmp = tempfile.mkdtemp(prefix="kestrin-bench-")
    nginx = None
    try:
        www = os.path.join(tmp, "www")
        os.mkdir(www)
        with open(os.path.join(www, "big.bin"), "wb") as f:
            block = os.urandom(1 << 20)
            for _ in range(args.size_mib):
                f.write(block)
        with open(os.path.join(www, "1k.bin"), "wb") as f:
            f.write(os.urandom(1024))
        port = free_port()
        with open(os.path.join(tmp, "nginx.conf"), "w") as f:
            f.write(NGINX_CONF.format(tmp=tmp, port=port, user="user root;" if os.geteuid() == 0 else ""))
        nginx = subprocess.Popen([args.nginx, "-p", tmp, "-c", os.path.join(tmp, "nginx.conf"), "-e",
                                  os.path.join(tmp, "error.log")])
        wait_for_port(port)
        base = f"http://127.0.0.1:{port}"
        hostile = hostile_server()
        hostile_url = f"http://127.0.0.1:{hostile.getsockname()[1]}/"

        # The bodies arrive whole, and the chunked location really is chunked.
        for path in ("/big.bin", "/chunked/big.bin"):
            out = os.path.join(tmp, "out.bin")
            subprocess.run([httpget, "-o", out, base + path], check=True)
            if subprocess.run(["cmp", "-s", out, os.path.join(www, "big.bin")]).returncode:
                sys.exit(f"httpget's body of {path} differs from the file")
            os.remove(out)
        head = subprocess.run([args.curl, "-s", "-D", "-", "-o", "/dev/null", base + "/chunked/big.bin"],
                              capture_output=True, text=True).stdout
        if "chunked" not in head.lower():
            sys.exit("the chunked location answered without chunked coding")

        def limit(path, size=args.limit_recv):
            return [bareloop, "127.0.0.1", str(port), path, str(size)]

        def baseline(path):
            return [os.path.abspath(args.baseline), base + path] if args.baseline else None

        print(f"load before: {os.getloadavg()}  cpus: {os.cpu_count()}  pairs: {args.pairs}")
        print(f"the limit: bareloop with {args.limit_recv}-byte receives")
        if "length" in cases:
            report(*pairs(f"{args.size_mib} MiB with Content-Length to /dev/null",
                          [httpget, base + "/big.bin"], [args.curl, "-s", base + "/big.bin"], args.pairs,
                          limit("/big.bin"), baseline("/big.bin")))
        if "chunked" in cases:
            report(*pairs(f"{args.size_mib} MiB chunked to /dev/null",
                          [httpget, base + "/chunked/big.bin"], [args.curl, "-s", base + "/chunked/big.bin"],
                          args.pairs, limit("/chunked/big.bin"), baseline("/chunked/big.bin")))
        if "sizes" in cases:
            sizes = [int(v) for v in args.sizes.split(",")]
            for title, path in (("Content-Length", "/big.bin"), ("chunked", "/chunked/big.bin")):
                programs = [(f"limit {v}", limit(path, v)) for v in sizes]
                programs += [(f"httpget {v}", [httpget, "--recv-size", str(v), base + path]) for v in sizes]
                report_sizes(*rounds(f"{args.size_mib} MiB {title}, by receive size", programs, args.pairs),
                             sizes, args.limit_recv)
        if "receives" in cases:
            # Receive counts depend on the pace of both ends (a slower reader
            # finds more bytes queued per receive), so the programs take turns
            # and the median of three runs is given.
            print(f"\n== receives per 64 MiB (strace -f -c: recvfrom + recvmsg + read calls, median of 3)")
            for title, path in (("Content-Length", "/big.bin"), ("chunked", "/chunked/big.bin")):
                programs = [("httpget", [httpget, base + path]), ("curl", [args.curl, "-s", base + path]),
                            ("limit", limit(path))]
                if args.baseline:
                    programs.append(("baseline", baseline(path)))
                counts = {who: [] for who, _ in programs}
                for _ in range(3):
                    for who, argv in programs:
                        counts[who].append(receive_calls(argv, tmp))
                for who, _ in programs:
                    print(f"  {title:15} {who:8} {median(counts[who]) * 64 / args.size_mib:9.0f}")
        if "keepalive" in cases:
            n = args.requests
            report(*pairs(f"{n} keep-alive GETs of 1 KiB on one connection",
                          [httpget, "-n", str(n), base + "/1k.bin"],
                          [args.curl, "-s", f"{base}/1k.bin?[1-{n}]"], args.pairs), requests=n)
        if "hostile" in cases:
            report(*pairs("Content-Length 2^31-1, 10 bytes, close",
                          [httpget, hostile_url], [args.curl, "-sS", hostile_url], args.pairs))
        print(f"\nload after: {os.getloadavg()}")
    finally:
        if nginx:
            nginx.terminate()
            nginx.wait()
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    main()
