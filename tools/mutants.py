#!/usr/bin/env python3
"""Mutation testing of the product code the native build compiles: which faults the tests catch.

A mutant is one small change to one line of driver/, relay/, shared/ or probe/ (the Win32- and
Windows Runtime-only files are left out: the native build does not compile them):

  negate      a condition negated:            if (x)      -> if (!(x))
  relop       < and <=, > and >= swapped:     a < b       -> a <= b
  call        a call statement dropped:       f(x);       -> ;
  constant    an integer constant moved by one: 500       -> 501
  return      an early return at the start of a void or bool function's body

Every candidate of every file is listed; a fixed seed picks a sample spread over the files by
their size. Each mutant is built into a copy of the source tree (make rebuilds one translation
unit and relinks) and the native tests that execute its line run against it, each with a time
limit: a test that fails or runs out of time kills it. Which tests execute which lines comes
from one run of every test in a coverage build (gcov), kept until the sources change.

The report (build/mutants/report.md, and report.json for comparing runs) lists per file the
mutants killed and survived, per test how many mutants it killed and how many only it killed,
and every survivor with its line, for a reader to decide whether it shows an untested behaviour
or changes nothing observable.

With --previous REPORT.json the same sample is run again to compare a changed test suite with the
run of that report (the product code must be unchanged): each mutant's earlier killers that still
exist run first, and the other tests only when none of them fails, so the score is exact and quick,
while the per-test table counts only the tests that ran.

--first-kill does the same without an earlier report. --rerun REPORT.json, after tests were
added or removed, runs again only that report's survivors and the mutants none of whose killers is
left (a survivor only against the quick tests: it lived through the same long sessions then, and
with --rerun-coverage only against the tests that are new since); the others keep their outcome. --reuse-coverage FILE keeps the coverage of
the tests an earlier coverage file names (same product code) and runs only the tests it lacks.

  tools/mutants.py [--count N] [--seed S] [--jobs J] [--only FILE_SUBSTRING] [--keep-coverage]
                   [--previous REPORT.json | --first-kill] [--rerun REPORT.json] [--reuse-coverage FILE]
                   [--out NAME]
"""
import argparse
import hashlib
import json
import os
import random
import re
import shutil
import subprocess
import sys
import time
import xml.etree.ElementTree as ET
from concurrent.futures import ThreadPoolExecutor

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WORK = os.path.join(ROOT, 'build', 'mutants')
PRODUCT_DIRS = ('driver/', 'relay/', 'shared/', 'probe/')
# Tests that play whole sessions (the demo, the soak) take this long or more; they run only for
# mutants the quicker tests let live. No test runs longer than SLOW_LIMIT.
SLOW_TEST = 5.0
SLOW_LIMIT = 150
TEST_JOBS = 3

# --- the sources ----------------------------------------------------------------------------


def git_files():
    out = subprocess.run(['git', 'ls-files'], cwd=ROOT, capture_output=True, text=True, check=True).stdout
    return [f for f in out.splitlines() if f]


def product_files(files):
    keep = []
    for f in files:
        if not f.startswith(PRODUCT_DIRS) or not f.endswith(('.cpp', '.h')):
            continue
        if '_win32' in f or '/winrt/' in f or f.endswith('_main.cpp'):
            continue
        keep.append(f)
    return sorted(keep)


def tree_hash(files):
    h = hashlib.sha256()
    for f in sorted(files):
        if f.endswith(('.cpp', '.h', '.c', '.txt', '.cmake', '.json', '.map', '.sh', '.in')):
            h.update(f.encode())
            with open(os.path.join(ROOT, f), 'rb') as fh:
                h.update(fh.read())
    return h.hexdigest()[:16]


# --- the candidates -------------------------------------------------------------------------

STRING = re.compile(r'"(?:\\.|[^"\\])*"|\'(?:\\.|[^\'\\])*\'')
KEYWORD_START = re.compile(r'^\s*(return|throw|delete|case|default|goto|break|continue|else|do|using|typedef|'
                           r'static_assert|namespace|template|friend|public|private|protected)\b')
