#!/usr/bin/env python3
"""Runs the tests of a cross build that need a real kernel (the suite Kernel:
the sandbox, stops, waits, a filter of stat calls) natively, under Debian's
own kernel for the target CPU booted in qemu-system; qemu-user, which
refuses seccomp filters, runs the rest.

The initramfs holds busybox, the programs and the test binary at the paths the
test binary has compiled in, and the libraries they need from the cross
sysroot. Its /init runs the tests and reports on the serial console. Exits 77,
which CTest takes as skipped, when the emulator or a package cannot be had,
unless VORMEL_REAL_KERNEL=required.

Where VORMEL_REAL_KERNEL_STATIC names a static vormel of the same CPU, such as
the one of a release archive, the machine also runs the end-to-end tests of
any vormel against that one; it must pass the test that its filter is on."""

import argparse
import gzip
import lzma
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

SKIPPED = 77
# The tests that need a real kernel; qemu-user has run the rest.
SUITES = "Kernel.*"
STATIC = "/static/vormel"
STATIC_LISTED = " against the static vormel"
CONFINED = "Kernel.TheFilterIsOnWhileTagging"
END = "vormel-vm: end, status "

def machine(table, arch):
    """From the table of CPUs, the row of Debian architecture `arch`: the
    emulator's command, the console, the kernel's metapackage and where that
    keeps the kernel."""
    for line in Path(table).read_text().splitlines():
        if line.strip() and not line.startswith("#"):
            row = line.split(None, 9)
            if row[0] == arch and row[6] != "-":
                return row[9].split(), row[8], row[6], row[7]
    return None


INIT = """#!/bin/busybox sh
/bin/busybox --install -s
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mkdir /dev/pts
mount -t devpts devpts /dev/pts
insmod /overlay.ko
# The initramfs itself is writable, and /tmp stays on it: the build tree may
# lie under /tmp, and a file system mounted there would hide it.
chmod 1777 /tmp
exec </dev/console >/dev/console 2>&1
echo "vormel-vm: up after $(cut -d' ' -f1 /proc/uptime) s, Linux $(uname -r) on $(uname -m)"
cd /tmp
export GTEST_COLOR=no
status=0
# run_tests FILTER WHAT: one process per test, as CTest runs them: none sees
# what another left behind, and a crash loses only its own result.
run_tests() {{
    tests=$({test} --gtest_list_tests --gtest_filter="$1" | awk '/^[^ ]/ {{ suite = $1 }} /^ / {{ print suite $1 }}')
    echo "vormel-vm: $(echo $tests | wc -w) tests$2"
    for name in $tests; do
        {test} --gtest_filter="$name" || status=1
    done
}}
run_tests '{suites}' ""
{static}
echo "{end}$status after $(cut -d' ' -f1 /proc/uptime) s"
poweroff -f
"""

# A static vormel, such as a released one, takes the tests of any vormel but
# the long ones, which the suite's own run covers, and shows its filter on.
STATIC_INIT = """
export VORMEL_UNDER_TEST={static}
run_tests 'Vormel.*:Faults.*:{confined}' "{listed}"
unset VORMEL_UNDER_TEST
"""


def skip(reason):
    # CI installs all it needs: there a skip would hide a run that never was.
    if os.environ.get("VORMEL_REAL_KERNEL") == "required":
        sys.exit(f"not run, though required: {reason}")
    print(f"skipped: {reason}")
    sys.exit(SKIPPED)


def versions(*packages):
    """The fields of every version of each package that apt knows, newest
    first, by "name:architecture" (one call: apt-cache reads all its lists
    each time)."""
    shown = subprocess.run(["apt-cache", "show", *packages], capture_output=True, text=True).stdout
    found = {}
    for stanza in shown.split("\n\n"):
        fields = dict(re.findall(r"^([\w-]+): (.*)$", stanza, re.M))
        if "Package" in fields:
            found.setdefault(f"{fields['Package']}:{fields['Architecture']}", []).append(fields)
    return found


def fetched(choices, members, cache):
    """`members` (globs) of the first of `choices`, (package, version) pairs,
    that can be downloaded, fetched once: their paths here, and the package.
    A mirror may lag behind the lists that name it, so an older version may
    be the one it has."""
    failures = []
    for package, version in choices:
        folder = cache / re.sub(r"[^\w.+-]", "_", f"{package}={version}")
        targets = [folder / Path(member).name.rstrip("*-") for member in members]
        if all(target.exists() for target in targets):
            return targets, package
        with tempfile.TemporaryDirectory() as work:
            got = subprocess.run(["apt-get", "download", f"{package}={version}"],
                                 cwd=work, capture_output=True, text=True)
            if got.returncode != 0:
                failures.append(got.stderr.strip().splitlines()[-1][-160:])
                continue
            subprocess.run(["dpkg-deb", "-x", *Path(work).glob("*.deb"), f"{work}/root"], check=True)
            folder.mkdir(parents=True, exist_ok=True)
            for member, target in zip(members, targets):
                partial = target.with_suffix(".part")
                shutil.copy(sorted(Path(work, "root").glob(member))[-1], partial)
                partial.rename(target)
        return targets, package
    skip(f"apt-get download failed for every version: {'; '.join(failures)}")


