#!/usr/bin/env python3
"""Runs random multi-run scenarios through the Linux build and through the
Windows build under Wine, side by side, and checks that both give the same
exit codes, the same console text (CR LF read as LF) and byte-identical files.

The Windows executable is first copied alone into an empty folder, so that it
also shows that it needs nothing beside it.

    windows/differential.py --linux build/default/Tolvane \
        --windows build/windows/Tolvane.exe [--scenarios 200] [--seed 1]

Exit code 0 when every run agreed, 1 when one did not (the first difference
is printed with the scenario's steps), 2 on a usage or setup error.
"""

import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

LANGUAGES = ["EN", "FR", "DE", "JA", "IT", "ES"]
CODINGS = ["ISO8859", "BYTE", "UNICODE", "unicode", "CP1252"]


def random_text(rng, unicode):
    if unicode:
        units = [rng.randrange(0x20, 0x7F) if rng.random() < 0.5 else rng.randrange(0x100, 0xFFFF)
                 for _ in range(rng.randrange(0, 6))]
        parts = []
        for u in units:
            hi, lo = u >> 8, u & 0xFF
            parts.append(rng.choice(["\\x%02x\\x%02x" % (hi, lo), "0x%02x 0x%02x " % (hi, lo),
                                     "0x%02x,0x%02x " % (hi, lo)]))
        return "".join(parts)
    pieces = []
    for _ in range(rng.randrange(0, 8)):
        r = rng.random()
        if r < 0.55:
            pieces.append(rng.choice(["Hello", "Bonjour", "file", "%d", "%s", " ", "ok?", "x=1",
                                      "Temp", "(o/n)", "caf"]))
        elif r < 0.75:
            pieces.append(rng.choice(["\\n", "\\t", "\\\\", "\\\"", "\\r", "\\a"]))
        elif r < 0.9:
            pieces.append("\\x%02x" % rng.randrange(1, 256))
        else:
            pieces.append("\\%o" % rng.randrange(1, 256))
    return "".join(pieces)


def random_source(rng, language, names, broken=False):
    coding = rng.choice(CODINGS)
    unicode = coding == "UNICODE"
    lines = ["// #LANGUAGE " + language, "// #FONFILE FONT_" + language,
             "// #MSGCODING " + coding, "// #FILETYPE %d" % rng.randrange(0, 4),
             "// #APPLITYPE %x" % rng.randrange(0, 0x100)]
    for _ in range(rng.randrange(0, 12)):
        if names and rng.random() < 0.4:
            name, ident = rng.choice(sorted(names.items()))
        else:
            ident = rng.choice([rng.randrange(0, 100), rng.randrange(0, 65536), 65535, -1, 70000])
            name = "MSG_%d_%d" % (abs(ident), rng.randrange(1000))
            names[name] = ident
        if rng.random() < 0.1:
            lines.append("#message %d %s" % (ident, name))  # a name without a text
        else:
            lines.append('#message %d %s "%s"' % (ident, name, random_text(rng, unicode)))
        if rng.random() < 0.1:
            lines.append("// a comment line")
    if broken:
        # Refusals, errors and warnings, each told with its place.
        where = rng.randrange(0, len(lines))
        lines[where] = rng.choice(["//#LANGUAGE " + language, '#message 1 BAD "\\xZZ"',
                                   "#message x BAD \"t\"", "// #FONFILE", "",
                                   '#message 0x10 MSG_HEX "y"', "#message 13",
                                   '#message 5 BAD-NAME! "x"', '  #message 4 MSG_D "y"',
                                   '#message 7 Q "a"b\\0c"', "// #FONTFILE F",
                                   '#message 8 NUL "\x00"', "#message 9 U \"\u3053\""])
        if rng.random() < 0.1:
            lines[0] = "\ufeff" + lines[0]
    ending = rng.choice(["\n", "\r\n"])
    text = ending.join(lines)
    return text + (ending if rng.random() < 0.8 else "")


