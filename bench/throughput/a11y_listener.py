#!/usr/bin/env python3
"""An accessibility client for the benchmarks: listens to the events a screen reader listens
to and, as a screen reader does, asks each event's source for its role and name. Prints
"ready" once subscribed; on SIGTERM or SIGINT prints the events it received and the last
line it read from a list, then exits."""

import signal
import sys

import pyatspi
from gi.repository import GLib

EVENTS = (
    "focus:",
    "object:children-changed",
    "object:state-changed",
    "object:selection-changed",
    "object:active-descendant-changed",
    "object:property-change",
    "object:text-changed",
    "object:text-caret-moved",
    "object:visible-data-changed",
)

counts = {}
list_events = 0
last_line = ""


def on_event(event):
    global list_events, last_line
    counts[event.type] = counts.get(event.type, 0) + 1
    try:
        source = event.source
        role = source.getRole()
        name = source.name
        if role == pyatspi.ROLE_LIST_ITEM:
            list_events += 1
            # The line a screen reader speaks: the item that gained the focus or the selection.
            gained = event.type.startswith("focus") or (
                event.type == "object:state-changed:selected" and event.detail1 == 1)
            if gained:
                last_line = name
    except Exception:  # the source may be gone by the time the event is read
        pass


def report():
    total = sum(counts.values())
    print(f"events {total}, from log lines {list_events}")
    for kind in sorted(counts):
        print(f"  {kind} {counts[kind]}")
    print(f"last line {last_line}")
    sys.stdout.flush()
    pyatspi.Registry.stop()
    return GLib.SOURCE_REMOVE


def on_signal():
    # Events still queued are read first: the report waits until the loop is idle.
    GLib.idle_add(report)
    return GLib.SOURCE_REMOVE


for kind in EVENTS:
    pyatspi.Registry.registerEventListener(on_event, kind)
for number in (signal.SIGTERM, signal.SIGINT):
    GLib.unix_signal_add(GLib.PRIORITY_HIGH, number, on_signal)
print("ready", flush=True)
pyatspi.Registry.start()
