#!/usr/bin/env python3
"""The program file copied alone into an empty folder plays its cues: started there (offscreen,
update check off), it makes its sound player once its window is on screen, and the player looks
for the sound output, here a stand-in sound server of this test's own. Nothing beside the program
is needed for any of it."""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

# Nothing of the run is written into the source folder.
sys.dont_write_bytecode = True
from soundserver import SoundServer  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--program", required=True)
    args = parser.parse_args()

    folder = tempfile.mkdtemp(prefix="pipshift-alone-")
    program = None
    server = None
    try:
        shutil.copy2(args.program, folder)
        with open(os.path.join(folder, "pipshift.ini"), "w") as ini:
            ini.write("[pipshift]\r\nUpdate=false\r\n")
        home = os.path.join(folder, "home")
        os.makedirs(home)
        server = SoundServer(os.path.join(folder, "sound"))
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", HOME=home,
                   XDG_DATA_HOME=os.path.join(home, "data"), PULSE_SERVER=server.address)
        program = subprocess.Popen([os.path.join(folder, "pipshift")], cwd=home, env=env,
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline and program.poll() is None and not server.connections:
            time.sleep(0.05)
        if program.poll() is not None:
            said = program.communicate()[0].decode(errors="replace")
            print(f"the program ended with {program.returncode}; it said:\n{said}")
            return 1
        if not server.connections:
            program.kill()
            said = program.communicate()[0].decode(errors="replace")
            print(f"the program copied alone never looked for the sound output; it said:\n{said}")
            return 1
        print("the program copied alone made its sound player and looked for the sound output")
        return 0
    finally:
        if program is not None and program.poll() is None:
            program.kill()
            program.wait()
        if server is not None:
            server.stop()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
