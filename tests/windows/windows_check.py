#!/usr/bin/env python3
"""Checks of the Windows builds (scripts/build-windows), one per command:

  tables BITS     the add-in's export and import tables
  prefix BITS     a fresh Wine prefix for that bitness's checks, started once
  solve BITS      Solve through the Windows host under Wine against `ombrix solve --json`
  commands BITS   About with the registry value written, absent or odd; RunTests; Test; close
  installer       the NSIS installer, installed silently under Wine, then uninstalled
  stop BITS       ends the prefix's Wine server (for 32 bits, the installer's too)

Each bitness has a prefix of its own (PREFIX/32, PREFIX/64), and the installer a copy of the 32-bit
one (PREFIX/installer). The 64-bit checks start the 64-bit
loader directly, so they never need the 32-bit one. The 32-bit checks (and the installer, a 32-bit
program) need a machine that runs i386 programs, natively or under emulation (scripts/setup
--windows arranges it); where none runs they report themselves skipped, with the reason.
A check that changes the registry or the prefix puts it back when it ends, also when it fails or
runs out of time (--time-limit is kept shorter than the test's timeout so that there is time left).
"""

import argparse
import csv
import hashlib
import io
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

ENTRY_POINTS = {"xlAutoOpen", "xlAutoClose", "xlAutoAdd", "xlAutoRemove", "xlAddInManagerInfo",
                "xlAutoFree", "Solve", "Options", "About", "RunTests", "Test", "CheckInstance"}
# What a module may import besides Excel4v: the system libraries every Windows has.
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "advapi32.dll", "ole32.dll", "oleaut32.dll", "user32.dll"}
PRODUCT_KEY = r"HKLM\Software\Quenmark\Ombrix"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Ombrix"
# Debian's Wine loaders: the 32-bit one is an i386 program, the 64-bit one is not.
WINE32 = "/usr/lib/wine/wine"
WINE64 = "/usr/lib/wine/wine64"
I386_WINE = "/usr/lib/i386-linux-gnu/wine"  # 32-bit Wine's libraries (wine32:i386)
# No .NET, browser engine or desktop menus to set up in a prefix made for console programs.
WINE_OVERRIDES = "mscoree,mshtml=;winemenubuilder.exe,iexplore.exe=d"
SKIPPED = 77  # the tests' SKIP_RETURN_CODE
# Time kept back from --time-limit for putting the registry and the prefix back.
CLEANUP_SECONDS = 90
deadline = None
INSTALLER = "installer"  # the installer's prefix, beside PREFIX/32 and PREFIX/64
INSTALL_FOLDER = r"C:\Program Files\Ombrix"  # where the installer puts the add-in by default

# Settings for Solve: the production plan in its arithmetic-only form, as flags of `ombrix solve`.
SOLVE_CASES = [
    ["--var", "B3:D3", "--min", "B4:D4", "--max", "B5:D5", "--objective", "B16", "--goal", "maximise"],
    ["--var", "B3:D3", "--min", "B4:D4", "--max", "B5:D5", "--objective", "B16", "--goal", "minimise",
     "--seed", "7", "--population", "30", "--generations", "60", "--trials", "3", "--mutation", "0.05"],
    # The other strategies, through the Options dialog first.
    ["--var", "B3:D3", "--min", "B4:D4", "--max", "B5:D5", "--objective", "B16", "--goal", "maximise",
     "--strategy", "shade", "--generations", "40"],
    ["--var", "B3:D3", "--min", "B4:D4", "--max", "B5:D5", "--objective", "B16", "--goal", "minimise",
     "--strategy", "real", "--seed", "5", "--generations", "40", "--stop-after", "5"],
    ["--var", "B3:D3", "--min", "B4:D4", "--max", "B5:D5", "--objective", "B16", "--goal", "maximise",
     "--strategy", "de", "--seed", "9", "--generations", "40", "--target", "2351"],
]
OPTION_LABELS = {"--strategy": "Strategy", "--stop-after": "Stop After", "--target": "Target"}
SOLVE_LABELS = {"--var": "Var Vector", "--min": "Min Vector", "--max": "Max Vector",
                "--objective": "Function Cell", "--goal": "Goal", "--seed": "Seed",
                "--population": "Population", "--generations": "Generations", "--trials": "Trials",
                "--crossover": "Crossover Rate", "--mutation": "Mutation Rate"}


def fail(message):
    print("FAILED: " + message, file=sys.stderr)
    sys.exit(1)


