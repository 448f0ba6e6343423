#!/usr/bin/python3
"""What a screen reader sees of the real program, read over AT-SPI.

Run inside a private D-Bus session and an X server:
    dbus-run-session -- xvfb-run -a python3 test_atspi.py path/to/batchmp3
Also checks that a session with the file dialog leaves no settings file behind.
"""
import os
import re
import subprocess
import sys
import tempfile
import time

import pyatspi
from gi.repository import GLib

FAILURES = []


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what)
    if not condition:
        FAILURES.append(what)


def wait_for(find, seconds=15):
    end = time.time() + seconds
    while time.time() < end:
        try:
            found = find()
        except GLib.Error as error:
            # A window that goes away while the tree is walked (the start-up
            # ones do) leaves a dangling path; walk the new tree next round.
            if "No such object" not in error.message:
                raise
            found = None
        if found:
            return found
        # Events arrive through the main loop's context.
        while GLib.MainContext.default().iteration(False):
            pass
        time.sleep(0.1)
    return None


def nodes(root):
    yield root
    for i in range(root.childCount):
        child = root.getChildAtIndex(i)
        if child is not None:
            yield from nodes(child)


def states(node):
    return set(node.getState().getStates())


def find(root, role, name=None):
    for n in nodes(root):
        if n.getRoleName() == role and (name is None or n.name == name):
            return n
    return None


def press(node, action="Press"):
    actions = node.queryAction()
    for i in range(actions.nActions):
        if actions.getName(i) == action:
            return actions.doAction(i)
    raise AssertionError(f"{node.name}: no {action} action")


def windows(app):
    return [app.getChildAtIndex(i) for i in range(app.childCount)]


def files_below(folder):
    return sorted(os.path.relpath(os.path.join(d, f), folder)
                  for d, _, fs in os.walk(folder) for f in fs)


