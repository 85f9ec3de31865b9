#!/usr/bin/env python3
"""Checks of the Windows builds (scripts/build-windows), one per command:

  tables BITS     the add-in's export and import tables
  prefix          a fresh Wine prefix, started once for the other checks
  solve BITS      Solve through the Windows host under Wine against `ombrix solve --json`
  commands BITS   About with the registry value written, absent or odd; RunTests; Test; close
  installer       the NSIS installer, installed silently under Wine, then uninstalled
  stop            ends the prefix's Wine server
"""

import argparse
import csv
import io
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

ENTRY_POINTS = {"xlAutoOpen", "xlAutoClose", "xlAutoAdd", "xlAutoRemove", "xlAddInManagerInfo",
                "xlAutoFree", "Solve", "About", "RunTests", "Test", "CheckInstance"}
# What a module may import besides Excel4v: the system libraries every Windows has.
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "advapi32.dll", "ole32.dll", "oleaut32.dll", "user32.dll"}
PRODUCT_KEY = r"HKLM\Software\Quenmark\Ombrix"

# Settings for Solve: the production plan in its arithmetic-only form, as flags of `ombrix solve`.
SOLVE_CASES = [
    ["--var", "B3:D3", "--min", "B4:D4", "--max", "B5:D5", "--objective", "B16", "--goal", "maximise"],
    ["--var", "B3:D3", "--min", "B4:D4", "--max", "B5:D5", "--objective", "B16", "--goal", "minimise",
     "--seed", "7", "--population", "30", "--generations", "60", "--trials", "3", "--mutation", "0.05"],
]
SOLVE_LABELS = {"--var": "Var Vector", "--min": "Min Vector", "--max": "Max Vector",
                "--objective": "Function Cell", "--goal": "Goal", "--seed": "Seed",
                "--population": "Population", "--generations": "Generations", "--trials": "Trials",
                "--crossover": "Crossover Rate", "--mutation": "Mutation Rate"}


def fail(message):
    print("FAILED: " + message, file=sys.stderr)
    sys.exit(1)


def build_dir(args, bits):
    return os.path.join(args.source, "build-win%s" % bits)


def addin_path(args, bits):
    path = os.path.join(build_dir(args, bits), "src", "ombrix.xll" if bits == "32" else "ombrix64.xll")
    if not os.path.exists(path):
        fail(path + " is missing: run scripts/build-windows first")
    return path


