#!/usr/bin/env python3
"""Checks the layering rule: a source file includes project headers only from its own
layer and the layers before it. Prints every violation and exits 1 when there is one."""
import os
import re
import sys

# Lowest first; a layer may include itself and everything to its left. bus/ holds two levels:
# the vocabulary (messages, records, the module interface) below conn/, and the engine and
# call layer (bus/nxtp_*) above it, which hand conn/ a narrow context.
ORDER = ["runtime", "platform", "media", "net", "bus", "conn", "engine", "protocols", "camera", "client", "jni", "tools"]
DIRS = [d for d in ORDER if d != "engine"]
# jni/ and tools/ are both top layers and never include each other.
PEERS_FORBIDDEN = {("jni", "tools"), ("tools", "jni")}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def layer_of(path):
    parts = path.split("/")
    first = parts[0]
    if first not in DIRS:
        return None
    if first == "bus" and len(parts) > 1 and parts[-1].startswith("nxtp_"):
        return "engine"
    return first


def main(root):
    bad = []
    for top in DIRS:
        base = os.path.join(root, top)
        for dirpath, _, files in os.walk(base):
            for name in files:
                if not name.endswith((".h", ".cpp")):
                    continue
                full = os.path.join(dirpath, name)
                rel = os.path.relpath(full, root)
                layer = layer_of(rel)
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
