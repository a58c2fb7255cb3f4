#!/usr/bin/env python3
"""The self-update end to end, as a player meets it: the built program (the build's version) in a
scratch program folder with a played tally and its settings, the release of a second program that
differs only in its version served by pipshift-server, OK clicked on the update panel, and the new
version seen running from the same folder with the tally and settings it had. Then an installer
with one byte changed and one signed by another key: nothing runs, the program stays.

    update_e2e.py --bin-dir BUILD/bin --clip-probe PROBE --shots DIR --next-bin NEXT
                  --next-release DIR --next-version V --release-tool TOOL [--payload-file F]...

Exit status: 0 every step passed, 1 a step failed, 77 no X server could be started here."""

import argparse
import ctypes
import hashlib
import os
import shutil
import signal
import subprocess
import sys
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import pipshift_e2e as e2e  # noqa: E402
from pipshift_e2e import expect, wait_for, centre  # noqa: E402

SIGNATURE_PATH = e2e.INSTALLER_PATH + ".sig"
MANIFEST_PATH = e2e.VERSION_PATH.replace("pipshiftversion.txt", "pipshiftrelease.txt")
OK_BUTTON = (e2e.PANEL_UPDATE[0] + 27, e2e.PANEL_UPDATE[1] + 90) + e2e.BUTTON
START_BUTTON = (448, 241) + e2e.BUTTON


def sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


class Adopted:
    """A program the installer started: not a child of this run, but handed to it when its
    parent ended (this run is the subreaper of everything it starts), so it can be waited for
    like one."""

    def __init__(self, pid):
        self.pid = pid
        self.returncode = None

    def poll(self):
        if self.returncode is None:
            try:
                pid, status = os.waitpid(self.pid, os.WNOHANG)
            except ChildProcessError:
                self.returncode = -999 if not os.path.exists(f"/proc/{self.pid}") else None
                return self.returncode
            if pid:
                self.returncode = os.waitstatus_to_exitcode(status)
        return self.returncode

    def wait(self, timeout=None):
        deadline = None if timeout is None else time.monotonic() + timeout
        while self.poll() is None:
            if deadline is not None and time.monotonic() >= deadline:
                raise subprocess.TimeoutExpired(f"pid {self.pid}", timeout)
            time.sleep(0.05)
        return self.returncode

    def kill(self):
        self.send_signal(signal.SIGKILL)
        self.wait(10)

    def send_signal(self, sig):
        try:
            os.kill(self.pid, sig)
        except ProcessLookupError:
            pass


