#!/usr/bin/python3
# A migration worked only through the desktop's accessibility bus, as a screen reader user's tools see the
# wizard: two real wizards (new and old computer) on one X display, found, read and worked over AT-SPI.
# Runs inside a private network namespace, an X server and a private session bus made by accessibility.sh:
#   accessibility.py MOVANTA WORKDIR
# Prints every accessibility tree line it used; exits 0 on success, 1 on failure.
import os
import re
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

program, work = sys.argv[1], sys.argv[2]
KEY_HOME, KEY_DOWN, KEY_SPACE, KEY_TAB = 0xff50, 0xff54, 0x20, 0xff09  # X key symbols
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


def fresh(node):
    # States are cached by the client library, and Qt sends no change event for a list row's check box.
    try:
        node.clear_cache()
    except Exception:
        pass
    return node


def text_of(node):
    # A figure's label is named after its caption; what it reads is its text.
    try:
        text = node.queryText()
        return text.getText(0, text.characterCount)
    except Exception:
        return ""


def line(node):
    try:
        states = fresh(node).getState()
        extra = []
        if states.contains(pyatspi.STATE_CHECKED):
            extra.append("checked")
        elif states.contains(pyatspi.STATE_CHECKABLE):
            extra.append("unchecked")
        if not states.contains(pyatspi.STATE_SHOWING):
            extra.append("hidden")
        shown = text_of(node)
        return "%s | %s%s%s%s" % (node.getRoleName(), " / ".join(node.name.split("\n")),
                                 (" = " + shown) if shown and shown != node.name else "",
                                 (" | " + node.description) if node.description else "",
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
        return fresh(node).getState().contains(pyatspi.STATE_SHOWING)
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
    env = dict(os.environ, HOME=home, QT_ACCESSIBILITY="1", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
               QT_QPA_PLATFORM="xcb")
    log = open(os.path.join(work, role + ".log"), "w")
    # Side by side, so that a click meant for one never lands on the other.
    child = subprocess.Popen([program, "-geometry", place], cwd=folder, env=env, stdout=log,
                             stderr=subprocess.STDOUT)
    children.append(child)
    return child


def poll(probe, seconds):
    deadline = time.time() + seconds
    while time.time() < deadline:
        pump()
        found = probe()
        if found:
            return found
        time.sleep(0.2)
    return None


def start(role, place, attempts=3, seconds=20):
    # A program that missed the registry while it started never joins it later: it is started again.
    for attempt in range(1, attempts + 1):
        child = launch(role, place)
        app = poll(lambda: application(child.pid), seconds)
        if app is not None:
            used(app, role + " computer's wizard, on the accessibility bus")
            return child, app
        print("  %s computer's wizard (pid %d) is not on the accessibility bus after %d s%s" %
              (role, child.pid, seconds, ", starting it again" if attempt < attempts else ""), flush=True)
        children.remove(child)
        child.kill()
        child.wait()
    fail("the %s computer's wizard never appeared on the accessibility bus" % role)


# Something to move on the old computer.
old_home = os.path.join(work, "old", "home")
os.makedirs(os.path.join(old_home, "文档"), exist_ok=True)
with open(os.path.join(old_home, "文档", "问候.txt"), "w") as f:
    f.write("你好，Movanta\n")
with open(os.path.join(old_home, "文档", "data.bin"), "wb") as f:
    f.write(os.urandom(300000))

print("both wizards:", flush=True)
new_child, receiver = start("new", "+0+0")
old_child, sender = start("old", "+1000+0")
print("new computer:", flush=True)
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

# As a screen reader user does it: into the list, down the rows until the one read out is "用户数据", Space.
row = wait("the row 用户数据", lambda: find(sender, "list item", "用户数据"))
listing = row.parent
used(listing, "the list that holds it")


def in_list():
    return fresh(listing).getState().contains(pyatspi.STATE_FOCUSED) or focused_row() is not None


def focused_row():
    for i in range(listing.childCount):
        child = listing.getChildAtIndex(i)
        if child is not None and fresh(child).getState().contains(pyatspi.STATE_FOCUSED):
            return child
    return None


tabs = 0
while not in_list():
    if tabs == 40:
        fail("Tab never reached the list")
    pyatspi.Registry.generateKeyboardEvent(KEY_TAB, None, pyatspi.KEY_SYM)
    tabs += 1
    time.sleep(0.2)
    pump()
print("  Tab pressed %d times to reach the list" % tabs, flush=True)
key = KEY_HOME
for _ in range(listing.childCount + 1):
    pyatspi.Registry.generateKeyboardEvent(key, None, pyatspi.KEY_SYM)
    current = poll(focused_row, 5)
    if current is None:
        fail("no row of the list has the focus")
    used(current, "Home" if key == KEY_HOME else "Down")
    if current.name == "用户数据":
        break
    key = KEY_DOWN
else:
    fail("Down never reached 用户数据")
pyatspi.Registry.generateKeyboardEvent(KEY_SPACE, None, pyatspi.KEY_SYM)
wait("用户数据 checked", lambda: fresh(current).getState().contains(pyatspi.STATE_CHECKED))
used(current, "Space")
chosen = wait("the count of chosen files",
              lambda: next((n for n in walk(sender) if n.getRoleName() == "label" and n.description == "已选文件"
                            and re.match(r"[1-9]\d* 个$", n.name)), None), 60)
used(chosen, "what is chosen")

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
confirm = next((b for b in buttons if b.name in ("确定", "OK", "是", "继续")), None) or \
    next((b for b in buttons if b.name != "取消"), None)
if confirm is None:
    fail("the box has only " + ", ".join(b.name for b in buttons))
press(confirm, "confirm")

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
    # The figure is the caption's neighbour in its tile.
    tile = node.parent
    labels = [tile.getChildAtIndex(i) for i in range(tile.childCount)]
    labels = [n.name for n in labels if n is not None and n.getRoleName() == "label"]
    figures = []
    for name in labels[labels.index(caption) + 1:]:
        if not re.search(r"\d", name):
            break  # the next caption
        figures.append(name)
    print("  a11y: label | %s = %s" % (caption, " / ".join(f for f in figures if f)), flush=True)
if "100 %" not in texts:
    fail("the report does not read 100 %: " + ", ".join(sorted(texts)))
speed = [name for name in texts if name.startswith("平均速度 ") and name.endswith("/s")]
if not speed:
    fail("the report gives no average speed")
cells = [n for n in walk(report_root.parent) if n.getRoleName() == "table cell" and n.name]
for name in ("文档/问候.txt", "文档/data.bin"):
    cell = next((c for c in cells if c.name.endswith(name)), None)
    if cell is None:
        fail("the report's tables do not read " + name + ": " + ", ".join(c.name for c in cells))
    at = cells.index(cell)
    print("  a11y: table cells | " + " | ".join(c.name for c in cells[at:at + 4]) + "   <- a moved file's row",
          flush=True)

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