def libraries(readelf, elf, triple, sysroot):
    """The interpreter and the shared libraries that `elf` needs, found in the
    cross sysroot: {path in the guest: path here}."""
    search = [sysroot / "lib", Path(f"/usr/lib/{triple}"), Path(f"/lib/{triple}")]
    found, queue = {}, [Path(elf)]
    while queue:
        headers = subprocess.run([readelf, "-W", "-l", "-d", queue.pop()],
                                 capture_output=True, text=True, check=True).stdout
        for interpreter in re.findall(r"program interpreter: (\S+)\]", headers):
            found[interpreter] = sysroot / Path(interpreter).relative_to("/")
        for name in re.findall(r"\(NEEDED\).*\[(.+)\]", headers):
            guest = f"/lib/{triple}/{name}"
            if guest not in found:
                here = next((d / name for d in search if (d / name).exists()), None)
                if here is None:
                    sys.exit(f"{name}, needed by the tests, is not in {', '.join(map(str, search))}")
                found[guest] = here
                queue.append(here)
    return found


def initramfs(args, triple, busybox, overlay, static, image):
    with tempfile.TemporaryDirectory() as root:
        files = {"/bin/busybox": busybox, "/overlay.ko": overlay}
        static_run = ""
        if static:
            files[STATIC] = static
            static_run = STATIC_INIT.format(static=STATIC, confined=CONFINED, listed=STATIC_LISTED)
        for elf in args.programs:
            files[str(Path(elf).absolute())] = Path(elf)
            files.update(libraries(args.readelf, elf, triple, args.sysroot))
        for guest, here in files.items():
            Path(root + guest).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy(here, root + guest)
        # Debian 13 compresses its modules, and busybox's insmod takes them plain.
        module = Path(root, "overlay.ko")
        if module.read_bytes().startswith(b"\xfd7zXZ"):
            module.write_bytes(lzma.decompress(module.read_bytes()))
        for directory in ["proc", "sys", "dev", "tmp", "sbin", "usr/bin", "usr/sbin"]:
            Path(root, directory).mkdir(parents=True, exist_ok=True)
        init = Path(root, "init")
        init.write_text(INIT.format(test=Path(args.programs[0]).absolute(), suites=SUITES,
                                    static=static_run, end=END))
        init.chmod(0o755)
        names = subprocess.run(["find", ".", "-mindepth", "1", "-print0"], cwd=root,
                               capture_output=True, check=True).stdout
        archive = subprocess.run(["cpio", "--null", "-o", "-H", "newc", "-R", "0:0", "--quiet"],
                                 cwd=root, input=names, capture_output=True, check=True).stdout
        image.write_bytes(gzip.compress(archive, compresslevel=1))


