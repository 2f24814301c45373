"""A display for the scenarios that look at what a person sees: Xvfb, the
windows on it (xdotool), and screenshots (ImageMagick's import and convert).

Debian packages xvfb, xdotool and imagemagick. Standard library otherwise.
"""

import contextlib
import os
import shutil
import subprocess
import time

TOOLS = ("Xvfb", "xdotool", "import", "convert")


def missing_tools():
    return [tool for tool in TOOLS if shutil.which(tool) is None]


class Display:
    """One Xvfb server; `name` is its DISPLAY value."""

    def __init__(self, name):
        self.name = name
        self.env = dict(os.environ, DISPLAY=name)

    def windows(self, title):
        """Ids of the windows whose title is exactly `title`, anywhere in the
        window tree (inside Wine's virtual desktop they are not top-level)."""
        found = subprocess.run(["xdotool", "search", "--name", "^%s$" % title], env=self.env,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                               timeout=30)
        return found.stdout.split()

    def visible_windows(self):
        """{id: title} of every window mapped on the screen, named or not."""
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", ""],
                               env=self.env, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, text=True, timeout=30)
        titles = {}
        for window in found.stdout.split():
            name = subprocess.run(["xdotool", "getwindowname", window], env=self.env,
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                  text=True, timeout=30)
            titles[window] = name.stdout.strip()
        return titles

    def wait_for_window(self, title, ignore=(), timeout=20, while_running=None):
        """The first window titled `title` not in `ignore`, or None once
        `timeout` seconds have passed or `while_running` (a Popen) ended."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            fresh = [window for window in self.windows(title) if window not in ignore]
            if fresh:
                return fresh[0]
            if while_running is not None and while_running.poll() is not None:
                return None
            time.sleep(0.1)
        return None

    def wait_until_gone(self, window, title, timeout=10):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if window not in self.windows(title):
                return True
            time.sleep(0.1)
        return False

    def focus(self, window):
        subprocess.run(["xdotool", "windowfocus", "--sync", window], env=self.env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)

    def press(self, window, key):
        """Focuses `window` and types `key` through XTEST, as a keyboard
        does. (`xdotool key --window` sends synthetic events instead; Wine
        then takes the key as still held, and the next box closes at once.)"""
        self.focus(window)
        subprocess.run(["xdotool", "key", key], env=self.env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)

    def screenshot(self, path):
        subprocess.run(["import", "-window", "root", path], env=self.env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        return path


def crop_to_content(source, target, margin=12):
    """`source` cut to what differs from its edge colour, plus a margin of
    that colour: a window on an empty desktop, without the desktop."""
    edge = subprocess.run(["convert", source, "-format", "%[pixel:p{0,0}]", "info:"],
                          check=True, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                          text=True, timeout=60).stdout.strip()
    subprocess.run(["convert", source, "-fuzz", "3%", "-trim", "+repage", "-bordercolor",
                    edge, "-border", str(margin), target], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
    return target


def image_size(path):
    size = subprocess.run(["convert", path, "-format", "%w %h", "info:"], check=True,
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                          timeout=60).stdout.split()
    return int(size[0]), int(size[1])


def distinct_colours(path):
    count = subprocess.run(["convert", path, "-format", "%k", "info:"], check=True,
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                           timeout=60).stdout.strip()
    return int(count)


@contextlib.contextmanager
def xvfb(width=1024, height=768, log_path=os.devnull):
    """An Xvfb server on a free display number, for the block."""
    read_end, write_end = os.pipe()
    log = open(log_path, "wb")
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                               "%dx%dx24" % (width, height), "-nolisten", "tcp"],
                              pass_fds=(write_end,), stdout=log, stderr=log,
                              stdin=subprocess.DEVNULL)
    os.close(write_end)
    try:
        with os.fdopen(read_end) as announced:
            number = announced.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start (exit %s)" % server.poll())
        yield Display(":" + number)
    finally:
        server.terminate()
        try:
            server.wait(timeout=10)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait()
        log.close()
