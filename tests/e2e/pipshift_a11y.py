#!/usr/bin/env python3
"""Reads Pipshift as a screen reader does: over AT-SPI, the desktop's accessibility bus, from
the built program on a private X server, in a D-Bus session of its own. It reads the 35 slots
of a dealt board, follows the keyboard's slot, and keeps a log of the events a reader speaks
from: a refused move, a bone picked up and let go, and a game played to its loss must be told in
it, and the clock's every second must not. Then it reads Help, About, the tally list and the high-score list (from pipshift-server on
127.0.0.1): each a frame or dialog named by its title, with no object a reader reaches left
unnamed, at most one object with the focus, and the page's table read a row to a line.

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
import urllib.request

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
        # What Orca and the other readers listen to, to know what to say.
        for kind in ("object:state-changed", "object:property-change:accessible-name",
                     "object:property-change:accessible-description", "object:text-changed",
                     "object:announcement", "window:", "focus:"):
            pyatspi.Registry.registerEventListener(self.on_event, kind)

    def on_event(self, event):
        try:
            source = event.source
            self.heard.append((event.type, source.getRoleName() if source else "",
                               source.name if source else "", event.detail1))
        except Exception as e:  # an object gone by the time the event is read
            self.heard.append((event.type, "", f"<{e}>", event.detail1))

    def drain(self):
        """Hands every event already here to on_event, without waiting for more."""
        while self.context.iteration(False):
            pass

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


# Roles that say nothing of what an object is: a reader meets them as empty places.
VOID_ROLES = {"filler", "unknown", "invalid", "redundant object"}


def unnamed(reader, root):
    """What a reader reaches under root that it cannot tell: no name, or no role of its own."""
    out = []
    for node in reader.walk(root):
        try:
            role, name = node.getRoleName(), (node.name or "").strip()
        except Exception:
            continue
        if not name or role in VOID_ROLES:
            out.append(f"{role} {name!r}")
    return out


def focused(reader, root):
    out = []
    for node in reader.walk(root):
        try:
            if node.getState().contains(reader.pyatspi.STATE_FOCUSED):
                out.append(f"{node.getRoleName()} {node.name!r}")
        except Exception:
            continue
    return out


def window_named(reader, app, title, roles=("frame", "dialog")):
    for node in app:
        try:
            if node is not None and node.name == title and node.getRoleName() in roles and \
                    node.getState().contains(reader.pyatspi.STATE_SHOWING):
                return node
        except Exception:
            continue
    return None


def named(reader, root, name, role=None):
    for node in reader.walk(root):
        try:
            if node.name == name and (role is None or node.getRoleName() == role):
                return node
        except Exception:
            continue
    return None


def text_of(node):
    text = node.queryText()
    return text.getText(0, text.characterCount)


def press(node):
    action = node.queryAction()
    for i in range(action.nActions):
        if action.getName(i) in ("press", "Press", "click"):
            action.doAction(i)
            return
    raise Failed(f"\"{node.name}\" has no press action")


def read_window(reader, app, title, role, check):
    """Waits for the window, checks what a reader finds in it, and returns it."""
    window = reader.wait(lambda: window_named(reader, app, title), 10)
    expect(window, f"no {role} named \"{title}\" is read; the program's windows: "
           f"{[(n.getRoleName(), n.name) for n in app if n is not None]}")
    expect(window.getRoleName() == role,
           f"\"{title}\" is read as a {window.getRoleName()}, not a {role}")
    found = reader.wait(lambda: check(window), 5)
    expect(found, f"in \"{title}\": {check(window, explain=True)}")
    missing = unnamed(reader, window)
    expect(not missing, f"in \"{title}\" a reader reaches {len(missing)} objects it cannot "
           f"name: {missing}")
    claims = focused(reader, window)
    expect(len(claims) <= 1, f"in \"{title}\" {len(claims)} objects claim the focus: {claims}")
    return window


def read_main(reader, app, when):
    """The main window as a reader meets it at one moment of play: every object named, one
    focus."""
    frames = [n for n in app if n is not None and n.getRoleName() == "frame" and
              n.getState().contains(reader.pyatspi.STATE_SHOWING) and
              (n.name or "").startswith("Pipshift") and "-" not in n.name]
    expect(len(frames) == 1, f"{when}: the main window is not read as one frame named by its "
           f"title: {[(n.getRoleName(), n.name) for n in app if n is not None]}")
    missing = unnamed(reader, frames[0])
    expect(not missing, f"{when}: in the main window a reader reaches {len(missing)} objects "
           f"it cannot name: {missing}")
    claims = focused(reader, frames[0])
    expect(len(claims) <= 1, f"{when}: {len(claims)} objects claim the focus: {claims}")


def start_server(bin_dir, scratch):
    """pipshift-server on a free port of 127.0.0.1 with two scores posted; its port, and it."""
    site = os.path.join(scratch, "site")
    os.makedirs(os.path.join(site, "pipshift"))
    server = subprocess.Popen(
        [os.path.join(bin_dir, "pipshift-server"), "--port", "0", "--db",
         os.path.join(scratch, "scores.db"), "--root", site],
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    line = server.stdout.readline().strip()
    m = re.match(r"^listening on 127\.0\.0\.1:(\d+)$", line)
    expect(m, f"pipshift-server did not say where it listens; it printed {line!r}")
    port = int(m.group(1))
    for name, score in (("Ann", 512), ("Kim", 498)):
        url = (f"http://127.0.0.1:{port}/cgi-bin/pipshift.cgi?name={name}&date=12/9/26"
               f"&score={score}")
        with urllib.request.urlopen(url, timeout=10) as answer:
            answer.read()
    return port, server


def choose(reader, x, app, main_window, menu_key, item, letter):
    """Chooses a menu item from the keyboard, its letter pressed only once the menu is up."""
    def shown():
        return [n for n in reader.walk(app) if n.name == item and n.getRoleName() == "menu item"]
    # Once more if the first press was lost: on a bare X server, with no window manager, the
    # keyboard's focus may reach the window a moment after it was asked for.
    for attempt in range(2):
        x.xdotool("windowfocus", "--sync", main_window)
        x.key(menu_key)
        if reader.wait(shown, 5):
            break
        x.key("Escape")
    expect(shown(), f"{menu_key} did not open a menu with \"{item}\"")
    x.key(letter)


CLOCK = re.compile(r"^Time: \d+:\d\d$")


def told(reader, text, role="notification"):
    """What the log holds of an object of that role being shown, or shown again, under a name."""
    return [h for h in reader.heard if h[0] == "object:state-changed:showing" and
            h[1] == role and h[2] == text and h[3] == 1]


def listen_to_the_clock(reader, app):
    """Three seconds of play: the clock's caption moves on, and a reader is told nothing of it."""
    def clock():
        found = [n for n in reader.walk(app) if CLOCK.match(n.name or "")]
        return found[0] if found else None
    node = reader.wait(clock, 5)
    expect(node, "no clock read as \"Time: m:ss\"; the labels read: " +
           repr([n.name for n in reader.walk(app) if n.getRoleName() == "label"]))
    before = node.name
    reader.heard.clear()
    reader.pump(3.5)
    after = node.name
    expect(after != before and CLOCK.match(after),
           f"the clock read {before!r} and three seconds later {after!r}")
    ticks = [h for h in reader.heard if CLOCK.match(h[2])]
    expect(not ticks, f"the clock was told to a reader as it ran: {ticks}")
    return after


