#!/usr/bin/env python3
"""Reads Pipshift as a screen reader does: over AT-SPI, the desktop's accessibility bus, from
the built program on a private X server, in a D-Bus session of its own. It reads the 35 slots
of a dealt board, follows the keyboard's slot, and listens for a refused move to be told.

    pipshift_a11y.py --bin-dir BUILD/bin

Exit status: 0 all heard as expected, 1 something was not, 77 no X server, D-Bus session or
accessibility bus could be started here (or no Python with pyatspi), so nothing was tried."""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

SKIP = 77
INSIDE = "PIPSHIFT_A11Y_SESSION"
SLOT_NAME = re.compile(r"^Row (\d), column (\d): (empty|(\d)/(\d))$")


def skip(reason):
    print(f"pipshift_a11y: skipped: {reason}", flush=True)
    sys.exit(SKIP)


def has_pyatspi(python):
    try:
        return subprocess.run([python, "-c", "import pyatspi"], capture_output=True,
                              timeout=30).returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        return False


def into_session():
    """Starts this script again inside a D-Bus session of its own, with a Python that has the
    AT-SPI bindings (Debian's, where the one running this has none)."""
    runner = shutil.which("dbus-run-session")
    if not runner:
        skip("dbus-run-session is not installed")
    python = next((p for p in (sys.executable, "/usr/bin/python3")
                   if p and os.path.exists(p) and has_pyatspi(p)), None)
    if not python:
        skip("no Python here has the AT-SPI bindings (python3-pyatspi)")
    env = dict(os.environ, **{INSIDE: "1"})
    done = subprocess.run([runner, "--", python, os.path.abspath(__file__)] + sys.argv[1:],
                          env=env)
    sys.exit(done.returncode)


