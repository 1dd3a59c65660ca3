#!/usr/bin/env python3
"""Checks the layering rule: a source file includes project headers only from its own
layer and the layers before it. Prints every violation and exits 1 when there is one."""
import os
import re
import sys

# Lowest first; a layer may include itself and everything to its left.
ORDER = ["runtime", "platform", "media", "net", "bus", "conn", "protocols", "camera", "client", "jni", "tools"]
# jni/ and tools/ are both top layers and never include each other.
PEERS_FORBIDDEN = {("jni", "tools"), ("tools", "jni")}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def layer_of(path):
    first = path.split("/", 1)[0]
    return first if first in ORDER else None


def main(root):
    bad = []
    for layer in ORDER:
        base = os.path.join(root, layer)
        for dirpath, _, files in os.walk(base):
            for name in files:
                if not name.endswith((".h", ".cpp")):
                    continue
                full = os.path.join(dirpath, name)
                rel = os.path.relpath(full, root)
                with open(full, encoding="utf-8", errors="replace") as f:
                    for lineno, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        if not m:
                            continue
                        target = layer_of(m.group(1))
                        if target is None:
                            continue
                        if (layer, target) in PEERS_FORBIDDEN or ORDER.index(target) > ORDER.index(layer):
                            bad.append(f"{rel}:{lineno}: {layer}/ includes {m.group(1)}")
    for line in bad:
        print(line)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
