"""The fault path as a library's: standard error drained by the process itself, interrupts that
stay interrupts, and printing that calls no hook. Each case runs in a child process."""


import pytest

from support import (EMULATED, FILL_PIPE, FREE_THREADED, RESUME_BANNER, needs_numpy,
                     needs_timer_signals, run_child)

# In no subset of the suite that a CI leg runs apart (conftest.MARKERS): the whole-suite
# legs only.
pytestmark = []

PRELUDE = """
import os, signal, sys, threading, time, _accel as A
try: A.mirror_weyl_coord(1, 0, 0)
except BaseException as e: P = type(e)
def outcome(call):
    try:
        call()
        return "returned"
    except BaseException as exc:
        return type(exc).__name__
"""


def child(code, timeout=60, cwd=None):
    return run_child(code, timeout=timeout, prelude=PRELUDE + FILL_PIPE, cwd=cwd)


# Notebook kernels and log capturers point fd 2 at a pipe that a thread of the same process
# drains: the module must not keep the lock while its write waits for that thread. The pipe is
# full before the first call, so that every report waits for the reader; a module that kept the
# lock would hang on the first. The child prints its progress, so that a time-out tells a hang
# from a slow machine.
@pytest.mark.parametrize("call", [
    "A.synth_cost_by_cx(0.9, 0, 0)",
    "A.sort_two_ints(1, 2, key=lambda x: (_ for _ in ()).throw(P('m')))",
])
def test_faults_with_stderr_on_a_pipe_drained_in_process(call):
    proc = child(f"""
        saved = os.dup(2)
        r, w = os.pipe(); os.dup2(w, 2)
        sys.stderr = open(2, "w", closefd=False)
        fill(w)
        def reader():
            while True:
                os.read(r, 4096); [[] for _ in range(50)]; time.sleep(.0005)
        threading.Thread(target=reader, daemon=True).start()
        seen = set()
        for i in range(300):
            seen.add(outcome(lambda: {call}))
            if i % 100 == 0: print("calls", i, flush=True)
        # While the reader still drains: at exit it stops (3.14 parks daemon threads for good).
        sys.stderr.flush()
        os.dup2(saved, 2)
        print(seen)
        """)
    assert proc.stdout.split("\n")[-2] == "{'PanicException'}"


HOOKS = """
import importlib.abc
class Refuse(importlib.abc.MetaPathFinder):
    def __init__(self, error): self.error = error
    def find_spec(self, name, path=None, target=None):
        if name.split(".")[0] == "numpy": raise self.error
for error in (KeyboardInterrupt(), SystemExit(7), GeneratorExit(), ValueError("v")):
    sys.meta_path.insert(0, Refuse(error))
    try:
        A.canonical_unitary(0, 0, 0)
    except BaseException as exc:
        print(type(exc).__name__, exc is error)
    sys.meta_path.pop(0)
print(A.canonical_unitary(0, 0, 0).shape)
"""


@needs_numpy
def test_interrupts_from_an_import_hook_during_numpys_first_import():
    assert child(HOOKS).stdout.splitlines() == [
        "KeyboardInterrupt True", "SystemExit True", "GeneratorExit True",
        "PanicException False", "(4, 4)"]


@needs_timer_signals
@pytest.mark.parametrize("delay", [0.001, 0.004, 0.015, 0.05])
def test_a_real_signal_during_numpys_first_import_stays_an_interrupt(delay):
    # The alarm lands at some point of the import; whatever it interrupts, the call ends with
    # KeyboardInterrupt (or returns, when the import was quicker), never with a fault about it.
    proc = child(f"""
        def ring(*_): raise KeyboardInterrupt
        signal.signal(signal.SIGALRM, ring)
        signal.setitimer(signal.ITIMER_REAL, {delay})
        try:
            A.canonical_unitary(0, 0, 0)
            first = "returned"
        except KeyboardInterrupt:
            first = "KeyboardInterrupt"  # inside the call or outside it
        except BaseException as exc:
            first = type(exc).__name__ + " " + str(exc).replace(" ", "_")
        signal.setitimer(signal.ITIMER_REAL, 0)
        print(first, flush=True)
        # An interrupt that passed through code NumPy ran with PyRun_String makes CPython 3.13
        # end the process with SIGINT at exit, as if it had been unhandled.
        os._exit(0)
        """)
    first = proc.stdout.split()
    assert first[0] in ("KeyboardInterrupt", "returned", "PanicException"), first
    # The interrupt is never rendered into a fault's message, as it was; it can only be gone
    # before the module sees it, replaced by an ordinary error inside CPython (importlib, or
    # PyCapsule_Import for NumPy 1.26's datetime) with no chain left to find it by.
    if first[0] == "PanicException":
        assert "KeyboardInterrupt" not in first[1], first
    else:
        assert proc.stderr.count("panicked") == 1  # the prelude's own fault