def pick_up_and_let_go(reader, x, slots):
    """The keyboard's slot is on row 1, column 2, a bone on it: Space picks it up, Space again
    lets it go, and each is told."""
    bone = slots[(1, 2)].split(": ")[1]
    reader.heard.clear()
    x.key("space")
    expect(reader.wait(lambda: told(reader, f"{bone} picked up"), 5),
           f"picking {bone} up was not told; heard: {reader.heard}")
    reader.heard.clear()
    x.key("space")
    expect(reader.wait(lambda: told(reader, f"{bone} let go"), 5),
           f"letting {bone} go was not told; heard: {reader.heard}")


def play_to_a_loss(reader, app):
    """Places bones where the hints say they may go, by a reader's press on their slots, until
    the game is lost: it has a hundred clicks, so the hundred-and-first placement loses at the
    latest, if no board without moves comes first. Returns the lost notice."""
    nodes = {}
    for node in reader.walk(app):
        m = SLOT_NAME.match(node.name or "")
        if m and node.getRoleName() == "push button":
            nodes[(int(m.group(1)), int(m.group(2)))] = node
    expect(len(nodes) == 35, f"{len(nodes)} slots to play on, not 35")
    checked = reader.pyatspi.STATE_CHECKED
    selected = reader.pyatspi.STATE_SELECTED

    def until(probe, what):
        expect(reader.wait(probe, 5), what)

    def has(at, state):
        return nodes[at].getState().contains(state)

    reader.heard.clear()
    for placement in range(1, 120):
        names = {at: node.name for at, node in nodes.items()}
        gaps = [at for at, name in names.items() if name.endswith(": empty")]
        placed = False
        for at in sorted((at for at in names if at not in gaps),
                         key=lambda at: (placement * 7 + at[0] * 13 + at[1] * 5) % 35):
            press(nodes[at])
            if not reader.wait(lambda: has(at, selected), 5):
                ended = named(reader, app, "SORRY, YOU LOST!")
                expect(not ended, f"the game was lost and not told; heard: {reader.heard[-10:]}")
                raise Failed(f"pressing {names[at]!r} did not pick its bone up")
            targets = [g for g in gaps if has(g, checked)]
            if targets:
                to = targets[placement % len(targets)]
                press(nodes[to])
                until(lambda: nodes[to].name != names[to],
                      f"{names[at]!r} was not placed on the hinted {names[to]!r}")
                placed = True
                break
            press(nodes[at])  # let go: it may go nowhere
            until(lambda: not has(at, selected), f"pressing {names[at]!r} again kept it")
        expect(placed, f"no bone may move on the board read as {sorted(names.values())}")
        reader.drain()
        lost = told(reader, "SORRY, YOU LOST!")
        if lost:
            return placement
    raise Failed(f"120 placements and no loss was told; the last events: {reader.heard[-10:]}")