def damage(rng, data):
    data = bytearray(data)
    if not data:
        return bytes(b"XX")
    kind = rng.randrange(4)
    if kind == 0:
        return bytes(data[: rng.randrange(0, len(data))])
    if kind == 1:
        for _ in range(rng.randrange(1, 4)):
            data[rng.randrange(len(data))] = rng.randrange(256)
        return bytes(data)
    if kind == 2:
        return bytes(data) + bytes(rng.randrange(256) for _ in range(rng.randrange(1, 9)))
    data[0:2] = b"MZ"
    return bytes(data)


def argument_error(rng, msg, names_header):
    return rng.choice([
        [],
        [msg],
        ["-tsrc.h", "-h" + names_header, "app.txt"],
        ["-c", "-tmissing.h", "-h" + names_header, msg],
        ["-c", "-tSRC.H", "-h" + names_header, msg],
        ["-c", "-x", "-tsrc.h", "-h" + names_header, msg],
        ["-c", "src.h", msg],
        ["-", msg],
        ["-c", "-tsrc.h", msg],
        ["-cxyz", "-tsrc.h", "-hfirst.h", "-h" + names_header, msg],
        ["-c", "-t", "src.h", "-h" + names_header, msg],
        ["-b", "-c", "-tsrc.h", "-h", names_header, msg],
        ["-c", "-tsrc.h", "-h" + names_header, "nodir/" + msg],
        ["-c", "-tsrc.h", "-hnodir/" + names_header, msg],
        ["--help"],
        ["--version"],
        ["-Wall", "-tsrc.h", "-h" + names_header, msg],
    ])


def snapshot(folder):
    files = {}
    for root, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(root, name)
            with open(path, "rb") as f:
                files[os.path.relpath(path, folder)] = f.read()
    return files


def run(command, cwd):
    # Files, not pipes: Wine's background processes, started with the first
    # program, inherit its streams and would hold a pipe open long after.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        code = subprocess.run(command, cwd=cwd, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                              timeout=120).returncode
        out.seek(0)
        err.seek(0)
        return (code, out.read().replace(b"\r\n", b"\n"), err.read().replace(b"\r\n", b"\n"))


def run_under_wine(command, cwd, restarts):
    # Every run of the tool prints something, if only its banner, and a run
    # that prints nothing has changed no file either. Such a run is Wine
    # failing to start the program, now and then, on a busy machine; it is
    # run again, twice at the most, and counted.
    before = snapshot(cwd)
    for _ in range(2):
        result = run(command, cwd)
        if result[0] == 0 or result[1] or result[2] or snapshot(cwd) != before:
            return result
        restarts.append("%s in %s (exit code %d)" % (" ".join(command[2:]), cwd, result[0]))
        time.sleep(1)
    return run(command, cwd)