# A PanicException from a key is printed before the call resumes it: whatever the printing runs
# (the message's __str__, sys.stderr's write) may raise an interrupt, which ends the call.
RENDERING = """
class Once:
    def __init__(self, error): self.error, self.calls = error, 0
    def __str__(self):
        self.calls += 1
        if self.calls == 1: raise self.error
        return "m"
class Writer:
    def __init__(self, error): self.error = error
    def write(self, text): raise self.error
    def flush(self): pass
for error in (KeyboardInterrupt(), SystemExit(3), ValueError("v")):
    print(outcome(lambda: A.sort_two_ints(1, 2, key=lambda x: (_ for _ in ()).throw(P(Once(error))))),
          end=" ")
    sys.stderr = Writer(error)
    print(outcome(lambda: A.sort_two_ints(1, 2, key=lambda x: (_ for _ in ()).throw(P("m")))))
    sys.stderr = sys.__stderr__
"""


def test_interrupts_while_a_resumed_panic_is_printed_propagate():
    assert child(RENDERING).stdout.splitlines() == [
        "KeyboardInterrupt KeyboardInterrupt", "SystemExit SystemExit",
        "PanicException PanicException"]


# The printing is a library's: sys.excepthook is never called (a hook that exits would end the
# process inside a handled call), and sys.last_* stay as they were.
EXCEPTHOOK = """
calls = []
def hook(*args):
    calls.append(args)
    sys.exit(3)
sys.excepthook = hook
def key(x): raise P("m")
try:
    A.sort_two_objs(1, 2, key=key)
except BaseException:
    print("caught")
finally:
    print("finally")
print(outcome(lambda: A.canonical_unitary(0, 0, 0)))
print(len(calls), [n for n in ("last_exc", "last_type", "last_value", "last_traceback")
                   if hasattr(sys, n)])
sys.stderr = None
print(outcome(lambda: A.sort_two_objs(1, 2, key=key)))
del sys.stderr
print(outcome(lambda: A.sort_two_objs(1, 2, key=key)))
"""


@needs_numpy
def test_no_hook_no_exit_no_last_exception():
    proc = child(EXCEPTHOOK)
    assert proc.stdout.splitlines() == ["caught", "finally", "returned", "0 []",
                                        "PanicException", "PanicException"]
    assert "lost sys.stderr" not in proc.stderr


def test_printed_text_is_the_default_hooks():
    # Under the default hook the banner is followed by exactly what the hook prints.
    proc = child("""
        raised = []
        def key(x):
            try:
                {}["k"]
            except KeyError:
                raised.append(P("in handler"))
                raise raised[-1]
        try:
            A.sort_two_objs(1, 2, key=key)
        except BaseException as exc:
            print(type(exc).__name__, exc)
        sys.stderr.write("=====\\n")
        exc = raised[0]
        sys.__excepthook__(type(exc), exc, exc.__traceback__)
        """)
    assert proc.stdout == "PanicException in handler\n"
    printed, expected = proc.stderr.split(RESUME_BANNER, 1)[1].split("=====\n")
    assert printed == expected
    assert "During handling of the above exception" in printed


@needs_timer_signals
@pytest.mark.skipif(EMULATED, reason="under emulation a millisecond timer outpaces "
                                               "the interpreter")
@pytest.mark.skipif(FREE_THREADED, reason="signal handlers run on the main thread only, and "
                                          "3.13t's NumPy import spins under load")
def test_interrupts_at_a_high_rate_are_not_lost():
    # A signal every millisecond raises a numbered KeyboardInterrupt, 300 of them however long
    # they take on a loaded machine; every number must arrive where the caller can see it. The
    # traceback module is warm, as in any process that has printed one before: an import cut
    # short under such a rate loses interrupts inside CPython. A ring raises only once the loop
    # has armed it for the next call, and disarms it: on a loaded machine a ring is due each
    # time the process runs, and one landing in the handler of the one before would escape
    # every handler. The timer rings on after the last one, raising nothing, so that a late
    # ring cannot land between the loops' end and the timer's, where nothing catches it.
    proc = child("""
        import itertools, traceback, ast
        RINGS = 300
        counter = itertools.count()
        sent, armed = 0, False
        def ring(*_):
            global sent, armed
            if armed and sent < RINGS:
                sent, armed = sent + 1, False
                raise KeyboardInterrupt(next(counter))
        def key(x): raise P("m")
        seen, done = set(), False
        def calls():
            global done, armed
            while not done:
                try:
                    while not done:
                        try:
                            armed = True
                            A.sort_two_objs(1, 2, key=key)
                        except KeyboardInterrupt as e:
                            seen.add(e.args[0])
                        except BaseException:
                            pass
                        done = sent >= RINGS
                except KeyboardInterrupt as e:
                    seen.add(e.args[0])
        sys.stderr = open(os.devnull, "w")
        signal.signal(signal.SIGALRM, ring)
        signal.setitimer(signal.ITIMER_REAL, 0.001, 0.001)
        while True:
            try:
                calls(); break
            except KeyboardInterrupt as e:
                seen.add(e.args[0])
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, signal.SIG_IGN)
        print(sent, len(seen))
        """)
    sent, arrived = map(int, proc.stdout.split())
    assert sent == 300
    # A fault path that printed through the interpreter's own error printing loses most of them
    # (80% and more). CPython's traceback module still swallows one that lands inside its own bare
    # except around str(), and an interrupt raised while another unwinds Python frames replaces
    # it: a few in a hundred, up to one in ten when other processes load the cores.
    assert sent - arrived <= sent // 4, (sent, arrived)


