#!/usr/bin/env bash
# The one-page release note for the downloads, on standard output:
#
#   scripts/release-note.sh SUMMARY VERSION COMMIT DIR FILE...
#
# SUMMARY is what `kronex-release-embed --summary` prints of the release;
# each FILE, in DIR, is listed with its size and SHA-256. In Portuguese, as
# the program is: it goes to the shops with the files.
set -euo pipefail
[ $# -ge 5 ] || { echo "usage: $0 SUMMARY VERSION COMMIT DIR FILE..." >&2; exit 64; }
summary=$1 version=$2 commit=$3 dir=$4
shift 4

field() { sed -n "s/^$1: //p" <<<"$summary"; }
# The indented lines under a heading of the summary, as a Markdown list.
items() { awk -v h="$1:" '/^[^ ]/ { on = ($1 == h) } on && /^  / { sub(/^  /, "- "); print }' <<<"$summary"; }

cat <<NOTE
# Atualização KRONEX — $(field caption)

| | |
|---|---|
| Liberação de firmware | $(field release) |
| Data da liberação | $(field date) |
| Versão do programa | $version |
| Commit | $commit |

Cada programa traz esta liberação dentro dele: o instalador e o ZIP para
Windows 10 e 11 (64 bits), o pacote .deb para Debian 12
(\`sudo apt install ./arquivo.deb\`).

## Módulos ($(field modules))

$(items modules)

## Fabricantes ($(field makers))

$(items makers)

## Arquivos

| Arquivo | Tamanho (bytes) | SHA-256 |
|---|---:|---|
NOTE
for f in "$@"; do
  echo "| $f | $(stat -c %s "$dir/$f") | \`$(sha256sum "$dir/$f" | cut -d' ' -f1)\` |"
done
cat <<'NOTE'

Para conferir os arquivos baixados: `sha256sum -c SHA256SUMS` na pasta deles.
NOTE
