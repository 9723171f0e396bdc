#!/bin/sh
# Boot program of the demo's boot-only task. The agent starts it with the task
# id as its only argument; it answers through the task's registry key with
# orsa-reg, which finds the registry through ORSA_ROOT like the agent does.
# Nothing to patch here: it records the inventory and says "true", so the task
# ends after this run.
set -eu
id="${1:?usage: inventory.sh TASK-ID}"
key="HKLM\\SOFTWARE\\Kelvor\\QUOR5.0\\Composites\\ZEB\\OBX\\PatchInfo\\$id"

orsa-reg add "$key" /v clientVersion /d "inventory 1.0" /f >/dev/null
orsa-reg add "$key" /v Result1 /d "inventory taken on $(uname -s) $(uname -m)" /f >/dev/null
orsa-reg add "$key" /v repeate /d false /f >/dev/null
# The verdict goes last: once it is there, everything it refers to is too.
orsa-reg add "$key" /v bootCheckResult /d true /f >/dev/null
