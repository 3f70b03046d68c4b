#!/usr/bin/env python3
"""kestrane-zip.exe and kestrane-cli.exe, built for Windows by scripts/build-windows, run
through Wine on trees and profiles with Cyrillic (and other non-Latin) names:

  - archives that kestrane-zip.exe packs pass `unzip -t`, `7z t` and Python's testzip, and
    unzip and 7z unpack them into the very tree that was packed, byte for byte;
  - archives that Info-ZIP's zip and Python's zipfile made unpack through kestrane-zip.exe
    into the very tree that was packed;
  - an add to an existing archive replaces it whole and leaves no temporary file;
  - kestrane-cli.exe saves, applies, undoes, updates, renames and deletes a profile with a
    Cyrillic name, plain and archived, with the messages and files of the Linux program;
  - an apply killed at random moments is settled by the next run: `system` is the old
    folder or the profile's, whole.

Exits 77 (skipped, with the reason) when Wine or either program is missing.

usage: windows_programs_test.py BIN_FOLDER
"""
import hashlib
import os
import pathlib
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import zipfile

SKIP = 77
BIN = os.path.abspath(sys.argv[1])
ZIP_EXE = os.path.join(BIN, "kestrane-zip.exe")
CLI_EXE = os.path.join(BIN, "kestrane-cli.exe")

