; Installer of the TervalisOnline2D launcher.
; makensis -DSTAGE=<folder with the files> -DOUTFILE=<setup.exe> -DVERSION=<x.y.z> installer.nsi
Unicode true
; A 64-bit installer for a 64-bit launcher (and for 64-bit-only Wine).
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!ifndef VERSION
  !define VERSION "3.0.0"
!endif

Name "TervalisOnline2D"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\TervalisOnline2D"
InstallDirRegKey HKCU "Software\TervalisOnline2D" "InstallDir"
ShowInstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Launcher"
  SetOutPath "$INSTDIR"
  File "${STAGE}\TervalisOnline2D.exe"
  ; Keep a settings file the player or publisher has changed.
  SetOverwrite off
  File "${STAGE}\TervalisOnline2D.ini"
  SetOverwrite on
  CreateDirectory "$INSTDIR\data"
  CreateDirectory "$INSTDIR\data\update"
  CreateDirectory "$INSTDIR\data\textures"
  SetOutPath "$INSTDIR\data\updater"
  File /nonfatal "${STAGE}\data\updater\*.png"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  WriteRegStr HKCU "Software\TervalisOnline2D" "InstallDir" "$INSTDIR"
  WriteRegStr HKCU "Software\Microsoft\Windows\CurrentVersion\Uninstall\TervalisOnline2D" "DisplayName" "TervalisOnline2D"
  WriteRegStr HKCU "Software\Microsoft\Windows\CurrentVersion\Uninstall\TervalisOnline2D" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "Software\Microsoft\Windows\CurrentVersion\Uninstall\TervalisOnline2D" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  CreateDirectory "$SMPROGRAMS\TervalisOnline2D"
  CreateShortcut "$SMPROGRAMS\TervalisOnline2D\TervalisOnline2D.lnk" "$INSTDIR\TervalisOnline2D.exe"
  CreateShortcut "$DESKTOP\TervalisOnline2D.lnk" "$INSTDIR\TervalisOnline2D.exe"
SectionEnd

Section "Uninstall"
  ; Only what the installer put there; the game's own files stay.
  Delete "$INSTDIR\TervalisOnline2D.exe"
  Delete "$INSTDIR\TervalisOnline2D.exe.old"
  Delete "$INSTDIR\Uninstall.exe"
  Delete "$INSTDIR\data\updater\*.png"
  Delete "$SMPROGRAMS\TervalisOnline2D\TervalisOnline2D.lnk"
  RMDir "$SMPROGRAMS\TervalisOnline2D"
  Delete "$DESKTOP\TervalisOnline2D.lnk"
  DeleteRegKey HKCU "Software\Microsoft\Windows\CurrentVersion\Uninstall\TervalisOnline2D"
  DeleteRegKey HKCU "Software\TervalisOnline2D"
SectionEnd
