# shellcheck shell=bash disable=SC2154,SC2015 # out, caption, version, number: set by windows-package.sh; ok and fail always succeed
# Sourced by scripts/windows-package.sh once WINEPREFIX and DISPLAY are set:
# the installer under wine as a user, Apps & Features and a technician see
# it. Uses out, caption, version, number, ok and fail, and scripts/lib.sh.
dir="$WINEPREFIX/drive_c/Program Files/KRONEX"
data="$WINEPREFIX/drive_c/ProgramData/KRONEX"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Atualização KRONEX"
uninstall_key='HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall'
key="$uninstall_key\\KRONEX"

# A registry key as regedit exports it (UTF-8, no carriage returns), or nothing.
registry() {
  rm -f "$WINEPREFIX/drive_c/entry.reg"
  timeout 60 "$WINE" regedit /E 'C:\entry.reg' "$1" >/dev/null 2>&1 || true
  [ -f "$WINEPREFIX/drive_c/entry.reg" ] && iconv -f UTF-16LE -t UTF-8 "$WINEPREFIX/drive_c/entry.reg" | tr -d '\r'
}
uninstall_entry() { registry "$key" || true; }

# run_installer EXE ARGS...: runs it, and what it started, to the end; its
# exit code in $got. Wine's messages go to $installer_trace when set.
run_installer() {
  local exe=$1
  shift
  cp "$exe" "$WINEPREFIX/drive_c/"
  got=0
  timeout 300 "$WINE" "C:\\$(basename "$exe")" "$@" >/dev/null 2>"${installer_trace:-/dev/null}" || got=$?
  timeout 120 "$WINESERVER" -w || true
}

# What a user has of an install: each file with its content, the Start-menu
# folder and the uninstall entry.
snapshot() {
  (cd "$dir" 2>/dev/null && find . -type f -exec md5sum {} + | sort -k 2) || true
  ls "$menu" 2>/dev/null || true
  uninstall_entry
}

