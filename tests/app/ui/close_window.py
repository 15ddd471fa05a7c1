#!/usr/bin/python3
"""Asks every X window titled TITLE to close, as a window manager's close button does
(WM_DELETE_WINDOW). Exits 1 when no such window exists. Uses only libX11 (no WM needed).
Usage: close_window.py TITLE"""
import ctypes
import sys

x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
Window = ctypes.c_ulong
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XDefaultRootWindow.restype = Window
x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x11.XQueryTree.argtypes = [ctypes.c_void_p, Window, ctypes.POINTER(Window), ctypes.POINTER(Window),
                           ctypes.POINTER(ctypes.POINTER(Window)), ctypes.POINTER(ctypes.c_uint)]
x11.XFetchName.argtypes = [ctypes.c_void_p, Window, ctypes.POINTER(ctypes.c_char_p)]
x11.XInternAtom.restype = ctypes.c_ulong
x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x11.XSendEvent.argtypes = [ctypes.c_void_p, Window, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
x11.XFlush.argtypes = [ctypes.c_void_p]
x11.XCloseDisplay.argtypes = [ctypes.c_void_p]


class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", Window), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]


def main():
    title = sys.argv[1].encode()
    display = x11.XOpenDisplay(None)
    if not display:
        sys.exit("cannot open the display")
    root = x11.XDefaultRootWindow(display)
    root_out, parent_out = Window(), Window()
    children, count = ctypes.POINTER(Window)(), ctypes.c_uint()
    x11.XQueryTree(display, root, ctypes.byref(root_out), ctypes.byref(parent_out),
                   ctypes.byref(children), ctypes.byref(count))
    protocols = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
    delete = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
    closed = 0
    for index in range(count.value):
        window = children[index]
        name = ctypes.c_char_p()
        if not x11.XFetchName(display, window, ctypes.byref(name)) or name.value != title:
            continue
        event = ClientMessage(type=33, send_event=1, window=window, message_type=protocols, format=32)
        event.data[0] = delete
        x11.XSendEvent(display, window, 0, 0, ctypes.byref(event))
        closed += 1
    x11.XFlush(display)
    x11.XCloseDisplay(display)
    sys.exit(0 if closed else 1)


main()
