"""A tree like a game's configuration folder, for the benchmarks.

About 1,000 files in nested folders with some empty folders: text (ini-like lines),
structured binary records and incompressible data, sizes 0 B to 30 MB, scaled to a total
size. The same seed gives the same tree.

generate_system makes the other shape, what players' `system` folders look like: a few
hundred files (settings, tables, models and textures) of a few KB to a few MB, none
large, in a handful of folders.

  bench/game_tree.py DIR [--size-mb 300] [--files 1000] [--system]
"""
import argparse, os, random, shutil


def corpus(rng, kind, size):
    if kind == "text":
        words = ["server", "port", "login", "name", "colour", "volume", "skin", "window", "true", "false",
                 "chat", "macro", "key", "shortcut", "inventory", "quest", "guild", "effect"]
        lines = []
        n = 0
        while n < size:
            line = "%s.%s=%s %d\r\n" % (rng.choice(words), rng.choice(words), rng.choice(words), rng.randrange(100000))
            lines.append(line)
            n += len(line)
        return "".join(lines).encode()[:size]
    if kind == "binary":
        # Records of a fixed layout whose fields drift slowly, like map or cache files.
        out = bytearray()
        x = y = 0
        while len(out) < size:
            x += rng.randrange(-3, 4)
            y += rng.randrange(-3, 4)
            out += (x & 0xFFFFFFFF).to_bytes(4, "little") + (y & 0xFFFFFFFF).to_bytes(4, "little")
            out += bytes([rng.randrange(4), 0, 0, 1]) + rng.randrange(256).to_bytes(4, "little")
        return bytes(out[:size])
    return rng.randbytes(size)


def write_file(path, rng, pools, kind, size):
    """A file of `size` bytes: fresh random bytes, or pieces of the pool of its kind."""
    with open(path, "wb") as out:
        if kind == "random":
            out.write(corpus(rng, kind, size))
            return
        pool, left = pools[kind], size
        while left > 0:
            start = rng.randrange(0, len(pool) - 1)
            chunk = pool[start:start + min(left, len(pool) - start)]
            out.write(chunk)
            left -= len(chunk)


def generate(tree, total_mb, files, seed=7):
    rng = random.Random(seed)
    shutil.rmtree(tree, ignore_errors=True)
    os.makedirs(tree)
    pools = {k: corpus(rng, k, 8 << 20) for k in ("text", "binary")}
    folders = [""]
    for i in range(60):
        parent = rng.choice(folders)
        folders.append(os.path.join(parent, "dir%02d" % i))
    for f in folders:
        os.makedirs(os.path.join(tree, f), exist_ok=True)
    for i in range(15):
        os.makedirs(os.path.join(tree, rng.choice(folders), "empty%02d" % i), exist_ok=True)
    # Sizes: many small files, some medium, a few large up to 30 MB; scaled to the total.
    sizes = []
    for i in range(files):
        r = rng.random()
        if i % 97 == 0:
            sizes.append(0)
        elif r < 0.80:
            sizes.append(rng.randrange(1, 64 << 10))
        elif r < 0.97:
            sizes.append(rng.randrange(64 << 10, 2 << 20))
        else:
            sizes.append(rng.randrange(4 << 20, 30 << 20))
    scale = total_mb * (1 << 20) / max(1, sum(sizes))
    kinds = ["text", "text", "binary", "random"]
    for i, s in enumerate(sizes):
        size = min(30 << 20, int(s * scale))
        kind = kinds[i % 4]
        path = os.path.join(tree, rng.choice(folders), "file%04d.%s" % (i, {"text": "ini", "binary": "dat", "random": "bin"}[kind]))
        write_file(path, rng, pools, kind, size)
    return sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(tree) for f in fs)


def generate_system(tree, total_mb, files, seed=11):
    rng = random.Random(seed)
    shutil.rmtree(tree, ignore_errors=True)
    os.makedirs(tree)
    pools = {k: corpus(rng, k, 8 << 20) for k in ("text", "binary")}
    folders = ["", "interface", "interface/chat", "data", "data/tables", "models", "models/npc", "textures",
               "textures/ui", "sound"]
    for f in folders:
        os.makedirs(os.path.join(tree, f), exist_ok=True)
    # (share of the files, extension, content, size range, folders)
    kinds = [(0.35, "ini", "text", (200, 24 << 10), ["", "interface", "interface/chat"]),
             (0.25, "tbl", "binary", (8 << 10, 400 << 10), ["data", "data/tables"]),
             (0.20, "mdl", "binary", (100 << 10, 1536 << 10), ["models", "models/npc"]),
             (0.20, "tex", "random", (200 << 10, 2560 << 10), ["textures", "textures/ui", "sound"])]
    plan = []
    for i in range(files):
        r, acc = rng.random(), 0.0
        for k, (share, ext, content, (low, high), where) in enumerate(kinds):
            acc += share
            if r < acc or k == len(kinds) - 1:
                break
        plan.append((ext, content, rng.randrange(low, high), rng.choice(where)))
    scale = total_mb * (1 << 20) / max(1, sum(p[2] for p in plan))
    for i, (ext, content, size, where) in enumerate(plan):
        size = int(size * scale)
        write_file(os.path.join(tree, where, "%s%04d.%s" % (ext, i, ext)), rng, pools, content, size)
    return sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(tree) for f in fs)


def main():
    ap = argparse.ArgumentParser(description="Generates a game-like configuration tree.")
    ap.add_argument("dir")
    ap.add_argument("--size-mb", type=int, default=300)
    ap.add_argument("--files", type=int, default=1000)
    ap.add_argument("--system", action="store_true", help="the shape of a player's system folder")
    a = ap.parse_args()
    total = (generate_system if a.system else generate)(a.dir, a.size_mb, a.files)
    print("%s: %.1f MB" % (a.dir, total / (1 << 20)))


if __name__ == "__main__":
    main()
