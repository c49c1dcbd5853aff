#!/usr/bin/env python3
"""A D-Bus session bus that has stopped: it takes every connection and never
says a word (as a dbus-daemon stopped with its session). Prints
"accepted N" when the N-th connection came; runs until killed.

Usage: hung_bus.py SOCKET_PATH
"""
import os
import socket
import sys

path = sys.argv[1]
if os.path.exists(path):
    os.unlink(path)
server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
server.bind(path)
server.listen(64)
print("listening", flush=True)
held = []
while True:
    conn, _ = server.accept()
    held.append(conn)  # kept open, never read or answered
    print("accepted %d" % len(held), flush=True)
