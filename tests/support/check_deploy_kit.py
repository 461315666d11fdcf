#!/usr/bin/env python3
"""Cross-checks the deployment kit with the updater's code.

The names the kit shares with the updater (data folder, event source, task,
policy key and values) are read from src/common/product_names.h, the one
place the code keeps them; the MSI's WiX source, the install scripts and the
Group Policy templates must use exactly those. The templates must also hang
together: every string and presentation the ADMX names exists in the ADML,
and every text box refers to an element of its policy. A kit that fails here
installs folders, sources or tasks the updater never sees, or loads with
errors in the policy editors.

Usage: check_deploy_kit.py SOURCE_ROOT"""
import pathlib
import re
import sys
import xml.etree.ElementTree as ET

NS = {"p": "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions"}
CONSTANT = re.compile(r'inline constexpr [^=;]*?\b(\w+) = "((?:[^"\\]|\\.)*)";')


def product_names(header):
    return {name: value.replace("\\\\", "\\") for name, value in CONSTANT.findall(header.read_text(encoding="utf-8"))}


def kit_rules(n):
    """(files, pattern, allowed): each file holds the pattern at least once,
    and every match's group is one of the allowed names."""
    data, update = n["data_folder_name"], n["update_folder_name"]
    folders = {data, data + "\\" + update}
    wxs, scripts = ["deploy/msi/tamsel-update.wxs"], [f"deploy/{s}-updater.ps1" for s in ("install", "uninstall", "detect")]
    return [
        (wxs + scripts[:1], r"EventLog\\Application\\([^\"']+)", {n["event_source_name"]}),
        (scripts[1:2], r"SubKey(?:Tree)?\('([^']+)'\)", {n["event_source_name"]}),
        (wxs, r"/TN &quot;(.*?)&quot;", {n["task_name"]}),
        (scripts, r"\$TaskName = '([^']+)'", {n["task_name"]}),
        (wxs, r"\[CommonAppDataFolder\](.*?)&quot;", folders),
        # The updater makes its folders (/prepare): only the removal names them.
        (scripts[1:2], r"'CommonApplicationData'\)\) '([^']+)'", folders),
        (["deploy/policy/tamsel-update.admx"], r'\bkey="([^"]+)"', {n["policy_key"]}),
    ]


def check_kit(root, names):
    problems = []
    for files, pattern, allowed in kit_rules(names):
        for file in files:
            found = re.findall(pattern, (root / file).read_text(encoding="utf-8-sig"))
            if not found:
                problems.append(f"{file}: nothing matches {pattern}")
            problems += [f"{file}: {value!r}, the updater uses {sorted(allowed)}" for value in found if value not in allowed]
    return problems


def check_templates(admx_path, adml_path, names):
    admx_text = admx_path.read_text(encoding="utf-8")
    admx = ET.fromstring(admx_text.encode())
    adml = ET.parse(adml_path).getroot()
    strings = {s.get("id") for s in adml.iterfind(".//p:stringTable/p:string", NS)}
    presentations = {p.get("id"): p for p in adml.iterfind(".//p:presentationTable/p:presentation", NS)}
    values = {value for name, value in names.items() if name.endswith("_policy")}
    problems = []
    for kind, name in re.findall(r"\$\((string|presentation)\.([^)]+)\)", admx_text):
        if name not in (strings if kind == "string" else presentations):
            problems.append(f"$({kind}.{name}) is not in the ADML")
    seen = set()
    for policy in admx.iterfind(".//p:policy", NS):
        names_here = [policy.get("valueName")] + [e.get("valueName") for e in policy.iterfind("p:elements/*", NS)]
        seen.update(n for n in names_here if n)
        element_ids = {e.get("id") for e in policy.iterfind("p:elements/*", NS)}
        ref = re.fullmatch(r"\$\(presentation\.([^)]+)\)", policy.get("presentation") or "")
        if ref and ref.group(1) in presentations:
            for box in presentations[ref.group(1)]:
                if box.get("refId") not in element_ids:
                    problems.append(f"{policy.get('name')}: presentation refers to {box.get('refId')}")
    if seen != values:
        problems.append(f"value names {sorted(seen)}, the updater reads {sorted(values)}")
    # A choice the updater does not know would be ignored on every machine.
    choices = {s.text for s in admx.iterfind(".//p:enum//p:string", NS)}
    rings = {value for name, value in names.items() if name.endswith("_ring")}
    if choices != rings:
        problems.append(f"ring choices {sorted(choices)}, the updater takes {sorted(rings)}")
    return problems


def main(root):
    root = pathlib.Path(root)
    names = product_names(root / "src/common/product_names.h")
    problems = check_kit(root, names) + check_templates(
        root / "deploy/policy/tamsel-update.admx", root / "deploy/policy/en-US/tamsel-update.adml", names)
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