def read_other_windows(reader, x, app, main_window):
    """Help, About, the tally list and the high-score list, as a reader meets them."""
    def topics(window, explain=False):
        want = ["Overview", "Game Play", "Scoring", "Documentation", "License", "About", "Done"]
        have = [n.name for n in reader.walk(window)
                if n.getRoleName() == "push button"]
        return (f"the buttons read are {have}, not {want}" if explain else
                sorted(have) == sorted(want))

    x.xdotool("windowfocus", "--sync", main_window)
    x.key("F1")
    help_ = read_window(reader, app, "Pipshift - Help File", "frame", topics)
    page = reader.wait(lambda: (lambda p: p[0] if p else None)(
        [n for n in reader.walk(help_) if n.name == "Overview" and
         n.getRoleName() not in ("push button", "label")]), 5)
    expect(page is not None and "seaching the net" in text_of(page),
           "the help's Overview page is not read by its title with its text")
    # A reader's press chooses a topic; its page is read wrapped once, by the page.
    press(named(reader, help_, "Game Play", "push button"))
    def page_named(title):
        return [n for n in reader.walk(help_) if n.name == title and
                n.getRoleName() not in ("push button", "label")]
    game_play = reader.wait(lambda: page_named("Game Play"), 5)
    expect(game_play, "pressing \"Game Play\" shows no page of that name")
    expect("when the board is sorted properly." in text_of(game_play[0]),
           "the Game Play page still breaks \"board is\" / \"sorted properly.\"")

    press(named(reader, help_, "About", "push button"))
    about = read_window(reader, app, "Pipshift - About", "dialog",
                        lambda w, explain=False: "no Version line" if explain else
                        named(reader, w, "Version") is not None)
    press(named(reader, about, "Done", "push button"))
    expect(reader.wait(lambda: window_named(reader, app, "Pipshift - About") is None, 5),
           "About's Done pressed by a reader left it open")
    press(named(reader, help_, "Done", "push button"))
    expect(reader.wait(lambda: window_named(reader, app, "Pipshift - Help File") is None, 5),
           "the help's Done pressed by a reader left it open")

    def ranks(window, explain=False):
        lines = [n.name for n in reader.walk(window) if re.match(r"^\d+\. ", n.name or "")]
        return (f"the rank lines read are {lines}" if explain else len(lines) == 10)

    choose(reader, x, app, main_window, "alt+v", "Tally List", "t")
    tally = read_window(reader, app, "Pipshift - Tally List", "frame", ranks)
    press(named(reader, tally, "Done", "push button"))
    expect(reader.wait(lambda: window_named(reader, app, "Pipshift - Tally List") is None, 5),
           "the tally's Done pressed by a reader left it open")

    def scores(window, explain=False):
        pages = [n for n in reader.walk(window) if n.name == "Pipshift High Scores"]
        if not pages:
            return "no page named \"Pipshift High Scores\" is read" if explain else False
        text = text_of(pages[0])
        marks = [c for c in text if 0xFDD0 <= ord(c) <= 0xFDEF or c == "\u2029"]
        if explain:
            return f"the page reads {text!r}"
        return not marks and re.search(r"^1\tAnn\t12/9/26\t512$", text, re.M) and \
            re.search(r"^2\tKim\t12/9/26\t498$", text, re.M)

    choose(reader, x, app, main_window, "alt+v", "View High Score List", "s")
    read_window(reader, app, "Pipshift - High Scores", "dialog", scores)


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
    server = None
    try:
        try:
            reader = Reader(pyatspi, GLib)
            reader.pump(0.2)
            pyatspi.Registry.getDesktop(0).childCount
        except Exception as e:
            skip(f"the accessibility bus cannot be reached: {e}")

        port, server = start_server(args.bin_dir, scratch)
        folder = os.path.join(scratch, "program")
        os.makedirs(folder)
        shutil.copy2(os.path.join(args.bin_dir, "pipshift"), folder)
        with open(os.path.join(folder, "pipshift.ini"), "w") as f:
            # Nothing leaves this machine: no update check, the scores from our own server.
            f.write("[pipshift]\r\nUpdate=false\r\nSounds=no\r\n"
                    f"ScoreServer=http://127.0.0.1:{port}/\r\n"
                    "UpdateServer=http://127.0.0.1:9/\r\n")
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
        read_main(reader, app, "with the name panel open")

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
        read_main(reader, app, "after a deal")

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
        renamed = [h for h in reader.heard if h[0] == "object:property-change:accessible-name"
                   and h[1] == "notification" and h[2] == "Bone cannot go there"]
        expect(renamed, f"the second refusal did not tell its panel's name; heard: {reader.heard}")
        print("pipshift_a11y: read 35 slots, followed the focus, heard the refusal twice",
              flush=True)

        # Esc puts the refusal away; the keyboard's slot goes back to the bone beside.
        x.key("Escape")
        x.key("Right")
        reader.wait(focused_named(slots[(1, 2)]), 5)
        pick_up_and_let_go(reader, x, slots)
        clock = listen_to_the_clock(reader, app)
        print(f"pipshift_a11y: heard a bone picked up and let go; the clock ran to {clock!r} "
              "untold", flush=True)
        placements = play_to_a_loss(reader, app)
        lost = named(reader, app, "SORRY, YOU LOST!", "notification")
        expect(lost, "the lost panel told is not read as a notification")
        reason = lost.description or ""
        expect(reason.startswith("No click was left") or reason.startswith("No move found"),
               f"the lost panel's reason reads {reason!r}")
        read_main(reader, app, "with the lost panel up")
        print(f"pipshift_a11y: heard the loss after {placements} placements: "
              f"\"SORRY, YOU LOST!\", {reason!r}", flush=True)
        read_other_windows(reader, x, app, window[0])
        print("pipshift_a11y: read Help, About, the tally list and the high-score list, every "
              "object named", flush=True)
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
        if server is not None and server.poll() is None:
            server.terminate()
            server.wait()
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
