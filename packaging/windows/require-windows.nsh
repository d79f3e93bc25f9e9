; Qt 6.4 needs Windows 10 1809 (build 17763) or later. Older Windows gets this
; message instead of an error about a missing function in a DLL: before the
; first page (MUI's GUI init), and for a silent install at the start of the
; install section, before an installed version is removed or any folder
; made (exit code 2).
!include "WinVer.nsh"
!include "LogicLib.nsh"
!define MUI_CUSTOMFUNCTION_GUIINIT kronexRequireWindows
Function kronexRequireWindows
  ${IfNot} ${AtLeastWin10}
  ${OrIfNot} ${AtLeastBuild} 17763
    MessageBox MB_OK|MB_ICONSTOP "A Atualização KRONEX precisa do Windows 10 versão 1809 ou posterior, ou do Windows 11.$\r$\nEste computador tem uma versão mais antiga do Windows: nada foi instalado." /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
FunctionEnd
