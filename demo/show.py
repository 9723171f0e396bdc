#!/usr/bin/env python3
"""Helpers of scripts/demo: prints the agent's task list and the server's reports as readable tables.

    show.py tasks TASKLIST.xml POLICY.xml         task list table (opened XML)
    show.py reports < reports.json                reports table
    show.py attribute TASKLIST.xml ID ELEMENT NAME  one attribute of a task ("" if none)
    show.py item TYPE ID KEY < reports.json       one item of the first record of that
                                                  type and task id (exit 1 when none)
    show.py version POLICY.xml                    the policy's version (exit 1 when none)
    show.py story LOG POLICY.xml DOWNLOAD-DIR < reports.json
                                                  the policy and each task's way through
                                                  the cycle, told from the agent's log
    show.py flagged LOG                           the Warning and Error lines of the log,
                                                  each marked expected or not

Exit status 0 when done, 1 when a check fails or an input cannot be read.
"""
import hashlib
import html
import json
import os
import re
import sys
import xml.etree.ElementTree as ET


def split_list(text):
    # Lists in the policy are ";"-separated; empty pieces do not count.
    return [piece for piece in (text or "").split(";") if piece]


def print_table(header, rows):
    widths = [max(len(str(row[i])) for row in [header] + rows) for i in range(len(header))]
    for row in [header] + rows:
        print("  " + "  ".join(str(cell).ljust(width) for cell, width in zip(row, widths)).rstrip())


def attribute(patch, element, name):
    # A missing element or attribute shows as "-", an empty value as "''",
    # so the two stay apart in the table.
    node = patch.find(element)
    if node is None or node.get(name) is None:
        return "-"
    value = node.get(name)
    return value if value else "''"


def tasks(tasklist_path, policy_path):
    """One row per task of the task list; exit 1 when a task of the policy has
    no entry (its OS condition did not match) or the list cannot be read."""
    root = ET.parse(tasklist_path).getroot()
    policy_ids = [p.get("policyid") for p in ET.parse(policy_path).getroot().findall("patch")]
    header = ["policyid", "PatchExecute", "times", "bootdownload", "bootrun", "download",
              "versionReport"]
    rows = []
    seen = set()
    for patch in root.findall("patch"):
        task = patch.get("policyid", "?")
        seen.add(task)
        rows.append([task,
                     attribute(patch, "PatchExecute", "status"),
                     attribute(patch, "PatchExecute", "times"),
                     attribute(patch, "bootdownload", "status"),
                     attribute(patch, "bootrun", "result"),
                     attribute(patch, "download", "status"),
                     attribute(patch, "versionReport", "status")])
    if rows:
        print_table(header, rows)
    else:
        print("  (no task)")
    missing = [task for task in policy_ids if task not in seen]
    if missing:
        print(f"demo: the task list has no entry for {', '.join(missing)} of the policy",
              file=sys.stderr)
        return 1
    return 0


ITEM = re.compile(r"<item><key>(.*?)</key><value>(.*?)</value>", re.S)
# What a record says beyond the machine facts every record repeats.
SHOWN_ITEMS = ("client_version", "boot_download_type", "patch_download_type",
               "r1", "r2", "r3", "r4", "r5")


def reports():
    rows = json.load(sys.stdin)
    if not rows:
        print("  (none)")
        return 0
    table = []
    for row in rows:
        items = dict(ITEM.findall(row.get("record", "")))
        said = "; ".join(f"{key}={html.unescape(items[key])}" for key in SHOWN_ITEMS if items.get(key))
        table.append([row.get("seq"), row.get("operation"), row.get("type"), row.get("id"), said])
    print_table(["seq", "operation", "type", "id", "content"], table)
    return 0


def task_attribute(tasklist_path, task, element, name):
    for patch in ET.parse(tasklist_path).getroot().findall("patch"):
        if patch.get("policyid") == task:
            node = patch.find(element)
            print("" if node is None else node.get(name, ""))
            return 0
    print("")
    return 0


def record_item(kind, task, key):
    for row in json.load(sys.stdin):
        if row.get("type") == kind and row.get("id") == task:
            items = dict(ITEM.findall(row.get("record", "")))
            print(html.unescape(items.get(key, "")))
            return 0
    return 1


# One agent log line: date, time, level, [channel], source:line, message.
LOG_LINE = re.compile(r"^\S+ \S+ (\w+) \[([^\]]*)\] \S+ (.*)$")


def log_messages(log_path):
    with open(log_path, encoding="utf-8", errors="replace") as f:
        for line in f:
            match = LOG_LINE.match(line.rstrip("\n"))
            if match:
                yield match.group(1), match.group(3)


def digests_of(path):
    try:
        with open(path, "rb") as f:
            data = f.read()
        return hashlib.md5(data).hexdigest(), hashlib.sha256(data).hexdigest()
    except OSError:
        return None


def digest_note(download_dir, filename, md5, sha256):
    """Whether the file in the update folder has the policy's MD5 and
    SHA-256 (the agent checks both; with a server key set it needs both)."""
    actual = digests_of(os.path.join(download_dir, filename))
    if actual is None:
        return "not in the update folder"
    notes = []
    for name, have, want in (("MD5", actual[0], md5), ("SHA-256", actual[1], sha256)):
        if not want:
            notes.append(f"{name} not in the policy")
        elif have == want.lower():
            notes.append(f"{name} {have[:16]}... is the policy's")
        else:
            notes.append(f"{name} {have} differs from the policy's {want}")
    return ", ".join(notes)


