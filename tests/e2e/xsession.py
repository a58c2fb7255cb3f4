"""The X side of the end-to-end run: a private Xvfb, xdotool input, window lookup, and screenshots
read straight from the server's framebuffer file (no screenshot tool needed)."""

import os
import struct
import subprocess
import tempfile
import time
import zlib


# PIPSHIFT_E2E_TRACE=1 prints every X tool call with the time it took.
TRACE = bool(os.environ.get("PIPSHIFT_E2E_TRACE"))


class XUnavailable(Exception):
    """Xvfb could not be started here; the run is skipped, not failed."""


class Image:
    """An RGB picture: rows of bytes, three per pixel."""

    def __init__(self, width, height, rgb):
        self.width = width
        self.height = height
        self.rgb = rgb  # bytes, len = width * height * 3

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return self.rgb[i], self.rgb[i + 1], self.rgb[i + 2]

    def crop(self, x, y, w, h):
        x0, y0 = max(0, x), max(0, y)
        x1, y1 = min(self.width, x + w), min(self.height, y + h)
        rows = []
        for row in range(y0, y1):
            start = (row * self.width + x0) * 3
            rows.append(self.rgb[start:start + (x1 - x0) * 3])
        return Image(max(0, x1 - x0), max(0, y1 - y0), b"".join(rows))

    def count(self, predicate, x=0, y=0, w=None, h=None):
        """How many pixels of the rectangle satisfy predicate((r, g, b))."""
        w = self.width - x if w is None else w
        h = self.height - y if h is None else h
        n = 0
        for row in range(max(0, y), min(self.height, y + h)):
            for col in range(max(0, x), min(self.width, x + w)):
                if predicate(self.pixel(col, row)):
                    n += 1
        return n

    def colours(self):
        """The set of distinct colours in the picture."""
        return {self.rgb[i:i + 3] for i in range(0, len(self.rgb), 3)}

    def save_png(self, path):
        raw = b"".join(b"\x00" + self.rgb[r * self.width * 3:(r + 1) * self.width * 3]
                       for r in range(self.height))

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

        header = struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0)
        with open(path, "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
                    chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b""))


def read_xwd(path):
    """Reads the 24/32-bit TrueColor XWD image Xvfb keeps its screen in."""
    with open(path, "rb") as f:
        data = f.read()
    (header_size, version, _fmt, _depth, width, height, _xoff, byte_order, _unit, _bitorder,
     _pad, bpp, bytes_per_line, _vclass, red_mask, green_mask, blue_mask, _bits, _entries,
     ncolors) = struct.unpack(">20I", data[:80])
    if version != 7 or bpp != 32:
        raise RuntimeError(f"unexpected framebuffer format (version {version}, {bpp} bpp)")
    offset = header_size + ncolors * 12
    order = "<" if byte_order == 0 else ">"
    shifts = []
    for mask in (red_mask, green_mask, blue_mask):
        shift = 0
        while mask and not (mask >> shift) & 1:
            shift += 1
        shifts.append(shift)
    out = bytearray(width * height * 3)
    fast = (order == "<" and (red_mask, green_mask, blue_mask) == (0xFF0000, 0xFF00, 0xFF))
    for row in range(height):
        line = data[offset + row * bytes_per_line:offset + row * bytes_per_line + width * 4]
        o = row * width * 3
        if fast:
            # Little-endian BGRX: pick the three colour bytes of every pixel.
            out[o:o + width * 3:3] = line[2::4]
            out[o + 1:o + width * 3:3] = line[1::4]
            out[o + 2:o + width * 3:3] = line[0::4]
        else:
            for col, (value,) in enumerate(struct.iter_unpack(order + "I", line)):
                out[o + col * 3] = (value & red_mask) >> shifts[0]
                out[o + col * 3 + 1] = (value & green_mask) >> shifts[1]
                out[o + col * 3 + 2] = (value & blue_mask) >> shifts[2]
    return Image(width, height, bytes(out))