CALL_STATEMENT = re.compile(r'^(\s*)(?:[A-Za-z_][\w:]*(?:<[^;()]*>)?(?:\.|->|::))*[A-Za-z_]\w*\s*\(.*\)\s*;\s*$')
FUNCTION_HEAD = re.compile(r'^(?:static\s+|inline\s+)*(void|bool)\s+[\w:~]+\s*\([^;]*\)\s*(?:const\s*)?(?:override\s*)?$')
INTEGER = re.compile(r'(?<![\w.])(0[xX][0-9A-Fa-f]+|\d+)([uUlL]*)(?![\w.])')


def masked(line):
    """The line with string and character literals blanked, and a trailing // comment cut."""
    out = STRING.sub(lambda m: '"' + ' ' * (len(m.group(0)) - 2) + '"', line)
    cut = out.find('//')
    return out if cut < 0 else out[:cut] + ' ' * (len(out) - cut)


def closing_paren(text, open_at):
    depth = 0
    for i in range(open_at, len(text)):
        if text[i] == '(':
            depth += 1
        elif text[i] == ')':
            depth -= 1
            if depth == 0:
                return i
    return -1


def candidates(path, lines):
    found = []
    in_block_comment = False
    function_kind = None  # 'void' or 'bool' when the previous line opened such a function
    previous_end = ';'    # the last character of the previous line of code
    for number, raw in enumerate(lines, 1):
        line = raw.rstrip('\n')
        stripped = line.strip()
        if in_block_comment:
            if '*/' in stripped:
                in_block_comment = False
            continue
        if stripped.startswith('/*'):
            in_block_comment = '*/' not in stripped
            continue
        if not stripped or stripped.startswith(('//', '#')):
            continue
        code = masked(line)
        starts_statement = previous_end in ';{}:)'
        previous_end = code.rstrip()[-1:] or previous_end

        if function_kind and stripped == '{':
            function_kind = ('pending', function_kind)
            continue
        if isinstance(function_kind, tuple):
            kind = function_kind[1]
            indent = line[:len(line) - len(line.lstrip())]
            statement = 'return;' if kind == 'void' else 'return false;'
            found.append((number, 'return', line, indent + statement + ' ' + line.lstrip()))
            function_kind = None
        else:
            head = FUNCTION_HEAD.match(code.strip())
            function_kind = head.group(1) if head and not line.startswith((' ', '\t')) else None

        for m in re.finditer(r'\b(if|while)\s*\(', code):
            start = m.end() - 1
            end = closing_paren(code, start)
            if end > 0:
                mutated = line[:start + 1] + '!(' + line[start + 1:end] + ')' + line[end:]
                found.append((number, 'negate', line, mutated))
        for m in re.finditer(r' (<=|>=|<|>) ', code):
            swap = {'<': '<=', '<=': '<', '>': '>=', '>=': '>'}[m.group(1)]
            mutated = line[:m.start(1)] + swap + line[m.end(1):]
            found.append((number, 'relop', line, mutated))
        call = CALL_STATEMENT.match(code)
        # In a header only statements inside function bodies (deeper than a class's members), not
        # the declarations of constructors and methods.
        body = path.endswith('.cpp') or len(line) - len(line.lstrip()) >= 8
        if call and body and starts_statement and not KEYWORD_START.match(code) and ' = ' not in code and \
                not code.rstrip().endswith(') const;'):
            found.append((number, 'call', line, call.group(1) + ';'))
        declaration = re.search(r'\)\s*(const\s*)?= 0;|\bstatic_assert\b|^\s*(case|enum|template)\b', code)
        if not declaration and '[' not in code:
            for m in INTEGER.finditer(code):
                text = m.group(1)
                value = int(text, 16) if text.lower().startswith('0x') else int(text)
                moved = (hex(value + 1) if text.lower().startswith('0x') else str(value + 1)) + m.group(2)
                mutated = line[:m.start()] + moved + line[m.end():]
                found.append((number, 'constant', line, mutated))
    return found