class Failed(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise Failed(message)


class Reader:
    """What a screen reader sees and hears of one application."""

    def __init__(self, pyatspi, glib):
        self.pyatspi = pyatspi
        self.context = glib.MainContext.default()
        self.heard = []
        for kind in ("object:state-changed", "object:property-change:accessible-name", "focus:"):
            pyatspi.Registry.registerEventListener(self.on_event, kind)

    def on_event(self, event):
        try:
            source = event.source
            self.heard.append((event.type, source.getRoleName() if source else "",
                               source.name if source else "", event.detail1))
        except Exception as e:  # an object gone by the time the event is read
            self.heard.append((event.type, "", f"<{e}>", event.detail1))

    def pump(self, seconds):
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            while self.context.iteration(False):
                pass
            time.sleep(0.02)

    def wait(self, probe, seconds):
        end = time.monotonic() + seconds
        while True:
            self.pump(0.05)
            found = probe()
            if found or time.monotonic() >= end:
                return found

    def application(self, name):
        desktop = self.pyatspi.Registry.getDesktop(0)
        for app in desktop:
            if app is not None and app.name == name:
                return app
        return None

    def walk(self, root):
        """Every object under root that a reader would meet: shown ones only."""
        showing = self.pyatspi.STATE_SHOWING
        found, todo = [], [root]
        while todo:
            node = todo.pop()
            try:
                if node is not root and not node.getState().contains(showing):
                    continue
                found.append(node)
                todo.extend(child for child in node if child is not None)
            except Exception:
                continue
        return found


def slots_of(reader, app):
    slots = {}
    for node in reader.walk(app):
        try:
            m = SLOT_NAME.match(node.name or "")
            if m and node.getRoleName() == "push button":
                slots[(int(m.group(1)), int(m.group(2)))] = node.name
        except Exception:
            continue
    return slots


def run(args):
    import xsession

    try:
        import pyatspi
        from gi.repository import GLib
    except ImportError as e:
        skip(f"the AT-SPI bindings cannot be loaded: {e}")

    try:
        x = xsession.XServer()
    except xsession.XUnavailable as e:
        skip(str(e))
    scratch = tempfile.mkdtemp(prefix="pipshift-a11y-")
    program = None
    try:
        try:
            reader = Reader(pyatspi, GLib)
            reader.pump(0.2)
            pyatspi.Registry.getDesktop(0).childCount
        except Exception as e:
            skip(f"the accessibility bus cannot be reached: {e}")

        folder = os.path.join(scratch, "program")
        os.makedirs(folder)
        shutil.copy2(os.path.join(args.bin_dir, "pipshift"), folder)
        with open(os.path.join(folder, "pipshift.ini"), "w") as f:
            # Nothing leaves this machine: no update check, servers on the discard port.
            f.write("[pipshift]\r\nUpdate=false\r\nSounds=no\r\n"
                    "ScoreServer=http://127.0.0.1:9/\r\nUpdateServer=http://127.0.0.1:9/\r\n")
        env = dict(x.env, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        log = open(os.path.join(scratch, "program.log"), "wb")
        program = subprocess.Popen([os.path.join(folder, "pipshift")], cwd=scratch, env=env,
                                   stdout=log, stderr=subprocess.STDOUT)
        log.close()

        app = reader.wait(lambda: reader.application("Pipshift"), 20)
        expect(app, "the program never appeared on the accessibility bus")
        window = reader.wait(lambda: x.find_windows("Pipshift"), 10)
        expect(window, "the program's window never appeared")
        x.xdotool("windowfocus", "--sync", window[0])

        # At the start the name box has the keyboard; a reader is told what it is for.
        def focused_named(name):
            return lambda: [n for n in reader.walk(app)
                            if n.getState().contains(pyatspi.STATE_FOCUSED) and n.name == name]
        expect(reader.wait(focused_named("ENTER YOUR NAME"), 10),
               "the name box does not have the focus, or is not named \"ENTER YOUR NAME\"")

        # Esc closes the name panel, Ctrl+S deals; every slot is read out.
        x.key("Escape")
        x.key("ctrl+s")
        dealt = reader.wait(lambda: (lambda s: s if sum(not v.endswith(": empty")
                                                        for v in s.values()) == 28 else None)(
            slots_of(reader, app)), 10)
        slots = slots_of(reader, app)
        expect(dealt, f"after Ctrl+S a reader finds {len(slots)} slots, "
               f"{sum(not v.endswith(': empty') for v in slots.values())} with a bone; "
               f"expected 35 and 28:\n  " + "\n  ".join(sorted(slots.values())))
        staircase = {(r, c) for r in range(1, 8) for c in range(1, 10 - r)}
        expect(set(slots) == staircase, f"the slots read are not the staircase's 35: "
               f"{sorted(set(slots) ^ staircase)} differ")
        bones = [v.split(": ")[1] for v in slots.values() if not v.endswith(": empty")]
        everyone = {f"{h}/{l}" for h in range(7) for l in range(h + 1)}
        expect(set(bones) == everyone and len(bones) == 28,
               f"the bones read are not the double-six set once each: {sorted(bones)}")
        expect(all(slots[(r, 1)].endswith(": empty") for r in range(1, 8)),
               "after a deal the first column is not empty")

        # The keyboard's slot has the focus: one step right is row 1, column 2.
        reader.heard.clear()
        x.key("Right")
        expect(reader.wait(focused_named(slots[(1, 2)]), 5),
               f"after the Right arrow the focus is not on \"{slots[(1, 2)]}\"; heard: "
               f"{reader.heard}")

        # A refused move is told: no bone is selected, so the empty slot refuses.
        x.key("Left")
        reader.pump(0.3)
        reader.heard.clear()
        x.key("space")

        def told():
            return [h for h in reader.heard if h[0] == "object:state-changed:showing" and
                    h[1] == "notification" and h[2] == "Bone cannot go there" and h[3] == 1]
        expect(reader.wait(told, 5), f"a refused move was not told; heard: {reader.heard}")
        # Again, with its panel still up: told again.
        reader.heard.clear()
        x.key("space")
        expect(reader.wait(told, 5), f"a second refusal was not told; heard: {reader.heard}")
        print("pipshift_a11y: read 35 slots, followed the focus, heard the refusal twice",
              flush=True)
        return 0
    except Failed as e:
        print(f"pipshift_a11y: FAILED: {e}", flush=True)
        try:
            with open(os.path.join(scratch, "program.log"), "rb") as f:
                said = f.read().decode(errors="replace").strip()
            if said:
                print("  program output:\n    " + "\n    ".join(said.splitlines()[-20:]))
        except OSError:
            pass
        return 1
    finally:
        if program is not None and program.poll() is None:
            program.kill()
            program.wait()
        x.close()
        shutil.rmtree(scratch, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin-dir", required=True)
    args = parser.parse_args()
    if not os.environ.get(INSIDE):
        into_session()
    sys.exit(run(args))


if __name__ == "__main__":
    main()
