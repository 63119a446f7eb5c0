#!/usr/bin/env python3
"""Install benchmark: prints figures, passes or fails only on a wrong install.

    bash bench/run.sh [--size MiB] [--runs N] [--no-download]   (default 300 MiB, 5 runs)

Generates a deterministic client (nested folders with Chinese names and
spaces; incompressible, text and executable-like files, mostly small, a few
large), packs it with mkinstaller from build-x64 (payload in the resource and
--zip-beside, each also with --plain-client), and measures on tmpfs with one persistent wineserver, runs
alternating after a warm-up: `setup.exe silent` for both packages, `xcopy /E`
of the tree under Wine (the floor) and native `unzip` of a plain deflated zip
of the tree (a reference outside Wine). Every install is compared byte for
byte with the client; a mismatch stops the run with an error. Besides the
wall time, each row shows the CPU time of the process and of the wineserver
during the run: where the time went, on a machine of few cores.

The download way: the same client served by a private nginx on 127.0.0.1
(its own config, pid, logs and temp folders in a scratch folder; stopped at
the end however the run ends), with the update.xml that mkinstaller writes
for it, and a package without the client, so the installer fetches every
file by the manifest. Its reference is native curl fetching the same URLs
one after another in one process over one kept-alive connection. Without
nginx the download rows are skipped and the run says so.
"""
import argparse, filecmp, hashlib, os, random, re, shutil, signal, socket, statistics, subprocess, sys, time, zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build-x64")
NAMES = ["数据", "资源 包", "地图", "Sound FX", "界面 UI", "模型", "脚本", "配置 文件", "角色", "Textures"]


