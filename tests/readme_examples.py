#!/usr/bin/env python3
"""Runs the shell examples of README.md as written, with the built vormel
first on PATH, and checks what each one promises.

usage: readme_examples.py README VORMEL_DIR EXAMPLE
       readme_examples.py --list
"""
import os, re, select, signal, subprocess, sys, tempfile, time
from pathlib import Path

SECTIONS = ("Examples",)
TAG = re.compile(rb" {4,8}(0|[1-9]\d{0,4})")


def blocks(readme):
    """The ```sh blocks of SECTIONS, in order."""
    found, section, body = [], None, None
    for line in readme.splitlines():
        if line.startswith("## "):
            section = line[3:]
        elif body is not None:
            if line == "```":
                found.append("\n".join(body) + "\n")
                body = None
            else:
                body.append(line)
        elif line == "```sh" and section in SECTIONS:
            body = []
    return found


def lines(count, pad=0):
    """Distinct lines whose byte order is their input order, with awkward
    text: blanks, a tab, digits where a tag would be, a carriage return, NUL,
    colons, bytes that are not UTF-8."""
    ends = (b"", b"\ttab", b"    12345", b"\r", b"\0nul", b" a:b:", b" \xff\xfe", b" caf\xc3\xa9 ")
    return [b""] + [b" %07d" % i + b"." * pad + ends[i % len(ends)] for i in range(1, count)]


def write(path, text):
    with open(path, "wb") as file:
        file.writelines(line + b"\n" for line in text)


def tagged(out, text):
    """Each output line is the input line of the same place plus a tag."""
    got = out.split(b"\n")
    assert got.pop() == b"" and len(got) == len(text), "lines lost or added"
    for line, want in zip(got, text):
        tag = TAG.fullmatch(line[-9:])
        assert line[:-9] == want and tag and int(tag[1]) <= 50000, line


def shuffle(out, work, text, block):
    got = out.split(b"\n")[:-1]
    assert sorted(got) == sorted(text), "not a permutation"
    place = {line: i for i, line in enumerate(text)}
    rising = sum(place[a] < place[b] for a, b in zip(got, got[1:])) / (len(got) - 1)
    print(f"{rising:.1%} of neighbouring lines rising")
    assert 0.45 <= rising <= 0.55


def sample(out, work, text, block):
    got = out.split(b"\n")[:-1]
    wanted = int(re.search(r"head -n (\d+)", block)[1])
    assert len(got) == len(set(got)) == wanted and set(got) <= set(text), got


def one_in_ten(out, work, text, block):
    got = out.split(b"\n")[:-1]
    place = {line: i for i, line in enumerate(text)}
    places = [place.get(line) for line in got]
    assert None not in places, "lines that were not in the input"
    print(f"{len(got) / len(text):.1%} kept")
    assert places == sorted(set(places)), "lines reordered or doubled"
    assert 0.08 * len(text) <= len(got) <= 0.12 * len(text)


def many_files(out, work, logs, block):
    for log, text in logs.items():
        tagged((work / (log + ".tagged")).read_bytes(), text)
    assert len(list(work.iterdir())) == 2 * len(logs), "files other than the tagged ones"


def setup_file(work, block):
    text = lines(100_000)
    write(work / "file", text)
    return text


def setup_logs(work, block):
    logs = {f"{name}.log": lines(500 * n) for n, name in
            enumerate(("a", "b", "with space", "d", "e", "f"), 1)}
    for log, text in logs.items():
        write(work / log, text)
    return logs


def setup_log(work, block):
    """As many lines as tail shows of a file when it starts to follow it."""
    text = lines(20)
    write(work / "app.log", text[:10])
    return text


def to_end(block, work, env, text):
    run = subprocess.run(["sh", "-c", block], cwd=work, env=env, stdout=subprocess.PIPE)
    assert run.returncode == 0, f"exit status {run.returncode}"
    return run.stdout


