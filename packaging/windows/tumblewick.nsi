; packaging/windows/tumblewick.nsi: the Windows installer. Installs for the current user without
; administrator rights, marks the copy as installed (so the game keeps its files in
; %APPDATA%\Tumblewick), adds a Start-menu entry and an uninstaller that leaves the player's
; saved games and settings alone.
; makensis -DVERSION=0.6 -DSOURCE=folder -DOUTFILE=file tumblewick.nsi
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!define APP "Tumblewick"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tumblewick"

Name "${APP} ${VERSION}"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\${APP}"
InstallDirRegKey HKCU "Software\${APP}" "InstallDir"
ShowInstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Tumblewick"
  SetOutPath "$INSTDIR"
  File "${SOURCE}\tumblewick.exe"
  File "${SOURCE}\words.txt"
  File "${SOURCE}\README.txt"
  File "${SOURCE}\installed.txt"
  SetOutPath "$INSTDIR\sounds"
  File "${SOURCE}\sounds\award.wav"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${APP}.lnk" "$INSTDIR\tumblewick.exe" "" "$INSTDIR\tumblewick.exe" 0 SW_SHOWNORMAL "" "${APP}: an audio game"
  WriteRegStr HKCU "Software\${APP}" "InstallDir" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${APP}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Tumblewick developers"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Only what the installer put there: the player's games in %APPDATA%\Tumblewick stay.
Section "Uninstall"
  Delete "$INSTDIR\tumblewick.exe"
  Delete "$INSTDIR\words.txt"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\installed.txt"
  Delete "$INSTDIR\sounds\award.wav"
  RMDir "$INSTDIR\sounds"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${APP}.lnk"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  DeleteRegKey HKCU "Software\${APP}"
SectionEnd