def wine_env(args):
    # No .NET, browser engine or desktop menus to set up in a prefix made for console programs.
    env = dict(os.environ, WINEPREFIX=args.prefix, WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d")
    env.pop("DISPLAY", None)
    return env


def run(command, env=None, check=True):
    # Output goes through files, not pipes: Wine's services outlive the program that started
    # them and would hold a pipe open.
    with tempfile.TemporaryFile("w+") as out, tempfile.TemporaryFile("w+") as err:
        code = subprocess.run(command, env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=err).returncode
        out.seek(0)
        err.seek(0)
        done = subprocess.CompletedProcess(command, code, out.read(), err.read())
    if check and done.returncode != 0:
        fail("%s exited %d\n%s%s" % (" ".join(command), done.returncode, done.stdout, done.stderr))
    return done


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


def start_prefix(args):
    # A server left from an earlier run is found through the prefix: stop it before replacing it.
    if os.path.isdir(args.prefix):
        stop_prefix(args)
    shutil.rmtree(args.prefix, ignore_errors=True)
    os.makedirs(args.prefix)
    env = wine_env(args)
    # A server that stays up until the last check stops it: each Wine program then starts in
    # a fraction of a second instead of bringing the prefix's services up again.
    run(["wineserver", "--persistent"], env=env)
    run(["wineboot", "--init"], env=env)
    # The 32-bit side must work in the prefix too: a prefix made without it runs 64-bit only.
    if not os.path.isdir(os.path.join(args.prefix, "drive_c", "windows", "syswow64")):
        fail("the Wine prefix has no 32-bit side (is wine32:i386 installed?)")


def stop_prefix(args):
    run(["wineserver", "--kill"], env=wine_env(args), check=False)


def set_registry(args, view, value):
    """The product key absent (None), without a version (""), or with this version."""
    lines = ["REGEDIT4", "", "[-HKEY_LOCAL_MACHINE\\Software\\Quenmark\\Ombrix]", ""]
    if value is not None:
        lines.append("[HKEY_LOCAL_MACHINE\\Software\\Quenmark\\Ombrix]")
        if value:
            lines.append('"Version"="%s"' % value.replace("\\", "\\\\").replace('"', '\\"'))
    with tempfile.NamedTemporaryFile("w", suffix=".reg", delete=False) as f:
        f.write("\r\n".join(lines) + "\r\n")
    try:
        run(["wine", "reg", "import", f.name, view], env=wine_env(args))
    finally:
        os.unlink(f.name)


def host_steps(args, bits, book, fields, commands, options=()):
    """Runs the Windows host under Wine; {step: its JSON line}."""
    exe = os.path.join(build_dir(args, bits), "bin", "ombrix-host.exe")
    command = ["wine", exe, addin_path(args, bits)] + list(options)
    if book:
        command += ["--book", book]
    for label, value in fields:
        command += ["--field", "%s=%s" % (label, value)]
    done = run(command + commands, env=wine_env(args))
    steps = {}
    for line in done.stdout.splitlines():
        step = json.loads(line)
        steps[step["step"]] = step
    if list(steps) != ["xlAutoOpen"] + commands + ["xlAutoClose"]:
        fail("the host ran %s\n%s" % (list(steps), done.stderr))
    if steps["xlAutoOpen"]["result"] != 1 or "&Ombrix" not in steps["xlAutoOpen"]["menus"]:
        fail("xlAutoOpen did not open the add-in: %s" % steps["xlAutoOpen"])
    # Closing takes back everything opening added.
    close = steps["xlAutoClose"]
    if close["procedures"] or close["menus"]:
        fail("xlAutoClose left %s" % close)
    return steps


def bits_of(values):
    return {key: float(value).hex() for key, value in values.items()}


def check_solve(args, bits):
    model = os.path.join(args.source, "examples", "production.csv")
    for flags in SOLVE_CASES:
        with tempfile.TemporaryDirectory() as scratch:
            linux = json.loads(run([args.ombrix, "solve", model, "--json", "-o",
                                    os.path.join(scratch, "solved.csv")] + flags).stdout)
        fields = [(SOLVE_LABELS[flags[i]], flags[i + 1]) for i in range(0, len(flags), 2)]
        windows = host_steps(args, bits, model, fields, ["Solve"])["Solve"]
        for key in ("variables", "objective"):
            if bits_of(windows[key]) != bits_of(linux[key]):
                fail("%s differ with %s:\nWindows %s\nLinux   %s" % (key, flags, windows[key], linux[key]))
        if windows["evaluations"] != linux["evaluations"]:
            fail("evaluations differ: Windows %s, Linux %s" % (windows["evaluations"], linux["evaluations"]))
        print("equal bits (%d-bit, %s): %s %s" % (int(bits), " ".join(flags), windows["variables"], windows["objective"]))


def read_sheet(text):
    return [row for row in csv.reader(io.StringIO(text))]


def check_commands(args, bits):
    view = "/reg:32" if bits == "32" else "/reg:64"
    linux_about = run([args.ombrix, "about"]).stdout.rstrip("\n")
    version = linux_about.split("\n", 1)[0]
    if not version.startswith("Ombrix V"):
        fail("ombrix about printed " + linux_about)
    version = version[len("Ombrix V"):]
    help_text = linux_about[len("Ombrix V" + version):]

    block = os.path.join(args.source, "tests", "windows", "test_block.csv")
    # Registry value written -> the version About shows.
    cases = [(None, "no key path"), ("", "no key"), (version, version), ("1.2\\", "1.2"),
             ("9" * 256, "no key")]
    full = None
    for value, shown in cases:
        set_registry(args, view, value)
        commands = ["About", "RunTests", "Test"] if value == version else ["About"]
        # Once as the spreadsheet version that has the add-in look for the program through
        # automation (there is none to find under Wine; the add-in must open all the same).
        options = ["--program-version", "8.0"] if value is None else []
        steps = host_steps(args, bits, block if value == version else None, [], commands, options)
        alerts = steps["About"]["alerts"]
        if [a["text"] for a in alerts] != ["Ombrix V" + shown + help_text]:
            fail("About with %r in the registry showed %s" % (value, alerts))
        full = steps if value == version else full
    set_registry(args, view, None)

    steps = full
    if steps["RunTests"]["alerts"]:
        fail("RunTests reported %s" % steps["RunTests"]["alerts"])
    with open(block) as f:
        before = read_sheet(f.read())
    after = read_sheet(steps["Test"]["sheet"])
    copied = [[after[y + 1][x + 1] for x in range(3)] for y in range(3)]
    if copied != [row[:3] for row in before[:3]] or after[0][:3] != before[0][:3]:
        fail("Test did not copy A1:C3 to B2:D4:\nbefore %s\nafter  %s" % (before, after))
    print("%d-bit: About, RunTests, Test and xlAutoClose as expected" % int(bits))


def check_installer(args):
    installers = sorted(f for f in os.listdir(os.path.join(args.source, "dist"))
                        if f.endswith(".exe")) if os.path.isdir(os.path.join(args.source, "dist")) else []
    if not installers:
        fail("no installer in dist/: run scripts/package first")
    env = wine_env(args)
    installer = os.path.join(args.source, "dist", installers[-1])
    target = os.path.join(args.prefix, "drive_c", "Program Files", "Ombrix")
    run(["wine", installer, "/S"], env=env)
    for name in ("ombrix.xll", "ombrix64.xll", "uninstall.exe"):
        if not os.path.exists(os.path.join(target, name)):
            fail("the installer did not install %s in %s" % (name, target))
    for view in ("/reg:32", "/reg:64"):
        query = run(["wine", "reg", "query", PRODUCT_KEY, "/v", "Version", view], env=env, check=False)
        if query.returncode != 0 or "Version" not in query.stdout:
            fail("the installer did not write the version (%s): %s" % (view, query.stdout + query.stderr))
    # The uninstaller runs a copy of itself from the temporary folder and returns at once.
    run(["wine", os.path.join(target, "uninstall.exe"), "/S"], env=env)
    deadline = time.time() + 60
    while os.path.exists(target) and time.time() < deadline:
        time.sleep(0.5)
    if os.path.exists(target):
        fail("uninstalling left %s" % os.listdir(target))
    for view in ("/reg:32", "/reg:64"):
        if run(["wine", "reg", "query", PRODUCT_KEY, view], env=env, check=False).returncode == 0:
            fail("uninstalling left the registry key (%s)" % view)
    print("installed, checked and uninstalled " + installers[-1])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--ombrix")
    parser.add_argument("check")
    parser.add_argument("bits", nargs="?", choices=["32", "64"])
    args = parser.parse_args()
    checks = {"tables": check_tables, "solve": check_solve, "commands": check_commands}
    if args.check in checks:
        checks[args.check](args, args.bits)
    else:
        {"prefix": start_prefix, "stop": stop_prefix, "installer": check_installer}[args.check](args)


if __name__ == "__main__":
    main()
