; The Windows installer: both add-in files, the version that the About box reads from the
; registry, and an uninstaller that takes all of it away again.
; scripts/package defines VERSION, ADDIN32, ADDIN64 and OUTFILE.
Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!define PRODUCT_KEY "Software\Quenmark\Ombrix"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Ombrix"

Name "Ombrix ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Ombrix"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; The spreadsheet reads the registry through its own bitness's view, so the version goes
; into both.
!macro WriteVersion VIEW
  SetRegView ${VIEW}
  WriteRegStr HKLM "${PRODUCT_KEY}" "Version" "${VERSION}"
!macroend
!macro DeleteVersion VIEW
  SetRegView ${VIEW}
  DeleteRegKey HKLM "${PRODUCT_KEY}"
  DeleteRegKey /ifempty HKLM "Software\Quenmark"
!macroend

Section "Ombrix"
  SetOutPath "$INSTDIR"
  File "/oname=ombrix.xll" "${ADDIN32}"
  File "/oname=ombrix64.xll" "${ADDIN64}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  !insertmacro WriteVersion 32
  !insertmacro WriteVersion 64
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Ombrix ${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Quenmark"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  Delete "$INSTDIR\ombrix.xll"
  Delete "$INSTDIR\ombrix64.xll"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  !insertmacro DeleteVersion 32
  !insertmacro DeleteVersion 64
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