def main(program):
    root = tempfile.mkdtemp(prefix="batchmp3-atspi-")
    home, config, data, cache = (os.path.join(root, n) for n in ("home", "config", "data", "cache"))
    for folder in (home, config, data, cache):
        os.makedirs(folder)
    os.makedirs(os.path.join(home, "音乐"))
    with open(os.path.join(home, "a.wav"), "wb") as f:
        f.write(b"\0" * 10240)
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=config, XDG_DATA_HOME=data,
               XDG_CACHE_HOME=cache, QT_QPA_PLATFORM="xcb", LANG="en_US.UTF-8",
               QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
    desktop = pyatspi.Registry.getDesktop(0)  # starts the accessibility bus before the program
    process = subprocess.Popen([program], env=env, cwd=home)
    try:
        app = wait_for(lambda: next((desktop.getChildAtIndex(i) for i in range(desktop.childCount)
                                     if desktop.getChildAtIndex(i) is not None
                                     and desktop.getChildAtIndex(i).name == "batchmp3"), None))
        check(app is not None, "the program is on the accessibility bus")
        main_window = wait_for(lambda: find(app, "frame", "batchmp3 Ver 1.30.1"), 20)
        check(main_window is not None, "the main window is shown")
        if main_window is None:
            return
        wait_for(lambda: len(windows(app)) == 1)

        # Every button a push button named by its caption, enabled and focusable, with Press.
        for name in ("开始转换", "添加文件", "清 空", "关于程序"):
            button = find(main_window, "push button", name)
            check(button is not None and {pyatspi.STATE_ENABLED, pyatspi.STATE_FOCUSABLE,
                                          pyatspi.STATE_SHOWING} <= states(button)
                  and "Press" in [button.queryAction().getName(i)
                                  for i in range(button.queryAction().nActions)],
                  f"push button {name}: enabled, focusable, showing, Press")
        browse = find(main_window, "push button", "选择MP3输出目录")
        check(browse is not None and not states(browse) & {pyatspi.STATE_ENABLED,
                                                           pyatspi.STATE_FOCUSABLE},
              "the browse button is named, and disabled it is not focusable")
        check(find(main_window, "list", "Wav文件") is not None, "the file list is named Wav文件")
        check(find(main_window, "text", "Mp3目录") is not None, "the output folder is named")
        check(find(main_window, "text", "状态") is not None, "the status line is named")
        everything = list(nodes(main_window))
        check(not [n for n in everything if n.getRoleName() in ("image", "icon", "filler")],
              "no pictures and no unnamed fillers")
        check(not [n for n in everything if n.name == "—→"], "the arrow is not shown to readers")
        check(not [n for n in everything if pyatspi.STATE_SHOWING in states(n)
                   and pyatspi.STATE_VISIBLE not in states(n)],
              "nothing that is not visible is reported as showing")

        # Ticking the check box runs its Click: the browse button is enabled and focusable, and
        # the status line's new text reaches the reader.
        changes = []
        pyatspi.Registry.registerEventListener(
            lambda event: changes.append(event.source.name), "object:text-changed")
        press(find(main_window, "check box", "更改MP3输出目录"), "Toggle")
        check(wait_for(lambda: {pyatspi.STATE_ENABLED, pyatspi.STATE_FOCUSABLE}
                       <= states(browse), 5), "the browse button enabled and focusable")
        check(wait_for(lambda: "状态" in changes, 5), f"the status line's change is sent ({changes})")

        # The About window, opened and closed through Press.
        press(find(main_window, "push button", "关于程序"))
        about = wait_for(lambda: next((w for w in windows(app) if w is not None
                                       and find(w, "push button", "确 定")), None))
        check(about is not None, "Press on 关于程序 opens the About window")
        if about is not None:
            ok = find(about, "push button", "确 定")
            check({pyatspi.STATE_ENABLED, pyatspi.STATE_FOCUSABLE} <= states(ok),
                  "确 定 is an enabled, focusable push button")
            check(not [n for n in nodes(about) if n.getRoleName() in ("image", "filler")
                       or n.name == "—→"], "the About window shows readers no pictures")
            press(ok)
            check(wait_for(lambda: len([w for w in windows(app) if w is not None
                                        and find(w, "push button", "确 定")]) == 0, 5),
                  "Press on 确 定 closes it")

        # The window's own menu, from the Menu key: its item opens the settings window, whose
        # every choice is named and can be pressed; 取 消 closes it and nothing is kept. A popup
        # is no child of the program's tree: a reader meets it through its events.
        popups = []

        def note_popup(event):
            try:
                if event.source.getRoleName() == "popup menu":
                    popups.append(event.source)
            except GLib.Error as error:  # a popup gone before its event is read
                if "No such object" not in error.message:
                    raise
        pyatspi.Registry.registerEventListener(note_popup, "object:state-changed")
        subprocess.run(["xdotool", "search", "--name", "batchmp3 Ver", "windowfocus", "--sync",
                        "key", "Menu"], check=False, env=env)
        item = wait_for(lambda: next((find(m, "menu item", "转换设置…") for m in popups
                                      if find(m, "menu item", "转换设置…")), None), 10)
        check(item is not None, "the Menu key shows the menu item 转换设置…")
        if item is not None:
            press(item, item.queryAction().getName(0))
            settings = wait_for(lambda: next((w for w in windows(app) if w is not None
                                              and w.name == "转换设置"), None))
            check(settings is not None, "pressing it opens the settings window 转换设置")
            if settings is not None:
                named = {("radio button", n) for n in ("固定比特率", "可变比特率", "平均比特率",
                                                       "与输入同名", "按标签", "替换", "跳过",
                                                       "另存为新名字", "只更新较旧的", "不写",
                                                       "音轨", "专辑")}
                named |= {("text", "平均比特率（千比特/秒）"), ("text", "标签模板"),
                          ("check box", "记住这些设置"), ("push button", "确 定"),
                          ("push button", "取 消")}
                for role, name in sorted(named):
                    node = find(settings, role, name)
                    check(node is not None and node.queryAction().nActions > 0
                          or role == "text" and node is not None,
                          f"{role} {name} is named and can be pressed"
                          )
                # A list is read by the choice it shows, and described by what it is for.
                for words in ("固定比特率的值", "可变比特率的质量"):
                    combo = next((n for n in nodes(settings) if n.getRoleName() == "combo box"
                                  and n.description == words), None)
                    check(combo is not None and combo.name and combo.queryAction().nActions > 0,
                          f"combo box {words}: described, named by its choice, can be pressed")
                press(find(settings, "radio button", "可变比特率"),
                      find(settings, "radio button", "可变比特率").queryAction().getName(0))
                check(wait_for(lambda: pyatspi.STATE_CHECKED in states(
                    find(settings, "radio button", "可变比特率")), 5), "pressing 可变比特率 chooses it")
                press(find(settings, "push button", "取 消"))
                check(wait_for(lambda: not [w for w in windows(app) if w is not None
                                            and w.name == "转换设置"], 5), "取 消 closes it")

        # One press, one Click: one file dialog, and none after it is cancelled.
        press(find(main_window, "push button", "添加文件"))
        dialog = wait_for(lambda: find(app, "dialog"))
        check(dialog is not None, "Press on 添加文件 opens the file dialog")
        if dialog is not None:
            cells = wait_for(lambda: [n.name for n in nodes(dialog)
                                      if n.getRoleName() in ("table cell", "tree item")
                                      and n.name], 5) or []
            check("文件夹" in cells and "Folder" not in cells,
                  f"the type column is Chinese ({sorted(set(cells))[:8]})")
            check(any(re.fullmatch(r"\d{4}/\d{1,2}/\d{1,2} \d{1,2}:\d{2}", c) for c in cells),
                  "dates are written the Chinese way whatever LANG is")
            press(find(dialog, "push button", "取消"))
            check(wait_for(lambda: find(app, "dialog") is None, 5), "the dialog closes")
            time.sleep(1.5)
            check(find(app, "dialog") is None, "no second dialog: Press raised Click once")
    finally:
        process.terminate()
        process.wait(20)
    check(files_below(home) == ["a.wav"] and files_below(config) == [],
          f"no settings file anywhere ({files_below(home) + files_below(config)})")


if __name__ == "__main__":
    main(sys.argv[1])
    print(f"{len(FAILURES)} failed" if FAILURES else "all passed")
    sys.exit(1 if FAILURES else 0)