# The exception a caller is handling becomes the context of whatever the call raises inside (here
# the ImportError of a NumPy that cannot be imported): it is the caller's, already dealt with, and
# never the call's outcome, in any kind of handler. An interrupt raised during the call, chained
# to a handled one, still ends the call as itself.
HANDLED = """
import asyncio, importlib.abc
sys.modules["numpy"] = None
def fault(): return outcome(lambda: A.canonical_unitary(0.5, 0, 0))
for error in (KeyboardInterrupt, SystemExit, asyncio.CancelledError, GeneratorExit):
    try:
        raise error
    except error:
        print("except", fault())
    try:
        try:
            raise error
        finally:
            print("finally", fault())
    except error:
        pass
class Exit:
    def __enter__(self): return self
    def __exit__(self, *exc): print("exit", fault())
try:
    with Exit(): raise KeyboardInterrupt
except KeyboardInterrupt:
    pass
def gen():
    try:
        yield
    finally:
        A.canonical_unitary(0.5, 0, 0)
g = gen(); next(g)
print("close", outcome(g.close))
async def task():
    try:
        await asyncio.sleep(10)
    except asyncio.CancelledError:
        A.canonical_unitary(0.5, 0, 0)
async def main():
    t = asyncio.ensure_future(task()); await asyncio.sleep(0); t.cancel()
    await asyncio.wait([t])
    return "cancelled" if t.cancelled() else type(t.exception()).__name__
print("task", asyncio.run(main()))
try:
    raise KeyboardInterrupt
except KeyboardInterrupt:
    try:
        raise ValueError
    except ValueError:
        print("nested", fault())
class Refuse(importlib.abc.MetaPathFinder):
    def find_spec(self, name, path=None, target=None):
        if name.split(".")[0] == "numpy":
            try:
                raise KeyboardInterrupt("new")
            except KeyboardInterrupt as new:
                raise ImportError("wrapped") from new
del sys.modules["numpy"]
sys.meta_path.insert(0, Refuse())
try:
    raise SystemExit
except SystemExit:
    print("new", fault())
"""


def test_a_handled_exception_is_never_raised_again():
    assert child(HANDLED).stdout.splitlines() == (
        ["except PanicException", "finally PanicException"] * 4 +
        ["exit PanicException", "close PanicException", "task PanicException",
         "nested PanicException", "new KeyboardInterrupt"])


# Where the traceback module cannot print a resumed panic, CPython's C printer does: the text is
# what sys.__excepthook__ prints in the same state, and is never empty.
TRACEBACK_ROUTES = {
    "shadowed": ("", "def format_exc(): return ''\n"),
    "refused": ("sys.modules['traceback'] = None", None),
    "deep": ("DEEP = True", None),
}

PRINTED = """
raised = []
def key(x):
    raised.append(P("deep"))
    raise raised[-1]
def compare():
    if outcome(lambda: A.sort_two_ints(1, 2, key=key)) == "PanicException":
        sys.stderr.write("@@\\n")
        sys.__excepthook__(type(raised[-1]), raised[-1], raised[-1].__traceback__)
        sys.stderr.write("##\\n")
def depth():
    f, n = sys._getframe(), 0
    while f: f, n = f.f_back, n + 1
    return n
def near_the_limit(n):
    if n > 0: return near_the_limit(n - 1)
    compare()
if "DEEP" in globals():
    for margin in range(2, 12):
        near_the_limit(sys.getrecursionlimit() - depth() - margin)
else:
    compare()
"""


@pytest.mark.parametrize("route", list(TRACEBACK_ROUTES))
def test_a_resumed_panic_is_printed_when_the_traceback_module_cannot(route, tmp_path):
    setup, module = TRACEBACK_ROUTES[route]
    if module is not None:
        (tmp_path / "traceback.py").write_text(module)
    proc = child(setup + "\n" + PRINTED, cwd=tmp_path)
    def panic(text):
        # Debug builds first report the traceback module's own failure, from where each printer
        # was called: the printed exception is what follows its last traceback header.
        return "Traceback (most recent" + text.split("Traceback (most recent")[-1]

    cases = proc.stderr.split(RESUME_BANNER)[1:]
    assert cases, proc.stderr
    for case in cases:
        printed, rest = case.split("@@\n", 1)
        assert panic(printed) == panic(rest.split("##\n", 1)[0]), case
        assert "pyo3_runtime.PanicException: deep\n" in printed, case
