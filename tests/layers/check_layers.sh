#!/usr/bin/env bash
# Checks the direction of the include graph: a file may include headers of
# its own folder and of the folders below it, never of a folder above.
# Order, lowest first: base request values expr db forms template driver.
# Prints every include that points upward and exits 1 when there is one.
set -euo pipefail
src=${1:-$(dirname "$0")/../../src}
layers=(base request values expr db forms template driver)
rank() {
  local i
  for i in "${!layers[@]}"; do [[ ${layers[$i]} == "$1" ]] && { echo "$i"; return; }; done
  echo -1
}
bad=0
while IFS= read -r file; do
  own=$(rank "$(basename "$(dirname "$file")")")
  if [[ $own -lt 0 ]]; then
    echo "unknown folder: $file"; bad=1; continue
  fi
  while IFS= read -r target; do
    other=$(rank "${target%%/*}")
    if [[ $other -lt 0 || $other -gt $own ]]; then
      echo "upward include: $file -> $target"; bad=1
    fi
  done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file")
done < <(find "$src" -name '*.[ch]pp' | sort)
[[ $bad -eq 0 ]] && echo "include graph points downward only"
exit $bad