def story(log_path, policy_path, download_dir):
    """The policy received and, per task, what the agent did with it, from the
    log lines of the agent, the stored policy, the update folder and the
    records the server holds."""
    policy = ET.parse(policy_path).getroot()
    patches = {p.get("policyid"): p for p in policy.findall("patch")}
    print(f"  policy received: version {policy.get('version') or '(none)'}, "
          f"{len(patches)} task(s): {', '.join(patches)}")
    records = json.load(sys.stdin)

    # The log lines of each task: from its "taskID ****ID ******" line to the next.
    steps = {task: [] for task in patches}
    inserted = set()
    current = None
    for _level, message in log_messages(log_path):
        match = re.match(r"Insert id= (\S+) to taskList", message)
        if match:
            inserted.add(match.group(1))
            continue
        match = re.match(r"taskID \*+(\S+?) \*+", message)
        if match:
            current = match.group(1)
            steps.setdefault(current, [])
            continue
        if message.startswith("************Wait for next schedule"):
            current = None
        if current is not None:
            steps[current].append(message)

    for task, patch in patches.items():
        print(f"  task {task}:")
        say = lambda text: print(f"    - {text}")
        say("entered in the task list" if task in inserted else
            "NOT entered in the task list (its OS condition did not match)")
        boot = patch.find("bootdownload")
        if boot is not None:
            say(f"window {boot.get('validtime') or 'any time'} (hours of the day): open now")
        lines = steps.get(task, [])
        boot_name = os.path.basename(boot.get("url", "")) if boot is not None else ""
        patch_url = None
        for message in lines:
            match = re.match(r"DownLoad: (\w+) from: (\S+)", message)
            if match:
                name = os.path.basename(match.group(2))
                if name == boot_name:
                    say(f"boot program {name} downloaded over {match.group(1)}; "
                        f"{digest_note(download_dir, name, boot.get('md5'), boot.get('sha256'))}")
                else:
                    patch_url = match.group(2)
                continue
            match = re.match(r"BootFile: boot file result (\S+)", message)
            if match:
                say(f"verdict of the boot program: {match.group(1)}")
                continue
            match = re.match(r"found the file with tails by :(\S+)", message)
            if match:
                say(f"patch file chosen by the boot program: {match.group(1)}")
                continue
            if "patch file was downloaded" in message and patch_url:
                name = os.path.basename(patch_url)
                download = patch.find("download")
                names = split_list(download.get("filename")) if download is not None else []
                def listed(attribute):
                    values = split_list(download.get(attribute)) if download is not None else []
                    return values[names.index(name)] if name in names and len(values) == len(names) else ""
                say(f"patch file {name} downloaded; "
                    f"{digest_note(download_dir, name, listed('md5'), listed('sha256'))}")
                continue
            match = re.match(r"DoPatchFile: (\S+) (.*) will start", message)
            if match:
                say(f"patch program run as: {os.path.basename(match.group(1).replace(chr(92), '/'))} "
                    f"{match.group(2)}")
                continue
            if message.startswith("BootFile: boot file finished and task finished"):
                say("no patch file: the task ends after its boot program")
        results = [r for r in records if r.get("id") == task and r.get("type") == "installResultInfo"]
        for row in results:
            items = dict(ITEM.findall(row.get("record", "")))
            said = "; ".join(f"{key}={html.unescape(items[key])}"
                             for key in ("r1", "r2") if items.get(key))
            say(f"result at the server: {said or '(no text)'}")
        if not results:
            say("result at the server: none")
    return 0


# Lines above Information level that a demo run shows and that are part of
# the normal course, with what they mean.
EXPECTED = (
    (re.compile(r"found the file with tails by :"),
     "the boot program named the patch file to use; logged as a warning"),
    (re.compile(r"Failed to load p2p comosite"),
     "the peer-to-peer composite could not be loaded; files come over HTTP"),
    (re.compile(r"download type .* not available|type is not available", re.I),
     "a download type the machine lacks; the next type is tried"),
)


def flagged(log_path):
    count = 0
    for level, message in log_messages(log_path):
        if level in ("Information", "Debug", "Trace", "Notice"):
            continue
        count += 1
        why = next((text for pattern, text in EXPECTED if pattern.search(message)), None)
        if why is None:
            print(f"  {level}: {message}\n    not one the demo expects: look into it")
        else:
            print(f"  {level}: {message}\n    expected: {why}")
    if count == 0:
        print("  (none)")
    return 0


def main(argv):
    try:
        if len(argv) == 4 and argv[1] == "tasks":
            return tasks(argv[2], argv[3])
        if len(argv) == 2 and argv[1] == "reports":
            return reports()
        if len(argv) == 6 and argv[1] == "attribute":
            return task_attribute(*argv[2:])
        if len(argv) == 5 and argv[1] == "item":
            return record_item(*argv[2:])
        if len(argv) == 3 and argv[1] == "version":
            version = ET.parse(argv[2]).getroot().get("version")
            if not version:
                return 1
            print(version)
            return 0
        if len(argv) == 5 and argv[1] == "story":
            return story(*argv[2:])
        if len(argv) == 3 and argv[1] == "flagged":
            return flagged(argv[2])
    except (OSError, ET.ParseError, ValueError) as e:
        print(f"demo: {e}", file=sys.stderr)
        return 1
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