class UpdateRun(e2e.Run):
    def __init__(self, args):
        super().__init__(args)
        self.adopted = []

    def cleanup(self):
        for program in self.adopted:
            if program.poll() is None:
                program.kill()
        super().cleanup()

    def path(self, name):
        return os.path.join(self.folder, name)

    def publish_release(self, installer, signature, manifest, version):
        """What the update server offers: the version text, the installer, its signature and the
        signed manifest. The version text goes last, as a maker publishes."""
        site = os.path.join(self.site, "pipshift")
        with open(os.path.join(site, "pshsetup.exe"), "wb") as f:
            f.write(installer)
        with open(os.path.join(site, "pshsetup.exe.sig"), "wb") as f:
            f.write(signature)
        with open(os.path.join(site, "pipshiftrelease.txt"), "wb") as f:
            f.write(manifest)
        self.publish(version)

    def read_release(self, folder):
        """The installer, signature and manifest of a release folder the build made."""
        files = []
        for name in ("pshsetup.exe", "pshsetup.exe.sig", "pipshiftrelease.txt"):
            with open(os.path.join(folder, "pipshift", name), "rb") as f:
                files.append(f.read())
        return files

    def make_manifest(self, key, installer, version):
        """A manifest for the installer's bytes as the given version, signed with key."""
        folder = os.path.join(self.scratch, "manifest-" + version + "-" + str(len(os.listdir(
            self.scratch))))
        os.makedirs(folder)
        # Named in the manifest by its file name, as the server publishes it.
        path = os.path.join(folder, "pshsetup.exe")
        with open(path, "wb") as f:
            f.write(installer)
        made = subprocess.run([self.args.release_tool, "manifest", key, path, "pipshift", version,
                               path + ".txt"], capture_output=True, timeout=20)
        expect(made.returncode == 0, f"pipshift-release manifest failed: {made.stderr!r}")
        with open(path + ".txt", "rb") as f:
            return f.read()

    def pipshift_windows(self):
        out = self.x.xdotool("search", "--all", "--onlyvisible", "--name", "^Pipshift$",
                             check=False)
        return [int(w) for w in out.split()]

    def window_pid(self, window):
        out = self.x.xdotool("getwindowpid", window, check=False).strip()
        return int(out) if out.isdigit() else None

    def adopt(self, pid, window):
        """Takes the program the installer started as the one the steps drive."""
        self.program = Adopted(pid)
        self.adopted.append(self.program)
        self.main = window
        self.menu_height = wait_for(self.find_menu_height, 10)
        expect(self.menu_height, "the new program's window never showed the board's frame")

    def tally_counters(self):
        cells, text = e2e.tally_cells(os.path.join(self.bin_dir, "pipshift-tally"), self.tally)
        return (cells.get((1, 0)), cells.get((2, 0)), cells.get((3, 0))), text

    def folder_files(self):
        return sorted(os.listdir(self.folder))

    def click_ok_and_expect_refusal(self, what):
        """OK on the offered update: the installer and its signature are fetched, refused, and
        the program keeps running as it was."""
        pid = self.program.pid
        before = {name: sha256(self.path(name)) for name in self.folder_files()
                  if os.path.isfile(self.path(name))}
        asked = len(self.relay.seen(e2e.INSTALLER_PATH))
        self.click_board(*centre(OK_BUTTON))
        answered = self.relay.wait_answered(e2e.INSTALLER_PATH, 20, count=asked + 1)
        expect(answered, f"{what}: the program never asked for {e2e.INSTALLER_PATH}; requests: "
               f"{[e.request_line for e in self.relay.exchanges][-5:]}")
        # Whatever it would do, it would have done by now.
        time.sleep(1.5)
        self.snap("refused")
        expect(self.program.poll() is None,
               f"{what}: the program ended (status {self.program.returncode}) after OK")
        expect(self.pipshift_windows() == [self.main],
               f"{what}: another program window appeared: {self.pipshift_windows()}")
        expect(self.panel_shown(e2e.PANEL_UPDATE),
               f"{what}: the update panel went away instead of saying the download was aborted")
        after = {name: sha256(self.path(name)) for name in self.folder_files()
                 if os.path.isfile(self.path(name))}
        expect(after == before, f"{what}: the program folder changed: before {sorted(before)}, "
               f"after {sorted(after)}" + ("" if sorted(before) != sorted(after) else
                                           " (same names, other contents)"))
        expect(self.program.pid == pid, f"{what}: another program runs")

    def restart_offered(self, what):
        """Ends the running program through File > Exit and starts it again from its folder;
        the newly published version is offered."""
        self.choose("File", "Exit")
        status = self.stop_program()
        expect(status == 0, f"File > Exit ended the program with status {status}")
        asked = len(self.relay.seen(e2e.VERSION_PATH))
        self.start_program()
        expect(self.relay.wait_answered(e2e.VERSION_PATH, 15, count=asked + 1),
               f"{what}: the restarted program never asked for the version")
        expect(wait_for(lambda: self.panel_shown(e2e.PANEL_UPDATE), 5),
               f"{what}: the new version text is not offered as an update")

    def restart_not_offered(self, what, manifest_asked=True):
        """As restart_offered, but nothing may be offered once the manifest has been read."""
        self.choose("File", "Exit")
        status = self.stop_program()
        expect(status == 0, f"File > Exit ended the program with status {status}")
        asked = len(self.relay.seen(e2e.VERSION_PATH))
        manifests = len(self.relay.seen(MANIFEST_PATH))
        self.start_program()
        expect(self.relay.wait_answered(e2e.VERSION_PATH, 15, count=asked + 1),
               f"{what}: the restarted program never asked for the version")
        if manifest_asked:
            expect(self.relay.wait_answered(MANIFEST_PATH, 15, count=manifests + 1),
                   f"{what}: the restarted program never asked for the manifest")
        time.sleep(1.5)
        self.snap("not-offered")
        expect(not self.panel_shown(e2e.PANEL_UPDATE), f"{what}: an update is offered")


