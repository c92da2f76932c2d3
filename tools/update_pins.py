"""./dev.sh update-pins: moves every pin of tools/constraints.txt that holds for all interpreters
to the newest version on the package index, and names the per-interpreter pins ("# only ...")
that have a newer version, which a maintainer moves by hand once that version installs there.
A line a package, as it goes; then CI on the result says whether the new versions hold.

usage: python tools/update_pins.py [CONSTRAINTS]
"""

import re
import subprocess
import sys

PIN = re.compile(r"^(?P<name>[A-Za-z0-9_.-]+)==(?P<version>[^\s#;]+)(?P<rest>.*)$")


def newest(name):
    out = subprocess.run([sys.executable, "-m", "pip", "index", "versions", name],
                         capture_output=True, text=True).stdout
    found = re.search(r"^LATEST:\s*(\S+)", out, re.M) or re.search(r"\((\S+)\)", out)
    return found.group(1) if found else None


def main(path="tools/constraints.txt"):
    with open(path) as f:
        lines = f.read().splitlines()
    by_hand = []
    for i, line in enumerate(lines):
        pin = PIN.match(line)
        if not pin:
            continue
        latest = newest(pin["name"])
        if latest is None:
            print(f"{pin['name']}: the index gave no version; kept at {pin['version']}")
        elif latest == pin["version"]:
            print(f"{pin['name']}: {latest}, the newest")
        elif "# only" in pin["rest"]:
            by_hand.append(f"{pin['name']} {pin['version']} -> {latest} ({pin['rest'].strip()})")
            print(f"{pin['name']}: {latest} is out; this pin is per interpreter, kept")
        else:
            lines[i] = f"{pin['name']}=={latest}{pin['rest']}"
            print(f"{pin['name']}: {pin['version']} -> {latest}")
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")
    for line in by_hand:
        print("to move by hand:", line)


if __name__ == "__main__":
    main(*sys.argv[1:])