def sample(files, count, seed):
    pool = {}
    sizes = {}
    for f in files:
        with open(os.path.join(ROOT, f)) as fh:
            lines = fh.readlines()
        c = candidates(f, lines)
        if c:
            pool[f] = c
            sizes[f] = len(lines)
    total = sum(sizes.values())
    chosen = []
    # Each file's share by its size; what rounding down leaves goes to the largest fractions.
    shares = {f: count * sizes[f] / total for f in pool}
    quota = {f: min(len(pool[f]), int(shares[f])) for f in pool}
    rest = count - sum(quota.values())
    for f in sorted(pool, key=lambda f: shares[f] - int(shares[f]), reverse=True):
        if rest <= 0:
            break
        if quota[f] < len(pool[f]):
            quota[f] += 1
            rest -= 1
    for f in sorted(pool):
        # Each file's own draw, so that a change to one file leaves the others' mutants as they were.
        draw = random.Random('%d:%s' % (seed, f))
        for number, op, before, after in draw.sample(pool[f], quota[f]):
            chosen.append({'file': f, 'line': number, 'op': op, 'before': before, 'after': after})
    return chosen, sum(len(c) for c in pool.values())


# --- the builds -----------------------------------------------------------------------------


def run(cmd, cwd=None, timeout=None, env=None):
    return subprocess.run(cmd, cwd=cwd, timeout=timeout, env=env, capture_output=True, text=True)


def make_tree(name, files, extra_flags):
    """A copy of the sources and a configured build of it, both under build/mutants/<name>."""
    src = os.path.join(WORK, name, 'src')
    build = os.path.join(WORK, name, 'build')
    for f in files:
        target = os.path.join(src, f)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        source = os.path.join(ROOT, f)
        if not os.path.exists(target) or open(source, 'rb').read() != open(target, 'rb').read():
            shutil.copy2(source, target)
    if not os.path.exists(os.path.join(build, 'CMakeCache.txt')):
        flags = '-O0 -g0 ' + extra_flags
        result = run(['cmake', '-S', src, '-B', build, '-G', 'Unix Makefiles', '-DCMAKE_BUILD_TYPE=Debug',
                      '-DCMAKE_CXX_FLAGS=' + flags, '-DCMAKE_C_FLAGS=' + flags,
                      '-DCMAKE_EXE_LINKER_FLAGS=' + extra_flags, '-DCMAKE_SHARED_LINKER_FLAGS=' + extra_flags])
        if result.returncode != 0:
            sys.exit('configure failed:\n' + result.stdout + result.stderr)
    return src, build


def build(build_dir, jobs=1):
    return run(['cmake', '--build', build_dir, '-j', str(jobs)])


def isolated(cmd):
    """The command in a private PID and mount namespace with its own /dev/shm, where the machine
    allows it: the tests use system-wide names (the pose block, process names)."""
    return ['unshare', '--mount', '--pid', '--fork', '--mount-proc', '--propagation', 'private', 'bash', '-c',
            'mount -t tmpfs tmpfs /dev/shm && exec "$@"', 'isolated'] + cmd


def can_isolate():
    try:
        return run(isolated(['true']), timeout=30).returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        return False


def list_tests(build_dir):
    out = run(['ctest', '--show-only=json-v1'], cwd=build_dir).stdout
    return [t['name'] for t in json.loads(out)['tests']]