# ---- The steps -----------------------------------------------------------------------------

def step_old_version_offered_the_new(run):
    os.makedirs(run.folder)
    os.makedirs(run.elsewhere)
    # The program folder as a release installs it: the program and the files beside it.
    shutil.copy2(os.path.join(run.bin_dir, "pipshift"), run.folder)
    for path in run.args.payload_file:
        shutil.copy2(path, run.folder)
    run.old_program = sha256(run.path("pipshift"))
    run.start_server()
    release = os.path.join(run.args.next_release, "pipshift")
    run.installer, run.signature, run.manifest = run.read_release(run.args.next_release)
    with open(os.path.join(release, "pipshiftversion.txt"), "rb") as f:
        published = f.read()
    expect(published == run.args.next_version.encode(),
           f"the release's version text is {published!r}, not {run.args.next_version!r}")
    expect(len(run.signature) == 64, f"the release's signature has {len(run.signature)} bytes")
    expect(run.manifest.startswith(b"product pipshift\nversion " + published + b"\n"),
           f"the release's manifest is {run.manifest[:80]!r}")
    run.publish_release(run.installer, run.signature, run.manifest, run.args.next_version)
    base = f"http://127.0.0.1:{run.relay.port}/"
    with open(run.ini, "w") as f:
        f.write(f"[pipshift]\r\nScoreServer={base}\r\nUpdateServer={base}\r\n"
                "Name=Ada Lovela\r\nSounds=no\r\nHints=no\r\n")
    run.start_program()
    expect(run.relay.wait_answered(e2e.VERSION_PATH, 15),
           "the program never asked for the published version")
    expect(wait_for(lambda: run.panel_shown(e2e.PANEL_UPDATE), 5),
           f"the server publishes {run.args.next_version!r} but no update is offered")
    run.snap("offered")


def step_play_a_game_and_move(run):
    run.click_board(*centre(START_BUTTON))
    counted = wait_for(lambda: run.tally_counters()[0] == ("1", "0", "0"), 5)
    expect(counted, f"a game was started but the tally counts {run.tally_counters()[0]}")
    run.x.xdotool("windowmove", "--sync", run.main, 60, 70)
    want = e2e.xsession.Geometry(60, 70, 604, 374)
    expect(wait_for(lambda: run.geometry() == want, 5),
           f"the window is {run.geometry()} after moving it to {want}")
    expect(run.panel_shown(e2e.PANEL_UPDATE), "the update offer went away during the game")


