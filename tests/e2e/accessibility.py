#!/usr/bin/python3
# A migration worked only through the desktop's accessibility bus, as a screen reader user's tools see the
# wizard: two real wizards (new and old computer) on one X display, found, read and worked over AT-SPI.
# Runs inside a private network namespace, an X server and a private session bus made by accessibility.sh:
#   accessibility.py MOVANTA WORKDIR
# Prints every accessibility tree line it used; exits 0 on success, 1 on failure.
import os
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

program, work = sys.argv[1], sys.argv[2]
children = []


def fail(why):
    print("FAIL: " + why, flush=True)
    # What the tools saw at that moment, for whoever reads the failure.
    for child in children:
        app = application(child.pid)
        print("tree of process %d:" % child.pid, flush=True)
        for node in walk(app):
            if showing(node) or node is app:
                print("    " + line(node), flush=True)
    for child in children:
        child.kill()
    sys.exit(1)


def line(node):
    try:
        states = node.getState()
        extra = []
        if states.contains(pyatspi.STATE_CHECKABLE):
            extra.append("checked" if states.contains(pyatspi.STATE_CHECKED) else "unchecked")
        if not states.contains(pyatspi.STATE_SHOWING):
            extra.append("hidden")
        return "%s | %s | %s%s" % (node.getRoleName(), node.name, node.description or "",
                                   (" [" + ", ".join(extra) + "]") if extra else "")
    except Exception as error:  # a node that went away while read
        return "<gone: %s>" % error


def used(node, why=""):
    print("  a11y: " + line(node) + ("   <- " + why if why else ""), flush=True)
    return node


def walk(node, depth=0):
    if node is None or depth > 40:
        return
    yield node
    try:
        count = node.childCount
    except Exception:
        return
    for i in range(count):
        try:
            child = node.getChildAtIndex(i)
        except Exception:
            continue
        yield from walk(child, depth + 1)


def showing(node):
    try:
        return node.getState().contains(pyatspi.STATE_SHOWING)
    except Exception:
        return False


def find(root, role, name=None, start=None, visible=True):
    for node in walk(root):
        try:
            if node.getRoleName() != role:
                continue
            if name is not None and node.name != name:
                continue
            if start is not None and not node.name.startswith(start):
                continue
        except Exception:
            continue
        if visible and not showing(node):
            continue
        return node
    return None


def pump():
    # The bus's news (programs that came, children that changed) reach the cache only through the main loop.
    context = GLib.MainContext.default()
    while context.iteration(False):
        pass


def wait(what, probe, seconds=90):
    deadline = time.time() + seconds
    while time.time() < deadline:
        pump()
        found = probe()
        if found:
            return found
        time.sleep(0.2)
    fail("timed out waiting for " + what)