def run_tests(build_dir, names, limit, wrap, stop=False):
    """{name: 'passed' | 'failed' | 'timeout' | 'not run'} for the named tests; with stop, no test
    starts after one has failed."""
    if not names:
        return {}
    junit = os.path.join(build_dir, 'mutant-junit.xml')
    if os.path.exists(junit):
        os.remove(junit)
    pattern = '^(' + '|'.join(re.escape(n) for n in names) + ')$'
    # Where each test runs alone in namespaces of its own, several run side by side.
    cmd = ['ctest', '-R', pattern, '--timeout', str(limit), '--output-junit', junit, '-j', str(TEST_JOBS)]
    if stop:
        cmd.append('--stop-on-failure')
    try:
        run(wrap(cmd), cwd=build_dir, timeout=limit * len(names) + 120)
    except subprocess.TimeoutExpired:
        return {n: 'timeout' for n in names}
    # A test that did not report did not pass, unless a failure stopped the run before it.
    results = {n: 'not run' if stop else 'failed' for n in names}
    if os.path.exists(junit):
        for case in ET.parse(junit).getroot().iter('testcase'):
            name = case.get('name')
            status = case.get('status', '')
            failure = case.find('failure')
            if name in results:
                if status in ('run', 'passed') and failure is None:
                    results[name] = 'passed'
                elif stop and failure is None and status not in ('fail', 'failed'):
                    results[name] = 'not run'
                elif stop:
                    results[name] = 'failed'
                if 'Timeout' in (failure.get('message', '') if failure is not None else ''):
                    results[name] = 'timeout'
    return results


def killers(results):
    return sorted(n for n, r in results.items() if r in ('failed', 'timeout'))


# --- coverage: which tests execute which lines ----------------------------------------------


def coverage(files, product, wrap, keep, reuse=None):
    """With reuse (a coverage file of an earlier tree with the same product code), the tests it
    names keep their lines and only the others run: for a test suite whose cases were regrouped."""
    stamp = tree_hash(files)
    cache = os.path.join(WORK, 'coverage-%s.json' % stamp)
    if os.path.exists(cache) and keep:
        with open(cache) as fh:
            return json.load(fh)
    print('coverage: building and running every test once in a coverage build', flush=True)
    src, build_dir = make_tree('coverage', files, '--coverage')
    result = build(build_dir, os.cpu_count() or 2)
    if result.returncode != 0:
        sys.exit('coverage build failed:\n' + result.stdout[-3000:] + result.stderr[-3000:])
    tests = list_tests(build_dir)
    product_set = set(product)
    covered = {}
    durations = {}
    earlier = {'covered': {}, 'durations': {}}
    if reuse:
        with open(reuse) as fh:
            earlier = json.load(fh)
    for key, names in earlier['covered'].items():
        for name in names:
            if name in tests:
                covered.setdefault(key, []).append(name)
    for i, name in enumerate(tests, 1):
        if name in earlier['durations']:
            durations[name] = earlier['durations'][name]
            continue
        for dirpath, _, names in os.walk(build_dir):
            for n in names:
                if n.endswith('.gcda'):
                    os.remove(os.path.join(dirpath, n))
        started = time.monotonic()
        run(wrap(['ctest', '-R', '^' + re.escape(name) + '$', '--timeout', str(SLOW_LIMIT)]), cwd=build_dir)
        durations[name] = time.monotonic() - started
        lines = set()
        for dirpath, _, names in os.walk(build_dir):
            gcda = [os.path.join(dirpath, n) for n in names if n.endswith('.gcda')]
            if not gcda:
                continue
            out = run(['gcov', '--json-format', '--stdout'] + gcda, cwd=dirpath).stdout
            for chunk in out.splitlines():
                try:
                    doc = json.loads(chunk)
                except ValueError:
                    continue
                for entry in doc.get('files', []):
                    path = os.path.relpath(os.path.realpath(os.path.join(doc.get('current_working_directory', dirpath),
                                                                         entry['file'])), os.path.realpath(src))
                    if path in product_set:
                        for ln in entry.get('lines', []):
                            if ln.get('count', 0) > 0:
                                lines.add('%s:%d' % (path, ln['line_number']))
        for key in lines:
            covered.setdefault(key, []).append(name)
        print('  %3d/%d %-90s %5.1f s, %d product lines' % (i, len(tests), name[:90], durations[name], len(lines)),
              flush=True)
    data = {'covered': covered, 'durations': durations, 'tests': tests}
    with open(cache, 'w') as fh:
        json.dump(data, fh)
    return data


