#!/usr/bin/env python3
"""The sound module is found where an installation puts it: installs the build into a scratch
prefix, starts the installed program there (offscreen, update check off) and waits until it has
mapped the installed module, not the one in the build tree."""

import argparse
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import time


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", required=True)
    args = parser.parse_args()

    prefix = tempfile.mkdtemp(prefix="pipshift-installed-")
    program = None
    try:
        done = subprocess.run(["cmake", "--install", args.build, "--prefix", prefix],
                              capture_output=True, text=True)
        if done.returncode != 0:
            print(f"cmake --install failed:\n{done.stdout}{done.stderr}")
            return 1
        modules = glob.glob(os.path.join(prefix, "**", "pipshift-sound.so"), recursive=True)
        if len(modules) != 1:
            print(f"expected one installed pipshift-sound.so under {prefix}, found {modules}")
            return 1
        module = os.path.realpath(modules[0])
        if os.path.dirname(module) == os.path.realpath(os.path.join(prefix, "bin")):
            print(f"the module was installed beside the program: {module}")
            return 1
        bindir = os.path.join(prefix, "bin")
        with open(os.path.join(bindir, "pipshift.ini"), "w") as ini:
            ini.write("[pipshift]\r\nUpdate=false\r\n")
        home = os.path.join(prefix, "home")
        os.makedirs(home)
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", HOME=home,
                   XDG_DATA_HOME=os.path.join(home, "data"))
        program = subprocess.Popen([os.path.join(bindir, "pipshift")], cwd=home, env=env,
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            if program.poll() is not None:
                break
            with open(f"/proc/{program.pid}/maps") as maps:
                mapped = {line.split()[-1] for line in maps if "pipshift-sound.so" in line}
            if mapped:
                if mapped == {module}:
                    print(f"the installed program loaded {module}")
                    return 0
                print(f"the installed program loaded {mapped}, expected {module}")
                return 1
            time.sleep(0.1)
        program.kill()
        said = program.communicate()[0].decode(errors="replace")
        print(f"the installed program never loaded its sound module; it said:\n{said}")
        return 1
    finally:
        if program is not None and program.poll() is None:
            program.kill()
            program.wait()
        shutil.rmtree(prefix, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