def make_client(dest, size_mib, seed=13):
    rng = random.Random(seed)
    total = size_mib << 20
    # 300 MiB: 3,000 files. The installer records at most 10,000 entries,
    # files and folders, so larger clients have larger files, as real ones do.
    files = min(max(30, size_mib * 10), 8000)
    big = [total * f // 100 for f in (12, 9, 7, 5)]  # a few large files: a third
    small_total = total - sum(big)
    folders = [""]
    for i in range(max(6, files // 50)):
        parent = rng.choice(folders)
        folders.append(os.path.join(parent, f"{rng.choice(NAMES)} {i}") if parent.count(os.sep) < 4
                       else rng.choice(NAMES) + f" {i}")
    words = ("角色 等级 技能 装备 任务 地图 monster item quest level skill 攻击 防御 " * 4).split()
    sizes = [rng.paretovariate(1.3) for _ in range(files - len(big))]
    scale = small_total / sum(sizes)
    sizes = [max(1, int(s * scale)) for s in sizes] + big
    for n, size in enumerate(sizes):
        folder = os.path.join(dest, rng.choice(folders))
        os.makedirs(folder, exist_ok=True)
        kind = rng.random()
        path = os.path.join(folder, f"文件 {n}")
        with open(path + (".pak" if kind < 0.41 else ".txt" if kind < 0.8 else ".dll"), "wb") as f:
            left = size
            while left > 0:
                piece = min(left, 1 << 20)
                if kind < 0.41:  # incompressible
                    f.write(rng.randbytes(piece))
                elif kind < 0.8:  # text
                    line = (" ".join(rng.choice(words) for _ in range(12)) + "\n").encode()
                    f.write((line * (piece // len(line) + 1))[:piece])
                else:  # executable-like: code-ish bytes, tables and zero runs
                    block = rng.randbytes(256) + bytes(512) + bytes(range(256)) * 2
                    f.write((block * (piece // len(block) + 1))[:piece])
                left -= piece
    shutil.copy(os.path.join(BUILD, "sample", "client", "client.exe"), os.path.join(dest, "client.exe"))


def tree_bytes(path):
    return sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(path) for f in fs)


def verify(expected, actual, what):
    bad = []
    for d, _, fs in os.walk(expected):
        for f in fs:
            a = os.path.join(d, f)
            b = os.path.join(actual, os.path.relpath(a, expected))
            if not os.path.exists(b) or not filecmp.cmp(a, b, shallow=False):
                bad.append(os.path.relpath(a, expected))
    if bad:
        sys.exit(f"MISMATCH after {what}: {len(bad)} files differ or are missing, e.g. {bad[:3]}")


def wineserver_cpu():
    """CPU seconds the running wineservers have used so far (the prefix's own
    is the only one during a run); Wine's file calls spend time there."""
    tick = os.sysconf("SC_CLK_TCK")
    total = 0.0
    for pid in os.listdir("/proc"):
        try:
            with open(f"/proc/{pid}/stat") as f:
                stat = f.read()
        except (OSError, ValueError):
            continue
        name, rest = stat[stat.index("(") + 1:stat.rindex(")")], stat[stat.rindex(")") + 2:].split()
        if name.startswith("wineserver"):
            total += (int(rest[11]) + int(rest[12])) / tick  # utime, stime
    return total


def timed(cmd, env):
    """Wall seconds, peak RSS MiB, the process's CPU seconds and the
    wineserver's CPU seconds during the run."""
    served = wineserver_cpu()
    start = time.monotonic()
    p = subprocess.Popen(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(p.pid, 0)
    wall = time.monotonic() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"FAILED: {' '.join(cmd)} exited with {os.waitstatus_to_exitcode(status)}")
    # MiB; the wine process is the Windows process
    return wall, usage.ru_maxrss / 1024.0, usage.ru_utime + usage.ru_stime, wineserver_cpu() - served


def nginx_program():
    return shutil.which("nginx") or next((p for p in ("/usr/sbin/nginx",) if os.access(p, os.X_OK)), None)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Nginx:
    """A private nginx in the foreground: root is the client, plus /update.xml.

    nginx turns %XX in the request into bytes and opens that name as it is,
    so the UTF-8 names on disk are what the percent-encoded URLs reach; no
    charset conversion is involved."""

    def __init__(self, program, scratch, root, manifest):
        self.program, self.scratch, self.root, self.manifest = program, scratch, root, manifest
        self.port = free_port()
        self.proc = None

    def config(self):
        s = self.scratch
        # As root the workers would drop to nobody; they stay who we are.
        user = "user root;\n" if os.geteuid() == 0 else ""
        return f"""{user}daemon off;
worker_processes 1;
pid "{s}/nginx.pid";
error_log "{s}/error.log" warn;
events {{ worker_connections 64; }}
http {{
    # Time and connection of every request: how the client used its connections.
    log_format timing "$msec $connection";
    access_log "{s}/access.log" timing;
    types {{ }}
    default_type application/octet-stream;
    sendfile on;
    tcp_nopush on;
    tcp_nodelay on;
    keepalive_requests 1000000;
    keepalive_timeout 120s;
    client_body_temp_path "{s}/body";
    proxy_temp_path "{s}/proxy";
    fastcgi_temp_path "{s}/fastcgi";
    uwsgi_temp_path "{s}/uwsgi";
    scgi_temp_path "{s}/scgi";
    server {{
        listen 127.0.0.1:{self.port};
        server_name localhost;
        root "{self.root}";
        location = /update.xml {{ alias "{self.manifest}"; }}
    }}
}}
"""

    def start(self):
        os.makedirs(self.scratch, exist_ok=True)
        conf = os.path.join(self.scratch, "nginx.conf")
        with open(conf, "w") as f:
            f.write(self.config())
        log = os.path.join(self.scratch, "error.log")
        self.proc = subprocess.Popen([self.program, "-p", self.scratch, "-c", conf, "-e", log],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
        for _ in range(100):
            if self.proc.poll() is not None:
                break
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=0.2).close()
                return
            except OSError:
                time.sleep(0.05)
        self.stop()
        with open(log, errors="replace") as f:
            sys.exit(f"nginx did not start on port {self.port}:\n{f.read()[-2000:]}")

    def take_log(self):
        """(requests, connections, median seconds between requests on one
        connection) since the last call; the log starts again empty."""
        log = os.path.join(self.scratch, "access.log")
        with open(log) as f:
            rows = [line.split() for line in f if line.strip()]
        open(log, "w").close()  # nginx appends, so it goes on at the new end
        times = {}
        for stamp, connection in rows:
            times.setdefault(connection, []).append(float(stamp))
        gaps = [b - a for ts in times.values() for a, b in zip(ts, ts[1:])]
        return len(rows), len(times), statistics.median(gaps) if gaps else 0.0

    def stop(self):
        if not self.proc or self.proc.poll() is not None:
            return
        self.proc.terminate()  # fast shutdown of the master and its worker
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


def time_to_window(cmd, env, limit=30.0):
    """Seconds from the start of a program until it shows a window at least
    300 pixels wide on the display; the program is killed then."""
    start = time.monotonic()
    p = subprocess.Popen(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        while time.monotonic() - start < limit:
            found = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(p.pid), "--name", "."],
                                   env=env, capture_output=True, text=True).stdout.split()
            for window in found:
                shape = subprocess.run(["xdotool", "getwindowgeometry", "--shell", window], env=env,
                                       capture_output=True, text=True).stdout
                width = re.search(r"WIDTH=(\d+)", shape)
                if width and int(width.group(1)) >= 300:
                    return time.monotonic() - start
            time.sleep(0.005)
        sys.exit(f"FAILED: no window from {' '.join(cmd)} within {limit:.0f} s")
    finally:
        p.kill()
        p.wait()


def manifest_items(path):
    """(url, file) of every entry of an update.xml (UTF-16, no escapes)."""
    with open(path, "rb") as f:
        text = f.read().decode("utf-16")
    items = []
    for item in re.findall(r"<item\b([^>]*)/>", text):
        attrs = dict(re.findall(r'(\w+)="([^"]*)"', item))
        items.append((attrs["url"], attrs["file"].replace("\\", "/")))
    return items


def curl_config(items, dest):
    """One curl config: every URL and its output, fetched in turn on one connection."""
    quote = lambda v: '"' + v.replace("\\", "\\\\").replace('"', '\\"') + '"'
    return "".join(f"url = {quote(u)}\noutput = {quote(os.path.join(dest, f))}\n" for u, f in items)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--size", type=int, default=300, help="client size in MiB (30, 300, 1024, 5120)")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--no-download", action="store_true", help="skip the download way (nginx vs curl)")
    ap.add_argument("--beside-only", action="store_true",
                    help="only the --zip-beside package (a client too large for a resource, e.g. --size 5120)")
    args = ap.parse_args()
    # A stop by signal still goes through the finally that ends nginx.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("stopped (SIGTERM)"))
    work = os.environ["BENCH_WORK"]  # set up by run.sh, with the session
    prefix = os.environ["WINEPREFIX"]
    wine = os.environ.get("SKIN_WINE", "wine")
    env = dict(os.environ, SAMPLE_CLIENT_CLOSE_AFTER="500")
    for k in [k for k in env if k.lower() in ("http_proxy", "https_proxy", "all_proxy")]:
        del env[k]  # WinINet under Wine and curl would both go through it
    client = os.path.join(work, "client")
    print(f"generating a {args.size} MiB client ...", flush=True)
    make_client(client, args.size)
    nfiles = sum(len(fs) for _, _, fs in os.walk(client))
    installed = tree_bytes(client)
    mib = installed / 1048576

    i686 = os.environ.get("BENCH_I686", "unknown")
    app = os.path.join(ROOT, "sample", "app.txt")

    def mkinstaller(*flags):
        subprocess.run([os.path.join(ROOT, "tools", "mkinstaller"), *flags],
                       env=dict(env, MKINSTALLER_EXE=os.path.join(BUILD, "bin", "mkinstaller.exe")), check=True,
                       stdout=subprocess.DEVNULL)

    def package(out, config, extra):
        os.makedirs(os.path.dirname(out))
        mkinstaller("--stub", os.path.join(BUILD, "bin", "installer.exe"), "--config", config,
                    "--skin", os.path.join(ROOT, "sample", "skin"), "--out", out, *extra)
        return out

    nginx = None
    try:
        pkg = {}
        # Each way twice: the client's entries with the archive password (the
        # default) and without it (--plain-client; NSIS has no such password).
        packages = [("beside", ["--zip-beside"])] if args.beside_only else [("resource", []), ("beside", ["--zip-beside"])]
        packages += [(name + "-plain", extra + ["--plain-client"]) for name, extra in packages]
        for name, extra in packages:
            pkg[name] = package(os.path.join(work, name, "setup.exe"), app, ["--client", client] + extra)
        sizes = {name: os.path.getsize(path) + (os.path.getsize(path[:-3] + "zip") if "beside" in name else 0)
                 for name, path in pkg.items()}
        plainzip = os.path.join(work, "plain.zip")
        with zipfile.ZipFile(plainzip, "w", zipfile.ZIP_DEFLATED, compresslevel=6) as z:
            for d, _, fs in os.walk(client):
                for f in fs:
                    z.write(os.path.join(d, f), os.path.relpath(os.path.join(d, f), client))

        target = os.path.join(prefix, "drive_c", "Program Files", "XingChen", "starfall")
        copyto = os.path.join(prefix, "drive_c", "copy")
        unzipto = os.path.join(work, "unzipped")

        def reset():
            for p in (target, copyto, unzipto) + ((curlto,) if download else ()):
                shutil.rmtree(p, ignore_errors=True)
            for key in (r"HKLM\Software\XingChen", r"HKCU\Software\XingChen",
                        r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\XingChenstarfall"):
                subprocess.run([wine, "reg", "delete", key, "/f"], env=env, capture_output=True)

        download = None
        program = nginx_program()
        if args.no_download:
            skipped = "skipped (--no-download)"
        elif not program:
            skipped = "skipped: nginx is not installed (apt-get install nginx-light; bench/run.sh does it as root)"
        else:
            # The manifest as mkinstaller writes it for the client, and a
            # package without the client whose configuration points at it.
            manifest = os.path.join(work, "served", "update.xml")
            os.makedirs(os.path.dirname(manifest))
            nginx = Nginx(program, os.path.join(work, "nginx"), client, manifest)
            base = f"http://127.0.0.1:{nginx.port}/"
            mkinstaller("--manifest", "--client", client, "--base-url", base, "--config", app, "--out", manifest)
            with open(app, encoding="utf-8-sig") as f:
                text, n = re.subn(r"(?m)^config=[^;]*;", f"config={base}update.xml;", f.read())
            if n != 1:
                sys.exit(f"{app}: no config= line to point at the local server")
            dlapp = os.path.join(work, "download-app.txt")
            with open(dlapp, "w", encoding="utf-8", newline="") as f:
                f.write(text)
            pkg["download"] = package(os.path.join(work, "download", "setup.exe"), dlapp, [])
            items = manifest_items(manifest)
            if len(items) != nfiles:
                sys.exit(f"{manifest}: {len(items)} entries for {nfiles} files")
            curlto = os.path.join(work, "curl")
            curlrc = os.path.join(work, "curl.rc")
            with open(curlrc, "w", encoding="utf-8") as f:
                f.write(curl_config(items, curlto))
            nginx.start()
            nginx.take_log()
            download = ("setup.exe silent (download, nginx)", "native curl, one connection")

        titles = {"resource": "setup.exe silent (resource)", "beside": "setup.exe silent (--zip-beside)",
                  "resource-plain": "setup.exe silent (resource, --plain-client)",
                  "beside-plain": "setup.exe silent (--zip-beside, --plain-client)"}
        ways = {titles[name]: ((lambda path=path: [wine, path, "silent"]), target)
                for name, path in pkg.items() if name in titles}
        ways.update({
            # By its path: by its bare name Wine starts it in a process of
            # its own that is not ours to wait for, nor its CPU and memory.
            "xcopy /E under Wine (floor)": (lambda: [wine, "C:\\windows\\system32\\xcopy.exe", "/E", "/I", "/Q", "/Y",
                                                     "Z:" + client.replace("/", "\\"), "C:\\copy"], copyto),
            "native unzip of a plain zip": (lambda: ["unzip", "-q", "-o", plainzip, "-d", unzipto], unzipto),
        })
        if download:
            ways[download[0]] = (lambda: [wine, pkg["download"], "silent"], target)
            ways[download[1]] = (lambda: ["curl", "-sS", "--fail", "--noproxy", "*", "--create-dirs", "-K", curlrc],
                                 curlto)
        results = {k: [] for k in ways}
        served = {}
        for rnd in range(args.runs + 1):  # round 0 warms up
            for what, (cmd, where) in ways.items():
                reset()
                wall, rss, cpu, server = timed(cmd(), env)
                verify(client, where, what)
                if download and what in download:
                    served[what] = nginx.take_log()
                if rnd:
                    results[what].append((wall, rss, cpu, server))
            print(f"round {rnd} done", flush=True)
        floor = statistics.median(r[0] for r in results["xcopy /E under Wine (floor)"])
        print(f"\nclient: {mib:.0f} MiB in {nfiles} files; {args.runs} runs each after a warm-up; tmpfs; wine64")
        print("| what | median s | min s | max s | MiB/s | × floor | peak RSS MiB | package / installed "
              "| process CPU s | wineserver CPU s |")
        print("|---|---|---|---|---|---|---|---|---|---|")
        for what, rs in results.items():
            walls = [r[0] for r in rs]
            med = statistics.median(walls)
            size = {**{titles[n]: b for n, b in sizes.items()}, "native unzip of a plain zip": os.path.getsize(plainzip)}.get(what)
            print(f"| {what} | {med:.2f} | {min(walls):.2f} | {max(walls):.2f} | {mib / med:.0f} | {med / floor:.2f} | "
                  f"{max(r[1] for r in rs):.0f} | {'%.3f' % (size / installed) if size else '—'} | "
              f"{statistics.median(r[2] for r in rs):.2f} | {statistics.median(r[3] for r in rs):.2f} |")
        print(f"\nNSIS: skipped (it is 32-bit code; runs here: {i686})" if i686 != "yes" else "\nNSIS: not wired up yet")
        if "resource" in pkg and shutil.which("xdotool"):
            # Against Wine's own notepad: what starting any window costs here.
            shown = {"setup.exe": [], "notepad": []}
            for _ in range(args.runs):
                shown["setup.exe"].append(time_to_window([wine, pkg["resource"]], env))
                shown["notepad"].append(time_to_window([wine, "notepad"], env))
            print(f"\ntime to the window, median of {args.runs}: setup.exe with a "
                  f"{os.path.getsize(pkg['resource']) / 1048576:.0f} MiB payload in the resource "
                  f"{statistics.median(shown['setup.exe']):.2f} s, Wine's notepad "
                  f"{statistics.median(shown['notepad']):.2f} s (goal: under 0.5 s)")
        if download:
            rate = {w: mib / statistics.median(r[0] for r in results[w]) for w in download}
            print(f"\ndownload way: {rate[download[0]]:.0f} MiB/s against curl's {rate[download[1]]:.0f} MiB/s, "
                  f"{rate[download[0]] / rate[download[1]]:.2f} × curl (goal: at least 0.80); the installer fetches "
                  "three files at once, a number nothing outside the program sets, so one connection is not measured")
            for what in download:
                requests, connections, gap = served[what]
                print(f"{what}, last run: {requests} requests on {connections} "
                      f"connection{'s' if connections != 1 else ''}, "
                      f"{'%.0f ms' % (gap * 1000) if gap >= 0.001 else 'under 1 ms'} from one request "
                      "to the next on a connection (median; nginx logs whole milliseconds)")
        else:
            print(f"\ndownload way (nginx vs curl): {skipped}")
    finally:
        if nginx:
            nginx.stop()


if __name__ == "__main__":
    main()
