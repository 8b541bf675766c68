#!/usr/bin/env bash
# Lists the include edges between the folders of src/ and fails when a folder
# includes one of a higher layer, or when folders include each other in a loop.
# Layers, lowest first:
#   common < primitives < config, log < engine < agent, service < api, jni
# Folders of one layer may include each other as long as no loop forms.
# Public headers under include/qor belong to the folder that implements them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
exec python3 - "$root" <<'PY'
import os, re, sys
from collections import defaultdict

root = sys.argv[1]
src = os.path.join(root, "src")
rank = {"common": 0, "primitives": 1, "config": 2, "log": 2, "engine": 3,
        "agent": 4, "service": 4, "api": 5, "jni": 5}
# Public headers by owning folder; export.h and anything unlisted stays neutral.
public = {
    "qorapi.h": "api", "qor/error.h": "common", "qor/data_buffer.h": "common",
    "qor/base64.h": "primitives", "qor/hashtable.h": "common", "qor/qostring.h": "common",
    "qor/qoutil.h": "common", "qor/config.h": "config", "qor/qolog.h": "log",
    "qor/cupin.h": "engine", "qor/cipher_util.h": "engine", "qor/access_control.h": "engine",
    "qor/ua_cipher_util.h": "engine", "qor/key_mgr.h": "engine", "qor/qoaudit.h": "log", "qor/rijndael.h": "primitives", "qor/lea.h": "primitives",
    "qor/lsh.h": "primitives", "qor/sha3.h": "primitives", "qor/nc_aes.h": "primitives",
    "qor/nc_aria.h": "primitives", "qor/nc_des.h": "primitives", "qor/nc_hmac.h": "primitives",
    "qor/nc_random.h": "primitives", "qor/nc_seed.h": "primitives", "qor/nc_sha.h": "primitives",
    "qor/connection.h": "agent",
    "qor/policy.h": "agent", "qor/policy_file.h": "agent", "qor/packet.h": "agent",
    "qor/key_download.h": "agent",
}
neutral = {"qor/export.h"}
include = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)

edges = defaultdict(list)      # (from, to) -> ["file: header"]
sub_edges = defaultdict(int)   # ("engine/x", "engine/y") -> count
problems = []
for folder, _, files in os.walk(src):
    for name in sorted(files):
        if not name.endswith((".h", ".cpp", ".c", ".inc")):
            continue
        path = os.path.join(folder, name)
        rel = os.path.relpath(path, src)
        parts = rel.split(os.sep)
        top = parts[0]
        if top not in rank:
            problems.append(f"{rel}: folder src/{top} has no layer")
            continue
        text = open(path, encoding="utf-8", errors="replace").read()
        for header in include.findall(text):
            if "/" not in header and header not in public:
                continue  # beside the file itself
            if header in neutral:
                continue
            if header in public:
                target = public[header]
            elif header.startswith("qor/"):
                print(f"note: {rel} includes {header}, which has no owner here")
                continue
            else:
                target = header.split("/")[0]
                if target not in rank:
                    continue
                if target == top and top in ("engine", "agent", "service") and len(parts) > 2:
                    hs = header.split("/")
                    if len(hs) > 2 and hs[1] != parts[1]:
                        sub_edges[(f"{top}/{parts[1]}", f"{top}/{hs[1]}")] += 1
            if target != top:
                edges[(top, target)].append(f"{rel}: {header}")

print("include edges between src/ folders:")
for (a, b), where in sorted(edges.items()):
    mark = ""
    if rank[b] > rank[a]:
        mark = "   <-- upward"
        for w in where:
            problems.append(f"upward include {a} -> {b}: {w}")
    print(f"  {a:10} -> {b:10} {len(where):3}{mark}")
if sub_edges:
    print("include edges between subfolders:")
    for (a, b), n in sorted(sub_edges.items()):
        print(f"  {a} -> {b} {n}")

# Loops among folders (only same-layer folders can still form one).
graph = defaultdict(set)
for a, b in edges:
    graph[a].add(b)
state = {}
def visit(node, stack):
    state[node] = 1
    stack.append(node)
    for nxt in sorted(graph[node]):
        if state.get(nxt) == 1:
            problems.append("include loop: " + " -> ".join(stack[stack.index(nxt):] + [nxt]))
        elif nxt not in state:
            visit(nxt, stack)
    stack.pop()
    state[node] = 2
for node in sorted(graph):
    if node not in state:
        visit(node, [])

sys.stdout.flush()
if problems:
    print("layer check failed:", file=sys.stderr)
    for p in problems:
        print("  " + p, file=sys.stderr)
    sys.exit(1)
print("layer check passed")
PY
