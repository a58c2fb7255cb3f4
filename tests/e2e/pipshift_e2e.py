#!/usr/bin/env python3
"""Plays Pipshift end to end as a player meets it: the built program copied into a scratch
program folder, started on a private X server, clicked and typed at with xdotool, pointed at the
reference score and update server on 127.0.0.1. Every step keeps a screenshot; a failing step
says which step it was and what it saw.

    pipshift_e2e.py --bin-dir BUILD/bin --clip-probe PROBE --shots DIR

Exit status: 0 every step passed, 1 a step failed, 77 no X server could be started here."""

import argparse
import math
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback
import urllib.request

# Nothing of the run is written into the source folder.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import relay as relaymod  # noqa: E402
import xsession  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "desktop", "sound"))
from soundserver import SoundServer  # noqa: E402

SKIP = 77

# ---- The window's layout ------------------------------------------------------------------

WINDOW_BG = (0x34, 0x41, 0x43)
ACCENT = (0x92, 0x94, 0xC4)
BLACK = (0, 0, 0)
DEFAULT_BOUNDS = xsession.Geometry(3, 3, 604, 374)

# The board panel's client origin inside the main window's client area.
BOARD1 = (2 + 1, 2 + 34)
BOARD1_SIZE = (588, 287)
# The client area the board is laid out for. A larger window draws the whole board larger, by
# sixteenths, centred: 1 until the client area is a sixteenth larger than this.
DESIGN_CLIENT = (598, 330)
SCALE_STEPS = 16


def rnd(value):
    """Rounds as the program does (half away from zero; the values here are not negative)."""
    return int(math.floor(value + 0.5))


def board_scale(client_width, client_height):
    fit = min(client_width / DESIGN_CLIENT[0], client_height / DESIGN_CLIENT[1])
    return max(1.0, math.floor(fit * SCALE_STEPS) / SCALE_STEPS)