def scenario(rng, index, linux, windows, wine, work, tally, restarts):
    folders = []
    for side in ("linux", "windows"):
        folder = os.path.join(work, "%d-%s" % (index, side))
        os.makedirs(folder)
        folders.append(folder)
    msg = rng.choice(["app.msg", "APP.MSG", "out/app.msg", "cat.Msg"])
    if msg.startswith("out/"):
        for folder in folders:
            os.makedirs(os.path.join(folder, "out"))
    names_header = rng.choice(["names.h", "Names.h", "out.h"])
    names = {}
    used = []
    steps = []
    for step in range(rng.randrange(1, 7)):
        # Mostly a catalogue first, then tables added to it; a damaged
        # catalogue is refused by every later run but one with -c.
        kinds = ["create", "language", "table", "args", "damaged", "broken", "replace", "list"]
        weights = [20, 1, 1, 1, 0, 1, 0, 4] if step == 0 else [1, 5, 4, 1, 1, 1, 2, 2]
        kind = rng.choices(kinds, weights)[0]
        files = {}
        languages = []
        if kind == "args":
            args = argument_error(rng, msg, names_header)
        elif kind == "list":
            # Several sources in one run, named relative to the list's folder;
            # -c when it builds the catalogue, otherwise -r now and then.
            sources = []
            for number in range(rng.randrange(1, 5)):
                language = rng.choice(used + LANGUAGES if used else LANGUAGES)
                languages.append(language)
                files["lst/s%d.h" % number] = random_source(rng, language, names, False).encode()
                sources.append("s%d.h" % number)
            files["lst/all.txt"] = ("# sources\n" + "\n".join(sources) + "\n").encode()
            options = ["-c"] if step == 0 else (["-r"] if rng.random() < 0.5 else [])
            args = options + ["-llst/all.txt", "-h" + names_header, msg]
        else:
            if kind in ("create",) or not used:
                language = rng.choice(LANGUAGES)
            elif kind in ("table", "replace"):
                language = rng.choice(used)
            else:
                language = rng.choice(LANGUAGES)
            languages = [language]
            files["src.h"] = random_source(rng, language, names, kind == "broken").encode()
            args = (["-c"] if kind == "create" else ["-r"] if kind == "replace" else []) + [
                "-tsrc.h", "-h" + names_header, msg]
            if rng.random() < 0.2:
                args.insert(0, "-W")  # warnings stop the run
            if kind == "damaged":
                current = os.path.join(folders[0], msg)
                if os.path.exists(current):
                    with open(current, "rb") as f:
                        files[msg] = damage(rng, f.read())
        for folder in folders:
            for name, data in files.items():
                os.makedirs(os.path.dirname(os.path.join(folder, name)), exist_ok=True)
                with open(os.path.join(folder, name), "wb") as f:
                    f.write(data)
        results = [run([linux] + args, folders[0]),
                   run_under_wine(wine + [windows] + args, folders[1], restarts)]
        steps.append("%s: %s" % (kind, " ".join(args)))
        key = "%s exit %d" % (kind, results[0][0])
        tally[key] = tally.get(key, 0) + 1
        if results[0][0] == 0 and kind != "args":
            used.extend(languages)
        problem = None
        if results[0] != results[1]:
            problem = "exit codes or console text differ:\n  linux   %r\n  windows %r" % (
                results[0], results[1])
        elif snapshot(folders[0]) != snapshot(folders[1]):
            a, b = snapshot(folders[0]), snapshot(folders[1])
            differing = sorted(k for k in set(a) | set(b) if a.get(k) != b.get(k))
            problem = "files differ: %s" % ", ".join(differing)
        if problem:
            print("scenario %d, step %d differs: %s" % (index, step + 1, problem))
            print("steps:\n  " + "\n  ".join(steps))
            print("folders kept: %s %s" % tuple(folders))
            return None
    for folder in folders:
        shutil.rmtree(folder)
    return len(steps)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--linux", required=True)
    parser.add_argument("--windows", required=True)
    parser.add_argument("--scenarios", type=int, default=200)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--wine", default=shutil.which("wine") or shutil.which("wine64"))
    options = parser.parse_args()
    if not options.wine or not os.path.exists(options.linux) or not os.path.exists(options.windows):
        print("differential.py: need --linux, --windows and Wine", file=sys.stderr)
        return 2
    os.environ["WINEDEBUG"] = "-all"
    # A server that outlives each run by 30 seconds, so that no run starts
    # just as it ends (this does nothing when one runs already).
    wineserver = shutil.which("wineserver") or "/usr/lib/wine/wineserver64"
    subprocess.run([wineserver, "-p30"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    rng = random.Random(options.seed)
    work = tempfile.mkdtemp(prefix="tolvane-differential-")
    lone = os.path.join(work, "lone")
    os.makedirs(lone)
    windows = shutil.copy(options.windows, os.path.join(lone, "Tolvane.exe"))
    linux = os.path.abspath(options.linux)
    runs = 0
    tally = {}
    restarts = []
    for index in range(options.scenarios):
        steps = scenario(rng, index, linux, windows, [options.wine], work, tally, restarts)
        if steps is None:
            return 1
        runs += steps
    shutil.rmtree(work)
    print("runs by kind and exit code: " + ", ".join("%s: %d" % kv for kv in sorted(tally.items())))
    for restart in restarts:
        print("Wine did not start the program, so it was run again: " + restart)
    print("%d scenarios, %d runs: the same exit codes, console text and files" %
          (options.scenarios, runs))
    return 0


if __name__ == "__main__":
    sys.exit(main())
