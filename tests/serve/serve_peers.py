#!/usr/bin/env python3
"""tarnwell-cli serve against real peers, each started here on loopback: a VISA client (pyvisa
with its pure-Python backend) driving a Modbus module that tarnwell-sim emulates, and a Mosquitto
broker with its own clients watching and setting the built-in supply, a broker restart and a
supply that pulls its cable in between.

Usage: serve_peers.py pyvisa|mqtt CLI SIM   (exit 0 when every check held)"""

import os
import re
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request


def fail(why):
    print("FAILED: " + why, flush=True)
    sys.exit(1)


def check(condition, why):
    if not condition:
        fail(why)


def wait_for(done, seconds, why):
    until = time.monotonic() + seconds
    while time.monotonic() < until:
        value = done()
        if value:
            return value
        time.sleep(0.05)
    fail("timed out: " + why)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Process:
    """A program whose standard error is collected line by line as it comes."""

    def __init__(self, args, env=None):
        self.lines = []
        self.proc = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     env=env, text=True)
        threading.Thread(target=self._read, args=(self.proc.stderr,), daemon=True).start()
        self.stdout_lines = []
        threading.Thread(target=self._read_out, daemon=True).start()

    def _read(self, stream):
        for line in stream:
            self.lines.append(line.rstrip("\n"))

    def _read_out(self):
        for line in self.proc.stdout:
            self.stdout_lines.append(line.rstrip("\n"))

    def said(self, pattern):
        for line in self.lines:
            match = re.search(pattern, line)
            if match:
                return match
        return None

    def stop(self, sig_term=True):
        if self.proc.poll() is None:
            if sig_term:
                self.proc.terminate()
            else:
                self.proc.stdin.close()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        return self.proc.returncode


def start_sim(sim, args, env=None):
    process = Process([sim] + args, env)
    path = wait_for(lambda: process.stdout_lines[0] if process.stdout_lines else None, 10, "tarnwell-sim's terminal")
    return process, path


def start_serve(cli, args, env=None):
    serve = Process([cli, "serve"] + args, env)
    wait_for(lambda: serve.said(r"^tarnwell-cli: serving ") or serve.proc.poll() is not None, 20, "serve to start")
    check(serve.proc.poll() is None, "serve ended: " + " | ".join(serve.lines))
    return serve


