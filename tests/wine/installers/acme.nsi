; The NSIS installer the installer tests wrap (built with makensis in make_installer_packages.sh): copies
; two files from $EXEDIR (the stub's run folder, where the listed files are) into $INSTDIR, writes an
; uninstaller and its parameters, and exits with the number given as /exit=N (0 without it).
Unicode true
Target amd64-unicode
Name "Acme"
OutFile "acme-installer.exe"
InstallDir "$PROGRAMFILES64\Acme"
RequestExecutionLevel admin
!include "FileFunc.nsh"
Page directory
Page instfiles
Section
  SetOutPath "$INSTDIR"
  CopyFiles /SILENT "$EXEDIR\readme.txt" "$INSTDIR"
  CopyFiles /SILENT "$EXEDIR\data.bin" "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  ${GetParameters} $R0
  FileOpen $0 "$INSTDIR\parameters.txt" w
  FileWrite $0 $R0
  FileClose $0
  ClearErrors
  ${GetOptions} $R0 "/exit=" $R2
  IfErrors +2
  SetErrorLevel $R2
SectionEnd
Section "Uninstall"
  Delete "$INSTDIR\readme.txt"
  Delete "$INSTDIR\data.bin"
  Delete "$INSTDIR\parameters.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