def includers(path, product):
    """The product files that include `path` (a header), by its file name."""
    name = os.path.basename(path)
    pattern = re.compile(r'#include\s+"(?:[^"]*/)?' + re.escape(name) + '"')
    found = []
    for f in product:
        if f != path:
            with open(os.path.join(ROOT, f)) as fh:
                if pattern.search(fh.read()):
                    found.append(f)
    return found


def tests_for(mutant, cov, product):
    """The tests that execute the mutated line. A line that no run records (a declaration such as
    a constant, or code that runs only in a process the tests kill, such as vistrel) gets every
    test that executes its file, and for a header every file that includes it."""
    key = '%s:%d' % (mutant['file'], mutant['line'])
    names = cov['covered'].get(key)
    if names:
        return sorted(names)
    files = [mutant['file']] + (includers(mutant['file'], product) if mutant['file'].endswith('.h') else [])
    prefixes = tuple(f + ':' for f in files)
    touching = set()
    for k, v in cov['covered'].items():
        if k.startswith(prefixes):
            touching.update(v)
    return sorted(touching)


# --- the run --------------------------------------------------------------------------------


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--count', type=int, default=200)
    parser.add_argument('--seed', type=int, default=508)
    parser.add_argument('--jobs', type=int, default=os.cpu_count() or 2)
    parser.add_argument('--only', default='', help='only files whose path contains this')
    parser.add_argument('--keep-coverage', action='store_true', help='reuse the coverage of an unchanged tree')
    parser.add_argument('--list', action='store_true', help='print the sample and stop')
    parser.add_argument('--previous', help='report.json of an earlier run: its killers run first')
    parser.add_argument('--out', default='report', help='name of the report files in build/mutants')
    parser.add_argument('--rerun', help='report.json of a run on the same product: only its survivors and the '
                        'mutants whose killers are gone run again')
    parser.add_argument('--rerun-coverage', help='with --rerun: the coverage file of that run; its survivors then '
                        'run only against the tests that are new since')
    parser.add_argument('--first-kill', action='store_true',
                        help='stop at the first test that fails: the score only, quicker')
    parser.add_argument('--reuse-coverage', help='coverage file of an earlier tree: only tests it lacks run')
    args = parser.parse_args()

    files = git_files()
    product = product_files(files)
    chosen, total = sample([f for f in product if args.only in f], args.count, args.seed)
    previous = {}
    if args.previous:
        with open(args.previous) as fh:
            earlier = json.load(fh)
        previous = {(m['file'], m['line'], m['after']): m for m in earlier['mutants']}
        unknown = [m for m in chosen if (m['file'], m['line'], m['after']) not in previous]
        if unknown or earlier['seed'] != args.seed:
            sys.exit('the sample differs from that of %s (%d mutants not in it): the product code changed'
                     % (args.previous, len(unknown)))
    print('%d candidate mutants in %d files; %d sampled (seed %d)' % (total, len(product), len(chosen), args.seed))
    if args.list:
        for m in chosen:
            print('%s:%d %s\n  - %s\n  + %s' % (m['file'], m['line'], m['op'], m['before'].strip(), m['after'].strip()))
        return 0

    os.makedirs(WORK, exist_ok=True)
    isolate = can_isolate()
    wrap = isolated if isolate else (lambda cmd: cmd)
    jobs = args.jobs if isolate else 1
    if not isolate:
        print('no private namespaces here (unshare needs root): one mutant at a time', flush=True)
    started = time.monotonic()
    cov = coverage(files, product, wrap, args.keep_coverage, args.reuse_coverage)

    trees = []
    for j in range(jobs):
        src, build_dir = make_tree('w%d' % j, files, '')
        result = build(build_dir, 2)
        if result.returncode != 0:
            sys.exit('build of the unchanged tree failed:\n' + result.stdout[-3000:] + result.stderr[-3000:])
        trees.append((src, build_dir))
    free = list(range(jobs))

    def one(mutant):
        key = (mutant['file'], mutant['line'], mutant['after'])
        if key in survivors and earlier_tests:
            names = tests_for(mutant, cov, product)
            if not [n for n in names if n not in earlier_tests and cov['durations'].get(n, 1) < SLOW_TEST]:
                # No new test executes its line: it lives as it did.
                mutant.update(outcome='survived', tests=len(names), killed_by=[])
                return mutant
        slot = free.pop()
        src, build_dir = trees[slot]
        path = os.path.join(src, mutant['file'])
        with open(os.path.join(ROOT, mutant['file'])) as fh:
            original = fh.readlines()
        changed = list(original)
        changed[mutant['line'] - 1] = mutant['after'] + '\n'
        try:
            with open(path, 'w') as fh:
                fh.writelines(changed)
            t0 = time.monotonic()
            result = build(build_dir)
            mutant['build_seconds'] = round(time.monotonic() - t0, 1)
            if result.returncode != 0:
                mutant['outcome'] = 'build error'
                return mutant
            names = tests_for(mutant, cov, product)
            # The quick tests always run, for the count of what each kills; the long sessions
            # (demo, soak) only when the quick ones let the mutant live, so what they kill is
            # what nothing quicker catches.
            quick = [n for n in names if cov['durations'].get(n, 1) < SLOW_TEST]
            slow = [n for n in names if n not in quick]
            t0 = time.monotonic()
            limit = max(10, int(3 * max([cov['durations'].get(n, 1) for n in quick] or [1])) + 5)
            first = [n for n in previous.get(key, {}).get(
                'killed_by', []) if n in names]
            stop = args.first_kill or bool(args.previous)
            results = run_tests(build_dir, first, SLOW_LIMIT, wrap, stop) if first else {}
            if not killers(results):
                results.update(run_tests(build_dir, [n for n in quick if n not in first], limit, wrap, stop))
            # A survivor of the report run again lived through the long sessions then; they are
            # the same sessions now, so only the quick tests (the new ones among them) run.
            if key in survivors:
                slow = []
                # Only tests that are new since that run can change its outcome.
                quick = [n for n in quick if n not in earlier_tests]
            if slow and not killers(results):
                slow = [n for n in slow if n not in first]
                limit = int(2 * max(cov['durations'].get(n, 1) for n in slow)) + 15
                results.update(run_tests(build_dir, slow, min(limit, SLOW_LIMIT), wrap, stop))
            mutant['test_seconds'] = round(time.monotonic() - t0, 1)
            mutant['tests'] = len(names)
            mutant['killed_by'] = killers(results)
            mutant['outcome'] = 'killed' if mutant['killed_by'] else ('survived' if names else 'not executed')
        finally:
            with open(path, 'w') as fh:
                fh.writelines(original)
            free.append(slot)
        print('%-12s %s:%d %s (%d tests)' % (mutant['outcome'], mutant['file'], mutant['line'], mutant['op'],
                                               mutant.get('tests', 0)), flush=True)
        return mutant

    # With --rerun, a mutant keeps its outcome unless the tests have changed under it: a survivor
    # (new tests may kill it) or a mutant none of whose killers is left.
    kept = {}
    survivors = set()
    earlier_tests = set()
    if args.rerun_coverage:
        with open(args.rerun_coverage) as fh:
            earlier_tests = set(json.load(fh)['tests'])
    if args.rerun:
        tests_now = set(cov['tests'])
        with open(args.rerun) as fh:
            for m in json.load(fh)['mutants']:
                if m['outcome'] == 'build error' or (m['outcome'] == 'killed' and set(m['killed_by']) & tests_now):
                    kept[(m['file'], m['line'], m['after'])] = m
                elif m['outcome'] != 'killed':
                    survivors.add((m['file'], m['line'], m['after']))
        print('%d mutants keep their outcome of %s; %d run again' % (len(kept), args.rerun, len(chosen) - len(kept)),
              flush=True)
    with ThreadPoolExecutor(max_workers=jobs) as pool:
        done = list(pool.map(lambda m: kept.get((m['file'], m['line'], m['after'])) or one(m), chosen))
    seconds = time.monotonic() - started
    write_report(done, cov, seconds, args, total)
    return 0


