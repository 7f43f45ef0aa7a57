#!/usr/bin/python3
"""Drives the windows through the accessibility bus alone, as a screen reader or a test tool
does.

main PID SOURCE TARGET: the main window. The folders by the shortcut buttons' press actions,
  the formats and the resize by toggle actions and a text set, two of three files by the list
  entries' toggle actions, the run by the convert button's press action; checks what each
  control says on the way and the files written.
quick READY_FILE: the quick menu of a program started after READY_FILE appears. The menu is
  found by its showing event (pop-ups are no children of the application), then "转换为PNG图片"
  and "我的桌面(T)" are pressed.
Exit status 0 on success, 1 otherwise."""

import struct
import sys
import time
from pathlib import Path

import pyatspi

SOURCE_LIST = "“转换前文件夹”图片列表"


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def wait_for(what, probe, seconds=20.0):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        try:
            found = probe()
        except Exception:  # the tree changes under us while the window is built
            found = None
        if found:
            return found
        time.sleep(0.1)
    fail("timed out waiting for " + what)


def application():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def walk(node):
    yield node
    for child in node:
        if child is not None:
            yield from walk(child)


def find(root, role, name=None, description=None):
    for node in walk(root):
        if node.getRoleName() != role:
            continue
        if name is not None and node.name != name:
            continue
        if description is not None and node.description != description:
            continue
        return node
    return None


def control(root, role, name=None, description=None):
    label = f"{role} '{name or description}'"
    return wait_for(label, lambda: find(root, role, name, description))


def act(node, action):
    actions = node.queryAction()
    names = [actions.getName(i) for i in range(actions.nActions)]
    if action not in names:
        fail(f"{node.getRoleName()} '{node.name}' offers {names}, not {action}")
    actions.doAction(names.index(action))


def has(node, state):
    return node.getState().contains(state)


def quick_menu(ready_file):
    from gi.repository import GLib

    menus = []

    def showing(event):
        node = event.source
        if event.detail1 == 1 and node.getRoleName() == "popup menu" and node.name == "图片快速转换":
            menus.append(node)
            pyatspi.Registry.stop()

    pyatspi.Registry.registerEventListener(showing, "object:state-changed:showing")
    GLib.timeout_add(20000, pyatspi.Registry.stop)
    GLib.idle_add(lambda: Path(ready_file).touch() and False)
    pyatspi.Registry.start()
    if not menus:
        fail("the quick menu did not show")
    png = next((item for item in menus[0] if item is not None and item.name == "转换为PNG图片"), None)
    if png is None or png.childCount != 1:
        fail("no PNG submenu")
    desktop = find(png[0], "menu item", "我的桌面(T)")
    if desktop is None:
        fail("no desktop entry in the PNG submenu")
    act(desktop, "Press")
    print("quick menu: pressed 转换为PNG图片 / 我的桌面(T)")
    sys.exit(0)


if sys.argv[1] == "quick":
    quick_menu(sys.argv[2])
pid, source, target = int(sys.argv[2]), Path(sys.argv[3]), Path(sys.argv[4])
app = wait_for("the program on the accessibility bus", application)
convert = control(app, "push button", "开始转换")
if convert.description != "把所选图片转换为勾选的格式":
    fail("convert button description " + repr(convert.description))

# Every button says what it is and what it does.
for node in walk(app):
    if node.getRoleName() == "push button" and has(node, pyatspi.STATE_SHOWING):
        if not node.name or not node.description:
            fail(f"push button '{node.name}' / '{node.description}' lacks a name or description")

act(control(app, "push button", description="把转换前文件夹设为桌面"), "Press")
act(control(app, "push button", description="把转换后文件夹设为我的图片"), "Press")

png = control(app, "check box", "PNG")
jpg = control(app, "check box", "JPG")
act(png, "Toggle")
act(jpg, "Toggle")
wait_for("PNG ticked", lambda: has(png, pyatspi.STATE_CHECKED))
wait_for("JPG unticked", lambda: not has(jpg, pyatspi.STATE_CHECKED))

act(control(app, "radio button", "按比例缩放"), "Toggle")
percent = control(app, "text", "缩放百分比")
wait_for("the percentage shown", lambda: has(percent, pyatspi.STATE_SHOWING))
percent.queryEditableText().setTextContents("50")

source_list = control(app, "list", SOURCE_LIST)
entries = wait_for("three entries in the source list",
                   lambda: [e for e in source_list if e is not None and e.name] if
                   source_list.childCount >= 3 else None)
names = sorted(e.name for e in entries)
if names != sorted(p.name for p in source.iterdir()):
    fail(f"source list shows {names}")
for entry in entries:
    if entry.name in ("a.bmp", "c.bmp"):
        act(entry, "Toggle")
for entry in entries:
    want = entry.name != "b.bmp"
    wait_for(f"{entry.name} selected={want}",
             lambda e=entry, w=want: has(e, pyatspi.STATE_SELECTED) == w)
table = source_list.queryTable()
selected = sorted(table.getSelectedRows())
if len(selected) != 2:
    fail(f"the list reports rows {selected} selected")

act(convert, "Press")
wait_for("a.png and c.png", lambda: {p.name for p in target.iterdir()} >= {"a.png", "c.png"})
time.sleep(0.5)  # anything more would come now
written = sorted(p.name for p in target.iterdir())
if written != ["a.png", "c.png"]:
    fail(f"target holds {written}")
for name in written:
    data = (target / name).read_bytes()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        fail(name + " is no PNG")
    width, height = struct.unpack(">II", data[16:24])
    if (width, height) != (32, 24):
        fail(f"{name} is {width}x{height}, not half of 64x48")
wait_for("the convert button back to its start name",
         lambda: find(app, "push button", "开始转换"))
# The end line is read out as the hint label's name.
wait_for("the end line with the counts",
         lambda: any(n.getRoleName() == "label" and "成功 2 个，失败 0 个" in n.name
                     for n in walk(app)))
print("accessibility run: wrote", " ".join(written))
