#!/usr/bin/env bash
# kronex-update's message catalogue: the texts marked tr("...") in cli/
# extracted into po/kronex-update.pot, and po/pt_BR.po brought up to date
# with it (new texts untranslated, changed ones marked fuzzy). Translate
# them in po/pt_BR.po (any PO editor); the build compiles it with msgfmt.
set -euo pipefail
cd "$(dirname "$0")/.."
xgettext --language=C++ --keyword=tr --keyword=N_ --keyword=trn:1,2 --from-code=UTF-8 --package-name=kronex-update \
  --no-location --sort-output -o po/kronex-update.pot cli/*.cpp
msgmerge --quiet --update --backup=none --no-location --sort-output po/pt_BR.po po/kronex-update.pot
msgfmt --check --statistics -o /dev/null po/pt_BR.po
