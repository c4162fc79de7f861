#!/usr/bin/env python3
"""Checks that the include graph of src/ follows the floors of the engine.

Each folder of src/ sits on a floor; a file may include headers of its own
floor or of the floors below, never of a floor above, and the folders of one
floor must not include each other in a cycle, and no folder may name a type
(class, struct or enum) that a folder of a higher floor defines, not even in a
forward declaration. The model's fields have one writer: no public field
of CSimulation, or of one of its parts (s.m_clock.m_currentTime), is
written by folders of two floors (the model's own methods
aside, and only the writes a reading of the text can see: assignment and
compound assignment, increments, element assignment, stream extraction and
the mutating calls of containers and pointers, through s., sim. or
simulation.). Prints every fault and exits 1 when there is one.
"""
import os
import re
import sys

FLOORS = {
    'run': 0,   # run control and platform: threads, signals, clocks
    'model': 1,  # CSimulation's data, limits, exceptions, per-thread work
    'io': 2,    # model reader, output files
    'heads': 2,  # heads and the flux field
    'transport': 2,  # transport, its forms and its stable step
    'rxn': 2,   # reactions, reaction sets and local integration
    'sim': 3,   # run sequence and time loop
    'par': 3,   # the run over several processes (MPI): slabs, halo, MPI-IO
    'app': 4,   # front ends
    'post': 4,  # result-file tools
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/[^"]+"', re.M)
HEADER = re.compile(r'^\s*#\s*include\s+"([a-z_]+/[^"]+)"', re.M)
# Headers of a low floor that only their own folder and the floors from the
# given one up may include: the run control holds the front ends' display state and settings;
# the model, the numerics and the files report through run/run_progress.h.
RESTRICTED = {
    'run/run_control.h': 3,
}


def sources(src):
    """Yields (folder, file name, text) of every .h and .cpp of src's folders."""
    for folder in sorted(os.listdir(src)):
        path = os.path.join(src, folder)
        if not os.path.isdir(path):
            continue
        for name in sorted(os.listdir(path)):
            if name.endswith(('.h', '.cpp')):
                with open(os.path.join(path, name), encoding='utf-8') as f:
                    yield folder, name, f.read()


def folder_edges(src):
    edges = {}
    for folder, name, text in sources(src):
        for target in INCLUDE.findall(text):
            if target != folder:
                edges.setdefault((folder, target), []).append(name)
    return edges


def restricted_includes(src):
    faults = []
    for folder, name, text in sources(src):
        if folder not in FLOORS:
            continue
        for header in HEADER.findall(text):
            lowest = RESTRICTED.get(header)
            own = header.split('/')[0] == folder
            if lowest is not None and not own and FLOORS[folder] < lowest:
                faults.append('%s/%s (floor %d) includes %s, kept for floors %d and up'
                              % (folder, name, FLOORS[folder], header, lowest))
    return faults


DEFINITION = re.compile(r'^\s*(?:class|struct|enum class|enum)\s+([CE][A-Z]\w*)\b(?!;)[^;]*$', re.M)
COMMENT = re.compile(r'//[^\n]*|/\*.*?\*/', re.S)
STRING = re.compile(r'"(?:\\.|[^"\\])*"')


def code_of(text):
    """The text without comments and string literals."""
    return COMMENT.sub(' ', STRING.sub('""', text))


def types_named_above(src):
    """Every type a folder defines, and where: a lower folder must not name it."""
    defined = {}
    for folder, name, text in sources(src):
        if name.endswith('.h') and folder in FLOORS:
            for type_name in DEFINITION.findall(code_of(text)):
                defined.setdefault(type_name, (folder, name))
    faults = []
    for folder, name, text in sources(src):
        if folder not in FLOORS:
            continue
        code = code_of(text)
        for type_name, (home, header) in sorted(defined.items()):
            if FLOORS[home] > FLOORS[folder] and re.search(r'\b%s\b' % type_name, code):
                faults.append('%s/%s (floor %d) names %s of %s/%s (floor %d)'
                              % (folder, name, FLOORS[folder], type_name, home, header,
                                 FLOORS[home]))
    return faults


MODEL_HEADER = os.path.join('model', 'simulation.h')
FIELD = re.compile(r'^\s+[\w:<>, *&]+?[\s*&](m_\w+)\s*(?:=[^=]|;|\[|\{)', re.M)
WRITE = r'(?:=(?!=)|\+=|-=|\*=|/=|\+\+|--)'
MUTATORS = ('assign|resize|reset|clear|push_back|emplace_back|insert|swap|release|'
            'shrink_to_fit|reserve')
OWNER = r'\b(?:s|sim|simulation)\s*(?:\.|->)\s*'


def model_fields(src):
    """The public fields of CSimulation."""
    with open(os.path.join(src, MODEL_HEADER), encoding='utf-8') as f:
        code = code_of(f.read())
    start = code.index('class CSimulation {')
    body = code[start:code.index('\n};', start)]
    public = body.split('private:')[0]
    return sorted(set(FIELD.findall(public)))


def write_patterns(field):
    # The field, or a field of a part of the model (s.m_grid.m_rowCoord: the
    # part's field is captured), or a member of either.
    member = OWNER + field + r'\b(?:\s*\.\s*(m_\w+))?(?:\s*\.\s*\w+)*'
    return [re.compile(member + r'\s*' + WRITE),
            re.compile(r'(?:\+\+|--)\s*' + member),
            re.compile(member + r'\s*\[[^\]]*\]\s*' + WRITE),
            re.compile(member + r'\s*\.\s*(?:%s)\s*\(' % MUTATORS),
            re.compile(r'>>\s*' + member)]


def fields_written_by_two_floors(src):
    """Every public field of the model that folders of two floors write."""
    fields = model_fields(src)
    patterns = {field: write_patterns(field) for field in fields}
    writers = {}
    for folder, name, text in sources(src):
        if folder not in FLOORS or folder == 'model':
            continue
        code = code_of(text)
        written = set()
        for field in fields:
            for pattern in patterns[field]:
                for match in pattern.finditer(code):
                    part_field = match.group(1)
                    written.add(field + ('.' + part_field if part_field else ''))
        for field in sorted(written):
            writers.setdefault(field, {}).setdefault(FLOORS[folder], []).append(
                '%s/%s' % (folder, name))
    faults = []
    for field, floors in sorted(writers.items()):
        if len(floors) > 1:
            where = '; '.join('floor %d: %s' % (floor, ', '.join(files))
                              for floor, files in sorted(floors.items()))
            faults.append('CSimulation::%s is written by %d floors (%s)'
                          % (field, len(floors), where))
    return faults


def find_cycle(edges, floor):
    graph = {}
    for (a, b) in edges:
        if FLOORS.get(a) == floor and FLOORS.get(b) == floor:
            graph.setdefault(a, set()).add(b)
    seen, stack = set(), []

    def visit(node):
        if node in stack:
            return stack[stack.index(node):] + [node]
        if node in seen:
            return None
        seen.add(node)
        stack.append(node)
        for nxt in sorted(graph.get(node, ())):
            cycle = visit(nxt)
            if cycle:
                return cycle
        stack.pop()
        return None

    for node in sorted(graph):
        cycle = visit(node)
        if cycle:
            return cycle
    return None


def main():
    src = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..', 'src')
    edges = folder_edges(src)
    faults = []
    for (a, b), files in sorted(edges.items()):
        if a not in FLOORS or b not in FLOORS:
            faults.append('%s -> %s: folder without a floor (%s)' % (a, b, ', '.join(files)))
        elif FLOORS[b] > FLOORS[a]:
            faults.append('%s (floor %d) includes %s (floor %d): %s'
                          % (a, FLOORS[a], b, FLOORS[b], ', '.join(sorted(set(files)))))
    for floor in sorted(set(FLOORS.values())):
        cycle = find_cycle(edges, floor)
        if cycle:
            faults.append('cycle on floor %d: %s' % (floor, ' -> '.join(cycle)))
    faults += restricted_includes(src)
    faults += types_named_above(src)
    faults += fields_written_by_two_floors(src)
    for fault in faults:
        print(fault)
    print('%d folder arrows, %d faults' % (len(edges), len(faults)))
    return 1 if faults else 0


if __name__ == '__main__':
    sys.exit(main())
