#!/usr/bin/env python3
"""Starts the real ravel-viewer on a private Xvfb display with a fresh
configuration folder, opens the log window with Ctrl+L (xdotool), closes the
main window the way a window manager does (WM_DELETE_WINDOW) and checks that
the process ends within the thread-stop budget with its settings saved.

Usage: viewer_xvfb_test.py PATH/TO/ravel-viewer
Exit status 0 pass, 1 fail, 77 skipped (Xvfb or xdotool missing, or not
inside scripts/netns-run: the viewer starts program discovery).
"""
import ctypes
import os
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77
# The window's worker threads share 2000 ms to stop; the rest is process
# teardown on a loaded machine.
EXIT_BUDGET_S = 3.5
WAIT_S = 60


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def start_xvfb():
    """Starts Xvfb on a display number it picks itself; returns (process, display)."""
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
        pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    number = b""
    with os.fdopen(read_end, "rb") as pipe:
        while not number.endswith(b"\n"):
            chunk = pipe.read(1)
            if not chunk:
                break
            number += chunk
    if not number.strip():
        xvfb.kill()
        fail("Xvfb did not report a display")
    return xvfb, ":" + number.decode().strip()


def xdotool(env, *args):
    result = subprocess.run(["xdotool", *args], env=env, capture_output=True, text=True, timeout=30)
    return result.stdout.split()


def wait_for_window(env, title, timeout=WAIT_S):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        windows = xdotool(env, "search", "--onlyvisible", "--name", "^%s$" % title)
        if windows:
            return windows[0]
        time.sleep(0.1)
    return None


class XClientMessageEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class XEvent(ctypes.Union):
    _fields_ = [("xclient", XClientMessageEvent), ("pad", ctypes.c_long * 24)]


def request_close(display_name, window):
    """Sends WM_DELETE_WINDOW, as a window manager's close button does."""
    xlib = ctypes.cdll.LoadLibrary("libX11.so.6")
    xlib.XOpenDisplay.restype = ctypes.c_void_p
    xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
    xlib.XInternAtom.restype = ctypes.c_ulong
    xlib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    xlib.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                                ctypes.POINTER(XEvent)]
    xlib.XFlush.argtypes = [ctypes.c_void_p]
    xlib.XCloseDisplay.argtypes = [ctypes.c_void_p]
    display = xlib.XOpenDisplay(display_name.encode())
    if not display:
        fail("cannot open display %s to close the window" % display_name)
    event = XEvent()
    event.xclient.type = 33  # ClientMessage
    event.xclient.window = int(window)
    event.xclient.message_type = xlib.XInternAtom(display, b"WM_PROTOCOLS", 0)
    event.xclient.format = 32
    event.xclient.data[0] = xlib.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
    event.xclient.data[1] = 0  # CurrentTime
    xlib.XSendEvent(display, int(window), 0, 0, ctypes.byref(event))
    xlib.XFlush(display)
    xlib.XCloseDisplay(display)


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    viewer = sys.argv[1]
    if os.environ.get("RAVEL_NETNS_INSIDE") != "1":
        print("SKIP: the viewer starts program discovery: run inside scripts/netns-run")
        return SKIP
    missing = [tool for tool in ("Xvfb", "xdotool") if not shutil.which(tool)]
    if missing:
        print("SKIP: %s not installed (scripts/install-deps installs it)" % " and ".join(missing))
        return SKIP

    xvfb, display = start_xvfb()
    config = tempfile.mkdtemp(prefix="ravel-xvfb-")
    viewer_process = None
    try:
        env = dict(os.environ, DISPLAY=display, XDG_CONFIG_HOME=config, QT_QPA_PLATFORM="xcb")
        env.pop("QT_QPA_PLATFORMTHEME", None)
        output_file = open(os.path.join(config, "viewer-output.txt"), "w+")
        viewer_process = subprocess.Popen([viewer], env=env, stdout=output_file, stderr=subprocess.STDOUT)
        window = wait_for_window(env, "Ravel-Viewer")
        if not window:
            fail("the main window did not appear on %s" % display)

        # No window manager runs: give the window the focus ourselves.
        xdotool(env, "windowfocus", "--sync", window)
        deadline = time.monotonic() + WAIT_S
        log = None
        while log is None and time.monotonic() < deadline:
            xdotool(env, "key", "--clearmodifiers", "ctrl+l")
            log = wait_for_window(env, "Logs", timeout=2)
        if not log:
            fail("Ctrl+L did not open the log window")
        print("log window %s shown by Ctrl+L" % log)

        request_close(display, window)
        closed_at = time.monotonic()
        try:
            viewer_process.wait(timeout=WAIT_S)
        except subprocess.TimeoutExpired:
            fail("the viewer did not exit after its window was closed")
        took = time.monotonic() - closed_at
        output_file.seek(0)
        output = output_file.read()
        print("viewer exited with status %d, %.2f s after the close request" % (viewer_process.returncode, took))
        if output.strip():
            print("viewer output:\n" + output)
        if viewer_process.returncode != 0:
            fail("exit status %d" % viewer_process.returncode)
        if took > EXIT_BUDGET_S:
            fail("exit took %.2f s, more than %.1f s" % (took, EXIT_BUDGET_S))
        if "Can't stop" in output:
            fail("a worker thread had to be terminated")

        settings_file = os.path.join(config, "Kelvane Electronics", "Ravel-Viewer.conf")
        if not os.path.exists(settings_file):
            fail("no settings saved at " + settings_file)
        with open(settings_file) as f:
            text = f.read()
        for expected in ("[MainWindow]", "geometry=", "windowState=", "[Main]", "playbackInterval=10"):
            if expected not in text:
                fail("settings lack %r:\n%s" % (expected, text))
        print("settings saved to " + settings_file)
        return 0
    finally:
        if viewer_process and viewer_process.poll() is None:
            viewer_process.kill()
        xvfb.terminate()
        try:
            xvfb.wait(timeout=10)
        except subprocess.TimeoutExpired:
            xvfb.kill()
        shutil.rmtree(config, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
