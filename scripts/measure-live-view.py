#!/usr/bin/python3
"""The live view as a person sees it: starts `n47 view` and headless Chromium on its page, lets
the page run for a while, then reads for 20 seconds the page's own counters (frames captured, the
rates captured and shown, the latency from capture to screen) over Chromium's DevTools pipe, and
the CPU time of n47 and of Chromium from /proc.

    scripts/measure-live-view.py build/release/bin/n47 [n47 view options, e.g. --grabber PATH]
"""
import json
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

SECONDS = 20


def cpu_ticks(pids):
    total = 0
    for pid in pids:
        try:
            fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
            total += int(fields[11]) + int(fields[12])  # utime, stime
        except OSError:
            pass
    return total


def processes_with(text):
    found = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                if text in open(f"/proc/{entry}/cmdline").read():
                    found.append(int(entry))
            except OSError:
                pass
    return found


class Browser:
    """Chromium's DevTools protocol on file descriptors 3 and 4, NUL-ended JSON messages."""

    def __init__(self, profile):
        to_browser, self.sink = os.pipe()
        self.source, from_browser = os.pipe()

        def descriptors():
            os.dup2(to_browser, 3)
            os.dup2(from_browser, 4)

        self.process = subprocess.Popen(
            ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--remote-debugging-pipe",
             "--window-size=1400,1000", "--user-data-dir=" + profile, "about:blank"],
            pass_fds=(3, 4), preexec_fn=descriptors, stderr=subprocess.DEVNULL)
        os.close(to_browser)
        os.close(from_browser)
        self.buffer, self.last, self.session = b"", 0, None
        target = self.call("Target.createTarget", {"url": "about:blank"})["targetId"]
        self.session = self.call("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]

    def call(self, method, params):
        self.last += 1
        message = {"id": self.last, "method": method, "params": params}
        if self.session:
            message["sessionId"] = self.session
        os.write(self.sink, json.dumps(message).encode() + b"\0")
        while True:
            while b"\0" not in self.buffer:
                self.buffer += os.read(self.source, 1 << 20)
            text, self.buffer = self.buffer.split(b"\0", 1)
            answer = json.loads(text)
            if answer.get("id") == self.last:
                return answer["result"]

    def text(self, element):
        expression = f"document.getElementById('{element}').textContent"
        return self.call("Runtime.evaluate", {"expression": expression, "returnByValue": True})["result"]["value"]

    def close(self):
        self.session = None
        self.call("Browser.close", {})
        self.process.wait()


def main():
    tool, options = sys.argv[1], sys.argv[2:]
    view = subprocess.Popen([tool, "view", "--port", "0", "--out", tempfile.mkdtemp()] + options,
                            stdout=subprocess.PIPE, text=True)
    port = int(re.search(r"127\.0\.0\.1:(\d+)", view.stdout.readline()).group(1))
    profile = tempfile.mkdtemp()
    browser = Browser(profile)
    browser.call("Page.navigate", {"url": f"http://127.0.0.1:{port}/"})
    time.sleep(8)  # the panel built, the rates settled
    hertz = os.sysconf("SC_CLK_TCK")
    start, tool_cpu, browser_cpu = time.time(), cpu_ticks([view.pid]), cpu_ticks(processes_with(profile))
    first = int(browser.text("frames"))
    shown, latency = [], []
    for _ in range(SECONDS):
        time.sleep(1)
        shown.append(float(browser.text("shown-fps")))
        if browser.text("latency").isdigit():
            latency.append(int(browser.text("latency")))
    elapsed = time.time() - start
    captured = (int(browser.text("frames")) - first) / elapsed
    tool_cpu = 100 * (cpu_ticks([view.pid]) - tool_cpu) / hertz / elapsed
    browser_cpu = 100 * (cpu_ticks(processes_with(profile)) - browser_cpu) / hertz / elapsed
    latency.sort()
    print(f"captured {captured:.1f}/s, shown {sum(shown) / len(shown):.1f}/s, latency median "
          f"{latency[len(latency) // 2]} ms ({latency[0]} to {latency[-1]}), CPU n47 {tool_cpu:.0f} %, "
          f"Chromium {browser_cpu:.0f} % (of one core), over {elapsed:.0f} s")
    browser.close()
    view.send_signal(signal.SIGTERM)
    view.wait()


if __name__ == "__main__":
    main()