def step_ok_installs_and_starts_the_new_version(run):
    old = run.program
    run.click_board(*centre(OK_BUTTON))
    status = run.stop_program(30)
    expect(status == 0, f"after OK the old program did not end with status 0 ({status})")
    installer = [e for e in run.relay.seen(e2e.INSTALLER_PATH) if e.path == e2e.INSTALLER_PATH]
    signature = run.relay.seen(SIGNATURE_PATH)
    expect(len(installer) == 1 and len(signature) == 1,
           f"expected one request for the installer and one for its signature, saw "
           f"{[e.request_line for e in run.relay.exchanges]}")
    expect(run.relay.exchanges.index(installer[0]) < run.relay.exchanges.index(signature[0]),
           "the signature was asked for before the installer")

    def new_window():
        for window in run.pipshift_windows():
            pid = run.window_pid(window)
            if pid and pid != old.pid:
                return window, pid
        return None

    found = wait_for(new_window, 30)
    expect(found, "no new program window appeared after the update; the folder holds "
           f"{run.folder_files()}")
    window, pid = found
    run.adopt(pid, window)
    exe = os.readlink(f"/proc/{pid}/exe")
    expect(exe == os.path.realpath(run.path("pipshift")),
           f"the running program is {exe}, not the program in its folder")
    cwd = os.readlink(f"/proc/{pid}/cwd")
    expect(cwd == os.path.realpath(run.folder), f"the new program was started in {cwd}")
    expect(sha256(f"/proc/{pid}/exe") == sha256(run.args.next_bin),
           f"the program running from the folder is not version {run.args.next_version}")
    expect(sha256(run.path("pipshift.BAK")) == run.old_program,
           "the old program was not kept as pipshift.BAK")
    expected = sorted(["pipshift", "pipshift.BAK", "pipshift.ini", "pipshifttally.tld",
                       "pshsetup.exe"] + [os.path.basename(p) for p in run.args.payload_file])
    expect(run.folder_files() == expected,
           f"the program folder holds {run.folder_files()}, expected {expected}")
    run.snap("new")


def step_new_version_kept_tally_and_settings(run):
    counters, text = run.tally_counters()
    expect(counters == ("1", "0", "0"),
           f"after the update the tally counts {counters}, expected ('1', '0', '0')\n{text}")
    # Written by the old program before the installer started, read by the new one.
    e2e.expect_ini(run.ini, {"Left": "60", "Top": "70", "Width": "604", "Height": "374",
                             "Name": "Ada Lovela", "Sounds": "no", "Hints": "no",
                             "Update": "true"}, "after the update", timeout=0)
    want = e2e.xsession.Geometry(60, 70, 604, 374)
    expect(wait_for(lambda: run.geometry() == want, 5),
           f"the new program's window is at {run.geometry()}, expected {want} as left")
    # The new program is the published version: it asks and offers nothing.
    expect(run.relay.wait_answered(e2e.VERSION_PATH, 15, count=2),
           "the new program never asked for the published version")
    time.sleep(1.5)
    expect(not run.panel_shown(e2e.PANEL_UPDATE),
           f"the new program offers an update to {run.args.next_version!r}: it is not that "
           "version")
    expect(run.panel_shown(e2e.PANEL_NAME), "the new program did not greet the player")


def later_version(run):
    return run.args.next_version + ".1"


def step_replayed_releases_offer_nothing(run):
    """Real signed releases of this version and the one before, published as they are or under
    a newer version text: none is offered (the old one used to be installed again)."""
    old = run.read_release(run.args.this_release)
    cases = [
        ("the old release replayed as a newer version", old, later_version(run)),
        ("the old release under its own version", old, run.args.this_version),
        ("the running version's own release", [run.installer, run.signature, run.manifest],
         run.args.next_version),
        ("the running version's release replayed as a newer one",
         [run.installer, run.signature, run.manifest], later_version(run)),
    ]
    for what, (installer, signature, manifest), version in cases:
        run.publish_release(installer, signature, manifest, version)
        # Only a newer version text is worth asking the manifest for.
        newer = version == later_version(run)
        run.restart_not_offered(what, manifest_asked=newer)