def case_pyvisa(cli, sim):
    import pyvisa

    module, pty = start_sim(sim, ["--dialect", "modbus", "--model", "5005", "--load", "10"])
    serve = start_serve(cli, ["--port", "modbus:" + pty, "--scpi", "127.0.0.1:0"])
    port = int(wait_for(lambda: serve.said(r"SCPI listens on 127\.0\.0\.1:(\d+)"), 5, "the SCPI port").group(1))
    try:
        rm = pyvisa.ResourceManager("@py")
        inst = rm.open_resource("TCPIP::127.0.0.1::%d::SOCKET" % port, read_termination="\n", write_termination="\n",
                                timeout=5000)
        idn = inst.query("*IDN?").split(",")
        check(len(idn) == 4 and idn[0] == "Tarnwell", "four-field identity: %r" % idn)
        check("5005" in idn[1], "the module's model in the identity: %r" % idn)
        # What the module holds as it powers up, before any client set anything.
        wait_for(lambda: inst.query("VOLT?") == "5.000", 5, "the module's own voltage setpoint")
        check(inst.query("CURR?") == "1.000", "the module's own current setpoint")
        inst.write("VOLT 12;CURR 1.5")
        inst.write("OUTPut:STATe ON")
        check(inst.query("*OPC?") == "1", "*OPC? answers 1")
        check(inst.query("VOLT?") == "12.000", "the voltage setpoint read back")
        check(inst.query("curr?") == "1.500", "the current setpoint read back")
        # 12 V into 10 ohms, below the 1.5 A limit: constant voltage, 1.2 A, once a sample came.
        wait_for(lambda: inst.query("MEAS:VOLT?") == "12.000", 10, "the module's measured 12 V")
        check(abs(float(inst.query("MEAS:CURR?")) - 1.2) < 0.01, "1.2 A measured")
        check(inst.query("OUTP?") == "1" and inst.query("OUTP:MODE?") == "CV", "output on in CV")
        inst.write("VOLT 40")
        check(inst.query("SYST:ERR?") == '-222,"Data out of range"', "40 V refused")
        check(inst.query("SYST:ERR?") == '0,"No error"', "the queue emptied")
        check(inst.query("VOLT?") == "12.000", "the refused value did not reach the supply")
        inst.write("NO:SUCH:THING")
        check(inst.query("SYST:ERR?") == '-113,"Undefined header"', "an unknown header")

        # Bad clients: an endless line, one that never reads, hundreds of connections.
        endless = socket.create_connection(("127.0.0.1", port))
        endless.sendall(b"VOLT " + b"9" * 10000 + b"\nSYST:ERR?\n")
        check(endless.makefile().readline().strip() == '-363,"Input buffer overrun"', "an overlong line dropped")
        deaf = socket.create_connection(("127.0.0.1", port))
        deaf.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        try:
            for _ in range(400):
                deaf.sendall(b"*IDN?;*IDN?;*IDN?;*IDN?;*IDN?\n" * 20)
        except OSError:
            pass  # let go: what it was sent no longer fits anywhere
        crowd = []
        for _ in range(200):
            try:
                crowd.append(socket.create_connection(("127.0.0.1", port), timeout=2))
            except OSError:
                break
        check(inst.query("*IDN?").startswith("Tarnwell,"), "the first client is served through all that")
        wait_for(lambda: serve.said("does not read its answers"), 10, "the deaf client let go")
        for s in crowd + [deaf, endless]:
            s.close()
        check(inst.query("MEAS:VOLT?") == "12.000", "the supply is read as before")
        inst.write("OUTP OFF")
        check(inst.query("*OPC?") == "1", "switched off")
        inst.close()
    finally:
        status = serve.stop()
        module.stop(sig_term=False)
    check(status == 0, "serve ends with status 0 on SIGTERM, not %s" % status)

    # A 20 V unit asked for 25 V: refused by the service when the unit told its maximum, by the
    # unit itself when it did not; either way the client that asked hears -222, and the unit
    # keeps what it held.
    for told, extra in [("20.000", []), ("32.000", ["--max-as-setpoint"])]:
        unit, pty = start_sim(sim, ["--dialect", "scpi", "--max-volts", "20", "--refuse-out-of-range"] + extra)
        serve = start_serve(cli, ["--port", "scpi:" + pty, "--scpi", "127.0.0.1:0"])
        port = int(wait_for(lambda: serve.said(r"SCPI listens on 127\.0\.0\.1:(\d+)"), 5, "the SCPI port").group(1))
        try:
            inst = rm.open_resource("TCPIP::127.0.0.1::%d::SOCKET" % port, read_termination="\n",
                                    write_termination="\n", timeout=5000)
            check(inst.query("VOLT? MAX") == told, "the maximum as the unit told it: %s" % told)
            inst.write("VOLT 25")
            check(inst.query("*OPC?") == "1", "25 V seen through")
            check(inst.query("SYST:ERR?") == '-222,"Data out of range"', "25 V refused on a 20 V unit (%s)" % told)
            wait_for(lambda: inst.query("VOLT?") == "5.000", 5, "the unit keeps what it held")
            inst.close()
        finally:
            serve.stop()
            unit.stop(sig_term=False)


def mosquitto(port, conf_dir):
    conf = os.path.join(conf_dir, "mosquitto.conf")
    with open(conf, "w") as f:
        f.write("listener %d 127.0.0.1\nallow_anonymous true\npersistence false\n" % port)
    broker = Process(["mosquitto", "-c", conf])
    wait_for(lambda: try_connect(port), 10, "the broker to listen")
    return broker


def try_connect(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=0.5).close()
        return True
    except OSError:
        return False


def sub(port, topics, count, seconds=8):
    args = ["mosquitto_sub", "-p", str(port), "-v", "-C", str(count), "-W", str(seconds)]
    for topic in topics:
        args += ["-t", topic]
    out = subprocess.run(args, capture_output=True, text=True).stdout
    return [line.split(" ", 1) for line in out.splitlines() if " " in line]


def pub(port, topic, payload):
    subprocess.run(["mosquitto_pub", "-p", str(port), "-t", topic, "-m", payload], check=True)


def metric(url, name):
    text = urllib.request.urlopen(url, timeout=5).read().decode()
    match = re.search(r"^%s\{[^}]*\} (\S+)$" % name, text, re.M)
    return float(match.group(1)) if match else None


