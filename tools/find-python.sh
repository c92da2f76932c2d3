# Sourced: find_version X.Y prints the newest installed CPython X.Y, on PATH or through pyenv.
find_version() {
  local want=$1 c="python$1"
  if command -v "$c" >/dev/null 2>&1 && "$c" -c 'import sys' >/dev/null 2>&1; then
    command -v "$c"
    return
  fi
  local root v  # pyenv's versions, also when pyenv itself is not on PATH
  root=$(pyenv root 2>/dev/null || echo "${PYENV_ROOT:-$HOME/.pyenv}")
  v=$(ls "$root/versions" 2>/dev/null | grep -E "^${want//./\\.}(\.[0-9]+)?$" | sort -V | tail -1)
  if [ -n "$v" ]; then echo "$root/versions/$v/bin/python3"; return; fi
  echo "CPython $want not found" >&2
  return 1
}
