#!/usr/bin/env python3
"""Starts the real ravel-viewer (argument 1) on a private Xvfb display with a
fresh configuration folder, opens the log window with Ctrl+L (xdotool), closes
the main window as a window manager does (WM_DELETE_WINDOW) and checks that the
process ends within the thread-stop budget with its settings saved.
Exit status 0 pass, 1 fail, 77 skipped (Xvfb or xdotool missing, or not inside
scripts/netns-run: the viewer starts program discovery).
"""
import ctypes
import os
import shutil
import subprocess
import sys
import tempfile
import time

EXIT_BUDGET_S = 3.5  # the worker threads share 2 s to stop; the rest is teardown on a loaded machine
WAIT_S = 60


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def wait_for_window(env, title, timeout=WAIT_S):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % title], env=env,
                               capture_output=True, text=True, timeout=30).stdout.split()
        if found:
            return found[0]
        time.sleep(0.1)
    return None


def request_close(display_name, window):
    """Sends WM_DELETE_WINDOW, as a window manager's close button does."""
    class ClientMessage(ctypes.Structure):  # an XClientMessageEvent padded to the size of an XEvent
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                    ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                    ("format", ctypes.c_int), ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]
    xlib = ctypes.cdll.LoadLibrary("libX11.so.6")
    xlib.XOpenDisplay.restype = ctypes.c_void_p
    xlib.XInternAtom.restype = ctypes.c_ulong
    xlib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    xlib.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
    xlib.XFlush.argtypes = xlib.XCloseDisplay.argtypes = [ctypes.c_void_p]
    display = xlib.XOpenDisplay(display_name.encode())
    event = ClientMessage(type=33, window=int(window), format=32,  # 33: ClientMessage
                          message_type=xlib.XInternAtom(display, b"WM_PROTOCOLS", 0))
    event.data[0] = xlib.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
    xlib.XSendEvent(display, int(window), 0, 0, ctypes.byref(event))
    xlib.XFlush(display)
    xlib.XCloseDisplay(display)


def check_viewer(viewer, display, config):
    env = dict(os.environ, DISPLAY=display, XDG_CONFIG_HOME=config, QT_QPA_PLATFORM="xcb")
    env.pop("QT_QPA_PLATFORMTHEME", None)
    output = tempfile.TemporaryFile("w+")
    process = subprocess.Popen([viewer], env=env, stdout=output, stderr=subprocess.STDOUT)
    try:
        window = wait_for_window(env, "Ravel-Viewer") or fail("the main window did not appear on " + display)
        subprocess.run(["xdotool", "windowfocus", "--sync", window], env=env, timeout=30)  # no window manager
        deadline = time.monotonic() + WAIT_S
        while not wait_for_window(env, "Logs", timeout=2):
            if time.monotonic() > deadline:
                fail("Ctrl+L did not open the log window")
            subprocess.run(["xdotool", "key", "--clearmodifiers", "ctrl+l"], env=env, timeout=30)

        request_close(display, window)
        closed_at = time.monotonic()
        status = process.wait(timeout=WAIT_S)
        took = time.monotonic() - closed_at
        output.seek(0)
        text = output.read()
        print("viewer exited with status %d, %.2f s after the close request\n%s" % (status, took, text))
        if status != 0 or took > EXIT_BUDGET_S or "Can't stop" in text:
            fail("exit status %d after %.2f s (budget %.1f s), or a worker thread had to be terminated"
                 % (status, took, EXIT_BUDGET_S))
    finally:
        process.kill()

    settings_file = os.path.join(config, "Kelvane Electronics", "Ravel-Viewer.conf")
    text = open(settings_file).read() if os.path.exists(settings_file) else ""
    for expected in ("[MainWindow]", "geometry=", "windowState=", "[Main]", "playbackInterval=10"):
        if expected not in text:
            fail("settings at %s lack %r:\n%s" % (settings_file, expected, text))


def main():
    if os.environ.get("RAVEL_NETNS_INSIDE") != "1":
        print("SKIP: the viewer starts program discovery: run inside scripts/netns-run")
        return 77
    missing = [tool for tool in ("Xvfb", "xdotool") if not shutil.which(tool)]
    if missing:
        print("SKIP: %s not installed (scripts/install-deps installs it)" % " and ".join(missing))
        return 77
    # Xvfb picks a free display number and writes it to the pipe.
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    config = tempfile.mkdtemp(prefix="ravel-xvfb-")
    try:
        with os.fdopen(read_end, "rb") as pipe:
            display = ":" + pipe.readline().decode().strip()
        if display == ":":
            fail("Xvfb did not report a display")
        check_viewer(sys.argv[1], display, config)
        return 0
    finally:
        xvfb.kill()
        xvfb.wait()
        shutil.rmtree(config, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
