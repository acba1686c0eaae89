#!/usr/bin/env python3
"""Runs the shell examples of README.md as written, with the built vormel
first on PATH, and checks what each one promises.

usage: readme_examples.py README VORMEL_DIR EXAMPLE
       readme_examples.py --list
"""
import itertools, os, re, shutil, subprocess, sys, tempfile
from pathlib import Path

SECTIONS = ("Examples", "Many files or many machines")
TAG = re.compile(rb" {4,8}(\d{1,5})\n")


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


def tagged(path, text):
    """Each output line is the input line of the same place plus a tag."""
    with open(path, "rb") as out:
        for line, want in itertools.zip_longest(out, text):
            assert line is not None and want is not None, "lines lost or added"
            tag = TAG.fullmatch(line[-10:])
            assert line[:-10] == want and tag and int(tag[1]) <= 50000, line


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


def xargs(out, work, logs, block):
    for log, text in logs.items():
        tagged(work / (log + ".tagged"), text)
    assert len(list(work.iterdir())) == 2 * len(logs), "files other than the tagged ones"


def setup_file(work, block):
    text = lines(100_000)
    write(work / "file", text)
    return text


def setup_big(work, block):
    """A quarter over the example's --block, so that the file is cut into
    blocks, which must come out whole and in order; lines of some 100 bytes
    keep the check quick."""
    size = int(re.search(r"--block (\d+)M", block)[1]) << 20
    text = lines(size // 100 * 5 // 4, pad=90)
    write(work / "big.log", text)
    # The first block, the one that begins with the empty first line, is
    # held back until the others are done, so that only --keep-order puts
    # its lines first.
    wrapper = work / "bin" / "vormel"
    wrapper.parent.mkdir()
    wrapper.write_text('#!/bin/sh\nPATH=${PATH#*:}\nblock=$(mktemp block.XXXXXX)\ncat >"$block"\n'
                       '[ -n "$(head -n 1 "$block")" ] || sleep 1\nexec vormel <"$block"\n')
    wrapper.chmod(0o755)
    return text


def setup_logs(work, block):
    logs = {f"{name}.log": lines(500 * n) for n, name in
            enumerate(("a", "b", "with space", "d", "e", "f"), 1)}
    for log, text in logs.items():
        write(work / log, text)
    return logs


def missing(tool):
    if not shutil.which(tool):
        return f"{tool} is not installed"
    if tool == "parallel" and b"GNU parallel" not in subprocess.run(
            [tool, "--version"], capture_output=True).stdout:
        return "parallel is not GNU parallel (Debian's package parallel)"
    return None


# name: (what marks its block, a tool that may be missing, setup, check)
EXAMPLES = {
    "shuffle": (lambda b: "sort" in b and "head" not in b, "sort", setup_file, shuffle),
    "sample": (lambda b: "sort" in b and "head -n" in b, "head", setup_file, sample),
    "one_in_ten": (lambda b: "sort" not in b and "awk" in b, "awk", setup_file, one_in_ten),
    "parallel": (lambda b: b.startswith("parallel "), "parallel", setup_big,
                 lambda out, work, text, block: tagged(work / "tagged.log", text)),
    "xargs": (lambda b: "xargs" in b, "xargs", setup_logs, xargs),
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
    _, tool, setup, check = EXAMPLES[name]
    if reason := missing(tool):
        print(f"skipped: {reason}")
        return
    with tempfile.TemporaryDirectory() as directory:
        work = Path(directory)
        path = [str(work / "bin"), vormel_dir, os.environ["PATH"]]
        env = dict(os.environ, PATH=os.pathsep.join(path))
        given = setup(work, block)
        run = subprocess.run(["sh", "-c", block], cwd=work, env=env, stdout=subprocess.PIPE)
        assert run.returncode == 0, f"exit status {run.returncode}"
        check(run.stdout, work, given, block)
    print(f"ok: {name}")


if __name__ == "__main__":
    main()
