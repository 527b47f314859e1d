#!/usr/bin/env python3
"""The folders of src/ include only folders below them: app, ui, download, then drive and
package (which know nothing of each other), then base."""
import pathlib
import re
import sys

BELOW = {
    "app": {"ui", "download", "drive", "package", "base"},
    "ui": {"download", "drive", "package", "base"},
    "download": {"drive", "package", "base"},
    "drive": {"base"},
    "package": {"base"},
    "base": set(),
}

src = pathlib.Path(sys.argv[1])
wrong = []
for path in sorted(src.glob("*/*")):
    folder = path.parent.name
    if folder not in BELOW or path.suffix not in (".h", ".cpp"):
        continue
    for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
        m = re.match(r'\s*#\s*include\s+"([a-z_]+)/', line)
        if m and m.group(1) != folder and m.group(1) not in BELOW[folder]:
            wrong.append(f"{path.relative_to(src)}:{number}: {folder} includes {m.group(1)}")
unknown = sorted({p.name for p in src.iterdir() if p.is_dir()} - set(BELOW))
if unknown:
    wrong.append("folders without a place in the order: " + ", ".join(unknown))
print("\n".join(wrong) if wrong else f"{len(BELOW)} folders, no upward include")
sys.exit(1 if wrong else 0)
