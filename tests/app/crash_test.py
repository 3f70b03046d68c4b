#!/usr/bin/env python3
"""Kills kestrane-cli with SIGKILL at random moments of every action and checks that the
next run finds the state before the action or the state after it:

  - the game's `system` folder equals the old tree or the applied profile exactly;
  - every listed profile is complete (its folder, or its archive unpacked by Python's
    zipfile, equals the tree it was saved from) and applies;
  - options.ini keeps every line the action did not change, and a profile's files exist
    exactly when it is listed; no staging place is left;
  - the player's own files beside options.ini and beside `system` are untouched.

Each kill falls between the end of the program's start-up (measured as a run that does
nothing) and the end of the action; one that missed the action is tried again at another
moment (up to three times), and at least 80 % of the trials must land a kill inside it.

usage: crash_test.py KESTRANE_CLI [TRIALS_PER_ACTION]

TRIALS_PER_ACTION defaults to KESTRANE_CRASH_TRIALS, else 3 (the test suite's count);
a thorough sweep takes 8 or more. KESTRANE_CRASH_SEED chooses the kill moments.
"""
import hashlib
import io
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import zipfile

CLI = os.path.abspath(sys.argv[1])
TRIALS = int(sys.argv[2] if len(sys.argv) > 2 else os.environ.get("KESTRANE_CRASH_TRIALS", "3"))
STAGING = ".kestrane:staging"


def make_tree(root, seed, files=100):
    rng = random.Random(seed)
    for i in range(files):
        folder = os.path.join(root, "d%d" % (i % 8), "e%d" % (i % 3))
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "f%d_%d.bin" % (seed, i)), "wb") as f:
            f.write(rng.randbytes(rng.randint(0, 16000)))
    os.makedirs(os.path.join(root, "empty%d" % seed), exist_ok=True)


def tree(root):
    """path -> digest of every file and folder below root (None when root is missing)."""
    if not os.path.isdir(root):
        return None
    out = {}
    for folder, dirs, files in os.walk(root):
        rel = os.path.relpath(folder, root)
        for d in dirs:
            out[os.path.normpath(os.path.join(rel, d)) + "/"] = ""
        for name in files:
            with open(os.path.join(folder, name), "rb") as f:
                out[os.path.normpath(os.path.join(rel, name))] = hashlib.sha1(f.read()).hexdigest()
    return out


def archive_tree(path, name):
    """The tree a profile archive unpacks to, below name/ (None when it cannot be read)."""
    try:
        with zipfile.ZipFile(path) as z:
            if z.testzip() is not None:
                return None
            out = {}
            for info in z.infolist():
                if not info.filename.startswith(name + "/"):
                    return None
                rel = info.filename[len(name) + 1:]
                out[rel] = "" if rel.endswith("/") else hashlib.sha1(z.read(info)).hexdigest()
            return out
    except (zipfile.BadZipFile, OSError):
        return None


def cli(*args, cwd):
    return subprocess.run([CLI, *args], cwd=cwd, capture_output=True, text=True)


def read_lines(wd):
    path = os.path.join(wd, "options.ini")
    if not os.path.exists(path):
        return []
    with open(path, "rb") as f:
        data = f.read()
    assert data == b"" or data.endswith(b"\r\n"), data
    return [l.decode() for l in data.split(b"\r\n")[:-1]]


class Failure(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)


# The player's own files, with names close to ours: no action or settling run may touch them.
PLAYER_FILES = {
    os.path.join("wd", "options.ini.backup"): b"Old\t/old\t0\r\n",
    os.path.join("wd", "options.ini.old"): b"older",
    os.path.join("game", "system.old", "keys.ini"): b"mine",
    os.path.join("game", "system.kestrane"): b"not ours either",
}


def build_template(root, sources):
    wd = os.path.join(root, "wd")
    os.makedirs(wd)
    make_tree(os.path.join(root, "game", "system"), 99)
    for path, data in PLAYER_FILES.items():
        os.makedirs(os.path.dirname(os.path.join(root, path)), exist_ok=True)
        with open(os.path.join(root, path), "wb") as f:
            f.write(data)
    for name, archived in (("A", False), ("Z", True)):
        args = ["save", "--systems", "../src/" + name, "--game", "../game", "--name", name]
        r = cli(*(args + (["--archive"] if archived else [])), cwd=wd)
        check(r.returncode == 0, "template save %s: %s" % (name, r.stdout))
    return wd


