"""CI as a graph of legs: each leg's command (a function of .ci/run) and what it needs. The
suites of tools/matrix.py's interpreters are legs of their own, derived from it.

A leg needs the legs that make what it uses (a wheel, a venv, an interpreter), and runs after
the one before it in its lane: a lane is a resource that its legs take in turn (a venv, a build
tree of ./dev.sh) or a chain of work. GNU make runs the graph (.ci/run): legs whose
prerequisites passed, as many at once as it has job slots, the heads of the longest chains
first; a failed leg stops the legs after it in its lane and those that need it.

usage: python .ci/graph.py make    the Makefile that .ci/run gives to make
       python .ci/graph.py show    the graph by lane, for people: each leg, what it needs and
                                   its command, within 100 columns
       python .ci/graph.py legs    a leg a line, "LANE NAME", for scripts
"""

import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import matrix  # noqa: E402

# What the host's suite legs run with beyond the default: the oldest interpreter has the oldest
# NumPy that the package supports; the newest has the packaging checks (on its wheel and the
# sdist), the only run of the stub and typing checks and the large Hypothesis profile.
OLDEST_NUMPY = "numpy==1.26.4"
NEWEST_ENV = ("ACCEL_PACKAGING=1 ACCEL_TYPE_CHECKS=1 ACCEL_DIST=$PWD/build/ci/dist "
              "HYPOTHESIS_PROFILE=ci")


def pythons(**filters):
    return matrix.unique(r["python"] for r in matrix.select(**filters))


def host_pythons():
    """The x86-64 interpreters of this machine whose wheels ship: those with the GIL, oldest
    first, and the free-threaded ones."""
    here = pythons(platform="manylinux-x86_64", source="pyenv,freethreaded", wheel="ship")
    host = sorted((v for v in here if not v.endswith("t")),
                  key=lambda v: tuple(int(n) for n in v.split(".")))
    return host, [v for v in here if v.endswith("t")]


def tsan_interpreter_built():
    return subprocess.run([os.path.join(ROOT, "tools/freethreaded.sh"), "path", "tsan"],
                          capture_output=True).returncode == 0


def legs():
    """(lane, name, needs, command) in lane order."""
    out = []

    def leg(lane, name, command, needs=()):
        out.append((lane, name, list(needs), command))

    x86 = dict(platform="manylinux-x86_64")
    host, free = host_pythons()
    oldest, newest = host[0], host[-1]

    leg("host", "wheels-x86_64-host", f"host_wheels {' '.join(host)}")
    # Each interpreter's venv and suite in a lane of its own, once the wheels are there.
    for v in host:
        numpy = OLDEST_NUMPY if v == oldest else "numpy>=2"
        leg(f"host-{v}", f"venv-{v}", f"host_venv {v} '{numpy}'", ["wheels-x86_64-host"])
        env = NEWEST_ENV + " " if v == newest else ""
        leg(f"host-{v}", f"cpython-{v}-wheel", f"{env}host_suite {v}", [f"venv-{v}"])
    leg("format", "format", "format_check")
    # What a packager runs: the sdist installed with its test extra, and a copy of tests/.
    leg("packager", "packager", f"packager {newest}", ["wheels-x86_64-host"])
    # The instrumented builds of ./dev.sh on the oldest interpreter, each in its own build tree
    # and venv; LeakSanitizer's leg uses ASan's.
    leg("coverage", "coverage", f"gcov_gate {oldest}")
    leg("sanitizers", "asan-ubsan", f"sanitizers {oldest}")
    leg("sanitizers", "lsan", f"lsan_check {oldest}")

    # The chroot's legs run side by side once its first leg holds its /proc for the run; each
    # suite has a venv of its own in it, and the debug build does not wait for the wheels.
    leg("chroot", "sid-chroot", "sid_chroot")
    sid = pythons(**x86, source="sid-chroot", wheel="ship")
    leg("chroot", "wheels-x86_64-chroot", f"tools/wheels.sh {' '.join(sid)}", ["sid-chroot"])
    for v in sid:
        leg(f"chroot-{v}", f"cpython-{v}-wheel", f"chroot_suite {v}", ["wheels-x86_64-chroot"])
    # The debug build's suite is the longest leg of a warm run (its processor time is twice any
    # other suite's, and at an equal share of the cores it ended the run): it runs a little ahead
    # of the others.
    for v in pythons(**x86, source="sid-chroot", wheel="-", tests="full"):
        leg(f"chroot-{v}", f"cpython-{v}", f"NICE=-5 chroot_dev_suite {v}", ["sid-chroot"])
    leg("memcheck", "valgrind", f"memcheck {oldest}", [f"venv-{oldest}"])

    # The free-threaded CPython's locks spin on sched_yield before they sleep, even on a lock
    # that its own thread holds (a buffered file's close takes its lock twice). While the other
    # legs keep the cores busy, each yield waits for their time slices: `python3.13t -c pass`
    # took 8 s beside six busy processes, pip and `import numpy` minutes. At niceness -15 a
    # yield returns at once (0.03 s), so the legs that run it take that.
    ft = "NICE=-15 "
    # The ThreadSanitizer interpreter, when it is still to be built, is built after the suite,
    # whose children import NumPy: not beside a compile that takes the cores for 20 minutes.
    tsan_lane = "tsan" if tsan_interpreter_built() else "freethreaded"
    leg("freethreaded", "freethreaded-interpreter", "tools/freethreaded.sh ensure")
    for v in free:
        leg("freethreaded", f"wheels-x86_64-cp{v.replace('.', '')}", f"{ft}tools/wheels.sh {v}",
            ["freethreaded-interpreter"])
        leg("freethreaded", f"venv-{v}", f"{ft}host_venv {v} 'numpy>=2'",
            [f"wheels-x86_64-cp{v.replace('.', '')}"])
        leg("freethreaded", f"cpython-{v}-wheel", f"{ft}host_suite {v} --durations=10",
            [f"venv-{v}"])
    for v in free:
        leg(tsan_lane, "thread-sanitizer", f"{ft}tsan_check {v}", ["freethreaded-interpreter"])

    arm = dict(platform="manylinux-aarch64")
    leg("arm64", "arm64-tree", "tools/arm64.sh ensure")
    leg("arm64", "wheels-aarch64", f"tools/arm64.sh wheels {' '.join(pythons(**arm))}",
        ["arm64-tree"])
    # Each version's suite in a lane of its own (.ci/run holds the emulation for the whole run);
    # the differential compares with the newest interpreter that both have, and fills the
    # emulated suite's venv of that version, so it runs after that suite, in its lane.
    for tests in ("full", "conformance"):
        for v in pythons(**arm, tests=tests):
            marker = " -m conformance" if tests == "conformance" else ""
            leg(f"arm64-{v}", f"aarch64-cpython-{v}", f"arm64_suite {v}{marker}",
                ["wheels-aarch64"])
    both = [v for v in host if v in pythons(**arm)][-1]
    leg(f"arm64-{both}", "aarch64-differential", f"arm64_differential {both}",
        ["wheels-aarch64", f"venv-{both}"])

    # The musl interpreters, then their wheels, which the suites wait for. Each musl suite has a
    # site of its own, and the aarch64 one runs under emulation. The cross checks have a lane of
    # their own and run ahead of the others: cold, zig builds its runtimes for six targets (800 s
    # of processor time), and at an equal share of the cores that was the run's longest leg;
    # warm, they take 20 s.
    musl = matrix.select(source="musl")
    leg("musl", "musl-interpreter", "tools/musl.sh ensure")
    leg("musl", "wheels-musllinux", "tools/musl.sh wheels", ["musl-interpreter"])
    for r in musl:
        arch = r["platform"].split("-")[1]
        marker = {"full": "", "conformance": " -m conformance"}.get(r["tests"])
        if marker is not None:
            leg(f"musl-{arch}", f"cpython-{r['python']}-{r['platform']}",
                f"musl_suite {arch}{marker}", ["wheels-musllinux"])
    leg("cross", "cross-builds", "NICE=-10 tools/cross.sh")

    leg("fuzz", "fuzz", "fuzz")

    # A leg that others need (a wheel, a venv, a tree) runs at niceness -10: every lane shares
    # the cores, and at an equal share the host's wheels took 330 s for 47 s of processor time
    # while the suites that wait for them sat idle.
    needed = {n for _, _, needs, _ in out for n in needs}
    return [(lane, name, needs,
             f"NICE=-10 {command}" if name in needed and not command.startswith("NICE=") else command)
            for lane, name, needs, command in out]


