#!/usr/bin/env python3
"""Latency of one TLS header probe by the linvera process beside curl, on the same loopback host.

Usage: bench/tls-probe-vs-curl.py PATH/TO/linvera [RUNS]

A throw-away authority signs a certificate for 127.0.0.1; a small TLS server answers every request
with a 301. linvera probes https://127.0.0.1:<port>/abc by a "Location:" rule (the authority given in
LINVERA_EXTRA_CA_FILE), curl prints %{redirect_url} for the same link (the authority given with
--cacert). Every run is a new process; the figures are wall-clock times of whole runs.
"""
import os
import socket
import ssl
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ANSWER = b"HTTP/1.0 301 Moved Permanently\r\nLocation: http://t.example/final\r\nContent-Length: 0\r\n\r\n"


def make_certificates(folder):
    def openssl(*args):
        subprocess.run(["openssl", *args], check=True, capture_output=True)

    ca_key, ca = os.path.join(folder, "ca.key"), os.path.join(folder, "ca.pem")
    key, csr, cert = (os.path.join(folder, n) for n in ("srv.key", "srv.csr", "srv.pem"))
    ext = os.path.join(folder, "ext.cnf")
    openssl("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
            "-keyout", ca_key, "-out", ca, "-days", "2", "-subj", "/CN=bench authority",
            "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign")
    openssl("req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout", key,
            "-out", csr, "-subj", "/CN=127.0.0.1")
    with open(ext, "w") as f:
        f.write("subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n")
    openssl("x509", "-req", "-in", csr, "-CA", ca, "-CAkey", ca_key, "-CAcreateserial", "-out", cert,
            "-days", "2", "-extfile", ext)
    return ca, cert, key


def serve(listener, context):
    def answer(connection):
        try:
            with context.wrap_socket(connection, server_side=True) as tls:
                tls.settimeout(10)
                head = b""
                while b"\r\n\r\n" not in head and len(head) < 65536:
                    data = tls.recv(4096)
                    if not data:
                        break
                    head += data
                tls.sendall(ANSWER)
        except (OSError, ssl.SSLError):
            pass

    while True:
        try:
            connection, _ = listener.accept()
        except OSError:
            return
        threading.Thread(target=answer, args=(connection,), daemon=True).start()


def timed(command, env, expected):
    start = time.perf_counter()
    result = subprocess.run(command, env=env, capture_output=True, timeout=60)
    elapsed = (time.perf_counter() - start) * 1000
    out = result.stdout.decode("utf-8", "replace")
    if expected not in out:
        sys.exit(f"unexpected answer from {command[0]}: {out!r} {result.stderr.decode('utf-8', 'replace')!r}")
    return elapsed


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    linvera = os.path.abspath(sys.argv[1])
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 15
    with tempfile.TemporaryDirectory() as folder:
        ca, cert, key = make_certificates(folder)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        listener = socket.socket()
        listener.bind(("127.0.0.1", 0))
        listener.listen(64)
        port = listener.getsockname()[1]
        threading.Thread(target=serve, args=(listener, context), daemon=True).start()
        link = f"https://127.0.0.1:{port}/abc"

        home = os.path.join(folder, "home")
        data = os.path.join(home, "Documents", "halvex-linvera")
        os.makedirs(data)
        with open(os.path.join(data, "tinyurls.txt"), "wb") as f:
            f.write(b"127.0.0.1:\tLocation:\t\r\n")
        open(os.path.join(data, "picturls.txt"), "wb").close()
        env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(folder, "config"), LC_ALL="C.UTF-8",
                   LINVERA_EXTRA_CA_FILE=ca)
        env.pop("XDG_DOCUMENTS_DIR", None)

        commands = {
            "linvera": [linvera, link],
            "curl": ["curl", "-s", "-o", "/dev/null", "--cacert", ca, "-w", "%{redirect_url}", link],
        }
        # One warm-up run each: the first start reads the libraries from disk.
        for command in commands.values():
            timed(command, env, "http://t.example/final")
        figures = {name: [] for name in commands}
        for _ in range(runs):
            for name, command in commands.items():
                figures[name].append(timed(command, env, "http://t.example/final"))
        for name, command in commands.items():
            values = figures[name]
            print(f"{name:8} median {statistics.median(values):7.1f} ms  min {min(values):7.1f}  "
                  f"max {max(values):7.1f}  ({runs} runs: {' '.join(command)})")
        ratio = statistics.median(figures["linvera"]) / statistics.median(figures["curl"])
        print(f"linvera / curl = {ratio:.2f}")
        listener.close()


if __name__ == "__main__":
    main()