def profile_state(wd, name, archived):
    if archived:
        path = os.path.join(wd, name + ".zip")
        return archive_tree(path, name) if os.path.exists(path) else None
    return tree(os.path.join(wd, name))


def expect_profiles(wd, sources, before_lines, changed):
    """Every listed profile complete; files only for listed ones; untouched lines kept."""
    lines = read_lines(wd)
    names = {}
    for line in lines:
        fields = line.split("\t")
        check(len(fields) == 3 and fields[2] in "01", "damaged line %r" % line)
        names[fields[0]] = fields[2] == "1"
    for line in before_lines:
        if line.split("\t")[0] not in changed:
            check(line in lines, "line lost: %r" % line)
    for name, archived in names.items():
        # A save-back leaves the profile as it was or as the game's folder was.
        check(profile_state(wd, name, archived) in sources[name],
              "listed profile %s is not complete" % name)
    for candidate in changed:
        if candidate not in names:
            check(not os.path.exists(os.path.join(wd, candidate)) and
                  not os.path.exists(os.path.join(wd, candidate + ".zip")),
                  "files of unlisted profile %s left" % candidate)
    check(not os.path.exists(os.path.join(wd, STAGING)), "staging place left")
    return names


# Each action: (arguments, names it may change, trees the game's system may equal after it).
ACTIONS = {
    "save": (["save", "--systems", "../src/N", "--game", "../game", "--name", "N"], {"N"}, None),
    "save-archive": (["save", "--systems", "../src/N", "--game", "../game", "--name", "N", "--archive"], {"N"}, None),
    "apply": (["apply", "A"], set(), "A"),
    "apply-archive": (["apply", "Z"], set(), "Z"),
    "delete": (["delete", "A", "--yes"], {"A"}, None),
    "rename": (["rename", "A", "B"], {"A", "B"}, None),
    "rename-archive": (["rename", "Z", "Y"], {"Z", "Y"}, None),
    "undo": (["undo", "A"], set(), "undo"),
    "update": (["update", "A"], {"A"}, None),
    "apply-save": (["apply", "Z", "--save-changes"], {"A"}, "Z"),
}

# The game writes into its `system` folder after A was applied: what update and an apply
# that saves back keep.
GAME_WRITES = ("keys.ini", b"bound by the player")


def prepare(action, wd, system):
    if action in ("undo", "update", "apply-save"):
        check(cli("apply", "A", cwd=wd).returncode == 0, "apply before " + action)
    if action in ("update", "apply-save"):
        with open(os.path.join(system, GAME_WRITES[0]), "wb") as f:
            f.write(GAME_WRITES[1])


def status_of(wd, name):
    for line in cli("status", cwd=wd).stdout.splitlines():
        fields = line.split("\t")
        if fields[0] == name:
            return fields[3]
    return None


