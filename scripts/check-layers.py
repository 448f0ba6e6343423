#!/usr/bin/env python3
"""Checks that the converter's folders stay layers: no include runs back up a floor, the
converter reaches its components only by class name, and the layers below the windows include
nothing of Qt but its core. Prints each breach; exit status 1 when there is one.

    scripts/check-layers.py [QT_INCLUDE_DIR]
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
# Floors, lowest first; a folder includes only from floors below its own (and from itself).
FLOORS = [
    ["encoder", "button", "files"],
    ["batch"],
    ["startup"],
    ["dialogs", "console"],
    ["window"],
    ["app"],
]
# These need nothing of Qt but its core.
CORE_ONLY = ["encoder", "button", "files", "batch", "startup", "console"]
# The runtime's widget-facing headers (runtime_widgets).
RUNTIME_WIDGETS = {"accessible.h", "controls.h", "formloader.h", "propertybag.h", "windowframe.h"}

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)


def floor_of(folder):
    for level, folders in enumerate(FLOORS):
        if folder in folders:
            return level
    return None


def main():
    qt = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "/usr/include/x86_64-linux-gnu/qt6")
    qt_core = qt / "QtCore"
    # Qt SQL needs no display either: the output folder's record is kept through it.
    qt_sql = qt / "QtSql"
    breaches = []
    sources = sorted((ROOT / "converter").glob("*/*.[ch]*"))
    for source in sources:
        folder = source.parent.name
        own = floor_of(folder)
        if own is None or source.suffix not in (".h", ".cpp"):
            continue
        where = source.relative_to(ROOT)
        for kind, name in INCLUDE.findall(source.read_text(encoding="utf-8")):
            parts = name.split("/")
            if kind == '"' and parts[0] in ("mp3enc", "buttonctl"):
                breaches.append(f"{where}: includes the component's own {name}")
            if kind == '"' and parts[0] == "converter" and len(parts) == 3:
                other = floor_of(parts[1])
                if other is None:
                    breaches.append(f"{where}: includes {name} from no known floor")
                elif parts[1] != folder and other >= own:
                    breaches.append(f"{where}: includes {name}, which is not below it")
            if folder not in CORE_ONLY:
                continue
            if kind == '"' and parts[0] == "runtime" and parts[-1] in RUNTIME_WIDGETS:
                breaches.append(f"{where}: includes the runtime's widget part {name}")
            if kind == "<" and name.startswith("Q") and "/" not in name \
                    and not (qt_core / name).exists() and not (qt_sql / name).exists():
                breaches.append(f"{where}: includes <{name}>, which is not Qt Core's")
            if kind == "<" and name.startswith("Qt") and "/" in name and parts[0] not in ("QtCore", "QtSql"):
                breaches.append(f"{where}: includes <{name}>, which is not Qt Core's")
    for breach in breaches:
        print(breach)
    print(f"{len(sources)} files looked at, {len(breaches)} breaches")
    return 1 if breaches else 0


if __name__ == "__main__":
    sys.exit(main())
