#!/usr/bin/env python3
"""The Debian packages of a build, made by cpack in a scratch folder and read with dpkg-deb.

The server package must hold the program and its systemd unit and depend on nothing of Qt; the
unit must pass systemd-analyze verify (where systemd-analyze is installed) and start the server
with the command line it gives. The desktop package keeps its name and its files, the server's
program left to the server package. Exits 77 when there is no dpkg-deb to read a package with."""

import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL: " + what)


def run(args, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, timeout=240, **kwargs)


def contents(deb):
    """The paths a package installs, without the leading ".", and the control fields."""
    listing = run(["dpkg-deb", "-c", deb]).stdout
    paths = set()
    for line in listing.splitlines():
        path = line.split()[5]
        paths.add(path[1:].rstrip("/") if path.startswith("./") else path)
    fields = {}
    for field in ("Package", "Depends", "Section"):
        fields[field] = run(["dpkg-deb", "-f", deb, field]).stdout.strip()
    return paths, fields


def mentionsqt(depends):
    return re.search(r"(^|[ ,|])(lib)?qt", depends, re.IGNORECASE) is not None


def unitsettings(unit):
    """The unit's Environment= values and its ExecStart= line."""
    environment = {}
    execstart = None
    for line in open(unit, encoding="utf-8"):
        line = line.strip()
        if line.startswith("Environment="):
            value = line[len("Environment="):]
            if value.startswith('"') and value.endswith('"'):
                value = value[1:-1]
            name, _, setting = value.partition("=")
            environment[name] = setting
        elif line.startswith("ExecStart="):
            execstart = line[len("ExecStart="):]
    return environment, execstart


def commandline(execstart, environment):
    """ExecStart= as systemd expands it: ${NAME} is one word, $NAME splits at blanks."""
    words = []
    for word in execstart.split():
        braced = re.fullmatch(r"\$\{(\w+)\}", word)
        bare = re.fullmatch(r"\$(\w+)", word)
        if braced:
            words.append(environment[braced.group(1)])
        elif bare:
            words.extend(environment[bare.group(1)].split())
        else:
            words.append(word)
    return words


def checkunitstarts(unit, program, scratch):
    """The unit's own command line, its state folder moved into scratch and port 0, starts the
    server, which then stops cleanly on SIGTERM."""
    environment, execstart = unitsettings(unit)
    check(execstart is not None, "the unit has an ExecStart=")
    if execstart is None:
        return
    check(execstart.split()[0] == "/usr/bin/pipshift-server",
          "the unit starts /usr/bin/pipshift-server: " + execstart)
    state = os.path.join(scratch, "state")
    for name, value in environment.items():
        environment[name] = value.replace("/var/lib/pipshift-server", state)
    environment["PIPSHIFT_OPTIONS"] = re.sub(r"--port \d+", "--port 0",
                                             environment.get("PIPSHIFT_OPTIONS", ""))
    # What StateDirectory= makes before the start.
    for folder in re.search(r"^StateDirectory=(.*)$", open(unit).read(), re.M).group(1).split():
        os.makedirs(os.path.join(scratch, folder.replace("pipshift-server", "state", 1)),
                    exist_ok=True)
    args = commandline(execstart, environment)
    args[0] = program
    server = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        first = server.stdout.readline()
        check(first.startswith("listening on 127.0.0.1:"),
              "the server started with the unit's command line %s says it listens: %r %r"
              % (args, first, server.stderr.read() if not first else ""))
    finally:
        server.send_signal(signal.SIGTERM)
        code = server.wait(timeout=30)
    check(code == 0, "the server stopped by SIGTERM exits 0, not %d" % code)
    check(os.path.exists(os.path.join(state, "scores.db")),
          "the scores are kept in the state folder")


