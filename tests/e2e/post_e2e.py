#!/usr/bin/env python3
"""Sends a score from the built program to four score servers that never answer, each on a
private X server of its own, and watches the program's own one-second countdown end the wait:

  unresolved  a name that does not resolve (nohost.invalid; the lookup hangs, as with a name
              server that does not reply; lookupstall stands in for the resolver, so nothing
              leaves the machine)
  refused     a port on 127.0.0.1 that refuses connections
  silent      a server that takes the connection and never says a word
  dripping    a server that sends its status line a byte every three seconds

In every case "Posting Failed." must come up on the fortieth tick, about forty seconds after Send
Score, in a box on top of the main window that takes the keys: Return, typed to whatever window
has the focus, closes it.

    post_e2e.py --bin-dir BUILD/bin --lookup-stall LIB --shots DIR

Exit status: 0 passed, 1 a case failed, 77 no X server could be started here."""

import argparse
import json
import os
import shutil
import socket
import subprocess
import sys
import threading
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import pipshift_e2e as e2e  # noqa: E402
import xsession  # noqa: E402

DEAL = 1
# The countdown is forty ticks of one second; the box is looked for every quarter of a second.
EARLIEST, LATEST = 39.0, 44.0


class Silent:
    """Takes connections and never answers; drip: sends a status line a byte every 3 s."""

    def __init__(self, drip=False):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(8)
        self.port = self.sock.getsockname()[1]
        self.drip = drip
        self.held = []
        self.stop = threading.Event()
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        self.sock.settimeout(0.2)
        while not self.stop.is_set():
            try:
                conn, _ = self.sock.accept()
            except socket.timeout:
                continue
            self.held.append(conn)
            if self.drip:
                threading.Thread(target=self.dripping, args=(conn,), daemon=True).start()

    def dripping(self, conn):
        for byte in b"HTTP/1.0 200 OK\r\nContent-Length: 15\r\n\r\nScore received.":
            if self.stop.wait(3):
                return
            try:
                conn.send(bytes([byte]))
            except OSError:
                return

    def close(self):
        self.stop.set()
        for c in self.held:
            c.close()
        self.sock.close()


def refusing_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