# The uninstall entry this installer writes, as regedit exports it, sorted;
# the size in kB (rounded down) of what is in the install folder.
expected_entry() {
  local kb
  kb=$(($(find "$dir" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }') / 1024))
  sort <<EOT
"DisplayName"="Atualização KRONEX ($caption)"
"DisplayVersion"="$version"
"Publisher"="KRONEX"
"DisplayIcon"="C:\\\\Program Files\\\\KRONEX\\\\kronex-atu.exe,0"
"InstallLocation"="C:\\\\Program Files\\\\KRONEX"
"EstimatedSize"=dword:$(printf '%08x' "$kb")
"UninstallString"="\\"C:\\\\Program Files\\\\KRONEX\\\\Uninstall.exe\\""
"QuietUninstallString"="\\"C:\\\\Program Files\\\\KRONEX\\\\Uninstall.exe\\" /S"
"NoModify"=dword:00000001
"NoRepair"=dword:00000001
"KronexVersion"="$version"
"FirmwareRelease"=dword:$(printf '%08x' "$number")
"FirmwareCaption"="$caption"
EOT
}

# The uninstall entry: those values exactly, one key, and the only entry of
# KRONEX in Apps & Features.
entry_is_this_version() {
  local entry
  entry=$(uninstall_entry)
  if ! diff <(expected_entry) <(grep '^"' <<<"$entry" | sort) >"$out/entry.diff"; then
    fail "$1: the uninstall entry differs (expected <, written >): $(tr '\n' ' ' <"$out/entry.diff")"
  elif [ "$(grep -c '^\[' <<<"$entry")" -ne 1 ]; then
    fail "$1: the uninstall entry has subkeys: $(grep '^\[' <<<"$entry" | tr '\n' ' ')"
  elif [ "$(registry "$uninstall_key" | grep -c '^"DisplayName"=.*KRONEX')" -ne 1 ]; then
    fail "$1: more than one KRONEX entry in Apps & Features"
  else
    ok "$1: Apps & Features has one entry, \"Atualização KRONEX ($caption)\" $version, every value as written"
  fi
}

# The Start-menu folder holds the window, the command prompt and the
# uninstaller under their Portuguese names, and nothing else; the command
# prompt opens in the install folder with kronex-update's help.
menu_is_this_version() {
  local want got lnk
  want=$(printf '%s\n' "Atualização KRONEX (linha de comando).lnk" "Atualização KRONEX.lnk" \
    "Desinstalar Atualização KRONEX.lnk" | sort)
  got=$(find "$menu" -mindepth 1 -maxdepth 1 -printf '%f\n' 2>/dev/null | sort || true)
  [ "$got" = "$want" ] && ok "$1: Start menu: Atualização KRONEX\\{$(echo "$got" | sed 's/\.lnk$//' | paste -sd ',')}" ||
    fail "$1: the Start-menu folder holds: $(echo "$got" | paste -sd ',')"
  lnk=$(strings -e l "$menu/Atualização KRONEX (linha de comando).lnk" 2>/dev/null || true)
  # A shortcut keeps its target as the path's parts, then its arguments and
  # the folder it starts in.
  if grep -qx 'system32' <<<"$lnk" && grep -qx 'cmd.exe' <<<"$lnk" && grep -qx '/k kronex-update --help' <<<"$lnk" &&
    grep -qx 'C:\\Program Files\\KRONEX' <<<"$lnk"; then
    ok "$1: \"Atualização KRONEX (linha de comando)\" runs cmd.exe /k kronex-update --help in C:\\Program Files\\KRONEX"
  else
    fail "$1: the command-line shortcut holds: $(tr '\n' ' ' <<<"$lnk")"
  fi
}

# The installed files are those of this version, nothing more or less.
files_are_this_version() {
  local want got
  want=$( (cd "$out/layout" && find . -type f && echo ./Uninstall.exe) | sort)
  got=$( (cd "$dir" 2>/dev/null && find . -type f) | sort)
  if [ "$want" = "$got" ]; then
    ok "$1: C:\\Program Files\\KRONEX holds this version's $(echo "$got" | wc -l) files and no other"
  else
    fail "$1: C:\\Program Files\\KRONEX differs from this version's files: $(diff <(echo "$want") <(echo "$got") | grep '^[<>]' | tr '\n' ' ')"
  fi
}

# The window, started from its Start-menu entry as a user would, shows.
window_shows() {
  timeout 120 "$WINE" start /wait "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Atualização KRONEX\\Atualização KRONEX.lnk" \
    >/dev/null 2>&1 &
  local starter=$! shown=0
  wait_window '^Atualização KRONEX$' 60 && shown=1
  timeout 20 "$WINESERVER" -k 2>/dev/null || true
  wait "$starter" 2>/dev/null || true
  [ "$shown" -eq 1 ]
}

# exit_code_of PID TRIES SECONDS [EACH]: waits TRIES times SECONDS for the
# installer PID to end, running EACH after every wait while it runs; its
# exit code in $got, 97 when it is still running.
exit_code_of() {
  local pid=$1 tries=$2 seconds=$3 each=${4:-}
  got=97
  for _ in $(seq "$tries"); do
    sleep "$seconds"
    kill -0 "$pid" 2>/dev/null || break
    [ -z "$each" ] || "$each"
  done
  if ! kill -0 "$pid" 2>/dev/null; then
    got=0
    wait "$pid" || got=$?
  fi
}
# Whatever is left of an installer run, ended.
stop_installer() {
  timeout 20 "$WINESERVER" -k 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}

# cancel_installer EXE: started with its pages, cancelled on the first one
# as a user does: Escape (the "Cancelar" button), then the default answer,
# "Sim", to the question whether to leave. Its exit code in $got (99: no
# page, 98: no question, 97: still running).
cancel_installer() {
  local exe=$1 title="^Instalação da Atualização KRONEX $version " page box pid
  cp "$exe" "$WINEPREFIX/drive_c/"
  "$WINE" "C:\\$(basename "$exe")" >/dev/null 2>&1 &
  pid=$!
  got=99
  if wait_window "$title" 60; then
    page=$win
    got=98
    sleep 1 # the page takes the keyboard once it is drawn
    xdotool windowfocus --sync "$page" key Escape 2>/dev/null || true
    if wait_window "$title" 60 "$page"; then
      box=$win
      xdotool windowfocus --sync "$box" key Return 2>/dev/null || true
      exit_code_of "$pid" 150 0.2
    fi
  fi
  stop_installer "$pid"
}

# installer_with_pages EXE VERSION KEYS: started with its pages; KEYS go to
# its first window (a question or the first page), then Enter to each page
# until it ends: "Próximo", "Instalar", "Concluir". Its exit code in $got
# (99: no window, 97: still running after two minutes).
installer_with_pages() {
  local exe=$1 title="Instalação da Atualização KRONEX $2 " w pid
  cp "$exe" "$WINEPREFIX/drive_c/"
  "$WINE" "C:\\$(basename "$exe")" >/dev/null 2>&1 &
  pid=$!
  got=99
  if wait_window "$title" 60; then
    w=$win
    sleep 1
    # shellcheck disable=SC2086 # the keys, one word each
    xdotool windowfocus --sync "$w" key $3 2>/dev/null || true
    installer_title=$title
    exit_code_of "$pid" 80 1.5 press_return
  fi
  stop_installer "$pid"
}
# Enter to whatever page of the installer titled $installer_title is up.
press_return() {
  local page
  page=$(xdotool search --onlyvisible --name "$installer_title" 2>/dev/null | tail -n 1 || true)
  [ -z "$page" ] || xdotool windowfocus --sync "$page" key Return 2>/dev/null || true
}

# A whole update with the installed kronex-update.exe against kronex-devsim
# on COM3 (no other port has a device), checked as scripts/wine-cli.sh does:
# the unit's memory and command log against the release, and the diagnostic
# file.
update_with_installed_program() {
  local run=$out/update
  rm -rf "$run"
  got=1
  start_unit build-windows/host/tools/devsim/kronex-devsim "$run" --dump "$run/dump" || return 1
  map_ports 3="$pty" || return 1
  rm -f "$WINEPREFIX/drive_c/TEXTO2.TXT"
  got=0
  timeout 600 "$WINE" 'C:\Program Files\KRONEX\kronex-update.exe' update --port 3 --yes --json \
    >"$run/update.json" 2>"$run/update.err" || got=$?
  stop_units || true
  # map_ports keeps the server up: ended, so that a wait for it ends.
  timeout 20 "$WINESERVER" -k 2>/dev/null || true
  [ "$got" -eq 0 ] && grep -q '"outcome": "updated"' "$run/update.json" &&
    build-windows/host/tests/e2e/kronex-e2e-check "$run/dump" "$run/transcript.txt" \
      "$WINEPREFIX/drive_c/TEXTO2.TXT" >"$run/check.log" 2>&1
}

# The rights of C:\ProgramData\KRONEX, from the trace of an installer's run
# (WINEDEBUG=trace+process): wine's icacls only logs its arguments and
# answers 0, and wine enforces no rights, so the commands the installer ran,
# in this order, are what can be checked here. The old grant of modify
# rights to Users goes first, on every install: an upgrade needs it, a new
# folder does not mind.
folder_rights_set() {
  local want got
  want='"C:\windows\system32\icacls.exe" "C:\ProgramData\KRONEX" /remove:g *S-1-5-32-545
"C:\windows\system32\icacls.exe" "C:\ProgramData\KRONEX" /grant *S-1-5-18:(OI)(CI)F *S-1-5-32-544:(OI)(CI)F *S-1-3-0:(OI)(CI)(IO)F *S-1-5-32-545:(OI)(CI)RX
"C:\windows\system32\icacls.exe" "C:\ProgramData\KRONEX" /grant *S-1-5-32-545:(CI)(WD,AD,WEA,WA)'
  got=$(grep -a 'trace:process:NtCreateUserProcess .*image L"C:\\\\windows\\\\system32\\\\icacls.exe"' "$1" |
    sed 's/.* cmdline L"//; s/" parent .*//; s/\\"/"/g; s/\\\\/\\/g')
  if [ "$got" = "$want" ]; then
    ok "$2: C:\\ProgramData\\KRONEX: Users' modify grant removed; SYSTEM and Administrators full control, CREATOR OWNER full control of what each user makes, Users read and add (icacls run as expected)"
  else
    fail "$2: the installer's icacls commands differ: $(diff <(echo "$want") <(echo "$got") | grep '^[<>]' | tr '\n' ' ')"
  fi
}

# Nothing of the program is left but %ProgramData%\KRONEX.
nothing_left() {
  local left=()
  [ ! -e "$dir" ] || left+=("C:\\Program Files\\KRONEX: $(cd "$dir" && find . | tr '\n' ' ')")
  [ ! -e "$menu" ] || left+=("the Start-menu folder Atualização KRONEX")
  [ -z "$(uninstall_entry)" ] || left+=("the uninstall entry in the registry")
  [ -z "$(registry 'HKEY_LOCAL_MACHINE\Software\KRONEX' || true)" ] || left+=("HKLM\\Software\\KRONEX")
  [ -d "$data" ] && ok "$1: C:\\ProgramData\\KRONEX kept: it may hold a unit's record" ||
    fail "$1: C:\\ProgramData\\KRONEX removed"
  if [ ${#left[@]} -eq 0 ]; then
    ok "$1: no files, no Start-menu entry, no registry entry left"
  else
    for l in "${left[@]}"; do fail "$1: left: $l"; done
  fi
}