def follow(block, work, env, text):
    """Runs the example on the log, then appends the rest of `text` once
    what the log held is out: it must come out tagged while the writer still
    holds the log open."""
    run = subprocess.Popen(["sh", "-c", block], cwd=work, env=env, stdout=subprocess.PIPE,
                           start_new_session=True)
    out = b""
    try:
        with open(work / "app.log", "ab", buffering=0) as log:
            for written in (10, len(text)):
                log.write(b"".join(line + b"\n" for line in text[10:written]))
                deadline = time.monotonic() + 20
                while out.count(b"\n") < written and time.monotonic() < deadline:
                    if select.select([run.stdout], [], [], 0.1)[0]:
                        more = os.read(run.stdout.fileno(), 1 << 16)
                        assert more, f"the example ended (status {run.wait()}) before the log did"
                        out += more
                assert out.count(b"\n") >= written, f"{written} lines in the log, not out: {out!r}"
    finally:
        os.killpg(run.pid, signal.SIGKILL)
        run.wait()
    return out


# A vormel that tags by line number with few values, 5 reading a file and 3
# reading a pipe, so that a pipeline of two gives many lines the same pair.
STAND_IN = """#!/bin/sh
if [ -p /dev/stdin ]; then k=3; else k=5; fi
exec awk -v k="$k" '{ print $0 " " sprintf("%8d", NR % k * 10000) }'
"""


def stand_in_order(text):
    """The input lines in the order the stand-in's tags sort them, ties kept
    in input order."""
    return [text[i] for i in sorted(range(len(text)), key=lambda i: ((i + 1) % 5, (i + 1) % 3))]


# With the stand-in, on lines whose byte order is the reverse of their input
# order, so that a sort that breaks ties by the text shows: what the example
# must print.
EXACT = {
    "shuffle": stand_in_order,
    "sample": lambda text: stand_in_order(text)[:100],
    "one_in_ten": lambda text: [line for i, line in enumerate(text) if (i + 1) % 5 == 0],
}


def exactly(name, block, work, env):
    text = lines(5000)[::-1]
    write(work / "file", text)
    (work / "stand-in").mkdir()
    (work / "stand-in" / "vormel").write_text(STAND_IN)
    (work / "stand-in" / "vormel").chmod(0o755)
    env = dict(env, PATH=os.pathsep.join([str(work / "stand-in"), env["PATH"]]))
    got = to_end(block, work, env, text).split(b"\n")[:-1]
    assert got == EXACT[name](text), f"with tags of few values, not the lines in their order: {got[:20]}"


# name: (what marks its block, setup, how it runs, check)
EXAMPLES = {
    "shuffle": (lambda b: "sort" in b and "head" not in b, setup_file, to_end, shuffle),
    "sample": (lambda b: "sort" in b and "head -n" in b, setup_file, to_end, sample),
    "one_in_ten": (lambda b: "sort" not in b and "awk" in b, setup_file, to_end, one_in_ten),
    "live_log": (lambda b: "tail -F" in b, setup_log, follow,
                 lambda out, work, text, block: tagged(out, text)),
    "many_files": (lambda b: "for f in" in b, setup_logs, to_end, many_files),
}


def main():
    # So that a follow()'s finally ends the example it started.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("terminated"))
    if sys.argv[1:] == ["--list"]:
        print("\n".join(EXAMPLES))
        return
    readme, vormel_dir, name = sys.argv[1:]
    found = blocks(Path(readme).read_text(encoding="utf-8"))
    owners = [[n for n, e in EXAMPLES.items() if e[0](b)] for b in found]
    assert sorted(sum(owners, [])) == sorted(EXAMPLES) and all(len(o) == 1 for o in owners), \
        f"the README's examples and their checks no longer pair up: {owners}"
    block = found[owners.index([name])]
    _, setup, runs, check = EXAMPLES[name]
    with tempfile.TemporaryDirectory() as directory:
        work = Path(directory)
        env = dict(os.environ, PATH=os.pathsep.join([vormel_dir, os.environ["PATH"]]))
        given = setup(work, block)
        check(runs(block, work, env, given), work, given, block)
        if name in EXACT:
            exactly(name, block, work, env)
    print(f"ok: {name}")


if __name__ == "__main__":
    main()
