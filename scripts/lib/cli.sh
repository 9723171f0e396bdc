# Sourced by the scripts: what every one of them answers alike.

# Prints "NAME VERSION", the version being the project's own (CMakeLists.txt).
print_version() {
  local version
  version=$(sed -n 's/^project(obx .*VERSION \([0-9][0-9.]*\).*/\1/p' \
    "$(dirname "${BASH_SOURCE[0]}")/../../CMakeLists.txt")
  echo "$1 ${version:-unknown}"
}