NAMES = [
    "Привет/файл.txt", "Привет/папка/данные.bin", "Україна/їжак є.txt", "Ελληνικά/αρχείο.txt",
    "日本語/ファイル.txt", "emoji 😀/smile.txt", "Accentué/café crème.txt", "plain.txt",
    "deep/" + "/".join("уровень%d" % i for i in range(8)) + "/конец.txt",
    "длинное имя " + "ж" * 60 + ".txt",
]
EMPTY_FOLDERS = ["пустая папка"]

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def windows_path(path):
    """The path as a Windows program under Wine names it: Wine maps / to Z:."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine(program, *args, cwd=None):
    return subprocess.run(["wine", program, *args], cwd=cwd, capture_output=True, text=True, encoding="utf-8",
                          errors="replace", timeout=300)


def make_tree(root, seed):
    rng = random.Random(seed)
    for name in NAMES:
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(rng.randbytes(rng.choice([0, 1, 700, 70000])))
    for name in EMPTY_FOLDERS:
        os.makedirs(os.path.join(root, name), exist_ok=True)


def tree(root):
    """relative path -> sha1 of every file, "" for every folder (its path ends in /); None
    when root is missing."""
    root = pathlib.Path(root)
    if not root.is_dir():
        return None
    return {p.relative_to(root).as_posix() + ("/" if p.is_dir() else ""):
            "" if p.is_dir() else hashlib.sha1(p.read_bytes()).hexdigest() for p in root.rglob("*")}


def run_tool(args, cwd=None):
    result = subprocess.run(args, cwd=cwd, capture_output=True, text=True, errors="replace")
    return result.returncode, result.stdout + result.stderr


def test_packed_archives_pass_other_tools(work, source):
    # (level, threads): stored, ISA-L, zlib; one thread and two.
    for level, threads in [(0, 1), (1, 1), (1, 2), (6, 2)]:
        case = "level %d, %d threads" % (level, threads)
        archive = os.path.join(work, "packed-%d-%d.zip" % (level, threads))
        r = wine(ZIP_EXE, "create", windows_path(archive), "*.*", "--base", windows_path(source), "--level",
                 str(level), "--threads", str(threads))
        check(r.returncode == 0, "%s: kestrane-zip.exe create: %s" % (case, r.stderr))
        code, out = run_tool(["unzip", "-t", archive])
        check(code == 0, "%s: unzip -t: %s" % (case, out[-300:]))
        code, out = run_tool(["7z", "t", archive])
        check(code == 0 and "Everything is Ok" in out, "%s: 7z t: %s" % (case, out[-300:]))
        with zipfile.ZipFile(archive) as z:
            check(z.testzip() is None, "%s: Python's testzip" % case)
            # Python reads names without the UTF-8 flag as CP437; the bytes are the files'.
            packed = sorted(hashlib.sha1(z.read(i)).hexdigest() for i in z.infolist() if not i.is_dir())
        check(packed == sorted(v for v in tree(source).values() if v), "%s: Python reads other bytes" % case)
        for tool, args in [("unzip", ["unzip", "-qq", archive, "-d"]), ("7z", ["7z", "x", "-y", archive, "-o"])]:
            out_dir = os.path.join(work, "by-%s-%d-%d" % (tool, level, threads))
            code, out = run_tool(args[:-1] + [args[-1] + out_dir] if tool == "7z" else args + [out_dir])
            check(code == 0 and tree(out_dir) == tree(source), "%s: %s unpacks another tree: %s" % (case, tool, out[-300:]))


def test_add_replaces_the_archive(work, source):
    # An add rebuilds the archive beside it and renames it over the one it has open and
    # locked: Windows does not replace an open file, so the archive is closed for the rename.
    archive = os.path.join(work, "added.zip")
    first, second = os.path.join(work, "первая"), os.path.join(work, "вторая")
    make_tree(first, 2)
    make_tree(second, 3)
    for tree_root in (first, second):
        r = wine(ZIP_EXE, "add", windows_path(archive), os.path.basename(tree_root), "--base", windows_path(work))
        check(r.returncode == 0, "add %s: %s" % (tree_root, r.stderr))
    code, out = run_tool(["unzip", "-t", archive])
    check(code == 0, "add: unzip -t: %s" % out[-300:])
    out_dir = os.path.join(work, "added")
    code, out = run_tool(["unzip", "-qq", archive, "-d", out_dir])
    for tree_root in (first, second):
        name = os.path.basename(tree_root)
        check(tree(os.path.join(out_dir, name)) == tree(tree_root), "add: %s comes back as another tree" % name)
    leftovers = [n for n in os.listdir(work) if n.startswith(".added.zip")]
    check(not leftovers, "add left %s" % leftovers)


def test_foreign_archives_unpack(work, source):
    info_zip = os.path.join(work, "info-zip.zip")
    run_tool(["zip", "-qr", info_zip, "."], cwd=source)
    python_zip = os.path.join(work, "python.zip")
    with zipfile.ZipFile(python_zip, "w", zipfile.ZIP_DEFLATED) as z:
        for folder, dirs, files in os.walk(source):
            for name in dirs + files:
                path = os.path.join(folder, name)
                z.write(path, os.path.relpath(path, source))
    for maker, archive in [("Info-ZIP", info_zip), ("Python", python_zip)]:
        out_dir = os.path.join(work, "from-" + maker)
        r = wine(ZIP_EXE, "extract", windows_path(archive), windows_path(out_dir))
        check(r.returncode == 0, "%s archive: kestrane-zip.exe extract: %s" % (maker, r.stderr))
        check(tree(out_dir) == tree(source), "%s archive: kestrane-zip.exe unpacks another tree" % maker)


def test_profile_actions(work, source):
    home = os.path.join(work, "kestrane")
    game = os.path.join(work, "игра")
    os.makedirs(home)
    os.makedirs(os.path.join(game, "system"))
    with open(os.path.join(game, "system", "old.ini"), "w") as f:
        f.write("прежняя папка")
    old_system = tree(os.path.join(game, "system"))
    game_win = windows_path(game)

    def cli(*args, expect_status=0, says=None):
        r = wine(CLI_EXE, *args, cwd=home)
        what = "kestrane-cli.exe %s" % " ".join(args)
        check(r.returncode == expect_status, "%s: status %d: %s%s" % (what, r.returncode, r.stdout, r.stderr))
        if says is not None:
            check(says in r.stdout.splitlines(), "%s: no line %r in %r" % (what, says, r.stdout))
        return r.stdout

    cli("save", "--systems", windows_path(source), "--game", game_win, "--name", "Главный",
        says="Information: Сервер Главный успешно сохранен")
    check(tree(os.path.join(home, "Главный")) == tree(source), "save: the profile folder is not the systems folder")
    check(cli("list") == "Главный\n", "list does not name the profile")
    cli("apply", "Главный", says="Information: Сервер Главный записан в папку %s\\system" % game_win)
    check(tree(os.path.join(game, "system")) == tree(source), "apply: system is not the profile")
    check(tree(os.path.join(game, "system.kestrane-backup")) == old_system, "apply: the backup is not the old folder")
    cli("status", "Главный", says="Главный\t%s\t0\tapplied" % game_win)
    cli("undo", "Главный", says="Information: Папка %s\\system возвращена" % game_win)
    check(tree(os.path.join(game, "system")) == old_system, "undo: system is not the old folder")
    # The game changes its folder; the profile takes the change back.
    cli("apply", "Главный", says="Information: Сервер Главный записан в папку %s\\system" % game_win)
    with open(os.path.join(game, "system", "Привет", "файл.txt"), "w") as f:
        f.write("изменено игрой")
    cli("status", "Главный", says="Главный\t%s\t0\tchanged" % game_win)
    cli("update", "Главный", says="Information: Сервер Главный обновлён из папки %s\\system" % game_win)
    check(tree(os.path.join(home, "Главный")) == tree(os.path.join(game, "system")),
          "update: the profile is not the game's folder")
    cli("status", "Главный", says="Главный\t%s\t0\tapplied" % game_win)
    cli("undo", "Главный", says="Information: Папка %s\\system возвращена" % game_win)
    cli("rename", "Главный", "Запасной", says="Information: Сервер Главный успешно переименован на Запасной")
    renamed = tree(os.path.join(home, "Запасной"))
    check(renamed is not None and not os.path.exists(os.path.join(home, "Главный")),
          "rename: the profile folder did not move")
    cli("apply", "Запасной", says="Information: Сервер Запасной записан в папку %s\\system" % game_win)
    check(tree(os.path.join(game, "system")) == renamed, "apply after rename: system is not the profile")
    cli("delete", "Запасной", "--yes", says="Information: Сервер Запасной успешно удален")
    check(not os.path.exists(os.path.join(home, "Запасной")), "delete: the profile folder is still there")
    cli("list", expect_status=0)
    check(sorted(os.listdir(home)) in ([], ["options.ini"]), "delete left %s" % os.listdir(home))
    cli("apply", "Главный", expect_status=1)


def test_archived_profile_actions(work, source):
    # An archived save packs the systems folder, whatever its name, under the profile's name
    # straight into the archive (no link: Windows gives links to administrators only).
    home = os.path.join(work, "packed-home")
    game = os.path.join(work, "packed-game")
    os.makedirs(home)
    make_tree(os.path.join(game, "system"), 7)
    game_win = windows_path(game)

    def cli(*args, says):
        r = wine(CLI_EXE, *args, cwd=home)
        what = "kestrane-cli.exe %s" % " ".join(args)
        check(r.returncode == 0 and says in r.stdout.splitlines(), "%s: status %d: %s%s" % (what, r.returncode,
                                                                                           r.stdout, r.stderr))

    def packed(name):
        """The tree an archive in home unpacks into, through Python's zipfile."""
        out_dir = os.path.join(work, "packed-out")
        shutil.rmtree(out_dir, ignore_errors=True)
        archive = os.path.join(home, name + ".zip")
        if not os.path.isfile(archive):
            return None
        with zipfile.ZipFile(archive) as z:
            check(z.testzip() is None, "%s.zip: zipfile finds a damaged entry" % name)
            z.extractall(out_dir)
        return tree(os.path.join(out_dir, name))

    cli("save", "--systems", windows_path(source), "--game", game_win, "--name", "Упакованный", "--archive",
        says="Information: Сервер Упакованный успешно сохранен")
    check(packed("Упакованный") == tree(source), "archived save: the archive is not the systems folder")
    check(sorted(os.listdir(home)) == ["options.ini", "Упакованный.zip"], "archived save left %s" % os.listdir(home))
    cli("apply", "Упакованный", says="Information: Сервер Упакованный записан в папку %s\\system" % game_win)
    check(tree(os.path.join(game, "system")) == tree(source), "archived apply: system is not the profile")
    with open(os.path.join(game, "system", "plain.txt"), "w") as f:
        f.write("изменено игрой")
    cli("update", "Упакованный", says="Information: Сервер Упакованный обновлён из папки %s\\system" % game_win)
    check(packed("Упакованный") == tree(os.path.join(game, "system")), "archived update: the archive is not system")
    cli("rename", "Упакованный", "Сжатый", says="Information: Сервер Упакованный успешно переименован на Сжатый")
    check(packed("Сжатый") == tree(os.path.join(game, "system")), "archived rename: the archive changed")
    check(not os.path.exists(os.path.join(home, "Упакованный.zip")), "archived rename: the old archive stays")
    cli("delete", "Сжатый", "--yes", says="Information: Сервер Сжатый успешно удален")
    check(sorted(os.listdir(home)) in ([], ["options.ini"]), "archived delete left %s" % os.listdir(home))