def verdicts(lines):
    """How many tests of each suite passed, were skipped and failed."""
    counts = {}
    for verdict, suite in re.findall(r"^\[ *(OK|SKIPPED|FAILED) *\] (\w+)\.\w+ \(", "\n".join(lines), re.M):
        counts.setdefault(suite, {}).setdefault(verdict, 0)
        counts[suite][verdict] += 1
    return counts


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--target", required=True, help="the multiarch library directory, as lib/<target>")
    parser.add_argument("--arch", required=True, help="Debian's name of the CPU, the row of --cpus")
    parser.add_argument("--cpus", required=True, help="the table of CPUs, .ci/cpus")
    parser.add_argument("--sysroot", type=Path, required=True, help="the cross compiler's, /usr/<triplet>")
    parser.add_argument("--readelf", default="readelf")
    parser.add_argument("--cache", type=Path, required=True, help="keeps kernel and busybox")
    parser.add_argument("--memory", default="512M")
    parser.add_argument("--timeout", type=float, default=600, help="seconds for boot and tests")
    parser.add_argument("--sandboxed", action="store_true", help="no Kernel test may be skipped")
    parser.add_argument("programs", nargs="+", help="the test binary first, then what it runs")
    args = parser.parse_args()
    static = os.environ.get("VORMEL_REAL_KERNEL_STATIC")
    if static and not Path(static).is_file():
        sys.exit(f"VORMEL_REAL_KERNEL_STATIC names no file: {static}")

    architecture = args.arch
    found = machine(args.cpus, architecture)
    if found is None:
        skip(f"no virtual machine for {architecture} in {args.cpus}")
    emulator, console, kernel_meta, kernel_file = found
    if not shutil.which(emulator[0]):
        skip(f"no {emulator[0]} on PATH (Debian has it in qemu-system-arm, -misc or -ppc)")
    kernel_meta, busybox_package = f"{kernel_meta}:{architecture}", f"busybox-static:{architecture}"
    known = versions(kernel_meta, busybox_package)
    for package in (kernel_meta, busybox_package):
        if package not in known:
            skip(f"apt knows no {package} (apt-get update, dpkg --add-architecture {architecture})")
    # The metapackage pins the kernel it stands for: "linux-image-6.1.0-57-arm64 (= 6.1.192-3)".
    pinned = [re.match(r"([\w.+-]+) \(= ([^)]+)\)", fields["Depends"]) for fields in known[kernel_meta]]
    kernels = [(f"{p[1]}:{architecture}", p[2]) for p in pinned if p]
    # overlayfs, a module in Debian's kernels, for the test of a file whose
    # inode number is above 2^32.
    (kernel, overlay), kernel_package = fetched(
        kernels, [kernel_file, "lib/modules/*/kernel/fs/overlayfs/overlay.ko*"], args.cache)
    # /bin/busybox up to Debian 12, /usr/bin/busybox from 13 on.
    busyboxes = [(busybox_package, fields["Version"]) for fields in known[busybox_package]]
    (busybox,), _ = fetched(busyboxes, ["**/bin/busybox"], args.cache)

    with tempfile.TemporaryDirectory() as work:
        image = Path(work, "initrd.gz")
        initramfs(args, args.target, busybox, overlay, static and Path(static), image)
        command = [*emulator, "-m", args.memory, "-nographic", "-no-reboot", "-net", "none",
                   "-kernel", str(kernel), "-initrd", str(image),
                   "-append", f"console={console} panic=-1 quiet"]
        print(f"booting {kernel_package}: {' '.join(command)}", flush=True)
        started = time.monotonic()
        qemu = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT)
        # A hung guest, and CTest's or a user's interrupt, end the emulator too.
        timer = threading.Timer(args.timeout, qemu.kill)
        timer.start()
        signal.signal(signal.SIGTERM, lambda *_: sys.exit("terminated"))
        output, booted = [], None
        try:
            for raw in qemu.stdout:
                line = raw.decode(errors="replace").rstrip("\r\n")
                print(line, flush=True)
                output.append(line)
                # Kernel messages may share a line with the guest's output.
                if booted is None and "vormel-vm: up" in line:
                    booted = time.monotonic() - started
        finally:
            timer.cancel()
            qemu.kill()
            qemu.wait()
        elapsed = time.monotonic() - started

    ends = [line.split(END, 1)[1].split()[0] for line in output if END in line]
    if not ends:
        sys.exit(f"no end marker after {elapsed:.0f} s (limit {args.timeout:.0f} s): the run did not finish")
    # One listing for the suites, one more for the static vormel.
    listed = re.findall(r"^vormel-vm: (\d+) tests(.*)$", "\n".join(output), re.M)
    wanted = [""] + ([STATIC_LISTED] if static else [])
    closed = sum(bool(re.match(r"\[==========\] 1 test from .* ran\.", line)) for line in output)
    if ([what for _, what in listed] != wanted or "0" in [n for n, _ in listed]
            or closed != sum(int(n) for n, _ in listed)):
        sys.exit(f"{closed} tests ran to their end of {listed or 'none'} listed: the run is partial")
    begin = next((i for i, line in enumerate(output) if static and line.endswith(STATIC_LISTED)), len(output))
    runs = [verdicts(output[:begin])] + ([verdicts(output[begin:])] if static else [])
    print(f"real kernel, {args.target}: booted in {booted:.1f} s, tests took {elapsed - booted:.1f} s; "
          + "; the static vormel: ".join(
              "; ".join(f"{suite}: {c.get('OK', 0)} passed, {c.get('SKIPPED', 0)} skipped, "
                        f"{c.get('FAILED', 0)} failed" for suite, c in sorted(counts.items()))
              for counts in runs))
    if args.sandboxed and runs[0].get("Kernel", {}).get("SKIPPED", 0):
        sys.exit("a test that needs a real kernel was skipped under one")
    if args.sandboxed and static and f"[       OK ] {CONFINED} (" not in "\n".join(output[begin:]):
        sys.exit(f"the static vormel did not pass {CONFINED}")
    if ends[-1] != "0":
        sys.exit(f"the tests exited with status {ends[-1]}")


if __name__ == "__main__":
    main()
