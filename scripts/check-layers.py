#!/usr/bin/env python3
"""Fails when a file in src/ includes from a higher layer.

Layers, lowest first (the README's Layout): common < platform < entry, state
< feed, session < update < app. A file includes from its own layer or lower
ones. The Win32 implementations in platform/win32/ stand behind the platform
interfaces: only they and the composition roots in app/ include them.

Usage: check-layers.py [SOURCE_ROOT]   (the repository root; default: this
script's parent folder)
"""
import pathlib
import re
import sys

RANK = {"common": 0, "platform": 1, "entry": 2, "state": 2, "feed": 3, "session": 3, "update": 4, "app": 5}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def main() -> int:
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent.parent)
    src = root / "src"
    problems = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp", ".inc", ".in") or not path.is_file():
            continue
        relative = path.relative_to(src).as_posix()
        layer = relative.split("/")[0]
        if layer not in RANK:
            problems.append(f"{relative}: folder {layer}/ has no layer; add it to {pathlib.Path(__file__).name}")
            continue
        behind = relative.startswith("platform/win32/")
        for number, text in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
            match = INCLUDE.match(text)
            if not match or "/" not in match.group(1):
                continue  # same folder or generated (build_constants.h)
            target = match.group(1)
            other = target.split("/")[0]
            if other not in RANK:
                continue
            if RANK[other] > RANK[layer]:
                problems.append(f"{relative}:{number}: {layer}/ includes {target} from the higher layer {other}/")
            elif target.startswith("platform/win32/") and not (behind or layer == "app"):
                problems.append(f"{relative}:{number}: {target} stands behind the platform interfaces")
    for problem in problems:
        print(problem)
    print(f"check-layers: {len(problems)} include(s) against the layer order")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
