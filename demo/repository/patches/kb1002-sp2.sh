#!/bin/sh
# Patch program KB1002 for service pack 2 machines (demo). Started by the
# agent as: kb1002-sp2.sh TASK-ID [ARGS...]; reports its result and the
# version it leaves through the task's registry key.
set -eu
id="${1:?usage: kb1002-sp2.sh TASK-ID [ARGS...]}"
shift
key="HKLM\\SOFTWARE\\Kelvor\\QUOR5.0\\Composites\\ZEB\\OBX\\PatchInfo\\$id"

orsa-reg add "$key" /v Result1 /d "KB1002 (SP2) installed" /f >/dev/null
orsa-reg add "$key" /v Result2 /d "run as: $(basename "$0") $id $*" /f >/dev/null
orsa-reg add "$key" /v clientVersion /d "5.1.2600.1002" /f >/dev/null
orsa-reg add "$key" /v repeate /d false /f >/dev/null
