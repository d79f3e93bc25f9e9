; An installed version is replaced in place. .onInit only reads what is
; installed (kronexReadInstalled) and, for a downgrade, asks first; the old
; version is uninstalled in the install section (kronexRemoveInstalled),
; after the user pressed "Instalar". Cancelling on any page leaves it as it
; was. Exit codes: 3 when a newer version is installed and the downgrade is
; refused (always so when silent), 4 when the installed version's
; uninstaller fails, 5 when a program of the installed version is still
; running and the user cancels (always so when silent; the uninstaller too)
; (2 is Windows too old, require-windows.nsh).
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "WordFunc.nsh"

Var kronexOldFolder   ; the installed version's folder; "" when none
Var kronexOldVersion  ; its program version, as Apps & Features shows it
Var kronexOldCaption  ; its firmware release's caption; "" before it was kept
Var kronexOldOrder    ; "<version>.<release number>" to compare; "0" when not kept
Var kronexInstalledNote ; for the welcome page

Function kronexReadInstalled
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "UninstallString"
  ${If} $0 == ""
    Return
  ${EndIf}
  ReadRegStr $kronexOldFolder HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $kronexOldFolder == ""
    ; Installs by the first installers kept only the uninstaller's path.
    StrCpy $1 $0 1
    ${If} $1 == '"'
      StrCpy $0 $0 "" 1
      StrCpy $0 $0 -1
    ${EndIf}
    ${GetParent} $0 $kronexOldFolder
  ${EndIf}
  ReadRegStr $kronexOldVersion HKLM "${UNINSTALL_KEY}" "DisplayVersion"
  ReadRegStr $kronexOldCaption HKLM "${UNINSTALL_KEY}" "FirmwareCaption"
  ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "KronexVersion"
  ReadRegDWORD $2 HKLM "${UNINSTALL_KEY}" "FirmwareRelease"
  ${If} $1 == ""
    StrCpy $kronexOldOrder "0" ; older than any version that keeps it
  ${Else}
    StrCpy $kronexOldOrder "$1.$2"
  ${EndIf}
  ${If} $kronexOldCaption != ""
    StrCpy $kronexOldVersion "$kronexOldVersion ($kronexOldCaption)"
  ${EndIf}
  ; $APPDATA is %ProgramData% here: .onInit chose the all-users folders.
  StrCpy $kronexInstalledNote "A versão $kronexOldVersion, instalada em $kronexOldFolder, será substituída por esta. Os registros em $APPDATA\KRONEX são mantidos.$\r$\n$\r$\n"
  ; The new version goes where the old one is, unless /D= named a folder.
  ${If} $INSTDIR == "${DEFAULT_INSTDIR}"
    StrCpy $INSTDIR $kronexOldFolder
  ${EndIf}
FunctionEnd

; A newer version installed: replaced only if the user says so. The answer
; is No by default, and always No when silent.
Function kronexConfirmDowngrade
  ${If} $kronexOldFolder == ""
    Return
  ${EndIf}
  ${VersionCompare} "${VERSION}.${RELEASE_NUMBER}" $kronexOldOrder $0
  ${If} $0 == 2
    MessageBox MB_YESNO|MB_ICONEXCLAMATION|MB_DEFBUTTON2 \
      "Este computador já tem uma versão mais nova da ${PRODUCT}: $kronexOldVersion.$\r$\n$\r$\nDeseja substituí-la pela versão ${VERSION} (${RELEASE_CAPTION}), mais antiga?" \
      /SD IDNO IDYES downgrade
    SetErrorLevel 3
    Quit
    downgrade:
  ${EndIf}
FunctionEnd

; Runs the installed version's own uninstaller, silently, in its folder
; (_?= keeps it from copying itself away, so its exit code is waited for),
; then removes what an uninstaller cannot remove: itself.
Function kronexRemoveInstalled
  ${If} $kronexOldFolder == ""
  ${OrIfNot} ${FileExists} "$kronexOldFolder\Uninstall.exe"
    Return
  ${EndIf}
  StrCpy $0 $kronexOldFolder
  Call kronexCloseRunningPrograms
  DetailPrint "Removendo a versão instalada: $kronexOldVersion"
  ClearErrors
  ExecWait '"$kronexOldFolder\Uninstall.exe" /S _?=$kronexOldFolder' $0
  ${If} ${Errors}
  ${OrIf} $0 != 0
    MessageBox MB_OK|MB_ICONSTOP "Não foi possível desinstalar a versão instalada da ${PRODUCT} (código $0). A nova versão não foi instalada." /SD IDOK
    SetErrorLevel 4
    Quit
  ${EndIf}
  Delete "$kronexOldFolder\Uninstall.exe"
  RMDir "$kronexOldFolder"
  ; The first installers kept their folder in HKLM\Software\KRONEX\KRONEX;
  ; their uninstaller removes that key and leaves its parent, empty.
  DeleteRegKey /ifempty HKLM "Software\KRONEX"
FunctionEnd

; A running program holds its files: Windows lets no one replace or delete
; them, so an upgrade would leave the old uninstalled by halves and the new
; one not written, and an uninstall would leave the program without its
; entry. kronex-update may be in the middle of a unit's update. Before
; anything is removed, each program of the folder in $0 is tried for
; writing; while one is in use the user is asked to close it and try again
; ("Repetir"); "Cancelar", and a silent run, end with exit code 5 and
; nothing changed.
!macro KRONEX_CLOSE_RUNNING_PROGRAMS un
Function ${un}kronexCloseRunningPrograms
  StrCpy $3 $0
  retry:
  StrCpy $2 ""
  ${If} ${FileExists} "$3\kronex-atu.exe"
    ClearErrors
    FileOpen $1 "$3\kronex-atu.exe" a
    ${If} ${Errors}
      StrCpy $2 "a janela da ${PRODUCT} (kronex-atu.exe)"
    ${Else}
      FileClose $1
    ${EndIf}
  ${EndIf}
  ${If} $2 == ""
  ${AndIf} ${FileExists} "$3\kronex-update.exe"
    ClearErrors
    FileOpen $1 "$3\kronex-update.exe" a
    ${If} ${Errors}
      StrCpy $2 "o kronex-update, numa linha de comando"
    ${Else}
      FileClose $1
    ${EndIf}
  ${EndIf}
  ${If} $2 != ""
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
      "A ${PRODUCT} está aberta neste computador: $2.$\r$\n$\r$\nSe uma unidade estiver sendo atualizada, espere o fim da atualização. Depois feche o programa e clique em Repetir." \
      /SD IDCANCEL IDRETRY retry
    SetErrorLevel 5
    Quit
  ${EndIf}
FunctionEnd
!macroend
!insertmacro KRONEX_CLOSE_RUNNING_PROGRAMS ""
!insertmacro KRONEX_CLOSE_RUNNING_PROGRAMS "un."