class Geometry:
    def __init__(self, x, y, width, height):
        self.x, self.y, self.width, self.height = x, y, width, height

    def __eq__(self, other):
        return (self.x, self.y, self.width, self.height) == (other.x, other.y, other.width,
                                                             other.height)

    def __repr__(self):
        return f"{self.width}x{self.height} at ({self.x}, {self.y})"


class XServer:
    """A private Xvfb on a display number it picks itself, torn down with the run."""

    def __init__(self, width=1024, height=768):
        self.width, self.height = width, height
        self.fbdir = tempfile.mkdtemp(prefix="pipshift-e2e-fb-")
        read_end, write_end = os.pipe()
        try:
            self.process = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{width}x{height}x24",
                 "-fbdir", self.fbdir, "-nolisten", "tcp", "-noreset"],
                pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        except OSError as e:
            raise XUnavailable(f"Xvfb cannot be run: {e}")
        finally:
            os.close(write_end)
        number = b""
        deadline = time.monotonic() + 15
        with os.fdopen(read_end, "rb") as pipe:
            while time.monotonic() < deadline:
                ch = pipe.read(1)
                if not ch or ch == b"\n":
                    break
                number += ch
        if not number.strip().isdigit():
            self.process.kill()
            err = self.process.communicate()[1].decode(errors="replace").strip()
            raise XUnavailable(f"Xvfb did not start: {err or 'no display number reported'}")
        self.display = ":" + number.decode().strip()
        self.env = dict(os.environ, DISPLAY=self.display)
        # The program must meet a real X server, whatever the test runner set for unit tests.
        self.env.pop("QT_QPA_PLATFORM", None)
        self.env["QT_QPA_PLATFORM"] = "xcb"
        self.env.pop("WAYLAND_DISPLAY", None)

    def close(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        for name in os.listdir(self.fbdir):
            os.unlink(os.path.join(self.fbdir, name))
        os.rmdir(self.fbdir)

    # ---- screen ---------------------------------------------------------------------------

    def screenshot(self):
        return read_xwd(os.path.join(self.fbdir, "Xvfb_screen0"))

    # ---- tools ----------------------------------------------------------------------------

    def run(self, *args, check=True):
        begun = time.monotonic()
        done = subprocess.run(list(args), env=self.env, capture_output=True, text=True,
                              timeout=20)
        if TRACE:
            print(f"    [{time.monotonic() - begun:5.2f} s] {' '.join(args)}", flush=True)
        if check and done.returncode != 0:
            raise RuntimeError(f"{' '.join(args)} failed ({done.returncode}): "
                               f"{done.stderr.strip()}")
        return done.stdout

    def xdotool(self, *args, check=True):
        return self.run("xdotool", *[str(a) for a in args], check=check)

    def find_windows(self, title):
        """Ids of the mapped windows whose title is exactly title."""
        pattern = "^" + "".join("\\" + c if c in ".^$*+?()[]{}|\\" else c for c in title) + "$"
        out = self.xdotool("search", "--onlyvisible", "--name", pattern, check=False)
        return [int(w) for w in out.split()]

    def geometry(self, window):
        """The window's position on the screen and its size, as xwininfo reports them."""
        out = self.run("xwininfo", "-id", str(window))
        values = {}
        for line in out.splitlines():
            key, _, value = line.strip().partition(":")
            values[key] = value.strip()
        return Geometry(int(values["Absolute upper-left X"]), int(values["Absolute upper-left Y"]),
                        int(values["Width"]), int(values["Height"]))

    def click(self, x, y):
        """A left click at a screen position. One xdotool call keeps the move and the click in
        order; --sync is not used because it waits forever when the pointer is already there.
        The pointer is then parked in the screen's corner: Xvfb draws it into the pictures the
        run compares."""
        self.xdotool("mousemove", x, y, "click", "1", "mousemove", self.width - 1,
                     self.height - 1)

    def key(self, *keys, window=None):
        args = ["key", "--clearmodifiers"]
        if window is not None:
            args += ["--window", window]
        self.xdotool(*args, *keys)

    def type(self, text):
        self.xdotool("type", "--delay", "30", text)
