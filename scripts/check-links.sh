#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks the links of the README and of the reference in doc/: each must
# lead to a file of the repository and, where it names a heading
# (file.md#anchor), to a heading of that file; and the README must link to
# every file of the reference. Web addresses are not followed. The packages
# carry the README and doc/ side by side, so links that hold here hold in
# them too.
set -euo pipefail
cd "$(dirname "$0")/.."

# The anchors of a Markdown file's headings, as the forges make them: the
# heading's text in lower case, without anything but letters, digits,
# spaces, hyphens and underscores, its spaces turned into hyphens. Lines
# indented as code are no headings.
anchors() {
  sed -n 's/^#\{1,6\} \{1,\}//p' "$1" | tr '[:upper:]' '[:lower:]' |
    sed 's/[^[:alnum:] _-]//g; s/ /-/g'
}

failures=0
fail() {
  echo "$1" >&2
  failures=$((failures + 1))
}

for page in README.md doc/*.md; do
  folder=$(dirname "$page")
  # Every target of [text](target) and ![text](target): a link's text may
  # run over lines, its target never does.
  while IFS= read -r target; do
    case "$target" in
      http://* | https://* | mailto:*) continue ;;
    esac
    path=${target%%#*}
    file=$page
    [ -z "$path" ] || file=$folder/$path
    if [ ! -e "$file" ]; then
      fail "$page: the link to $target leads to no file"
      continue
    fi
    if [ "$path" != "$target" ]; then
      anchor=${target#*#}
      if ! anchors "$file" | grep -qxF -- "$anchor"; then
        fail "$page: the link to $target names no heading of $file"
      fi
    fi
  done < <(grep -o '](\([^)]*\))' "$page" | sed 's/^](//; s/)$//')
done

for reference in doc/*.md; do
  grep -qF "](${reference})" README.md || fail "README.md does not link to $reference"
done

[ "$failures" -eq 0 ] || exit 1
echo "links: every link of README.md and doc/*.md holds"
