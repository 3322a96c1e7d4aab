#!/usr/bin/env bash
# Fails on any #include "..." in the production folders that points up the
# stack, or across it, and on a folder README whose "May include:" line no
# longer matches the table below.
#
#   link/ <- job/ <- update/ <- worker/ <- app/, cli/, web/
#   sim/ beside link/; vboard/ on sim/; tools/ on what it needs below
#
# A folder may always include its own files; quoted includes without a folder
# (velkor_version.h, generated) are not checked. tests/, fuzz/ and bench/ may
# include anything.
set -euo pipefail
cd "$(dirname "$0")/.."

# Folder, then the folders it may include besides itself.
declare -A may=(
  [link]=""
  [job]="link"
  [update]="job link"
  [worker]="update job link resources"
  [sim]="link"
  [vboard]="sim link"
  [tools]="link"
  [cli]="worker update job link sim"
  [app]="worker update job link sim resources"
  [web]="worker update job link sim"
  [resources]=""
)

status=0
for folder in link job update worker sim vboard tools cli app web resources; do
  allowed=" $folder ${may[$folder]} "
  while IFS=: read -r file line text; do
    target=${text#*\"}
    target=${target%%\"*}
    [[ $target == */* ]] || continue
    other=${target%%/*}
    if [[ $allowed != *" $other "* ]]; then
      echo "$file:$line: $folder may not include $target"
      status=1
    fi
  done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$folder" \
             --include='*.h' --include='*.hpp' --include='*.c' --include='*.cpp' \
             --include='*.cc' --include='*.rc' --include='*.rc2' || true)

  # The folder's README states the same rule for the reader.
  [ "$folder" = resources ] && continue
  expected="May include:"
  for other in ${may[$folder]}; do expected+=" $other/"; done
  [ -z "${may[$folder]}" ] && expected+=" nothing outside $folder/"
  if ! grep -qxF "$expected" "$folder/README.md" 2>/dev/null; then
    echo "$folder/README.md: needs the line \"$expected\""
    status=1
  fi
done

[ "$status" -eq 0 ] && echo "layers: every include points down"
exit "$status"