def checkverify(unit, program, scratch):
    """systemd-analyze verify on the unit as packaged, its program where this build put it."""
    analyze = shutil.which("systemd-analyze")
    if not analyze:
        print("systemd-analyze is not installed: the unit is not verified")
        return
    folder = os.path.join(scratch, "verify")
    os.makedirs(folder)
    copy = os.path.join(folder, "pipshift-server.service")
    with open(unit, encoding="utf-8") as source, open(copy, "w", encoding="utf-8") as target:
        target.write(source.read().replace("/usr/bin/pipshift-server", program))
    verified = run([analyze, "verify", "--man=no", copy])
    said = (verified.stdout + verified.stderr).strip()
    print("systemd-analyze verify: exit %d %s" % (verified.returncode, said))
    check(verified.returncode == 0 and "pipshift-server.service" not in said,
          "systemd-analyze verify passes the unit: " + said)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cpack", required=True)
    parser.add_argument("--config", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--packages", nargs="+", required=True)
    options = parser.parse_args()
    if not shutil.which("dpkg-deb"):
        print("no dpkg-deb here: no package can be read")
        return 77

    scratch = tempfile.mkdtemp(prefix="pipshift-package-")
    try:
        made = run([options.cpack, "-G", "DEB", "--config", options.config, "-B", scratch])
        check(made.returncode == 0, "cpack makes the packages:\n" + made.stdout + made.stderr)
        debs = sorted(f for f in os.listdir(scratch) if f.endswith(".deb"))
        print("packages: " + " ".join(debs))
        arch = run(["dpkg", "--print-architecture"]).stdout.strip()
        expected = {"desktop": "pipshift", "server": "pipshift-server"}
        check(debs == sorted("%s_%s_%s.deb" % (expected[p], options.version, arch)
                             for p in options.packages),
              "cpack makes exactly the packages of %s" % options.packages)

        server = os.path.join(scratch, "pipshift-server_%s_%s.deb" % (options.version, arch))
        if os.path.exists(server):
            paths, fields = contents(server)
            print("pipshift-server Depends: " + fields["Depends"])
            check(fields["Package"] == "pipshift-server", "the server package is pipshift-server")
            check("/usr/bin/pipshift-server" in paths, "the server package holds the program")
            check("/usr/lib/systemd/system/pipshift-server.service" in paths,
                  "the server package holds the systemd unit")
            check(not any(p.startswith("/usr/share/applications") or p == "/usr/bin/pipshift"
                          for p in paths), "the server package holds nothing of the desktop")
            check(fields["Depends"] and not mentionsqt(fields["Depends"]),
                  "the server package depends on nothing of Qt: " + fields["Depends"])
            check("libpq" in fields["Depends"] and "libsqlite3" in fields["Depends"],
                  "the server package depends on its database libraries: " + fields["Depends"])
            control = run(["dpkg-deb", "-I", server]).stdout
            for script in ("postinst", "prerm", "postrm"):
                check(re.search(r"\b%s\b" % script, control) is not None,
                      "the server package has a %s" % script)

            unpacked = os.path.join(scratch, "server")
            run(["dpkg-deb", "-x", server, unpacked])
            unit = os.path.join(unpacked, "usr/lib/systemd/system/pipshift-server.service")
            program = os.path.join(unpacked, "usr/bin/pipshift-server")
            if os.path.exists(unit) and os.path.exists(program):
                text = open(unit, encoding="utf-8").read()
                for setting in ("DynamicUser=yes", "NoNewPrivileges=yes", "ProtectSystem=strict",
                                "PrivateTmp=yes", "ProtectHome=yes", "PrivateDevices=yes",
                                "StateDirectory=pipshift-server( .*)?"):
                    check(re.search(r"^%s\s*$" % setting, text, re.M) is not None,
                          "the unit sets " + setting)
                check(re.search(r"^(ReadWritePaths|User|Group)=", text, re.M) is None,
                      "the unit writes nowhere but its state folder, as no fixed user")
                checkverify(unit, program, scratch)
                checkunitstarts(unit, program, scratch)

        desktop = os.path.join(scratch, "pipshift_%s_%s.deb" % (options.version, arch))
        if os.path.exists(desktop):
            paths, fields = contents(desktop)
            print("pipshift Depends: " + fields["Depends"])
            check(fields["Package"] == "pipshift" and fields["Section"] == "games",
                  "the desktop package is pipshift, among the games")
            for path in ("/usr/bin/pipshift", "/usr/bin/pipshift-tally", "/usr/bin/pipshift-solve",
                         "/usr/share/applications/pipshift.desktop",
                         "/usr/share/icons/hicolor/256x256/apps/pipshift.png"):
                check(path in paths, "the desktop package holds " + path)
            check("/usr/bin/pipshift-server" not in paths and
                  not any("systemd" in p for p in paths),
                  "the desktop package leaves the server to its own package")
            for dependency in ("libcurl4", "qt6-qpa-plugins", "xdg-utils"):
                check(dependency in fields["Depends"],
                      "the desktop package depends on " + dependency)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)

    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    print("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
