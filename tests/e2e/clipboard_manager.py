#!/usr/bin/env python3
"""A stand-in for a desktop's clipboard manager: owns the CLIPBOARD_MANAGER selection, never
answers, and prints one line "request" for each conversion asked of it (a program handing over
its selection at exit). Standard library only (libX11 through ctypes); ends on SIGTERM."""

import ctypes
import sys
import time

SELECTION_REQUEST = 30

x = ctypes.cdll.LoadLibrary("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XInternAtom.restype = ctypes.c_ulong
x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x.XDefaultRootWindow.restype = ctypes.c_ulong
x.XCreateSimpleWindow.argtypes = ([ctypes.c_void_p, ctypes.c_ulong] + [ctypes.c_int] * 4 +
                                  [ctypes.c_uint, ctypes.c_ulong, ctypes.c_ulong])
x.XCreateSimpleWindow.restype = ctypes.c_ulong
x.XSetSelectionOwner.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_ulong]
x.XGetSelectionOwner.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x.XGetSelectionOwner.restype = ctypes.c_ulong
x.XFlush.argtypes = [ctypes.c_void_p]
x.XPending.argtypes = [ctypes.c_void_p]
x.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]

display = x.XOpenDisplay(None)
if not display:
    sys.exit("no display")
window = x.XCreateSimpleWindow(display, x.XDefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0)
manager = x.XInternAtom(display, b"CLIPBOARD_MANAGER", 0)
x.XSetSelectionOwner(display, manager, window, 0)
x.XFlush(display)
if x.XGetSelectionOwner(display, manager) != window:
    sys.exit("could not own CLIPBOARD_MANAGER")
print("ready", flush=True)
event = (ctypes.c_int * 64)()  # an XEvent: its type is the first int
while True:
    while x.XPending(display):
        x.XNextEvent(display, event)
        if event[0] == SELECTION_REQUEST:
            print("request", flush=True)
    time.sleep(0.02)