def skip(message):
    print("SKIPPED: " + message)
    sys.exit(SKIPPED)


def runs_i386():
    """Whether this machine starts i386 programs, natively or through a binfmt_misc emulator."""
    if not os.path.exists(WINE32):
        return False
    try:
        return subprocess.run([WINE32, "--version"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=60).returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        return False


def require_bits(bits):
    if bits == "32" and not runs_i386():
        skip("this machine does not run 32-bit (i386) programs such as 32-bit Wine and the installer "
             "(%s does not start), not even under emulation: scripts/setup --windows registers "
             "qemu-i386 for them where binfmt_misc can be used" % WINE32)


def wine(bits):
    """The loader for programs of that bitness."""
    return WINE32 if bits == "32" else WINE64


def build_dir(args, bits):
    return os.path.join(args.source, "build-win%s" % bits)


def addin_path(args, bits):
    path = os.path.join(build_dir(args, bits), "src", "ombrix.xll" if bits == "32" else "ombrix64.xll")
    if not os.path.exists(path):
        fail(path + " is missing: run scripts/build-windows first")
    return path


def prefix_dir(args, bits):
    return os.path.join(args.prefix, bits)


def wine_env(args, bits):
    # Both prefixes are 64-bit Windows; the 32-bit one also has the 32-bit side (syswow64).
    env = dict(os.environ, WINEPREFIX=prefix_dir(args, bits), WINEARCH="win64", WINEDEBUG="-all",
               WINEDLLOVERRIDES=WINE_OVERRIDES)
    env.pop("DISPLAY", None)
    env.pop("WINELOADER", None)
    return env


PAUSE_LINE = '{"step": "Pause"}'


def run(command, env=None, check=True, cleanup=False, at_pause=None):
    """Runs a program to its end, within the check's time limit; a cleanup step has time of its own.
    at_pause(i) runs when the Windows host prints its i-th Pause line; the host goes on after it."""
    if cleanup or deadline is None:
        limit = CLEANUP_SECONDS
    else:
        limit = deadline - time.monotonic()
        if limit <= 0:
            fail("out of time before %s" % " ".join(command))
    # Output goes through files, not pipes: Wine's services outlive the program that started
    # them and would hold a pipe open. The output is read through a handle of its own, whose
    # offset is not the program's.
    with tempfile.TemporaryDirectory() as scratch:
        out_path, err_path = os.path.join(scratch, "out"), os.path.join(scratch, "err")
        with open(out_path, "w") as out, open(err_path, "w") as err:
            process = subprocess.Popen(command, env=env, stdout=out, stderr=err, text=True,
                                       stdin=subprocess.PIPE if at_pause else subprocess.DEVNULL)
        code = wait_through_pauses(process, out_path, time.monotonic() + limit, at_pause)
        with open(out_path) as out, open(err_path) as err:
            done = subprocess.CompletedProcess(command, code, out.read(), err.read())
    if code is None:
        message = "%s did not finish in %.0f s, the time left to this check\n%s%s" % (
            " ".join(command), limit, done.stdout, done.stderr)
        if check:
            fail(message)
        print(message, file=sys.stderr)
        done.returncode = -1
    elif check and done.returncode != 0:
        fail("%s exited %d\n%s%s" % (" ".join(command), done.returncode, done.stdout, done.stderr))
    return done


def wait_through_pauses(process, out_path, end, at_pause):
    """The program's exit code, or None once it has been stopped at the end of its time."""
    paused = 0
    try:
        while True:
            try:
                return process.wait(timeout=0.2)
            except subprocess.TimeoutExpired:
                pass
            if time.monotonic() > end:
                return None
            if at_pause:
                with open(out_path) as out:
                    pauses = out.read().count(PAUSE_LINE)
                while paused < pauses:
                    at_pause(paused)
                    paused += 1
                    process.stdin.write("\n")
                    process.stdin.flush()
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()
        if process.stdin:
            try:
                process.stdin.close()
            except OSError:
                pass


def objdump(args, bits, path):
    tool = ("i686" if bits == "32" else "x86_64") + "-w64-mingw32-objdump"
    return run([tool, "-p", path]).stdout


def exports(dump):
    table = dump.split("[Ordinal/Name Pointer] Table", 1)
    if len(table) < 2:
        return []
    names = []
    for line in table[1].splitlines()[1:]:
        m = re.match(r"\s*\[\s*\d+\]\s+(\S+)$", line)
        if not m:
            break
        names.append(m.group(1))
    return names


def imports(dump):
    """{dll name (lower case): [imported names]}."""
    found = {}
    current = None
    for line in dump.splitlines():
        m = re.match(r"\s*DLL Name: (\S+)", line)
        if m:
            current = found.setdefault(m.group(1).lower(), [])
            continue
        m = re.match(r"\s*[0-9a-f]+\s+[0-9a-f]+\s+(\S+)$", line)
        if current is not None and m:
            current.append(m.group(1))
        elif not line.strip():
            current = None
    return found


def check_tables(args, bits):
    machine = "pei-i386" if bits == "32" else "pei-x86-64"
    addin = addin_path(args, bits)
    dump = objdump(args, bits, addin)
    if "file format " + machine not in dump:
        fail("%s is not %s" % (addin, machine))
    names = exports(dump)
    if sorted(names) != sorted(ENTRY_POINTS):
        fail("%s exports %s, not the entry points %s" % (addin, sorted(names), sorted(ENTRY_POINTS)))
    table = imports(dump)
    if table.get("xlcall32.dll") != ["Excel4v"]:
        fail("%s imports %s from XLCALL32.DLL, not Excel4v alone" % (addin, table.get("xlcall32.dll")))
    others = set(table) - {"xlcall32.dll"} - SYSTEM_DLLS
    if others:
        fail("%s imports DLLs that Windows does not have: %s" % (addin, sorted(others)))
    # The host's callback library offers the entry under the same plain name.
    library = os.path.join(build_dir(args, bits), "bin", "XLCALL32.DLL")
    if "Excel4v" not in exports(objdump(args, bits, library)):
        fail(library + " does not export Excel4v")
    print("%s: %d exports, imports %s" % (os.path.basename(addin), len(names), sorted(table)))


def boot_command(args, bits):
    """wineboot for the prefix. The 64-bit checks start no 32-bit program, so their prefix gets no
    32-bit side: where 32-bit Wine is installed, wineboot runs in a mount namespace of its own in
    which 32-bit Wine's libraries are hidden, so that it never waits on the 32-bit loader (which
    may be emulated, or refused)."""
    boot = [WINE64, "wineboot", "--init"]
    if bits == "32" or not os.path.isdir(I386_WINE):
        return boot
    if os.geteuid() != 0 or not shutil.which("unshare"):
        print("note: not root, so the 64-bit prefix gets a 32-bit side too (32-bit Wine is installed)")
        return boot
    empty = os.path.join(args.prefix, "empty")
    os.makedirs(empty, exist_ok=True)
    return ["unshare", "--mount", "sh", "-c", 'mount --bind "$1" "$2" && shift 2 && exec "$@"', "sh",
            empty, I386_WINE] + boot


def template_dir(bits):
    """Where a freshly made prefix is kept for later runs, named after what made it (the Wine
    build and its wine.inf): under emulation the 32-bit side takes minutes to set up."""
    digest = hashlib.sha256()
    for path in (WINE64, WINE32, "/usr/share/wine/wine.inf"):
        if os.path.exists(path):
            with open(path, "rb") as f:
                digest.update(f.read())
    digest.update(WINE_OVERRIDES.encode())
    cache = os.environ.get("XDG_CACHE_HOME") or os.path.join(os.path.expanduser("~"), ".cache")
    return os.path.join(cache, "ombrix", "wine-prefix-%s-%s" % (bits, digest.hexdigest()[:16]))


def start_prefix(args, bits):
    require_bits(bits)
    prefix = prefix_dir(args, bits)
    # A server left from an earlier run is found through the prefix: stop it before replacing it.
    if os.path.isdir(prefix):
        stop_prefix(args, bits)
    shutil.rmtree(prefix, ignore_errors=True)
    env = wine_env(args, bits)
    template = template_dir(bits) if bits == "32" else None
    try:
        if template and os.path.isdir(template):
            shutil.copytree(template, prefix, symlinks=True)
            print("prefix copied from " + template)
        else:
            os.makedirs(prefix)
            run(boot_command(args, bits), env=env)
            # wineboot returns before the setup it started has finished; the server ends with it.
            run(["wineserver", "--wait"], env=env)
            if bits == "32" and not os.path.isdir(os.path.join(prefix, "drive_c", "windows", "syswow64")):
                fail("the Wine prefix has no 32-bit side (is wine32:i386 installed?)")
            if template:
                partial = template + ".partial-%d" % os.getpid()
                shutil.copytree(prefix, partial, symlinks=True)
                shutil.rmtree(template, ignore_errors=True)
                os.rename(partial, template)
        prefixes = [bits]
        if bits == "32":
            # The installer writes the product key that the About checks write too: it has a
            # prefix of its own, a copy of this fresh one, so that the two run side by side.
            shutil.rmtree(prefix_dir(args, INSTALLER), ignore_errors=True)
            shutil.copytree(prefix, prefix_dir(args, INSTALLER), symlinks=True)
            prefixes.append(INSTALLER)
        # A server that stays up until the last check stops it: each Wine program then starts in
        # a fraction of a second instead of bringing the prefix's services up again.
        for name in prefixes:
            run(["wineserver", "--persistent"], env=wine_env(args, name))
    except BaseException:
        # A prefix half made is no use to the checks after this one.
        stop_prefix(args, bits)
        shutil.rmtree(prefix, ignore_errors=True)
        shutil.rmtree(prefix_dir(args, INSTALLER), ignore_errors=True)
        raise


def stop_prefix(args, bits):
    for name in [bits] + ([INSTALLER] if bits == "32" else []):
        if os.path.isdir(prefix_dir(args, name)):
            run(["wineserver", "--kill"], env=wine_env(args, name), check=False, cleanup=True)


def set_registry(args, bits, value, cleanup=False):
    """The product key in that bitness's view: absent (None), without a version (""), or with this
    version. The 64-bit reg writes both views, so no 32-bit program is started for it."""
    lines = ["REGEDIT4", "", "[-HKEY_LOCAL_MACHINE\\Software\\Quenmark\\Ombrix]", ""]
    if value is not None:
        lines.append("[HKEY_LOCAL_MACHINE\\Software\\Quenmark\\Ombrix]")
        if value:
            lines.append('"Version"="%s"' % value.replace("\\", "\\\\").replace('"', '\\"'))
    with tempfile.NamedTemporaryFile("w", suffix=".reg", delete=False) as f:
        f.write("\r\n".join(lines) + "\r\n")
    try:
        run([WINE64, "reg", "import", f.name, "/reg:" + bits], env=wine_env(args, bits), cleanup=cleanup)
    finally:
        os.unlink(f.name)


def host_steps(args, bits, book, fields, commands, options=(), at_pause=None):
    """Runs the Windows host under Wine; {step: its JSON line}. With Pause among the commands, a
    list of them, one for each stretch between two pauses, and at_pause(i) runs at the i-th."""
    exe = os.path.join(build_dir(args, bits), "bin", "ombrix-host.exe")
    command = [wine(bits), exe, addin_path(args, bits)] + list(options)
    if book:
        command += ["--book", book]
    for label, value in fields:
        command += ["--field", "%s=%s" % (label, value)]
    done = run(command + commands, env=wine_env(args, bits), at_pause=at_pause)
    lines = [json.loads(line) for line in done.stdout.splitlines()]
    if [line["step"] for line in lines] != ["xlAutoOpen"] + commands + ["xlAutoClose"]:
        fail("the host ran %s\n%s" % ([line["step"] for line in lines], done.stderr))
    if lines[0]["result"] != 1 or "&Ombrix" not in lines[0]["menus"]:
        fail("xlAutoOpen did not open the add-in: %s" % lines[0])
    # Closing takes back everything opening added.
    close = lines[-1]
    if close["procedures"] or close["menus"]:
        fail("xlAutoClose left %s" % close)
    stretches = [{}]
    for line in lines:
        if line["step"] == "Pause":
            stretches.append({})
        else:
            stretches[-1][line["step"]] = line
    return stretches if "Pause" in commands else stretches[0]


def bits_of(values):
    return {key: float(value).hex() for key, value in values.items()}


def check_solve(args, bits):
    require_bits(bits)
    model = os.path.join(args.source, "examples", "production.csv")
    for flags in SOLVE_CASES:
        with tempfile.TemporaryDirectory() as scratch:
            linux = json.loads(run([args.ombrix, "solve", model, "--json", "-o",
                                    os.path.join(scratch, "solved.csv")] + flags).stdout)
        pairs = [(flags[i], flags[i + 1]) for i in range(0, len(flags), 2)]
        fields = [(SOLVE_LABELS[f], v) for f, v in pairs if f in SOLVE_LABELS]
        option_fields = [a for f, v in pairs if f in OPTION_LABELS for a in ("--option", "%s=%s" % (OPTION_LABELS[f], v))]
        commands = (["Options"] if option_fields else []) + ["Solve"]
        windows = host_steps(args, bits, model, fields, commands, option_fields)["Solve"]
        for key in ("variables", "objective"):
            if bits_of(windows[key]) != bits_of(linux[key]):
                fail("%s differ with %s:\nWindows %s\nLinux   %s" % (key, flags, windows[key], linux[key]))
        if windows["evaluations"] != linux["evaluations"]:
            fail("evaluations differ: Windows %s, Linux %s" % (windows["evaluations"], linux["evaluations"]))
        print("equal bits (%d-bit, %s): %s %s" % (int(bits), " ".join(flags), windows["variables"], windows["objective"]))


def read_sheet(text):
    return [row for row in csv.reader(io.StringIO(text))]


def check_commands(args, bits):
    require_bits(bits)
    linux_about = run([args.ombrix, "about"]).stdout.rstrip("\n")
    version = linux_about.split("\n", 1)[0]
    if not version.startswith("Ombrix V"):
        fail("ombrix about printed " + linux_about)
    version = version[len("Ombrix V"):]
    help_text = linux_about[len("Ombrix V" + version):]

    block = os.path.join(args.source, "tests", "windows", "test_block.csv")
    # Registry value written -> the version About shows. The 32-bit build reads the 32-bit view:
    # its rows are the ones whose reading could differ by bitness (the key missing, a value, one
    # longer than the buffer), as each 32-bit run may be emulated and take minutes.
    cases = [(None, "no key path"), ("", "no key"), (version, version), ("1.2\\", "1.2"),
             ("9" * 256, "no key")]
    if bits == "32":
        cases = [case for case in cases if case[0] in (None, version, "9" * 256)]
    # The key missing is read once with the spreadsheet version that has the add-in look for the
    # program through automation (there is none to find under Wine; the add-in must open all the
    # same); the other values in one session, written while the host waits between two Abouts.
    sessions = [cases[:1], cases[1:]]
    full = None
    try:
        for session in sessions:
            commands = []
            for value, _ in session:
                commands += (["Pause"] if commands else []) + (["About", "RunTests", "Test"] if value == version
                                                               else ["About"])
            options = ["--program-version", "8.0"] if session[0][0] is None else []
            with_block = any(value == version for value, _ in session)
            set_registry(args, bits, session[0][0])
            stretches = host_steps(args, bits, block if with_block else None, [], commands, options,
                                   at_pause=lambda i, s=session: set_registry(args, bits, s[i + 1][0]))
            if not isinstance(stretches, list):
                stretches = [stretches]
            for (value, shown), steps in zip(session, stretches):
                alerts = steps["About"]["alerts"]
                if [a["text"] for a in alerts] != ["Ombrix V" + shown + help_text]:
                    fail("About with %r in the registry showed %s" % (value, alerts))
                full = steps if value == version else full
    finally:
        # The prefix starts without the key; the checks after this one find it so.
        set_registry(args, bits, None, cleanup=True)

    steps = full
    if steps["RunTests"]["alerts"]:
        fail("RunTests reported %s" % steps["RunTests"]["alerts"])
    with open(block) as f:
        before = read_sheet(f.read())
    after = read_sheet(steps["Test"]["sheet"])
    copied = [[after[y + 1][x + 1] for x in range(3)] for y in range(3)]
    if copied != [row[:3] for row in before[:3]] or after[0][:3] != before[0][:3]:
        fail("Test did not copy A1:C3 to B2:D4:\nbefore %s\nafter  %s" % (before, after))
    # Exported but no command (xlAutoFree would free whatever its missing argument points at):
    # refused as a usage error before anything is called. One start where it may be emulated.
    exe = os.path.join(build_dir(args, bits), "bin", "ombrix-host.exe")
    for name in ["xlAutoFree", "CheckInstance", "xlAutoOpen"] if bits == "64" else ["xlAutoFree"]:
        done = run([wine(bits), exe, addin_path(args, bits), name], env=wine_env(args, bits), check=False)
        if done.returncode != 2 or "%s is not a command of the add-in" % name not in done.stderr:
            fail("asked to run %s, the host ended with %d: %s" % (name, done.returncode, done.stderr))
    print("%d-bit: About, RunTests, Test and xlAutoClose as expected" % int(bits))


def registry_version(args, view, cleanup=False):
    """The product key's Version in a view of the installer's prefix's registry: None without the
    key, "" without the value."""
    env = wine_env(args, INSTALLER)
    if run([WINE64, "reg", "query", PRODUCT_KEY, view], env=env, check=False, cleanup=cleanup).returncode != 0:
        return None
    query = run([WINE64, "reg", "query", PRODUCT_KEY, "/v", "Version", view], env=env, check=False,
                cleanup=cleanup)
    m = re.search(r"^\s*Version\s+REG_SZ\s+(.*?)\s*$", query.stdout, re.M)
    return m.group(1) if query.returncode == 0 and m else ""


def remove_installation(args, target):
    """What a failed or stopped install left: the files and the keys the installer writes."""
    env = wine_env(args, INSTALLER)
    shutil.rmtree(target, ignore_errors=True)
    for view in ("/reg:32", "/reg:64"):
        for key in (PRODUCT_KEY, UNINSTALL_KEY):
            run([WINE64, "reg", "delete", key, "/f", view], env=env, check=False, cleanup=True)


def check_installer(args):
    require_bits("32")
    installers = sorted(f for f in os.listdir(os.path.join(args.source, "dist"))
                        if f.endswith(".exe")) if os.path.isdir(os.path.join(args.source, "dist")) else []
    if not installers:
        fail("no installer in dist/: run scripts/package first")
    version = run([args.ombrix, "about"]).stdout.split("\n", 1)[0][len("Ombrix V"):]
    env = wine_env(args, INSTALLER)
    if not os.path.isdir(prefix_dir(args, INSTALLER)):
        fail("no Wine prefix for the installer: the prefix check for 32 bits makes it")
    installer = os.path.join(args.source, "dist", installers[-1])
    target = os.path.join(prefix_dir(args, INSTALLER), "drive_c", "Program Files", "Ombrix")
    finished = False
    try:
        run([WINE32, installer, "/S"], env=env)
        for name in ("ombrix.xll", "ombrix64.xll", "uninstall.exe"):
            if not os.path.exists(os.path.join(target, name)):
                fail("the installer did not install %s in %s" % (name, target))
        # About shows what the installer wrote: the version `ombrix about` shows.
        for view in ("/reg:32", "/reg:64"):
            written = registry_version(args, view)
            if written != version:
                fail("the installer wrote the version %r (%s), not %r" % (written, view, version))
        # Run in place (_?=), the uninstaller does not start a copy of itself from the temporary
        # folder (one 32-bit program fewer, and it is done when it returns), but it cannot delete
        # itself, nor so the folder.
        # _?= takes the folder unquoted, spaces and all, which Wine's quoting of arguments would
        # not keep: the command line is written out as a batch file for cmd.
        with tempfile.TemporaryDirectory() as scratch:
            batch = os.path.join(scratch, "uninstall.bat")
            with open(batch, "w") as f:
                f.write('@"%s\\uninstall.exe" /S _?=%s\r\n' % (INSTALL_FOLDER, INSTALL_FOLDER))
            run([WINE64, "cmd", "/c", "Z:" + batch.replace("/", "\\")], env=env)
        left = sorted(os.listdir(target)) if os.path.exists(target) else []
        if left not in ([], ["uninstall.exe"]):
            fail("uninstalling left %s" % left)
        shutil.rmtree(target, ignore_errors=True)
        for view in ("/reg:32", "/reg:64"):
            if registry_version(args, view) is not None:
                fail("uninstalling left the registry key (%s)" % view)
        finished = True
    finally:
        if not finished:
            remove_installation(args, target)
    print("installed, checked and uninstalled " + installers[-1])


def main():
    global deadline
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True)
    parser.add_argument("--prefix", required=True, help="the folder of the two prefixes, 32 and 64")
    parser.add_argument("--ombrix")
    parser.add_argument("--time-limit", type=float, help="seconds, the cleanup's time not counted")
    parser.add_argument("check", choices=["tables", "prefix", "solve", "commands", "installer", "stop"])
    parser.add_argument("bits", nargs="?", choices=["32", "64"])
    args = parser.parse_args()
    # Stopped from outside (Ctrl-C, ctest ending the run): the cleanup in the checks still runs.
    signal.signal(signal.SIGTERM, lambda *_: fail("stopped"))
    if (args.bits is None) != (args.check == "installer"):
        parser.error("installer takes no bitness; every other check takes one")
    if args.time_limit:
        deadline = time.monotonic() + args.time_limit
    if args.check == "installer":
        check_installer(args)
    else:
        {"tables": check_tables, "solve": check_solve, "commands": check_commands,
         "prefix": start_prefix, "stop": stop_prefix}[args.check](args, args.bits)


if __name__ == "__main__":
    main()
