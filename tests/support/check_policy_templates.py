#!/usr/bin/env python3
"""Cross-checks the Group Policy templates: every string and presentation the
ADMX names exists in the ADML, every text box refers to an element of its
policy, and the registry key and value names are the ones the updater reads.
A template that fails here loads with errors in the policy editors, or sets
values the updater never sees."""
import re
import sys
import xml.etree.ElementTree as ET

NS = {"p": "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions"}
KEY = "SOFTWARE\\Policies\\Tam_Sel\\Update"
VALUES = {"UpdatesDisabled", "MaxVersion", "DeferWhileRunning", "Proxy"}


def main(admx_path, adml_path):
    admx_text = open(admx_path, encoding="utf-8").read()
    admx = ET.fromstring(admx_text.encode())
    adml = ET.parse(adml_path).getroot()
    strings = {s.get("id") for s in adml.iterfind(".//p:stringTable/p:string", NS)}
    presentations = {p.get("id"): p for p in adml.iterfind(".//p:presentationTable/p:presentation", NS)}
    problems = []
    for kind, name in re.findall(r"\$\((string|presentation)\.([^)]+)\)", admx_text):
        if name not in (strings if kind == "string" else presentations):
            problems.append(f"$({kind}.{name}) is not in the ADML")
    seen = set()
    for policy in admx.iterfind(".//p:policy", NS):
        if policy.get("key") != KEY:
            problems.append(f"{policy.get('name')}: key {policy.get('key')}")
        names = [policy.get("valueName")] + [e.get("valueName") for e in policy.iterfind("p:elements/*", NS)]
        seen.update(n for n in names if n)
        element_ids = {e.get("id") for e in policy.iterfind("p:elements/*", NS)}
        ref = re.fullmatch(r"\$\(presentation\.([^)]+)\)", policy.get("presentation") or "")
        if ref and ref.group(1) in presentations:
            for box in presentations[ref.group(1)]:
                if box.get("refId") not in element_ids:
                    problems.append(f"{policy.get('name')}: presentation refers to {box.get('refId')}")
    if seen != VALUES:
        problems.append(f"value names {sorted(seen)}, the updater reads {sorted(VALUES)}")
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
