#!/usr/bin/env python3
"""Checks the include structure of the library under vorn/.

    python3 scripts/check-layers.py          check, print every fault, exit 1 on any

The folders of vorn/ are layered; the order is the layer table of README.md
("## Layout", rows `| n | `vorn/<folder>/` | contents | may include |`, the
bottom layer first). A folder may include only itself and the folders of
the rows above it. Faults:

- an include of a folder above the including one, or of a folder the table
  does not list, or of a library header that does not exist;
- a folder under vorn/ missing from the table, or a row of a folder that
  does not exist;
- a row whose "may include" cell is not exactly the folders above it, so the
  README cannot say one thing while the check enforces another;
- a circle of includes between files, a file's .h and .cpp taken as one
  (A includes B's header and B includes A's, directly or around a loop),
  unless it is one of the circles listed in TOLERATED below; an entry there
  that no longer is a circle is a fault too, so the list only shrinks.
"""
import os
import re
import sys

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^">]+)[">]')
# Files of one folder that still include each other (each set is the whole
# circle), for the reason given. They were there before this check; do not
# add to them.
TOLERATED = {
    frozenset({"vorn/core/BaseClass", "vorn/core/SharedPtr"}):
        "a counted object hands out its own handles",
    frozenset({"vorn/json/Array", "vorn/json/Object", "vorn/json/Value"}):
        "a value holds arrays and objects, which hold values",
    frozenset({"vorn/remote/CommunicationManager", "vorn/remote/RemoteObject"}):
        "remote objects publish through the manager, which calls their functions",
    frozenset({"vorn/contexts/BaseContext", "vorn/contexts/ClientApps", "vorn/contexts/MainComponent"}):
        "contexts and client applications register with the main component and find each other through it",
}
ROW = re.compile(r"^\|\s*(\d+)\s*\|\s*`vorn/([A-Za-z0-9_]+)/`\s*\|[^|]*\|([^|]*)\|\s*$")