def case_mqtt(cli, sim):
    work = tempfile.mkdtemp()
    broker_port = free_port()
    broker = mosquitto(broker_port, work)
    by_id = os.path.join(work, "by-id")
    os.mkdir(by_id)
    env = dict(os.environ, TARNWELL_SERIAL_BY_ID=by_id)
    unit, pty = start_sim(sim, ["--load", "10", "--drop-after", "6", "--drop-for", "2", "--link",
                                os.path.join(by_id, "usb-Tarnwell_Sim-if00")], env)
    serve = start_serve(cli, ["--port", pty, "--scpi", "none", "--mqtt", "mqtt://127.0.0.1:%d" % broker_port,
                              "--mqtt-id", "bench", "--metrics", "127.0.0.1:0", "--record", os.path.join(work, "rec")], env)
    url = "http://127.0.0.1:%s/metrics" % wait_for(lambda: serve.said(r"metrics on http://127\.0\.0\.1:(\d+)/"), 5,
                                                     "the metrics port").group(1)
    try:
        seen = dict(sub(broker_port, ["homeassistant/#", "tarnwell/bench/availability"], 6))
        check(seen.get("tarnwell/bench/availability") == "online", "online told: %r" % seen)
        for topic in ["homeassistant/sensor/bench/voltage/config", "homeassistant/number/bench/set_voltage/config",
                      "homeassistant/switch/bench/output/config"]:
            check(topic in seen, "discovery on " + topic)
        pub(broker_port, "tarnwell/bench/set/voltage", "7.5")
        pub(broker_port, "tarnwell/bench/set/output", "ON")
        wait_for(lambda: any('"v":7.50' in p and '"out":true' in p and '"vset":7.50,"iset":1.000' in p
                             for _, p in sub(broker_port, ["tarnwell/bench/state"], 1)),
                 10, "7.5 V with the output on in the state, the current limit the unit's own")
        check(metric(url, "tarnwell_voltage_volts") == 7.5, "/metrics tells the voltage")

        # Refused with a reply, the supply untouched.
        watcher = Process(["mosquitto_sub", "-p", str(broker_port), "-t", "tarnwell/bench/error", "-C", "1", "-W", "8"])
        time.sleep(0.5)  # the watcher subscribes before the bad command goes out
        pub(broker_port, "tarnwell/bench/set/voltage", "40")
        wait_for(lambda: watcher.stdout_lines, 8, "an error reply")
        check("0 to 32" in watcher.stdout_lines[0], "the reply says the range: %r" % watcher.stdout_lines)
        check(serve.said(r"MQTT: refused tarnwell/bench/set/voltage \"40\""), "a line on standard error")

        # The supply pulls its cable and plugs it back in: the service takes it back.
        wait_for(lambda: metric(url, "tarnwell_reconnects_total") == 1.0, 20, "the supply reconnected")
        check(metric(url, "tarnwell_link_up") == 1.0, "the link is up again")

        # The broker goes away and comes back: availability told again, the state resumes.
        broker.stop()
        time.sleep(2)
        broker = mosquitto(broker_port, work)
        seen = dict(wait_for(lambda: sub(broker_port, ["tarnwell/bench/availability"], 1, 5), 20, "online again"))
        check(seen.get("tarnwell/bench/availability") == "online", "online after the broker's return")
        t1 = wait_for(lambda: sub(broker_port, ["tarnwell/bench/state"], 1), 10, "state after the return")
        t2 = wait_for(lambda: sub(broker_port, ["tarnwell/bench/state"], 2), 10, "state goes on")
        check(t2[-1][1] != t1[0][1], "a new state each sample")
    finally:
        status = serve.stop()
        unit.stop(sig_term=False)
        offline = dict(sub(broker_port, ["tarnwell/bench/availability"], 1, 3))
        broker.stop()
    check(status == 0, "serve ends with status 0 on SIGTERM, not %s" % status)
    check(offline.get("tarnwell/bench/availability") == "offline", "offline told at the end")
    records = [f for f in os.listdir(os.path.join(work, "rec")) if f.endswith(".csv")]
    check(len(records) == 1, "one record file: %r" % records)
    with open(os.path.join(work, "rec", records[0])) as f:
        rows = f.read().splitlines()
    check(rows[0] == "Time(S),Voltage(V),Current(A)" and len(rows) > 5, "the record holds the samples")
    check(any(row.endswith(",,") for row in rows), "the seconds without the supply are rows without values")


if __name__ == "__main__":
    if len(sys.argv) != 4 or sys.argv[1] not in ("pyvisa", "mqtt"):
        fail(__doc__)
    {"pyvisa": case_pyvisa, "mqtt": case_mqtt}[sys.argv[1]](sys.argv[2], sys.argv[3])
    print("passed")
