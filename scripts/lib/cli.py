"""What every script answers alike, for the Python scripts."""
import argparse
import os
import re
import sys

_REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def project_version():
    """The project's version, as CMakeLists.txt declares it."""
    with open(os.path.join(_REPO, "CMakeLists.txt"), encoding="utf-8") as cmake:
        match = re.search(r"^project\(obx .*VERSION ([0-9][0-9.]*)", cmake.read(), re.M)
    return match.group(1) if match else "unknown"


def argument_parser(description):
    """An argparse parser with --version, whose usage errors name the problem
    first, behind the script's name, then show the usage, and exit 2."""
    parser = argparse.ArgumentParser(description=description)

    def usage_error(message):
        sys.stderr.write(f"{parser.prog}: {message}\n")
        parser.print_usage(sys.stderr)
        sys.exit(2)

    parser.error = usage_error
    parser.add_argument("--version", action="version",
                        version=f"{parser.prog} {project_version()}")
    return parser