def step_tampered_installer_never_runs(run):
    tampered = bytearray(run.installer)
    tampered[len(tampered) // 2] ^= 0x01
    # A manifest by the maker's key for the genuine bytes; what arrives has one byte changed.
    manifest = run.make_manifest(run.args.release_key, run.installer, later_version(run))
    run.publish_release(bytes(tampered), run.signature, manifest, later_version(run))
    run.restart_offered("tampered installer")
    run.click_ok_and_expect_refusal("an installer with one byte changed")


def step_foreign_signed_installer_never_runs(run):
    keys = os.path.join(run.scratch, "stranger")
    os.makedirs(keys)
    secret = os.path.join(keys, "stranger.key")
    public = os.path.join(keys, "stranger.pub")
    made = subprocess.run([run.args.release_tool, "keygen", secret, public], capture_output=True,
                          timeout=20)
    expect(made.returncode == 0, f"pipshift-release keygen failed: {made.stderr!r}")
    # Were it ever run, it would leave a mark beside the program.
    installer = os.path.join(keys, "pshsetup.exe")
    with open(installer, "wb") as f:
        f.write(b'#!/bin/sh\ntouch "$(dirname "$0")/stranger-was-here"\n')
    signed = subprocess.run([run.args.release_tool, "sign", secret, installer, installer + ".sig"],
                            capture_output=True, timeout=20)
    expect(signed.returncode == 0, f"pipshift-release sign failed: {signed.stderr!r}")
    with open(installer, "rb") as f, open(installer + ".sig", "rb") as s:
        data = f.read()
        run.publish_release(data, s.read(), run.make_manifest(secret, data, later_version(run)),
                            later_version(run))
    run.restart_not_offered("a release signed by another key")
    expect(not os.path.exists(run.path("stranger-was-here")),
           "the installer signed by another key ran")
    run.choose("File", "Exit")
    status = run.stop_program()
    expect(status == 0, f"File > Exit ended the program with status {status}")
    expect(sha256(run.path("pipshift")) == sha256(run.args.next_bin),
           "the program in the folder is no longer the updated one")


STEPS = [
    ("old-version-offered-the-new", step_old_version_offered_the_new),
    ("play-a-game-and-move", step_play_a_game_and_move),
    ("ok-installs-and-starts-the-new-version", step_ok_installs_and_starts_the_new_version),
    ("new-version-kept-tally-and-settings", step_new_version_kept_tally_and_settings),
    ("replayed-releases-offer-nothing", step_replayed_releases_offer_nothing),
    ("tampered-installer-never-runs", step_tampered_installer_never_runs),
    ("foreign-signed-installer-never-runs", step_foreign_signed_installer_never_runs),
]


def become_subreaper():
    """Programs the installer starts outlive it; they come back to this run to be waited for,
    and none is left behind."""
    PR_SET_CHILD_SUBREAPER = 36
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
        raise OSError(ctypes.get_errno(), "prctl(PR_SET_CHILD_SUBREAPER)")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--bin-dir", required=True)
    parser.add_argument("--clip-probe", required=True)
    parser.add_argument("--shots", required=True)
    parser.add_argument("--next-bin", required=True)
    parser.add_argument("--next-release", required=True)
    parser.add_argument("--next-version", required=True)
    parser.add_argument("--release-tool", required=True)
    parser.add_argument("--release-key", required=True,
                        help="the build's release key, to sign a manifest of the tests' own")
    parser.add_argument("--this-release", required=True,
                        help="the release folder of the build's own program")
    parser.add_argument("--this-version", required=True)
    parser.add_argument("--payload-file", action="append", default=[])
    parser.add_argument("--skip", action="append", default=[], metavar="STEP",
                        help="leave out a step by name (for diagnosis only)")
    args = parser.parse_args()

    e2e.clearshots(args.shots)
    for path in [os.path.join(args.bin_dir, name)
                 for name in ("pipshift", "pipshift-server", "pipshift-tally")] + \
            [args.next_bin, args.release_tool]:
        if not os.access(path, os.X_OK):
            print(f"FAILED before the first step: {path} is not built", flush=True)
            return 1

    become_subreaper()
    run = UpdateRun(args)
    try:
        run.start_x()
        for name, action in STEPS:
            run.do(name, action)
    finally:
        run.cleanup()
    print(f"{run.number} steps passed, in {time.monotonic() - run.started:.0f} s; "
          f"screenshots in {run.shots}", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