def read_layers(readme):
    """Folder -> layer number, and the faults of the table itself."""
    faults, layers, allowed = [], {}, {}
    in_layout = False
    with open(readme, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            if line.startswith("## "):
                in_layout = line.strip() == "## Layout"
                continue
            match = ROW.match(line) if in_layout else None
            if not match:
                continue
            layer, folder, cell = int(match.group(1)), match.group(2), match.group(3)
            if folder in layers:
                faults.append(f"README.md:{number}: vorn/{folder}/ listed twice")
            if layer != len(layers):
                faults.append(f"README.md:{number}: layer {layer} of vorn/{folder}/ should be {len(layers)}")
            layers[folder] = len(layers)
            names = set(re.findall(r"`([A-Za-z0-9_]+)`", cell))
            allowed[folder] = (number, names)
    for folder, (number, names) in allowed.items():
        below = {f for f, n in layers.items() if n < layers[folder]}
        if names != below:
            faults.append(f"README.md:{number}: vorn/{folder}/ 'may include' says {sorted(names)}, "
                          f"the rows above are {sorted(below)}")
    return layers, faults


def sources(vorn):
    for folder in sorted(os.listdir(vorn)):
        path = os.path.join(vorn, folder)
        if not os.path.isdir(path):
            continue
        for directory, _, files in os.walk(path):
            for name in sorted(files):
                if name.endswith((".h", ".hpp", ".cpp", ".cc", ".inl")):
                    yield folder, os.path.join(directory, name)


def includes(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        for number, line in enumerate(f, 1):
            match = INCLUDE.match(line)
            if match:
                yield number, match.group(1)


def resolve(path, target):
    """The included file as a path relative to ROOT, or None when it is not a library file."""
    if target.startswith("vorn/"):
        return target
    local = os.path.relpath(os.path.normpath(os.path.join(os.path.dirname(path), target)), ROOT)
    return local if os.path.exists(os.path.join(ROOT, local)) else None


def component(relative):
    return os.path.splitext(relative)[0]


def cycles(graph):
    """Strongly connected components of more than one node (Tarjan, iterative)."""
    index, low, on_stack, stack, found, counter = {}, {}, set(), [], [], [0]
    for start in sorted(graph):
        if start in index:
            continue
        work = [(start, iter(sorted(graph[start])))]
        index[start] = low[start] = counter[0]
        counter[0] += 1
        stack.append(start)
        on_stack.add(start)
        while work:
            node, children = work[-1]
            advanced = False
            for child in children:
                if child not in graph:
                    continue
                if child not in index:
                    index[child] = low[child] = counter[0]
                    counter[0] += 1
                    stack.append(child)
                    on_stack.add(child)
                    work.append((child, iter(sorted(graph[child]))))
                    advanced = True
                    break
                if child in on_stack:
                    low[node] = min(low[node], index[child])
            if advanced:
                continue
            work.pop()
            if work:
                low[work[-1][0]] = min(low[work[-1][0]], low[node])
            if low[node] == index[node]:
                members = []
                while True:
                    member = stack.pop()
                    on_stack.discard(member)
                    members.append(member)
                    if member == node:
                        break
                if len(members) > 1:
                    found.append(sorted(members))
    return found


def loop_through(graph, members):
    """One circle through the first member, for the message."""
    members = set(members)
    start = min(members)
    paths = {start: [start]}
    queue = [start]
    while queue:
        node = queue.pop(0)
        for child in sorted(graph[node]):
            if child == start:
                return paths[node] + [start]
            if child in members and child not in paths:
                paths[child] = paths[node] + [child]
                queue.append(child)
    return sorted(members)


def main():
    layers, faults = read_layers(os.path.join(ROOT, "README.md"))
    vorn = os.path.join(ROOT, "vorn")
    if not layers:
        faults.append("README.md: no layer table found under '## Layout'")
    on_disk = {d for d in os.listdir(vorn) if os.path.isdir(os.path.join(vorn, d))}
    for folder in sorted(on_disk - set(layers)):
        faults.append(f"vorn/{folder}/: not in the layer table of README.md")
    for folder in sorted(set(layers) - on_disk):
        faults.append(f"README.md: vorn/{folder}/ is in the layer table but does not exist")

    graph = {}
    checked = 0
    for folder, path in sources(vorn):
        relative = os.path.relpath(path, ROOT)
        node = graph.setdefault(component(relative), set())
        for number, target in includes(path):
            included = resolve(path, target)
            if included is None:
                continue
            checked += 1
            where = f"{relative}:{number}"
            parts = included.split("/")
            if len(parts) < 3:
                continue  # vorn/vorn.h and the like: not part of a layer
            if not os.path.exists(os.path.join(ROOT, included)):
                faults.append(f"{where}: includes {included}, which does not exist")
                continue
            other = parts[1]
            if other not in layers or folder not in layers:
                continue  # reported above
            if layers[other] > layers[folder]:
                faults.append(f"{where}: vorn/{folder}/ (layer {layers[folder]}) includes {included} "
                              f"(layer {layers[other]}, above it)")
            if component(included) != component(relative):
                node.add(component(included))

    found = cycles(graph)
    for members in found:
        if frozenset(members) not in TOLERATED:
            faults.append("include circle: " + " -> ".join(loop_through(graph, members)))
    for members in sorted(TOLERATED.keys() - {frozenset(m) for m in found}, key=sorted):
        faults.append("scripts/check-layers.py: " + " and ".join(sorted(members)) +
                      " no longer form a circle: remove them from TOLERATED")

    for fault in faults:
        print(fault)
    if faults:
        print(f"check-layers: {len(faults)} fault(s)")
        return 1
    print(f"check-layers: {checked} includes in {len(graph)} files (a .h with its .cpp as one) against "
          f"{len(layers)} layers: none points up, no circle but the {len(TOLERATED)} tolerated")
    return 0


if __name__ == "__main__":
    sys.exit(main())
