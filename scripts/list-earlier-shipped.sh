#!/usr/bin/env bash
# Lists every version of the shipped language, help and regulator definition files that the
# project's history holds, as data/earlier-shipped.sha256 wants them: a SHA-256, two blanks, the
# path below data/. The program uses the list to tell a per-user copy made before copies were
# recorded from one the user changed. Run it before a release and commit the result:
#   scripts/list-earlier-shipped.sh > data/earlier-shipped.sha256
set -euo pipefail
cd "$(git rev-parse --show-toplevel)"
for commit in $(git rev-list HEAD -- data/Languages data/Help data/Regulators); do
    git ls-tree -r "$commit" -- data/Languages data/Help data/Regulators |
        while read -r _ _ blob path; do
            printf '%s  %s\n' "$(git cat-file blob "$blob" | sha256sum | cut -c1-64)" "${path#data/}"
        done
done | sort -u -k2 -k1
