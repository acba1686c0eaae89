#!/usr/bin/env python3
"""Runs the shell examples of README.md as written, with the built vormel
first on PATH, and checks what each one promises.

usage: readme_examples.py README VORMEL_DIR EXAMPLE
       readme_examples.py --list
"""
import os, re, select, shutil, signal, subprocess, sys, tempfile, time
from pathlib import Path

SECTIONS = ("Examples",)
TAG = re.compile(rb" {4,8}(\d{1,5})")


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
    """Distinct lines whose byte order is their input order, as in the worst
    case for a sort that breaks ties by the text, with awkward text: blanks,
    a tab, digits where a tag would be, a carriage return, NUL, bytes that
    are not UTF-8."""
    ends = (b"", b"\ttab", b"    12345", b"\r", b"\0nul", b" \xff\xfe", b" caf\xc3\xa9 ")
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
    place = {line: i for i, line in enumerate(text)}
    places = [place[line] for line in got]
    rising = sum(a < b for a, b in zip(places, places[1:])) / (len(places) - 1)
    assert 0.25 <= rising <= 0.75 and max(places) > len(text) // 2, "not drawn at random"


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


def missing(tool):
    return None if shutil.which(tool) else f"{tool} is not installed"


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
                        out += os.read(run.stdout.fileno(), 1 << 16)
                assert out.count(b"\n") >= written, f"{written} lines in the log, not out: {out!r}"
    finally:
        os.killpg(run.pid, signal.SIGKILL)
        run.wait()
    return out


# name: (what marks its block, a tool that may be missing, setup, how it runs, check)
EXAMPLES = {
    "shuffle": (lambda b: "sort" in b and "head" not in b, "sort", setup_file, to_end, shuffle),
    "sample": (lambda b: "sort" in b and "head -n" in b, "head", setup_file, to_end, sample),
    "one_in_ten": (lambda b: "sort" not in b and "awk" in b, "awk", setup_file, to_end, one_in_ten),
    "live_log": (lambda b: "tail -F" in b, "tail", setup_log, follow,
                 lambda out, work, text, block: tagged(out, text)),
    "many_files": (lambda b: "for f in" in b, "sh", setup_logs, to_end, many_files),
}


def main():
    if sys.argv[1:] == ["--list"]:
        print("\n".join(EXAMPLES))
        return
    readme, vormel_dir, name = sys.argv[1:]
    found = blocks(Path(readme).read_text(encoding="utf-8"))
    owners = [[n for n, e in EXAMPLES.items() if e[0](b)] for b in found]
    assert sorted(sum(owners, [])) == sorted(EXAMPLES) and all(len(o) == 1 for o in owners), \
        f"the README's examples and their checks no longer pair up: {owners}"
    block = found[owners.index([name])]
    _, tool, setup, runs, check = EXAMPLES[name]
    if reason := missing(tool):
        print(f"skipped: {reason}")
        return
    with tempfile.TemporaryDirectory() as directory:
        work = Path(directory)
        env = dict(os.environ, PATH=os.pathsep.join([vormel_dir, os.environ["PATH"]]))
        given = setup(work, block)
        check(runs(block, work, env, given), work, given, block)
    print(f"ok: {name}")


if __name__ == "__main__":
    main()