def test_killed_apply_is_settled(work, source):
    # Windows has no exchange: an apply renames system away and the new folder in, and a
    # kill between the two leaves no system folder until the next run settles it from
    # the journal. Whenever the apply is killed, the next run finds the old folder or the
    # profile's, whole, and nothing else of the apply's beside it.
    home = os.path.join(work, "kill-home")
    game = os.path.join(work, "kill-game")
    profile = os.path.join(work, "kill-profile")
    os.makedirs(home)
    make_tree(os.path.join(game, "system"), 4)
    old_system = tree(os.path.join(game, "system"))
    shutil.copytree(source, profile)
    for i in range(300):  # enough files that the apply's own work takes a while
        with open(os.path.join(profile, "Привет", "файл%d.txt" % i), "w") as f:
            f.write("строка %d\n" % i)
    r = wine(CLI_EXE, "save", "--systems", windows_path(profile), "--game", windows_path(game), "--name", "Убитый",
             cwd=home)
    check(r.returncode == 0, "kill: save: %s" % r.stdout)
    partial = os.path.join(game, "system.kestrane-partial")

    def apply(kill_after=None):
        """Runs an apply; answers the seconds from its first folder to its end, or kills it
        that long after its first folder appeared."""
        child = subprocess.Popen(["wine", CLI_EXE, "apply", "Убитый"], cwd=home, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        while child.poll() is None and not os.path.exists(partial):
            time.sleep(0.001)
        started = time.monotonic()
        if kill_after is None:
            child.wait()
        else:
            time.sleep(kill_after)
            child.send_signal(signal.SIGKILL)
            child.wait()
        return time.monotonic() - started

    work_time = apply()
    wine(CLI_EXE, "undo", "Убитый", cwd=home)
    rng = random.Random(int(os.environ.get("KESTRANE_CRASH_SEED", "5")))
    interrupted = 0
    for trial in range(5):
        before = tree(os.path.join(game, "system"))
        apply(kill_after=rng.uniform(0, work_time))
        interrupted += os.path.exists(partial) or os.path.exists(os.path.join(game, "system.kestrane-new")) or \
            not os.path.exists(os.path.join(game, "system"))
        wine(CLI_EXE, "status", "Убитый", cwd=home)  # every run first settles what the last one left
        after = tree(os.path.join(game, "system"))
        check(after in (before, tree(profile)), "kill %d: system is neither the old folder nor the profile" % trial)
        check(not os.path.exists(os.path.join(home, ".kestrane-staging")), "kill %d: the staging place stays" % trial)
        leftovers = sorted(set(os.listdir(game)) - {"system", "system.kestrane-backup", "system.kestrane-applied"})
        check(not leftovers, "kill %d: %s stay beside system" % (trial, leftovers))
        if after != old_system:  # back to the old folder for the next trial
            wine(CLI_EXE, "undo", "Убитый", cwd=home)
    print("%d of 5 kills interrupted the apply (its work took %.2f s)" % (interrupted, work_time))
    check(interrupted >= 2, "too few kills landed inside the apply to tell anything")


def main():
    if shutil.which("wine") is None:
        print("SKIP: wine is not installed (scripts/build-windows installs it)")
        return SKIP
    for exe in (ZIP_EXE, CLI_EXE):
        if not os.path.isfile(exe):
            print("SKIP: %s is missing: run scripts/build-windows" % exe)
            return SKIP
    os.environ["WINEDEBUG"] = "-all"
    os.environ.setdefault("WINEPREFIX", os.path.join(tempfile.gettempdir(), "kestrane-wine-%d" % os.getuid()))
    os.environ.pop("DISPLAY", None)  # console programs need no display
    # One Wine server for the whole run: a program that starts while the server of the last
    # one is shutting down loses its connection.
    # (Status 2: a server of this prefix is running already, which serves as well.)
    # The server outlives this script: it must not hold the caller's output open.
    if subprocess.run(["wineserver", "-p"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                      stderr=subprocess.DEVNULL).returncode not in (0, 2):
        print("FAIL: wineserver -p")
        return 1
    subprocess.run(["wineboot", "-i"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    work = tempfile.mkdtemp(prefix="kestrane-windows-")
    try:
        source = os.path.join(work, "исходник")
        make_tree(source, 1)
        for test in (test_packed_archives_pass_other_tools, test_add_replaces_the_archive, test_foreign_archives_unpack,
                     test_profile_actions, test_archived_profile_actions, test_killed_apply_is_settled):
            print("--", test.__name__)
            test(work, source)
    finally:
        subprocess.run(["wineserver", "-k"], capture_output=True)
        shutil.rmtree(work, ignore_errors=True)
    print("%d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