def board_origin(width, height, menu_height):
    """The scale the board is drawn at in a window of that size, and where the board panel's
    client origin lies in the window."""
    client_height = height - menu_height
    s = board_scale(width, client_height)
    if s == 1.0:
        return s, (BOARD1[0], menu_height + BOARD1[1])
    ox = max(0, (width - rnd(DESIGN_CLIENT[0] * s)) // 2)
    oy = max(0, (client_height - rnd(DESIGN_CLIENT[1] * s)) // 2)
    return s, (ox + rnd(2 * s) + rnd(1 * s), menu_height + oy + rnd(2 * s) + rnd(34 * s))

# Overlay panels, in board coordinates.
PANEL_NAME = (123, 40, 329, 161)
PANEL_UPDATE = (125, 16, 329, 161)
PANEL_CLEARED = (125, 3, 329, 281)
PANEL_LOST = (123, 64, 329, 105)
PANEL_INVALID = (131, 72, 329, 105)
BUTTON = (132, 41)

SLOT_LEFT = [8, 80, 151, 221, 292, 362, 432, 503]
SLOT_SIZE = (66, 34)
FIRST_SLOT_OF_COLUMN = [1, 8, 15, 21, 26, 30, 33, 35]

LABEL_NAME = (14 - 1, 14 - 34, 302, 16)  # panel_board coordinates turned into board ones
LABEL_SCORE = (477, 192, 101, 20)
LABEL_TIMER = (427, 219, 87, 19)

TALLY_CLIENT = (342, 425)
TALLY_COUNTER = [None, (200, 48, 59, 16), (200, 65, 59, 16), (200, 83, 59, 16)]
TALLY_DONE = (6 + 200, 6 + 368)
HELP_CLIENT = (523, 431)
HELP_DONE = (18, 404)
ABOUT_CLIENT = (304, 193)
ABOUT_DONE = (202, 164)
SELBUTTON = (95, 20)
HIGHSCORE_CLIENT = (603, 561)
HIGHSCORE_DONE = (467, 518)
HIGHSCORE_VIEW = (112 + 1, 8 + 1, 481 - 2, 507 - 2)

# Menu titles, left to right, and their items in order (separators are skipped by the arrow keys).
MENUS = {
    "File": ["Start Game", "Restart Deal", "Choose Deal...", "Deal of the Day", "Exit"],
    "Options": ["Play Sounds", "Reset Screen Location", "Change  Name",
                "Automatically Check for Updates", "Show Hints"],
    "View": ["Tally List", "View High Score List", "Show Solution"],
    "Help": ["Help", "About"],
}
MENU_ORDER = ["File", "Options", "View", "Help"]

VERSION_PATH = "/pipshift/pipshiftversion.txt"
INSTALLER_PATH = "/pipshift/pshsetup.exe"
LIST_PATH = "/counter/pipshift.shtml"
POST_PATH = "/cgi-bin/pipshift.cgi"


def slots():
    """Every slot as (number, column, row)."""
    for column, first in enumerate(FIRST_SLOT_OF_COLUMN):
        rows = 7 if column == 0 else 8 - column
        for row in range(rows):
            yield first + row, column, row


def slot_rect(column, row):
    return (SLOT_LEFT[column], 8 + 40 * row) + SLOT_SIZE


def centre(rect):
    return rect[0] + rect[2] // 2, rect[1] + rect[3] // 2


class StepFailed(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise StepFailed(message)


def wait_for(probe, timeout, interval=0.1):
    """Calls probe until it returns something true or the time runs out; returns the last
    answer either way, so a failure can say what it saw."""
    deadline = time.monotonic() + timeout
    while True:
        answer = probe()
        if answer or time.monotonic() >= deadline:
            return answer
        time.sleep(interval)


# ---- Settings and tally files --------------------------------------------------------------

def read_ini(path):
    """The keys of the [pipshift] section, as written, and the raw text."""
    with open(path, "rb") as f:
        raw = f.read().decode("latin-1")
    keys = {}
    section = None
    for line in raw.splitlines():
        stripped = line.strip()
        if stripped.startswith("[") and stripped.endswith("]"):
            section = stripped[1:-1].lower()
        elif section == "pipshift" and "=" in stripped:
            key, _, value = line.partition("=")
            keys[key.strip()] = value
    return keys, raw


def expect_ini(path, wanted, when, timeout=5):
    """The settings file holds the wanted keys, now or within the timeout (the program writes
    it a key at a time)."""
    def differences():
        if not os.path.exists(path):
            return None
        keys, raw = read_ini(path)
        return keys, raw, {k: (v, keys.get(k)) for k, v in wanted.items() if keys.get(k) != v}

    seen = wait_for(lambda: (lambda d: d if d and not d[2] else None)(differences()), timeout)
    seen = seen or differences()
    expect(seen is not None, f"{when}: no settings file at {path}")
    keys, raw, wrong = seen
    expect(not wrong, f"{when}: the settings file holds " +
           ", ".join(f"{k}={seen!r} where {k}={want!r} was expected"
                     for k, (want, seen) in wrong.items()) + f"\n--- pipshift.ini ---\n{raw}")
    return keys


def tally_cells(tool, path):
    done = subprocess.run([tool, "dump", path], capture_output=True, text=True, timeout=20)
    expect(done.returncode == 0, f"pipshift-tally dump {path} failed ({done.returncode}): "
           f"{done.stderr.strip()}")
    cells = {}
    for line in done.stdout.splitlines():
        m = re.match(r'^\s+(\d+), (\d+): "(.*)"$', line)
        if m:
            cells[(int(m.group(1)), int(m.group(2)))] = m.group(3)
    expect(cells, f"pipshift-tally dump printed no cells:\n{done.stdout}")
    return cells, done.stdout


# ---- The run -------------------------------------------------------------------------------

class Run:
    def __init__(self, args):
        self.args = args
        self.bin_dir = os.path.abspath(args.bin_dir)
        self.shots = os.path.abspath(args.shots)
        self.number = 0
        self.x = None
        self.server = None
        self.relay = None
        self.program = None
        self.main = None
        self.menu_height = None
        self.sound = None
        self.scratch = tempfile.mkdtemp(prefix="pipshift-e2e-")
        self.folder = os.path.join(self.scratch, "program")
        self.elsewhere = os.path.join(self.scratch, "elsewhere")
        self.site = os.path.join(self.scratch, "site")
        self.ini = os.path.join(self.folder, "pipshift.ini")
        self.tally = os.path.join(self.folder, "pipshifttally.tld")
        self.started = time.monotonic()

    # -- steps --

    def do(self, name, action):
        """Runs one step: passes, or stops the run saying what it saw."""
        self.number += 1
        label = f"{self.number:02d}-{name}"
        if name in self.args.skip:
            print(f"step {label}: left out on request", flush=True)
            return
        print(f"step {label} ...", flush=True)
        self.label = label
        begun = time.monotonic()
        try:
            action(self)
        except StepFailed as e:
            print(f"step {label}: FAILED: {e}", flush=True)
            self.fail(label)
        except Exception:
            print(f"step {label}: FAILED with an error in the run itself:", flush=True)
            traceback.print_exc()
            self.fail(label)
        shot = self.keep_shot(label)
        print(f"step {label}: passed ({time.monotonic() - begun:.1f} s) [{shot}]", flush=True)

    def fail(self, label):
        print(f"  screenshot: {self.keep_shot(label + '-FAILED')}", flush=True)
        self.print_program_log()
        raise SystemExit(1)

    def snap(self, what):
        """Keeps a picture of the screen in the middle of a step, for a person to look at."""
        self.keep_shot(f"{self.label}-{what}")

    def keep_shot(self, label):
        if self.x is None:
            return "(no screen)"
        path = os.path.join(self.shots, label + ".png")
        try:
            self.x.screenshot().crop(0, 0, 1024, 768).save_png(path)
        except Exception as e:  # the picture is a help for the reader, never the verdict
            return f"(no screenshot: {e})"
        return path

    # -- processes --

    def start_x(self):
        try:
            self.x = xsession.XServer()
        except xsession.XUnavailable as e:
            print(f"SKIPPED: {e}; the end-to-end run needs Xvfb.", flush=True)
            raise SystemExit(SKIP)
        runtime = os.path.join(self.scratch, "runtime")
        os.mkdir(runtime, 0o700)
        self.x.env["XDG_RUNTIME_DIR"] = runtime
        # The player's own folders, kept inside the scratch folder too.
        self.x.env["HOME"] = os.path.join(self.scratch, "home")
        os.mkdir(self.x.env["HOME"])
        for var in ("XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"):
            self.x.env.pop(var, None)
        # The sound server the program finds: ours, which sees it look and plays nothing.
        self.sound = SoundServer(os.path.join(self.scratch, "sound"))
        self.x.env["PULSE_SERVER"] = self.sound.address

    def start_server(self):
        os.makedirs(os.path.join(self.site, "pipshift"))
        self.publish("1.0.0")
        exe = os.path.join(self.bin_dir, "pipshift-server")
        self.server = subprocess.Popen(
            [exe, "--port", "0", "--db", os.path.join(self.scratch, "scores.db"), "--root",
             self.site], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        line = self.server.stdout.readline().strip()
        m = re.match(r"^listening on 127\.0\.0\.1:(\d+)$", line)
        expect(m, f"pipshift-server did not say where it listens; it printed {line!r} "
               f"{self.server.stderr.read() if self.server.poll() is not None else ''}")
        self.server_port = int(m.group(1))
        self.relay = relaymod.Relay(self.server_port)

    def publish(self, version):
        with open(os.path.join(self.site, "pipshift", "pipshiftversion.txt"), "w") as f:
            f.write(version)

    def server_url(self, path):
        return f"http://127.0.0.1:{self.server_port}{path}"

    def start_program(self):
        log = open(os.path.join(self.shots, f"program-{self.number:02d}.log"), "wb")
        self.program_log = log.name
        self.program = subprocess.Popen([os.path.join(self.folder, "pipshift")],
                                        cwd=self.elsewhere, env=self.x.env, stdout=log,
                                        stderr=subprocess.STDOUT)
        log.close()
        pid = self.program.pid

        def mapped():
            if self.program.poll() is not None:
                return "gone"
            out = self.x.xdotool("search", "--all", "--onlyvisible", "--pid", pid, "--name",
                                 "^Pipshift$", check=False)
            return [int(w) for w in out.split()]

        seen = wait_for(mapped, 20)
        expect(seen != "gone", f"the program ended at start with status "
               f"{self.program.returncode}")
        expect(len(seen) == 1, f"expected one main window titled \"Pipshift\", found {seen}")
        self.main = seen[0]
        # Painted: the board frame drawn in black where the layout puts it.
        self.menu_height = wait_for(self.find_menu_height, 10)
        expect(self.menu_height, "the main window never showed the board's black frame below "
               "a menu bar")

    def find_menu_height(self):
        """The menu bar's height: the one that puts the board's black top edge where the layout
        (at the scale the window's size gives it) puts it."""
        g = self.x.geometry(self.main)
        shot = self.x.screenshot()
        for height in range(10, 61):
            s, (bx, by) = board_origin(g.width, g.height, height)
            y = g.y + by
            xs = (g.x + bx + rnd(100 * s), g.x + bx + rnd(500 * s))
            if y >= shot.height or any(x >= shot.width for x in xs):
                continue
            if all(shot.pixel(x, y) == BLACK for x in xs) and \
                    not all(shot.pixel(x, y - 1) == BLACK for x in xs):
                return height
        return None

    def stop_program(self, timeout=10):
        try:
            return self.program.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def print_program_log(self):
        if self.program is None:
            return
        try:
            with open(self.program_log, "rb") as f:
                text = f.read().decode(errors="replace").strip()
        except OSError:
            return
        if text:
            print("  program output:\n    " + "\n    ".join(text.splitlines()[-20:]), flush=True)

    def cleanup(self):
        if self.program is not None and self.program.poll() is None:
            self.program.kill()
            self.program.wait()
        if self.server is not None and self.server.poll() is None:
            self.server.send_signal(signal.SIGTERM)
            try:
                self.server.wait(5)
            except subprocess.TimeoutExpired:
                self.server.kill()
                self.server.wait()
        if self.relay is not None:
            self.relay.close()
        if self.sound is not None:
            self.sound.stop()
        if self.x is not None:
            self.x.close()
        shutil.rmtree(self.scratch, ignore_errors=True)

    # -- the main window --

    def geometry(self):
        return self.x.geometry(self.main)

    def shot(self, window=None):
        """The window's picture, in its own coordinates."""
        g = self.x.geometry(window or self.main)
        return self.x.screenshot().crop(g.x, g.y, g.width, g.height)

    def board_layout(self):
        g = self.geometry()
        return board_origin(g.width, g.height, self.menu_height)

    def board_to_window(self, x, y):
        s, (bx, by) = self.board_layout()
        return bx + rnd(x * s), by + rnd(y * s)

    def board_rect(self, rect):
        """A rectangle of the board in window coordinates, its edges scaled as the program
        scales them."""
        s, (bx, by) = self.board_layout()
        left, top = rnd(rect[0] * s), rnd(rect[1] * s)
        return (bx + left, by + top, rnd((rect[0] + rect[2]) * s) - left,
                rnd((rect[1] + rect[3]) * s) - top)

    def click_board(self, x, y):
        g = self.geometry()
        wx, wy = self.board_to_window(x, y)
        self.x.click(g.x + wx, g.y + wy)

    def click_in(self, window, x, y):
        g = self.x.geometry(window)
        self.x.click(g.x + x, g.y + y)

    def focus_main(self):
        self.x.xdotool("windowfocus", "--sync", self.main)

    def panel_state(self, rect, shot=None):
        """How much of the panel's black frame shows, 0 to 1."""
        shot = shot or self.shot()
        x, y, w, h = self.board_rect(rect)
        frame = [(x + i, y) for i in range(w)] + [(x + i, y + h - 1) for i in range(w)] + \
                [(x, y + j) for j in range(h)] + [(x + w - 1, y + j) for j in range(h)]
        black = sum(1 for p in frame if shot.pixel(*p) == BLACK)
        return black / len(frame)

    def panel_shown(self, rect, shot=None):
        return self.panel_state(rect, shot) == 1.0

    def board_crop(self, rect, shot=None):
        shot = shot or self.shot()
        return shot.crop(*self.board_rect(rect)).rgb

    # -- menus --

    def menu_titles(self):
        """The menu bar's titles as runs of columns that hold text, left to right."""
        shot = self.shot()
        background = shot.pixel(shot.width // 2, self.menu_height // 2)
        columns = [x for x in range(shot.width)
                   if any(shot.pixel(x, y) != background for y in range(2, self.menu_height - 3))]
        groups = []
        for x in columns:
            if groups and x - groups[-1][1] <= 6:
                groups[-1][1] = x
            else:
                groups.append([x, x])
        return groups

    def shown_windows(self):
        """Every shown window of the program, menus included (only one program runs on this
        display; menus carry its class but no title that xdotool can match)."""
        out = self.x.xdotool("search", "--onlyvisible", "--classname", "pipshift", check=False)
        return {int(w) for w in out.split()}

    def choose(self, menu, item):
        # A window just resized may show its new width unpainted for a moment (slow under
        # the sanitizers), which reads as one more title: give the repaint its time.
        titles = wait_for(lambda: (lambda t: t if len(t) == len(MENU_ORDER) else None)(
            self.menu_titles()), 5) or self.menu_titles()
        expect(len(titles) == len(MENU_ORDER),
               f"the menu bar shows {len(titles)} titles (text at columns {titles}); "
               f"expected {', '.join(MENU_ORDER)}")
        left, right = titles[MENU_ORDER.index(menu)]
        g = self.geometry()
        before = self.shown_windows()
        self.x.click(g.x + (left + right) // 2, g.y + self.menu_height // 2)
        opened = wait_for(lambda: self.shown_windows() - before, 5)
        expect(opened, f"clicking the menu title \"{menu}\" opened no menu")
        for _ in range(MENUS[menu].index(item) + 1):
            self.x.key("Down")
        self.x.key("Return")
        closed = wait_for(lambda: not (opened & self.shown_windows()), 5)
        expect(closed, f"the \"{menu}\" menu stayed open after choosing \"{item}\"")

    # -- reading text the way a player copies it --

    def copy_text(self, window, x, y):
        """Clicks into a text field or view, selects all, copies, and reads the clipboard."""
        self.x.xdotool("windowfocus", "--sync", window)
        self.click_in(window, x, y)
        self.x.key("ctrl+a")
        self.x.key("ctrl+c")
        done = subprocess.run([self.args.clip_probe], env=self.x.env, capture_output=True,
                              timeout=20)
        expect(done.returncode == 0, "nothing could be copied from the window: " +
               done.stderr.decode(errors="replace").strip())
        return done.stdout.decode("utf-8", errors="replace")

    def name_field(self):
        x, y = self.board_to_window(PANEL_NAME[0] + 83 + 80, PANEL_NAME[1] + 52 + 16)
        return self.copy_text(self.main, x, y)

    # -- secondary windows --

    def window_titled(self, title, painted=None, timeout=10):
        """The one shown window of that title, once the pixel painted (window coordinates)
        shows black, where its layout draws a frame line."""
        found = wait_for(lambda: self.x.find_windows(title), timeout)
        expect(len(found) == 1, f"expected one window titled \"{title}\", found {len(found)}")
        if painted is not None:
            drawn = wait_for(lambda: self.shot(found[0]).pixel(*painted) == BLACK, 5)
            expect(drawn, f"the window \"{title}\" was never painted (no black frame line at "
                   f"{painted})")
        return found[0]

    def expect_closed(self, title):
        gone = wait_for(lambda: not self.x.find_windows(title), 5)
        expect(gone, f"the window \"{title}\" is still shown")


# ---- The session ---------------------------------------------------------------------------

def step_first_start(run):
    os.makedirs(run.folder)
    os.makedirs(run.elsewhere)
    # The program file alone: it carries its pictures and sounds.
    shutil.copy2(os.path.join(run.bin_dir, "pipshift"), run.folder)
    run.start_server()
    base = f"http://127.0.0.1:{run.relay.port}/"
    # The only keys before the first start: where the servers are.
    with open(run.ini, "w") as f:
        f.write(f"[pipshift]\r\nScoreServer={base}\r\nUpdateServer={base}\r\n")
    run.start_program()
    g = run.geometry()
    expect(g == DEFAULT_BOUNDS, f"first start: the window is {g}, expected {DEFAULT_BOUNDS}")
    expect(wait_for(lambda: run.panel_shown(PANEL_NAME), 5),
           f"first start: the name panel is not shown (its frame is "
           f"{run.panel_state(PANEL_NAME):.0%} drawn)")
    name = run.name_field()
    expect(name == "Guest", f"first start: the name field reads {name!r}, expected 'Guest'")
    # The sound player is made once the window is up and looks for the sound output; finding
    # none, it stays quiet.
    made = wait_for(lambda: run.sound.connections > 0, 5)
    with open(run.program_log, "rb") as f:
        said = f.read().decode(errors="replace")
    expect(made, f"the program never looked for the sound output; it said: {said.strip()}")

def step_no_update_offered_for_same_version(run):
    answered = run.relay.wait_answered(VERSION_PATH, 15)
    expect(answered, f"the program never asked for {VERSION_PATH}; requests seen: "
           f"{[e.request_line for e in run.relay.exchanges]}")
    expect(answered[0].status == 200 and answered[0].body == b"1.0.0",
           f"the server answered the version request with {answered[0].status} "
           f"{answered[0].body!r}")
    time.sleep(1.5)
    expect(not run.panel_shown(PANEL_UPDATE),
           "the update panel is offered although the server publishes \"1.0.0\"")
    expect(run.panel_shown(PANEL_NAME), "the name panel went away by itself")

def step_change_name(run):
    # Cancel closes the panel; the menu brings it back with the entry field as it was.
    run.click_board(*centre((PANEL_NAME[0] + 170, PANEL_NAME[1] + 106) + BUTTON))
    expect(wait_for(lambda: not run.panel_shown(PANEL_NAME), 5),
           "Cancel on the name panel did not close it")
    run.choose("Options", "Change  Name")
    expect(wait_for(lambda: run.panel_shown(PANEL_NAME), 5),
           "Options > Change  Name did not show the name panel")
    x, y = run.board_to_window(PANEL_NAME[0] + 83 + 80, PANEL_NAME[1] + 52 + 16)
    run.click_in(run.main, x, y)
    run.x.key("ctrl+a")
    run.x.type("Ada Lovelace")
    typed = run.name_field()
    expect(typed == "Ada Lovela",
           f"after typing 'Ada Lovelace' the name field holds {typed!r}; "
           "it keeps at most 10 characters, so 'Ada Lovela' was expected")
    run.click_board(*centre((PANEL_NAME[0] + 26, PANEL_NAME[1] + 106) + BUTTON))
    expect(wait_for(lambda: not run.panel_shown(PANEL_NAME), 5),
           "Done on the name panel did not close it")

def step_start_game(run):
    before = run.shot()
    empty_slot = {n: run.board_crop(slot_rect(c, r), before) for n, c, r in slots()}
    run.click_board(*centre((448, 241) + BUTTON))

    def dealt():
        shot = run.shot()
        changed = {n for n, c, r in slots()
                   if run.board_crop(slot_rect(c, r), shot) != empty_slot[n]}
        return changed if len(changed) >= 28 else None

    changed = wait_for(dealt, 5)
    firsts = {n for n, c, r in slots() if c == 0}
    expect(changed and changed.isdisjoint(firsts) and len(changed) == 28,
           f"after Start Game the slots that show a bone are {sorted(changed or [])}; "
           f"expected all 28 slots outside the first column {sorted(firsts)}")
    after = run.shot()
    expect(run.board_crop(LABEL_NAME, after) != run.board_crop(LABEL_NAME, before),
           "the greeting line did not change when the game started")
    expect(run.board_crop(LABEL_SCORE, after) != run.board_crop(LABEL_SCORE, before),
           "the score line did not change to the clicks when the game started")
    clock = run.board_crop(LABEL_TIMER, after)
    expect(wait_for(lambda: run.board_crop(LABEL_TIMER) != clock, 3),
           "the clock did not move within 3 seconds of the start")
    run.game1 = {n: run.board_crop(slot_rect(c, r), after) for n, c, r in slots()}

def step_select_a_bone(run):
    # The bone in the top row's second slot: a click selects it and rings it in red.
    rect = slot_rect(1, 0)
    ring = (rect[0] - 2, rect[1] - 2, rect[2] + 4, rect[3] + 4)
    red = lambda p: p[0] > 150 and p[1] < 40 and p[2] < 40  # noqa: E731
    x, y, w, h = run.board_rect(ring)
    reds_before = run.shot().count(red, x, y, w, h)
    run.click_board(*centre(rect))
    reds = wait_for(lambda: run.shot().count(red, x, y, w, h) > reds_before + 50, 3)
    expect(reds, "clicking a bone did not ring it with the red highlight")

def step_play_sounds_off_writes_settings(run):
    run.choose("Options", "Play Sounds")
    keys = expect_ini(run.ini, {"Sounds": "no", "Name": "Ada Lovela", "Hints": "yes",
                                "Update": "true", "Top": "3", "Left": "3", "Width": "604",
                                "Height": "374"},
                      "right after Options > Play Sounds, with the program still running")
    base = f"http://127.0.0.1:{run.relay.port}/"
    expect(keys.get("ScoreServer") == base and keys.get("UpdateServer") == base,
           f"the server keys were not kept: {keys}")

def step_tally_list_counts_a_game(run):
    run.choose("View", "Tally List")
    tally = run.window_titled("Pipshift - Tally List", painted=(6, 6))
    g = run.x.geometry(tally)
    expect((g.width, g.height) == TALLY_CLIENT,
           f"the tally window is {g.width}x{g.height}, expected {TALLY_CLIENT}")
    shot = run.shot(tally)
    total, cleared, percent = (shot.crop(*TALLY_COUNTER[k]).rgb for k in (1, 2, 3))
    # Games cleared and the percentage both read "0": the same picture. Total games reads
    # "1" after one start, so it must look different.
    expect(cleared == percent, "Games Cleared and Win Percentage should both read 0 but "
           "are drawn differently")
    expect(total != cleared, "Total Games reads the same as Games Cleared (0) after a game "
           "was started")
    run.count_one = total
    run.count_zero = cleared
    run.snap("window")
    run.click_in(tally, *centre(TALLY_DONE + BUTTON))
    run.expect_closed("Pipshift - Tally List")

def step_second_game_by_ctrl_s(run):
    run.focus_main()
    run.x.key("ctrl+s")

    def redealt():
        shot = run.shot()
        return sum(1 for n, c, r in slots()
                   if c > 0 and run.board_crop(slot_rect(c, r), shot) != run.game1[n])

    moved = wait_for(lambda: redealt() >= 20, 5)
    expect(moved, f"Ctrl+S did not deal a new board ({redealt()} of 28 slots changed)")

def step_tally_list_counts_two_games(run):
    run.choose("View", "Tally List")
    tally = run.window_titled("Pipshift - Tally List", painted=(6, 6))
    shot = run.shot(tally)
    total = shot.crop(*TALLY_COUNTER[1]).rgb
    expect(total != run.count_one and total != run.count_zero,
           "Total Games still reads as it did after one game (or as 0)")
    expect(shot.crop(*TALLY_COUNTER[2]).rgb == run.count_zero,
           "Games Cleared no longer reads 0 although no board was cleared")
    run.snap("window")
    run.click_in(tally, *centre(TALLY_DONE + BUTTON))
    run.expect_closed("Pipshift - Tally List")

def step_help_by_f1(run):
    run.focus_main()
    run.x.key("F1")
    helpwin = run.window_titled("Pipshift - Help File")
    g = run.x.geometry(helpwin)
    expect((g.width, g.height) == HELP_CLIENT,
           f"the help window is {g.width}x{g.height}, expected {HELP_CLIENT}")
    text = run.copy_text(helpwin, 137 + 190, 200)
    expect(text.startswith("Overview"), f"the help window's first page reads {text[:60]!r}")
    run.snap("window")
    run.click_in(helpwin, *centre(HELP_DONE + SELBUTTON))
    run.expect_closed("Pipshift - Help File")

def step_about(run):
    run.choose("Help", "About")
    about = run.window_titled("Pipshift - About")
    g = run.x.geometry(about)
    expect((g.width, g.height) == ABOUT_CLIENT,
           f"the About window is {g.width}x{g.height}, expected {ABOUT_CLIENT}")
    run.snap("window")
    run.click_in(about, *centre(ABOUT_DONE + SELBUTTON))
    run.expect_closed("Pipshift - About")

def step_move_and_resize(run):
    run.x.xdotool("windowsize", "--sync", run.main, 300, 200)
    small = wait_for(lambda: (lambda g: g.width == 598 and g.height > 300 and g)(
        run.geometry()), 5)
    expect(small, f"shrunk to 300x200 the window stays {run.geometry()}; it should snap "
           "back to the board's 598 pixels")
    run.x.xdotool("windowmove", "--sync", run.main, 40, 50)
    run.x.xdotool("windowsize", "--sync", run.main, 700, 420)
    want = xsession.Geometry(40, 50, 700, 420)
    expect(wait_for(lambda: run.geometry() == want, 5),
           f"the window is {run.geometry()} after moving and resizing it to {want}")

def step_file_exit(run):
    run.choose("File", "Exit")
    status = run.stop_program()
    expect(status is not None, "File > Exit did not end the program within 10 seconds")
    expect(status == 0, f"the program ended with status {status}")

def step_files_after_first_session(run):
    base = f"http://127.0.0.1:{run.relay.port}/"
    expect_ini(run.ini, {"Top": "50", "Left": "40", "Width": "700", "Height": "420",
                         "Name": "Ada Lovela", "Sounds": "no", "Hints": "yes",
                         "Update": "true", "ScoreServer": base, "UpdateServer": base},
               "after File > Exit")
    expect(os.path.exists(run.tally), "no tally file was written at exit")
    tool = os.path.join(run.bin_dir, "pipshift-tally")
    expect(os.path.exists(tool), f"{tool} is missing; the tally cannot be read")
    cells, text = tally_cells(tool, run.tally)
    counters = (cells.get((1, 0)), cells.get((2, 0)), cells.get((3, 0)))
    expect(counters == ("2", "0", "0"), f"the tally file counts games started, cleared and "
           f"the percentage as {counters}, expected ('2', '0', '0')\n{text}")
    ranks = [cells.get((1, r)) for r in range(1, 11)]
    expect(ranks == ["-1000"] * 10, f"the tally's top ten is not empty: {ranks}")
    for folder in (run.folder, run.elsewhere):
        expect(not os.path.exists(os.path.join(folder, "temp.txt")),
               f"a temp.txt was left in {folder}")


def step_second_start(run):
    # A newer version is offered only with the maker's signed manifest for it beside the text.
    with open(os.path.join(run.args.next_release, "pipshift", "pipshiftrelease.txt"), "rb") as f:
        manifest = f.read()
    with open(os.path.join(run.site, "pipshift", "pipshiftrelease.txt"), "wb") as f:
        f.write(manifest)
    run.publish("1.0.1")
    run.versions_asked = len(run.relay.seen(VERSION_PATH))
    run.start_program()
    want = xsession.Geometry(40, 50, 700, 420)
    g = run.geometry()
    expect(g == want, f"the second start puts the window at {g}, expected {want} as left")


def step_update_offered(run):
    answered = run.relay.wait_answered(VERSION_PATH, 15, count=run.versions_asked + 1)
    expect(answered, "the second start never asked for the published version")
    expect(wait_for(lambda: run.panel_shown(PANEL_UPDATE), 5),
           f"the server publishes \"1.0.1\" but no update panel is offered (its frame is "
           f"{run.panel_state(PANEL_UPDATE):.0%} drawn)")
    run.snap("panel")


def step_update_cancel(run):
    run.click_board(*centre((PANEL_UPDATE[0] + 171, PANEL_UPDATE[1] + 90) + BUTTON))
    expect(wait_for(lambda: not run.panel_shown(PANEL_UPDATE), 5),
           "Cancel did not close the update panel")
    expect(not run.relay.seen(INSTALLER_PATH), "the installer was fetched although the "
           "update was cancelled")
    expect(os.path.exists(os.path.join(run.folder, "pipshift")) and
           not os.path.exists(os.path.join(run.folder, "pipshift.BAK")),
           "the program file was moved aside although the update was cancelled")
    expect(run.program.poll() is None, "the program ended after Cancel")

def step_second_start_restores_name(run):
    expect(run.panel_shown(PANEL_NAME), "the name panel is not open at the second start")
    name = run.name_field()
    expect(name == "Ada Lovela", f"the second start greets {name!r}, expected 'Ada Lovela'")


def step_start_game_over_name_panel(run):
    # A game started while the name panel is open closes it without taking what was typed.
    x, y = run.board_to_window(PANEL_NAME[0] + 83 + 80, PANEL_NAME[1] + 52 + 16)
    run.click_in(run.main, x, y)
    run.x.key("ctrl+a")
    run.x.type("Nobody")
    run.click_board(*centre((448, 241) + BUTTON))
    expect(wait_for(lambda: not run.panel_shown(PANEL_NAME), 5),
           "Start Game did not close the name panel")


def step_high_score_list(run):
    page = urllib.request.urlopen(run.server_url(LIST_PATH), timeout=10).read().decode()
    expect("E2E Zed" in page and "612" in page,
           "the server's list page does not show the score posted with curl")
    before = len(run.relay.seen(LIST_PATH))
    run.choose("View", "View High Score List")
    scores = run.window_titled("Pipshift - High Scores")
    g = run.x.geometry(scores)
    expect((g.width, g.height) == HIGHSCORE_CLIENT,
           f"the high-score window is {g.width}x{g.height}, expected {HIGHSCORE_CLIENT}")
    expect(run.relay.wait_answered(LIST_PATH, 15, count=before + 1),
           "the program never fetched the high-score page")

    def shows_score():
        text = run.copy_text(scores, *centre(HIGHSCORE_VIEW))
        return text if "E2E Zed" in text and "612" in text else None

    text = wait_for(shows_score, 5, interval=0.5)
    run.snap("window")
    expect(text, "the high-score window does not show the posted score 'E2E Zed' 612; "
           f"its text reads {run.copy_text(scores, *centre(HIGHSCORE_VIEW))[:200]!r}")
    run.click_in(scores, *centre(HIGHSCORE_DONE + BUTTON))
    run.expect_closed("Pipshift - High Scores")

def step_hints_off_and_reset_location(run):
    run.choose("Options", "Show Hints")
    # Show Hints is kept only at exit; the file still says what the first session left.
    expect_ini(run.ini, {"Hints": "yes"}, "right after Options > Show Hints", timeout=0)
    run.choose("Options", "Reset Screen Location")
    expect(wait_for(lambda: run.geometry() == DEFAULT_BOUNDS, 5),
           f"Reset Screen Location left the window at {run.geometry()}, expected "
           f"{DEFAULT_BOUNDS}")


def step_second_exit_keeps_files(run):
    run.choose("File", "Exit")
    status = run.stop_program()
    expect(status == 0, f"File > Exit ended the program with status {status}")
    expect_ini(run.ini, {"Top": "3", "Left": "3", "Width": "604", "Height": "374",
                         "Name": "Ada Lovela", "Sounds": "no", "Hints": "no", "Update": "true"},
               "after the second exit")
    cells, text = tally_cells(os.path.join(run.bin_dir, "pipshift-tally"), run.tally)
    counters = (cells.get((1, 0)), cells.get((2, 0)), cells.get((3, 0)))
    expect(counters == ("3", "0", "0"), f"after one more game the tally file counts {counters}, "
           f"expected ('3', '0', '0')\n{text}")


def step_third_start_ended_by_a_signal(run):
    run.start_program()
    tool = os.path.join(run.bin_dir, "pipshift-tally")

    def started():
        cells, _ = tally_cells(tool, run.tally)
        return cells.get((1, 0))

    # A game counts in the tally file at once, not only when the program ends.
    run.focus_main()
    run.x.key("ctrl+s")
    counted = wait_for(lambda: started() == "4" and "4", 5)
    expect(counted, f"a fourth game started but the tally file, read while the program runs, "
           f"counts {started()!r} games")
    run.x.xdotool("windowmove", "--sync", run.main, 60, 70)
    want = xsession.Geometry(60, 70, 604, 374)
    expect(wait_for(lambda: run.geometry() == want, 5),
           f"the window is {run.geometry()} after moving it to {want}")
    # Asked to end as at a logout: the program closes as through File > Exit.
    run.program.send_signal(signal.SIGTERM)
    status = run.stop_program()
    expect(status == 0, f"SIGTERM ended the program with status {status}, not by closing it")
    expect_ini(run.ini, {"Left": "60", "Top": "70", "Width": "604", "Height": "374"},
               "after SIGTERM")
    expect(started() == "4", f"after SIGTERM the tally file counts {started()!r} games")


def step_two_copies_share_one_tally(run):
    """Two copies of the program started from one folder, each starting a game: neither copy's
    writes take away the other's game, while they run or when they end."""
    folder = os.path.join(run.scratch, "two-copies")
    os.makedirs(folder)
    for name in ("pipshift",):
        shutil.copy2(os.path.join(run.bin_dir, name), folder)
    with open(os.path.join(folder, "pipshift.ini"), "w") as f:
        f.write("[pipshift]\r\nUpdate=false\r\n")
    tally = os.path.join(folder, "pipshifttally.tld")
    tool = os.path.join(run.bin_dir, "pipshift-tally")

    def games():
        if not os.path.exists(tally):
            return None
        cells, _ = tally_cells(tool, tally)
        return cells.get((1, 0))

    saved = run.folder, run.program, run.main
    copies = []
    try:
        run.folder = folder
        for _ in range(2):
            run.start_program()
            copies.append((run.program, run.main))
        # Each copy starts a game; the file, read while both run, counts each at once.
        for number, (_, window) in enumerate(copies, start=1):
            run.x.xdotool("windowfocus", "--sync", window)
            run.x.key("ctrl+s")
            want = str(number)
            expect(wait_for(lambda: games() == want, 5),
                   f"after a game in copy {number} the shared tally file counts {games()!r} "
                   f"games, expected {want!r}")
        # Both end as at a logout; each writes the tally once more on its way out.
        for program, _ in copies:
            program.send_signal(signal.SIGTERM)
        for number, (program, _) in enumerate(copies, start=1):
            try:
                status = program.wait(10)
            except subprocess.TimeoutExpired:
                status = None
            expect(status == 0, f"copy {number} ended with status {status} after SIGTERM")
        _, text = tally_cells(tool, tally)
        expect(re.search(r"^Total games:\s+2$", text, re.M),
               f"after both copies ended the tally file does not read \"Total games: 2\":\n{text}")
        expect(not os.path.exists(tally + ".lock"), "the tally's lock file was left behind")
    finally:
        for program, _ in copies:
            if program.poll() is None:
                program.kill()
                program.wait()
        run.folder, run.program, run.main = saved


def post_score(run):
    """A score already on the server before the program first looks at the list."""
    query = "name=E2E%20Zed&date=12%2F7%2F26&score=612"
    done = subprocess.run(["curl", "-sS", "-f", "--max-time", "10",
                           run.server_url(f"{POST_PATH}?{query}")], capture_output=True, text=True)
    expect(done.returncode == 0 and done.stdout.strip(),
           f"curl could not post a score ({done.returncode}): {done.stderr.strip()} "
           f"{done.stdout.strip()}")


STEPS = [
    # First start, with nothing stored but where the servers are.
    ("first-start", step_first_start),
    ("no-update-offered-for-same-version", step_no_update_offered_for_same_version),
    ("change-name", step_change_name),
    ("start-game", step_start_game),
    ("select-a-bone", step_select_a_bone),
    ("play-sounds-off-writes-settings", step_play_sounds_off_writes_settings),
    ("tally-list-counts-a-game", step_tally_list_counts_a_game),
    ("second-game-by-ctrl-s", step_second_game_by_ctrl_s),
    ("tally-list-counts-two-games", step_tally_list_counts_two_games),
    ("help-by-f1", step_help_by_f1),
    ("about", step_about),
    ("move-and-resize", step_move_and_resize),
    ("file-exit", step_file_exit),
    ("files-after-first-session", step_files_after_first_session),
    # Between the runs: a score reaches the server from elsewhere, a new version is published.
    ("post-score-with-curl", post_score),
    # Second start: what the first left behind comes back; the online parts.
    ("second-start", step_second_start),
    ("update-offered", step_update_offered),
    ("update-cancel", step_update_cancel),
    ("second-start-restores-name", step_second_start_restores_name),
    ("start-game-over-name-panel", step_start_game_over_name_panel),
    ("high-score-list", step_high_score_list),
    ("hints-off-and-reset-location", step_hints_off_and_reset_location),
    ("second-exit-keeps-files", step_second_exit_keeps_files),
    # Third start: ended by a signal, as at a logout, it keeps what the session did.
    ("third-start-ended-by-a-signal", step_third_start_ended_by_a_signal),
    # Two copies at once in a folder of their own: one tally file counts the games of both.
    ("two-copies-share-one-tally", step_two_copies_share_one_tally),
]


def clearshots(folder):
    """An empty folder for this run's screenshots and logs: a picture left from an earlier run
    must not pass for one of this run's."""
    os.makedirs(folder, exist_ok=True)
    for name in os.listdir(folder):
        if name.endswith(".png") or name.endswith(".log"):
            os.unlink(os.path.join(folder, name))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--bin-dir", required=True)
    parser.add_argument("--clip-probe", required=True)
    parser.add_argument("--shots", required=True)
    parser.add_argument("--next-release", required=True,
                        help="the signed release of the next version, whose manifest is offered")
    parser.add_argument("--skip", action="append", default=[], metavar="STEP",
                        help="leave out a step by name (for diagnosis only)")
    args = parser.parse_args()

    clearshots(args.shots)

    missing = [name for name in ("pipshift", "pipshift-server", "pipshift-tally")
               if not os.access(os.path.join(args.bin_dir, name), os.X_OK)]
    if missing:
        print(f"FAILED before the first step: {', '.join(missing)} not built in {args.bin_dir}",
              flush=True)
        return 1

    run = Run(args)
    try:
        run.start_x()
        for name, action in STEPS:
            run.do(name, action)
    finally:
        run.cleanup()
    left_out = [name for name, _ in STEPS if name in args.skip]
    print(f"{run.number - len(left_out)} steps passed"
          + (f", {len(left_out)} left out on request" if left_out else "")
          + f", in {time.monotonic() - run.started:.0f} s; screenshots in {run.shots}",
          flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
