#!/usr/bin/env bash
# Lists the include edges between the folders of src/ (and, one level down,
# between the subfolders of the folders that rank them) and fails when a file
# includes a header of a higher layer or when folders include each other in a
# loop. Public headers under include/ count as part of the folder that owns
# them, and their own includes are edges of that folder. The layers and the
# owner of every public header are declared in scripts/layers.txt.
#   scripts/check_layers.sh [tree]   checks |tree| (default: this checkout)
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
table=${QOR_LAYERS_TABLE:-$root/scripts/layers.txt}
exec python3 - "$root" "$table" <<'PY'
import os, re, sys
from collections import defaultdict

root, table = sys.argv[1], sys.argv[2]
src, inc = os.path.join(root, "src"), os.path.join(root, "include")
problems = []

rank, subrank, owner, pending = {}, defaultdict(dict), {}, set()
for number, line in enumerate(open(table, encoding="utf-8"), 1):
    words = line.split("#", 1)[0].split()
    if not words:
        continue
    kind, args = words[0], words[1:]
    where = f"{os.path.basename(table)}:{number}"
    if kind == "layer" and len(args) >= 2:
        for folder in args[1:]:
            rank[folder] = int(args[0])
    elif kind == "sublayer" and len(args) >= 3:
        for sub in args[2:]:
            subrank[args[0]][sub] = int(args[1])
    elif kind == "pending" and len(args) == 2:
        pending.add((args[0], args[1]))
    elif kind == "header" and len(args) == 2:
        if args[0] in owner:
            problems.append(f"{where}: {args[0]} has a second owner")
        owner[args[0]] = args[1]
    else:
        problems.append(f"{where}: cannot read '{line.strip()}'")

def node_of(parts):
    """Node of a path split into parts below src/: a top folder, or top/sub
    for the folders whose subfolders are ranked."""
    top = parts[0]
    if top in subrank and len(parts) > 2:
        return f"{top}/{parts[1]}"
    return top

def known(node):
    top, _, sub = node.partition("/")
    if top not in rank:
        return False
    if top in subrank:
        return sub in subrank[top]
    return sub == ""

# Every public header has exactly one owner, and every owner is a folder.
present = set()
for folder, _, files in os.walk(inc):
    for name in files:
        if name.endswith(".h"):
            present.add(os.path.relpath(os.path.join(folder, name), inc).replace(os.sep, "/"))
for header in sorted(present - owner.keys()):
    problems.append(f"include/{header} has no owner in {os.path.basename(table)}")
for header in sorted(owner.keys() - present):
    problems.append(f"{os.path.basename(table)} names include/{header}, which does not exist")
for header, node in sorted(owner.items()):
    if not known(node):
        problems.append(f"include/{header}: owner {node} is not a ranked folder")

include = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)
edges = defaultdict(list)  # (from node, to node) -> ["file: header"]

def scan(path, shown, here):
    text = open(path, encoding="utf-8", errors="replace").read()
    for header in include.findall(text):
        if header in owner:
            target = owner[header]
        elif header.startswith("qor/") or header == "qorapi.h":
            problems.append(f"{shown} includes {header}, which has no owner")
            continue
        elif "/" in header and header.split("/")[0] in rank:
            target = node_of(header.split("/"))
        else:
            continue  # beside the file itself
        if target != here:
            edges[(here, target)].append(f"{shown}: {header}")

for folder, _, files in os.walk(src):
    for name in sorted(files):
        if not name.endswith((".h", ".cpp", ".c", ".inc")):
            continue
        path = os.path.join(folder, name)
        rel = os.path.relpath(path, src)
        here = node_of(rel.split(os.sep))
        if not known(here):
            problems.append(f"src/{rel}: folder src/{os.path.dirname(rel)} has no layer")
            continue
        scan(path, f"src/{rel}", here)
for header in sorted(present & owner.keys()):
    if known(owner[header]):
        scan(os.path.join(inc, header), f"include/{header}", owner[header])

def level(node):
    top, _, sub = node.partition("/")
    return rank[top], subrank[top].get(sub, -1) if sub else -1

print("include edges between folders:")
graphs = defaultdict(lambda: defaultdict(set))  # scope -> graph
for (a, b), where in sorted(edges.items()):
    ta, tb = a.split("/")[0], b.split("/")[0]
    mark = ""
    if ta != tb:
        graphs[""][ta].add(tb)
        upward = rank[tb] > rank[ta]
    elif "/" in a and "/" in b:
        if (a, b) in pending:
            mark = "   (pending)"
        else:
            graphs[ta][a].add(b)
        upward = level(b)[1] > level(a)[1] and (a, b) not in pending
    else:
        upward = False
    if upward:
        mark = "   <-- upward"
        for w in where:
            problems.append(f"upward include {a} -> {b}: {w}")
    print(f"  {a:18} -> {b:18} {len(where):3}{mark}")

for scope, graph in sorted(graphs.items()):
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
