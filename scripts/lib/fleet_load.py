"""The fleet figures of scripts/obx-load: simulated agents, each pulling its
policy and uploading its records once on a jittered schedule compressed into
minutes, against one obx-server on SQLite or several on PostgreSQL behind
nginx (optionally with one of them killed halfway)."""
import base64
import heapq
import http.client
import os
import random
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time
from concurrent.futures import ThreadPoolExecutor

NS = "urn:obx:patch:1"
POLICY = ('<patchs version="3"><patch policyid="1001" name="a"/>'
          '<patch policyid="1002" name="b"/></patchs>')
OSES = ["winxp", "win7", "win2003"]


def envelope(operation, items):
    body = "".join(
        "<o:item><o:key>%s</o:key><o:value>%s</o:value><o:type>string</o:type></o:item>"
        % (k, v) for k, v in items)
    return ('<?xml version="1.0" encoding="utf-8"?>'
            '<s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/"><s:Body>'
            '<o:%s xmlns:o="%s"><o:message><o:map>%s</o:map></o:message></o:%s>'
            '</s:Body></s:Envelope>' % (operation, NS, body, operation)).encode()


def agent_record(task, code, host, r1, when):
    items = [("policy_id", task), ("ip", "10.1.0.1"), ("user_name", "user"), ("host", host),
             ("computer_code", code), ("mac", ""), ("client_time", when), ("r1", r1),
             ("r2", ""), ("r3", ""), ("r4", ""), ("r5", "")]
    return ('<map type="installResultInfo" id="%s" >' % task + "".join(
        "<item><key>%s</key><value>%s</value><type>string</type></item>" % kv for kv in items)
        + "</map>")


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def wait_port_file(process, port_file, log):
    deadline = time.monotonic() + 30
    while not (os.path.exists(port_file) and open(port_file).read().endswith("\n")):
        if process.poll() is not None or time.monotonic() > deadline:
            raise SystemExit("obx-server did not start; see " + log)
        time.sleep(0.05)
    return int(open(port_file).read())


class PgCluster:
    """A throwaway PostgreSQL cluster on 127.0.0.1 (as user postgres when root)."""

    def __init__(self, scratch):
        bins = sorted(d for d in os.listdir("/usr/lib/postgresql")
                      if os.path.exists("/usr/lib/postgresql/%s/bin/initdb" % d))
        if not bins:
            raise SystemExit("obx-load: no PostgreSQL server installed (scripts/bootstrap)")
        self.bin = "/usr/lib/postgresql/%s/bin/" % bins[-1]
        self.folder = tempfile.mkdtemp(prefix="obx-load-pg.")
        self.prefix = []
        if os.geteuid() == 0:
            import pwd
            pg = pwd.getpwnam("postgres")
            os.chown(self.folder, pg.pw_uid, pg.pw_gid)
            self.prefix = ["runuser", "-u", "postgres", "--"]
        self.port = free_port()
        data = os.path.join(self.folder, "data")
        subprocess.run(self.prefix + [self.bin + "initdb", "-D", data, "-U", "postgres",
                                      "--auth=trust", "-E", "UTF8"],
                       check=True, stdout=subprocess.DEVNULL)
        subprocess.run(self.prefix + [
            self.bin + "pg_ctl", "-D", data, "-w", "-l", os.path.join(self.folder, "log"), "-o",
            "-p %d -c listen_addresses=127.0.0.1 -k %s -c max_connections=200"
            % (self.port, self.folder), "start"], check=True, stdout=subprocess.DEVNULL)
        self.url = "postgresql://postgres@127.0.0.1:%d/postgres" % self.port

    def stop(self):
        subprocess.run(self.prefix + [self.bin + "pg_ctl", "-D",
                                      os.path.join(self.folder, "data"), "-w", "-m", "fast",
                                      "stop"], stdout=subprocess.DEVNULL)
        shutil.rmtree(self.folder, ignore_errors=True)


