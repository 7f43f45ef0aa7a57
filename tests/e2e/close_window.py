#!/usr/bin/env python3
"""Asks an X window to close as its title bar's close button does: a WM_DELETE_WINDOW client
message sent to the window. Works without a window manager; uses libX11 through ctypes.
Usage: close_window.py WINDOW_ID [DELAY_SECONDS]; prints the moment the request was sent, in
nanoseconds since the epoch (as date +%s%N gives it)."""
import ctypes
import sys
import time

x11 = ctypes.CDLL("libX11.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XInternAtom.restype = ctypes.c_ulong
x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                           ctypes.c_void_p]
x11.XFlush.argtypes = [ctypes.c_void_p]
x11.XCloseDisplay.argtypes = [ctypes.c_void_p]


class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("data", ctypes.c_long * 5)]


class Event(ctypes.Union):  # XEvent: 24 longs whatever the kind
    _fields_ = [("message", ClientMessage), ("pad", ctypes.c_long * 24)]


CLIENT_MESSAGE = 33
window = int(sys.argv[1], 0)
display = x11.XOpenDisplay(None)
if not display:
    sys.exit("close_window: cannot open the display")
event = Event()
event.message.type = CLIENT_MESSAGE
event.message.window = window
event.message.message_type = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
event.message.format = 32
event.message.data[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
event.message.data[1] = 0  # CurrentTime
if len(sys.argv) > 2:
    time.sleep(float(sys.argv[2]))
status = x11.XSendEvent(display, window, 0, 0, ctypes.byref(event))
x11.XFlush(display)
print(time.time_ns(), flush=True)
x11.XCloseDisplay(display)
sys.exit(0 if status else 1)