class Case:
    def __init__(self, number, name, base, args, preload=None):
        self.name, self.base, self.preload = name, base, preload
        self.run = e2e.Run(argparse.Namespace(bin_dir=args.bin_dir, shots=args.shots, skip=[],
                                              clip_probe=None))
        self.run.number = number
        self.run.label = name
        self.sent_at = None
        self.verdict = None

    def setup(self, placements, board):
        run = self.run
        run.start_x()
        if self.preload:
            run.x.env["LD_PRELOAD"] = self.preload
            # A program built with AddressSanitizer wants its runtime first of all libraries;
            # the stand-in resolver comes first here, which is harmless to it.
            asan = run.x.env.get("ASAN_OPTIONS", "")
            run.x.env["ASAN_OPTIONS"] = (asan + ":" if asan else "") + "verify_asan_link_order=0"
        os.makedirs(run.folder)
        os.makedirs(run.elsewhere)
        shutil.copy2(os.path.join(run.bin_dir, "pipshift"), run.folder)
        with open(run.ini, "w") as f:
            f.write(f"[pipshift]\r\nUpdate=false\r\nScoreServer={self.base}\r\n"
                    f"UpdateServer=http://127.0.0.1:9/\r\n")
        run.start_program()
        # File > Choose Deal..., the deal whose fewest placements the solver gave.
        run.focus_main()
        run.x.key("ctrl+d")
        dialog = e2e.wait_for(lambda: run.x.find_windows("Choose Deal"), 10)
        e2e.expect(dialog, f"{self.name}: Ctrl+D opened no Choose Deal window")
        run.x.xdotool("windowfocus", "--sync", dialog[0])
        run.x.key("ctrl+a")
        run.x.type(str(DEAL))
        run.x.key("Return")
        e2e.expect(e2e.wait_for(lambda: not run.x.find_windows("Choose Deal"), 5),
                   f"{self.name}: the Choose Deal window stayed open")
        where = {bone: slot for slot, bone in enumerate(board, start=1) if bone}
        place = {n: e2e.centre(e2e.slot_rect(c, r)) for n, c, r in e2e.slots()}
        time.sleep(0.5)
        for bone, slot in placements:
            run.click_board(*place[where[bone]])
            run.click_board(*place[slot])
            where[bone] = slot
        e2e.expect(e2e.wait_for(lambda: run.panel_shown(e2e.PANEL_CLEARED), 10),
                   f"{self.name}: the cleared panel is not shown after the solver's placements")
        run.keep_shot(f"{self.name}-1-cleared")
        # Send Score.
        run.click_board(*e2e.centre((e2e.PANEL_CLEARED[0] + 34, e2e.PANEL_CLEARED[1] + 189)
                                    + e2e.BUTTON))
        self.sent_at = time.monotonic()

    def others(self):
        """The program's shown windows titled "Pipshift" other than the main window."""
        return [w for w in self.run.x.find_windows("Pipshift") if w != self.run.main]

    def watch(self):
        run = self.run
        deadline = self.sent_at + LATEST + 2
        seen = []
        while time.monotonic() < deadline and not seen:
            seen = self.others()
            if not seen:
                time.sleep(0.25)
        after = time.monotonic() - self.sent_at
        if not seen:
            self.verdict = f"no message within {after:.1f} s of Send Score"
            return
        box = seen[0]
        run.keep_shot(f"{self.name}-2-message")
        problems = []
        if after < EARLIEST:
            problems.append(f"the message came {after:.1f} s after Send Score, before the "
                            f"fortieth tick")
        elif after > LATEST:
            problems.append(f"the message came only {after:.1f} s after Send Score")
        # On top: no window of the screen is stacked above it (xwininfo lists the top first).
        tree = run.x.run("xwininfo", "-root", "-children")
        ids = [int(line.split()[0], 16) for line in tree.splitlines()
               if line.strip().startswith("0x")]
        mapped = [w for w in ids if "IsViewable" in run.x.run("xwininfo", "-id", str(w))]
        if not mapped or mapped[0] != box:
            problems.append(f"the box {box:#x} is not the topmost window ({[hex(w) for w in mapped]})")
        g = run.x.geometry(box)
        if g.x < 0 or g.y < 0 or g.x + g.width > run.x.width or g.y + g.height > run.x.height:
            problems.append(f"the box lies off the screen: {g}")
        text = run.shot(box)
        if len(text.colours()) < 2:
            problems.append("the box shows nothing")
        # It takes the keys: Return typed to the focused window closes it.
        run.x.xdotool("key", "Return")
        if not e2e.wait_for(lambda: not self.others(), 5):
            problems.append("Return did not close the box: it does not have the keys")
        run.keep_shot(f"{self.name}-3-closed")
        self.verdict = "; ".join(problems) or None
        self.after = after

    def cleanup(self):
        self.run.cleanup()


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--bin-dir", required=True)
    parser.add_argument("--lookup-stall", required=True)
    parser.add_argument("--shots", required=True)
    args = parser.parse_args()
    args.bin_dir = os.path.abspath(args.bin_dir)
    e2e.clearshots(args.shots)

    solved = subprocess.run([os.path.join(args.bin_dir, "pipshift-solve"), "--deal", str(DEAL)],
                            capture_output=True, text=True, timeout=60)
    if solved.returncode != 0:
        print(f"FAILED: pipshift-solve --deal {DEAL}: {solved.stderr.strip()}", flush=True)
        return 1
    line = json.loads(solved.stdout)

    silent, dripping = Silent(), Silent(drip=True)
    cases = [
        Case(1, "unresolved", "http://nohost.invalid/", args, preload=args.lookup_stall),
        Case(2, "refused", f"http://127.0.0.1:{refusing_port()}/", args),
        Case(3, "silent", f"http://127.0.0.1:{silent.port}/", args),
        Case(4, "dripping", f"http://127.0.0.1:{dripping.port}/", args),
    ]
    failed = False
    started = time.monotonic()
    try:
        for case in cases:
            print(f"{case.name}: winning deal {DEAL} and sending the score to {case.base}",
                  flush=True)
            try:
                case.setup(line["placements"], line["board"])
            except SystemExit as e:  # Run.start_x: no Xvfb here
                return e.code
            except e2e.StepFailed as e:
                print(f"{case.name}: FAILED: {e}", flush=True)
                case.run.keep_shot(f"{case.name}-FAILED")
                return 1
        watchers = [threading.Thread(target=c.watch) for c in cases]
        for t in watchers:
            t.start()
        for t in watchers:
            t.join()
        for case in cases:
            if case.verdict:
                failed = True
                print(f"{case.name}: FAILED: {case.verdict}", flush=True)
                case.run.keep_shot(f"{case.name}-FAILED")
            else:
                print(f"{case.name}: \"Posting Failed.\" on top with the keys, "
                      f"{case.after:.1f} s after Send Score", flush=True)
    finally:
        for case in cases:
            case.cleanup()
        silent.close()
        dripping.close()
    print(f"{'a case failed' if failed else 'all four cases passed'} in "
          f"{time.monotonic() - started:.0f} s; screenshots in {args.shots}", flush=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