def nginx_config(documented, scratch, listen, upstreams):
    """The documented configuration for a plain-HTTP loopback run: its proxy
    directives as they are, the upstream servers replaced by ours, TLS and
    the console left out."""
    text = open(documented).read()
    text = text[:text.index("upstream obx_console")] + text[text.index("server {"):]
    text = text[:text.index("server {", text.index("server {") + 1)]  # the service block
    text = re.sub(r"\n    server 127\.0\.0\.1:\d+[^\n]*", "", text)
    text = text.replace("keepalive 32;", "".join(
        "server 127.0.0.1:%d max_fails=1 fail_timeout=5s;\n    " % p for p in upstreams)
        + "keepalive 32;")
    text = re.sub(r"listen 443 ssl;[^\n]*", "listen 127.0.0.1:%d backlog=4096;" % listen, text)
    text = re.sub(r"\n\s*ssl_[^\n]*", "", text)
    temp = "".join("%s_temp_path %s;\n" % (k, os.path.join(scratch, k))
                   for k in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
    user = "user root;\n" if os.geteuid() == 0 else ""
    return ("%sworker_processes 2;\npid %s;\nerror_log %s warn;\ndaemon off;\n"
            "events { worker_connections 4096; }\nhttp {\naccess_log off;\n%s%s}\n"
            % (user, os.path.join(scratch, "nginx.pid"), os.path.join(scratch, "nginx.err"),
               temp, text))


class Figures:
    def __init__(self):
        self.lock = threading.Lock()
        self.latencies = []
        self.errors = {}
        self.acknowledged = set()
        self.requests = 0

    def note(self, seconds, error=None):
        with self.lock:
            self.requests += 1
            if error:
                self.errors[error] = self.errors.get(error, 0) + 1
            else:
                self.latencies.append(seconds)


def call(host, port, body, action, expected, figures):
    started = time.monotonic()
    conn = http.client.HTTPConnection(host, port, timeout=60)
    try:
        conn.request("POST", "/obx/service", body,
                     {"Content-Type": "text/xml; charset=utf-8", "SOAPAction": action})
        response = conn.getresponse()
        answer = response.read()
        if response.status != 200:
            figures.note(0, "HTTP %d" % response.status)
            return False
        if expected not in answer:
            figures.note(0, "unexpected answer")
            return False
        figures.note(time.monotonic() - started)
        return True
    except (OSError, http.client.HTTPException) as e:
        figures.note(0, type(e).__name__)
        return False
    finally:
        conn.close()


def percentile(values, p):
    if not values:
        return float("nan")
    return values[min(len(values) - 1, int(round(p / 100.0 * (len(values) - 1))))]


def stored_records(bindir, db):
    out = subprocess.run([os.path.join(bindir, "obx-server"), "reports", "--db", db],
                         stdout=subprocess.PIPE, check=True).stdout.decode(errors="replace")
    return [line.split("\t", 5)[5] for line in out.splitlines()[1:]]


def machines(bindir, db):
    out = subprocess.run([os.path.join(bindir, "obx-server"), "machines", "--db", db],
                         stdout=subprocess.PIPE, check=True).stdout.decode(errors="replace")
    return len(out.splitlines()) - 1


def run(args):
    bindir = args.bin
    scratch = tempfile.mkdtemp(prefix="obx-load.")
    processes = []
    cluster = None
    try:
        rng = random.Random(1)
        agents = []
        for i in range(args.fleet):
            code = base64.b64encode(b"agent-%06d" % i).decode()
            host = "PC-%06d" % i
            records = "".join(agent_record(t, code, host, rng.choice(["ok", "ok", "failed"]),
                                           "2026-12-08 10:%02d:%02d" % (i // 60 % 60, i % 60))
                              for t in ("1001", "1002"))
            agents.append((code, "<message>%s</message>" % records))

        def seal(text):
            return subprocess.run([os.path.join(bindir, "orsa-seal"), "seal", "-", "-"],
                                  input=text.encode(), stdout=subprocess.PIPE,
                                  check=True).stdout.decode().strip()

        print("obx-load: sealing the uploads of %d agents ..." % args.fleet, flush=True)
        with ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
            sealed = list(pool.map(seal, [a[1] for a in agents]))

        os.makedirs(os.path.join(scratch, "policies"))
        with open(os.path.join(scratch, "policies", "default.xml"), "w") as f:
            f.write(POLICY)
        if args.servers > 1 or args.store == "postgresql":
            cluster = PgCluster(scratch)
            db = cluster.url
        else:
            db = os.path.join(scratch, "reports.db")
        ports = []
        for k in range(args.servers):
            port_file = os.path.join(scratch, "port%d" % k)
            log = os.path.join(scratch, "server%d.log" % k)
            p = subprocess.Popen(
                [os.path.join(bindir, "obx-server"), "serve", "--listen", "127.0.0.1:0",
                 "--port-file", port_file, "--db", db, "--policies",
                 os.path.join(scratch, "policies"), "--max-connections", "4096"]
                + args.serve_options, stdout=open(log, "w"), stderr=subprocess.STDOUT)
            processes.append(p)
            ports.append(wait_port_file(p, port_file, log))
        target = ports[0]
        nginx = None
        if args.servers > 1:
            target = free_port()
            conf = os.path.join(scratch, "nginx.conf")
            with open(conf, "w") as f:
                f.write(nginx_config(args.nginx_conf, scratch, target, ports))
            nginx = subprocess.Popen(["nginx", "-c", conf, "-p", scratch],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
            deadline = time.monotonic() + 10
            while True:
                try:
                    socket.create_connection(("127.0.0.1", target), timeout=1).close()
                    break
                except OSError:
                    if nginx.poll() is not None or time.monotonic() > deadline:
                        raise SystemExit("nginx did not start: " +
                                         open(os.path.join(scratch, "nginx.err")).read())
                    time.sleep(0.05)
        print("obx-load: %d agents over %g s against %d obx-server(s) on %s%s%s"
              % (args.fleet, args.spread, args.servers,
                 "PostgreSQL" if cluster else "SQLite", " behind nginx" if nginx else "",
                 ", one killed halfway" if args.kill_one else ""), flush=True)

        figures = Figures()
        due = [(rng.uniform(0, args.spread), i) for i in range(args.fleet)]
        heapq.heapify(due)
        lock = threading.Lock()
        start = time.monotonic()

        def agent_cycle(i):
            code, _ = agents[i]
            call("127.0.0.1", target, envelope("updatePatchPolicy", [
                ("computerCode", code), ("userName", "user"), ("version", ""),
                ("osVersion", OSES[i % len(OSES)])]), '"updatePatchPolicy"',
                b"<ns:key>policy</ns:key>", figures)
            # An upload that fails is kept and sent again, as the agent does.
            for attempt in range(args.retries + 1):
                if call("127.0.0.1", target, envelope("uploadExecuteResult", [
                        ("infos", sealed[i])]), '"uploadExecuteResult"',
                        b"<ns:value>true</ns:value>", figures):
                    with figures.lock:
                        figures.acknowledged.add(i)
                    return
                time.sleep(1.0)

        def worker():
            while True:
                with lock:
                    if not due:
                        return
                    when, i = heapq.heappop(due)
                delay = start + when - time.monotonic()
                if delay > 0:
                    time.sleep(delay)
                agent_cycle(i)

        killer = None
        if args.kill_one and len(processes) > 1:
            def kill_later():
                time.sleep(args.spread / 2)
                processes[-1].send_signal(signal.SIGKILL)
                print("obx-load: killed one obx-server (SIGKILL) at %.0f s"
                      % (time.monotonic() - start), flush=True)
            killer = threading.Thread(target=kill_later)
            killer.start()
        threads = [threading.Thread(target=worker) for _ in range(args.workers)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        if killer:
            killer.join()
        elapsed = time.monotonic() - start

        stored = stored_records(bindir, db)
        stored_set = set(stored)
        acknowledged = {agents[i][1][len("<message>"):-len("</message>")]
                        for i in figures.acknowledged}
        ack_rows = set()
        for upload in acknowledged:
            for part in upload.split("</map>")[:-1]:
                ack_rows.add(part + "</map>")
        lost = len(ack_rows - stored_set)
        lat = sorted(figures.latencies)
        errors = sum(figures.errors.values())
        print("requests: %d in %.1f s = %.0f requests/s; errors %d%s"
              % (figures.requests, elapsed, figures.requests / elapsed, errors,
                 " (%s)" % ", ".join("%s %d" % kv for kv in sorted(figures.errors.items()))
                 if errors else ""))
        print("latency ms: p50 %.1f  p99 %.1f  max %.1f"
              % tuple(1000 * percentile(lat, p) for p in (50, 99, 100)))
        print("records: %d acknowledged, %d rows stored (%d distinct), %d acknowledged lost; "
              "machines %d of %d" % (len(ack_rows), len(stored), len(stored_set), lost,
                                     machines(bindir, db), args.fleet))
        return 0 if errors == 0 and lost == 0 and len(stored) == len(ack_rows) else 1
    finally:
        for p in processes:
            if p.poll() is None:
                p.terminate()
                p.wait(timeout=30)
        if 'nginx' in locals() and nginx is not None:
            nginx.terminate()
            nginx.wait(timeout=30)
        if cluster:
            cluster.stop()
        shutil.rmtree(scratch, ignore_errors=True)
