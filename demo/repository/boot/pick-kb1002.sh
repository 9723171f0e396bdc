#!/bin/sh
# Boot program of the demo's patch task KB1002. It decides from the machine's
# version record which of the two offered patch files this machine needs and
# names it in "patchFile"; the verdict "true" lets the agent go on to the patch.
# A release other than 5.1 does not need the patch: verdict "false".
set -eu
id="${1:?usage: pick-kb1002.sh TASK-ID}"
key="HKLM\\SOFTWARE\\Kelvor\\QUOR5.0\\Composites\\ZEB\\OBX\\PatchInfo\\$id"
version_key="HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"

value() {
  # "    NAME    TYPE    DATA" -> DATA; empty when the value is missing.
  orsa-reg query "$version_key" /v "$1" 2>/dev/null |
    sed -n "s/^    $1    REG_[A-Z_]*    //p"
}

if [ "$(value CurrentVersion)" != "5.1" ]; then
  orsa-reg add "$key" /v bootCheckResult /d false /f >/dev/null
  exit 0
fi
case "$(value CSDVersion)" in
  "Service Pack 3") file=kb1002-sp3.sh ;;
  *) file=kb1002-sp2.sh ;;
esac
orsa-reg add "$key" /v patchFile /d "$file" /f >/dev/null
orsa-reg add "$key" /v bootCheckResult /d true /f >/dev/null