def first():
    """The legs that head the longest chains of processor time (a warm run's figures: the debug
    build's suite 145 s, ASan then LeakSanitizer 190, the host's wheels then the newest host
    interpreter's suite 170, the aarch64 wheels then their suites under emulation 250,
    ThreadSanitizer 110): make starts what it can in the order of `all`, so when ACCEL_CI_JOBS
    caps its job slots below the lanes, these take the first and the short legs fill in after."""
    debug = pythons(platform="manylinux-x86_64", source="sid-chroot", wheel="-", tests="full")
    return ([f"cpython-{v}" for v in debug] + ["lsan", f"cpython-{host_pythons()[0][-1]}-wheel",
            "aarch64-differential", "thread-sanitizer", "cross-builds", "fuzz"])


def makefile(graph):
    """Each leg a target: its needs, and the leg before it in its lane, as prerequisites."""
    names = [name for _, name, _, _ in graph]
    heads = first()
    order = [n for n in heads if n in names] + [n for n in names if n not in heads]
    lines = [".PHONY: all " + " ".join(names), "all: " + " ".join(order)]
    last = {}
    for lane, name, needs, command in graph:
        prereqs = needs + ([last[lane]] if lane in last and last[lane] not in needs else [])
        last[lane] = name
        lines.append(f"{name}: {' '.join(prereqs)}")
        lines.append(f"\t@.ci/run leg {name} {command.replace('$', '$$')}")
    return "\n".join(lines) + "\n"


def show(graph, width=100):
    """Lane by lane, in the order of their first legs; under each leg what it needs (besides the
    leg before it in its lane) and its command, wrapped."""
    import textwrap

    lanes = {}
    for lane, name, needs, command in graph:
        lanes.setdefault(lane, []).append((name, needs, command))
    print("LANE: its legs in order; each with what it needs from other lanes, then its command")
    for lane, members in lanes.items():
        print(f"\n{lane}:")
        previous = None
        for name, needs, command in members:
            others = [n for n in needs if n != previous]
            print(f"  {name}" + (f"  (needs {', '.join(others)})" if others else ""))
            for line in textwrap.wrap(command, width - 6, break_on_hyphens=False):
                print(f"      {line}")
            previous = name


def main(argv):
    if argv[:1] == ["make"]:
        sys.stdout.write(makefile(legs()))
    elif argv[:1] == ["show"]:
        show(legs())
    elif argv[:1] == ["legs"]:
        for lane, name, _, _ in legs():
            print(lane, name)
    else:
        print(__doc__.split("usage: ", 1)[1], file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