def application(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    # Its list of programs is cached; a program that came since is only seen once it is read again.
    try:
        desktop.clear_cache()
    except Exception:
        pass
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        try:
            if app is not None and app.get_process_id() == pid:
                return app
        except Exception:
            continue
    return None


def press(node, why):
    used(node, why)
    actions = node.queryAction()
    for i in range(actions.nActions):
        if actions.getName(i) in ("Press", "press", "click", "SetFocus") or i == actions.nActions - 1:
            if actions.getName(i) in ("Press", "press", "click"):
                actions.doAction(i)
                return
    fail("no press action on " + line(node))


def click(node, why):
    used(node, why + " (mouse)")
    x, y, w, h = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    pyatspi.Registry.generateMouseEvent(x + w // 2, y + h // 2, pyatspi.MOUSE_B1C)


def launch(role, place):
    home = os.path.join(work, role, "home")
    folder = os.path.join(work, role)
    os.makedirs(home, exist_ok=True)
    env = dict(os.environ, HOME=home, QT_ACCESSIBILITY="1", QT_QPA_PLATFORM="xcb")
    log = open(os.path.join(work, role + ".log"), "w")
    # Side by side, so that a click meant for one never lands on the other.
    child = subprocess.Popen([program, "-geometry", place], cwd=folder, env=env, stdout=log,
                             stderr=subprocess.STDOUT)
    children.append(child)
    return child


def on_bus(role, child):
    app = wait(role + "'s wizard on the bus", lambda: application(child.pid), 30)
    used(app, role + " computer's wizard")
    return app


# Something to move on the old computer.
old_home = os.path.join(work, "old", "home")
os.makedirs(os.path.join(old_home, "文档"), exist_ok=True)
with open(os.path.join(old_home, "文档", "问候.txt"), "w") as f:
    f.write("你好，Movanta\n")
with open(os.path.join(old_home, "文档", "data.bin"), "wb") as f:
    f.write(os.urandom(300000))

new_child = launch("new", "+0+0")
old_child = launch("old", "+1000+0")
# Both are on the bus before the desktop's list of programs is first read (and cached).
time.sleep(8)
print("new computer:", flush=True)
receiver = on_bus("new", new_child)
sender = on_bus("old", old_child)
card = wait("the new computer's card", lambda: find(receiver, "label", "这是新电脑（接收数据）"))
click(card, "choose the new computer's role")
press(wait("下一步", lambda: find(receiver, "push button", start="下一步")), "next")
wait("the receiver's waiting page", lambda: find(receiver, "label", "请在旧电脑选择并连接至此新电脑"))
used(find(receiver, "label", "请在旧电脑选择并连接至此新电脑"), "waiting for the old computer")

print("old computer:", flush=True)
card = wait("the old computer's card", lambda: find(sender, "label", "这是旧电脑（发送数据）"))
click(card, "choose the old computer's role")
press(wait("下一步", lambda: find(sender, "push button", start="下一步")), "next")
found = wait("the receiver in the list", lambda: find(sender, "label", start="127.0.0.1", visible=True))
click(found, "the receiver found on the network")

code_node = wait("the pairing code on the new computer", lambda: find(receiver, "filler", "配对码"))
used(code_node, "the code as one text")
digits = "".join(ch for ch in code_node.description if ch.isdigit())
if len(digits) != 6:
    fail("no six-digit code in " + line(code_node))
wait("the pairing page on the old computer", lambda: find(sender, "label", start="请输入"))
for digit in digits:
    pyatspi.Registry.generateKeyboardEvent(ord(digit), None, pyatspi.KEY_SYM)
    time.sleep(0.05)
print("  typed the code " + digits, flush=True)

row = wait("the row 用户数据", lambda: find(sender, "list item", "用户数据") or find(sender, "table cell", "用户数据"))
used(row, "picked by its name")
actions = row.queryAction()
names = [actions.getName(i) for i in range(actions.nActions)]
print("  actions of the row: " + ", ".join(names), flush=True)
if "Toggle" in names:
    actions.doAction(names.index("Toggle"))
else:
    click(row, "toggle")
wait("用户数据 checked", lambda: find(sender, row.getRoleName(), "用户数据") is not None
     and find(sender, row.getRoleName(), "用户数据").getState().contains(pyatspi.STATE_CHECKED))
used(find(sender, row.getRoleName(), "用户数据"), "now checked")

start_button = wait("开始传输", lambda: find(sender, "push button", "开始传输"))
wait("开始传输 enabled", lambda: start_button.getState().contains(pyatspi.STATE_ENABLED) and start_button)
time.sleep(2)  # the scan of the home folder ends
press(start_button, "start")


def confirm_box():
    desktop_app = sender
    for node in walk(desktop_app):
        try:
            if node.getRoleName() in ("dialog", "alert") and showing(node):
                return node
        except Exception:
            continue
    return None


box = wait("the confirmation box", confirm_box)
used(box, "asks before the transfer")
for node in walk(box):
    if node.getRoleName() == "label" and node.name:
        used(node, "the box's text")
buttons = [n for n in walk(box) if n.getRoleName() == "push button"]
if not buttons:
    fail("the box has no button")
press(buttons[0], "confirm")

title = wait("the report", lambda: find(sender, "label", "数据迁移报告"), 180)
print("report read over AT-SPI:", flush=True)
used(title, "the report's title")
texts = {}
report_root = title.parent
for node in walk(report_root.parent if report_root.parent else report_root):
    try:
        if node.getRoleName() == "label" and showing(node) and node.name:
            texts[node.name] = node
    except Exception:
        continue
for caption in ("总文件数量", "总数据大小", "迁移完成率", "总消耗时长", "成功文件数", "失败文件数"):
    node = find(report_root.parent, "label", caption)
    if node is None:
        fail("the report has no " + caption)
    used(node, "caption")
values = [name for name in texts if name.startswith("平均速度") or name.endswith("%")]
for name in values:
    used(texts[name], "a figure")
if "100 %" not in texts:
    fail("the report does not read 100 %: " + ", ".join(sorted(texts)))
speed = [name for name in texts if name.startswith("平均速度 ") and name.endswith("/s")]
if not speed:
    fail("the report gives no average speed")
for name in ("文档/问候.txt", "文档/data.bin"):
    if not any(text.endswith(name) for text in texts):
        fail("the report does not list " + name)
    used(texts[next(text for text in texts if text.endswith(name))], "a moved file")

received = os.path.join(work, "new", "home", "文档", "问候.txt")
if not os.path.exists(received) or open(received).read() != "你好，Movanta\n":
    fail("the file did not arrive on the new computer")
print("PASS: picked 用户数据 by name and read the report over AT-SPI", flush=True)
for child in children:
    child.terminate()
for child in children:
    try:
        child.wait(10)
    except subprocess.TimeoutExpired:
        child.kill()
sys.exit(0)