def trial(template_root, sources, action, delay):
    args, changed, applied = ACTIONS[action]
    root = tempfile.mkdtemp(prefix="kestrane-crash-")
    try:
        shutil.copytree(template_root, root, dirs_exist_ok=True, symlinks=True)
        wd = os.path.join(root, "wd")
        system = os.path.join(root, "game", "system")
        prepare(action, wd, system)
        old_system = tree(system)
        old_backup = tree(system + ".kestrane-backup")
        before_lines = read_lines(wd)
        os.sync()  # the copy's writes must not land inside the action's own flushes

        proc = subprocess.Popen([CLI, *args], cwd=wd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(delay)
        proc.send_signal(signal.SIGKILL)
        proc.wait()

        r = cli("list", cwd=wd)   # every run settles what an interrupted one left
        check(r.returncode == 0, "list after the kill: " + r.stdout)
        expected = {name: [t] for name, t in sources.items()}
        if action == "rename":
            expected["B"] = expected["A"]
        if action == "rename-archive":
            expected["Y"] = expected["Z"]
        if action in ("update", "apply-save"):
            expected["A"] = [sources["A"], old_system]
        names = expect_profiles(wd, expected, before_lines, changed)
        if action == "update":
            # The record says what the profile holds: saved back, the folder is as applied.
            saved_back = profile_state(wd, "A", False) == old_system
            check(status_of(wd, "A") == ("applied" if saved_back else "changed"),
                  "A %s but its status is %s" % ("saved back" if saved_back else "not saved back",
                                                 status_of(wd, "A")))
        if applied in ("A", "Z") and tree(system) == sources[applied]:
            check(status_of(wd, applied) == "applied", "%s is in the game but not marked applied" % applied)
        if action == "apply-save" and tree(system) == sources["Z"]:
            check(profile_state(wd, "A", False) == old_system, "applied Z before A was saved back")
            check(tree(system + ".kestrane-backup") == old_system, "the changed folder is not the backup")
            # The backup keeps its entry: undone, A's saved-back folder is A's again.
            r = cli("undo", "Z", cwd=wd)
            check(r.returncode == 0 and status_of(wd, "A") == "applied",
                  "undo after the apply: A is %s (%s)" % (status_of(wd, "A"), r.stdout))
            r = cli("undo", "Z", cwd=wd)
            check(r.returncode == 0 and tree(system) == sources["Z"], "redo after the apply: " + r.stdout)

        now = tree(system)
        if applied == "undo":
            # Undone or not: the two folders swapped, or as they were.
            backup = tree(system + ".kestrane-backup")
            check((now, backup) in [(old_system, old_backup), (old_backup, old_system)],
                  "system and backup after undo are neither pair")
        elif applied:
            check(now == old_system or now == sources[applied], "system is neither the old tree nor " + applied)
        else:
            check(now == old_system, "system changed by " + action)
        for leftover in ("partial", "new", "old", "undo", "trash", "journal", "journal-new", "applied-new"):
            check(not os.path.exists(system + ".kestrane-" + leftover), "leftover " + leftover)
        for path, data in PLAYER_FILES.items():
            with open(os.path.join(root, path), "rb") as f:
                check(f.read() == data, "the player's file %s changed" % path)

        # The profiles the action touched apply and install exactly their files.
        for name in sorted(set(names) & (changed | {applied})):
            r = cli("apply", "--", name, cwd=wd)
            check(r.returncode == 0, "apply %s after the kill: %s" % (name, r.stdout))
            check(tree(system) == profile_state(wd, name, names[name]), "apply %s installed other files" % name)
        return proc.returncode == -signal.SIGKILL
    finally:
        shutil.rmtree(root, ignore_errors=True)


def timed(run):
    start = time.monotonic()
    run()
    return time.monotonic() - start


# Kills that missed the action, tried again per trial before it counts as a miss.
MISSES_RETRIED = 3


def main():
    base = tempfile.mkdtemp(prefix="kestrane-crash-template-")
    try:
        sources = {}
        for seed, name in enumerate(("A", "Z", "N")):
            make_tree(os.path.join(base, "src", name), seed)
            sources[name] = tree(os.path.join(base, "src", name))
        build_template(base, sources)

        rng = random.Random(int(os.environ.get("KESTRANE_CRASH_SEED", "7")))
        failures = []
        killed = 0
        # Start-up and settling: a run that does nothing else.
        startup = min(timed(lambda: cli("list", cwd=os.path.join(base, "wd"))) for _ in range(3))
        for action in ACTIONS:
            # How long the action takes uncut (the shortest of three runs, each on a
            # fresh copy as a trial has): the kills fall anywhere inside it.
            args = ACTIONS[action][0]
            spans = []
            for _ in range(3):
                trial_root = tempfile.mkdtemp(prefix="kestrane-crash-time-")
                shutil.copytree(base, trial_root, dirs_exist_ok=True, symlinks=True)
                prepare(action, os.path.join(trial_root, "wd"), os.path.join(trial_root, "game", "system"))
                os.sync()
                spans.append(timed(lambda: cli(*args, cwd=os.path.join(trial_root, "wd"))))
                shutil.rmtree(trial_root, ignore_errors=True)
            span = min(spans)
            for i in range(TRIALS):
                # A busy machine starts the program later than the measured start-up: a
                # kill that fell before or after the action is tried again at another
                # moment (what the next run found was still checked).
                for attempt in range(MISSES_RETRIED + 1):
                    delay = rng.uniform(startup, max(span, startup))
                    try:
                        landed = trial(base, sources, action, delay)
                    except Failure as e:
                        failures.append("%s killed after %.3f s: %s" % (action, delay, e))
                        landed = True
                    if landed:
                        killed += 1
                        break
        trials = len(ACTIONS) * TRIALS
        print("%d trials, %d kills landed inside the action (%d %%), %d failures"
              % (trials, killed, 100 * killed // trials, len(failures)))
        for f in failures:
            print("FAIL", f)
        if killed < 0.8 * trials:
            print("FAIL fewer than 80 % of the kills landed inside the action")
            return 1
        return 1 if failures else 0
    finally:
        shutil.rmtree(base, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