def write_report(done, cov, seconds, args, total):
    counted = [m for m in done if m['outcome'] in ('killed', 'survived', 'not executed')]
    killed = [m for m in counted if m['outcome'] == 'killed']
    score = 100.0 * len(killed) / len(counted) if counted else 0.0
    lines = ['# Mutation run', '',
             'Seed %d, %d mutants sampled of %d candidates; %d built, %d did not compile (not counted).' %
             (args.seed, len(done), total, len(counted), len(done) - len(counted)),
             'Score: %d of %d killed = %.1f %%. Run time %.0f min with %d job(s).' %
             (len(killed), len(counted), score, seconds / 60, args.jobs), '']
    if args.rerun:
        lines += ['Survivors and mutants whose killers are gone ran again; the others keep their outcome of %s.'
                  % os.path.basename(args.rerun), '']
    if args.first_kill and not args.previous:
        lines += ['Each mutant\'s tests stopped at the first that failed: the per-test table counts only the tests '
                  'that ran.', '']
    if args.previous:
        with open(args.previous) as fh:
            earlier = {(m['file'], m['line'], m['after']): m for m in json.load(fh)['mutants']}
        turned = [m for m in counted if earlier[(m['file'], m['line'], m['after'])]['outcome'] != m['outcome']]
        lines += ['Compared with %s: each mutant\'s earlier killers ran first and the other tests only when none '
                  'of them failed, so the per-test table counts only the tests that ran. Outcomes that changed: '
                  '%d.' % (os.path.basename(args.previous), len(turned)), '']
        lines += ['- %s:%d %s: %s -> %s (%s)' % (m['file'], m['line'], m['op'],
                                                 earlier[(m['file'], m['line'], m['after'])]['outcome'],
                                                 m['outcome'], ', '.join(m.get('killed_by', [])) or '-')
                  for m in turned]
        lines += ['']
    lines += ['## Per file', '', '| file | killed | survived | not executed |', '|---|---|---|---|']
    per_file = {}
    for m in counted:
        per_file.setdefault(m['file'], [0, 0, 0])[('killed', 'survived', 'not executed').index(m['outcome'])] += 1
    for f in sorted(per_file):
        k, s, n = per_file[f]
        lines.append('| %s | %d | %d | %d |' % (f, k, s, n))
    kills = {}
    for m in killed:
        for t in m['killed_by']:
            kills.setdefault(t, []).append(m)
    lines += ['', '## Per test', '', '| test | killed | only it killed |', '|---|---|---|']
    for t in sorted(cov['tests'], key=lambda t: (-len(kills.get(t, [])), t)):
        mine = kills.get(t, [])
        alone = sum(1 for m in mine if len(m['killed_by']) == 1)
        lines.append('| %s | %d | %d |' % (t, len(mine), alone))
    lines += ['', '## Survivors and mutants no test executes', '']
    for m in counted:
        if m['outcome'] != 'killed':
            lines.append('- %s:%d %s (%s)\n  - `%s`\n  + `%s`' % (m['file'], m['line'], m['op'], m['outcome'],
                                                                  m['before'].strip(), m['after'].strip()))
    report = '\n'.join(lines) + '\n'
    with open(os.path.join(WORK, args.out + '.md'), 'w') as fh:
        fh.write(report)
    with open(os.path.join(WORK, args.out + '.json'), 'w') as fh:
        json.dump({'seed': args.seed, 'score': score, 'mutants': done}, fh, indent=1)
    print('\nScore: %d of %d killed = %.1f %% (%d did not compile); %.0f min. Report: build/mutants/%s.md' %
          (len(killed), len(counted), score, len(done) - len(counted), seconds / 60, args.out))


if __name__ == '__main__':
    sys.exit(main())
