; The Windows installer: the programs, the installation they read (template
; folder web, exit button images, catalogues, spreadsheet export, schemas),
; the sample courses and videos, the install folder in the registry, a
; Start-menu entry and an uninstaller.
;
;   makensis -NOCD -DBUILD=build-windows -DSOURCE=. -DOUTFILE=build-windows/quarvel-setup.exe installer/quarvel.nsi
;
; BUILD is the Windows build folder (the programs in BUILD/bin; quarvel.exe is
; installed when it was built), SOURCE the source tree. Relative paths are
; taken from the folder makensis runs in with -NOCD, otherwise from this
; script's folder. Silent: quarvel-setup.exe /S, and
; /D=C:\path (last on the command line) chooses the folder.

Unicode true
; 64-bit: a 32-bit installer would see the registry through WOW6432Node.
Target amd64-unicode
SetCompressor /SOLID lzma
ManifestDPIAware true

!macro Require NAME
  !ifndef ${NAME}
    !error "give -DBUILD=<Windows build folder> -DSOURCE=<source tree> -DOUTFILE=<installer>"
  !endif
!macroend
!insertmacro Require BUILD
!insertmacro Require SOURCE
!insertmacro Require OUTFILE
!searchparse /file "${SOURCE}/CMakeLists.txt" "project(Quarvel VERSION " VERSION " "
!ifndef VERSION
  !error "no program version in ${SOURCE}/CMakeLists.txt"
!endif

!define MAKER "Nimbrel"
!define PRODUCT "Quarvel"
; The key the programs read the install folder from ("NB Path").
!define INSTALL_KEY "Software\${MAKER}"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
; Writing under HKEY_LOCAL_MACHINE and Program Files needs administrative rights.
RequestExecutionLevel admin
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${MAKER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "See doc\copyright"

!include MUI2.nsh
!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; The same file names for installing and removing.
!system 'bash "${SOURCE}/installer/file-lists.sh" "${SOURCE}" "${BUILD}/installer"' = 0
; The programs as users get them: without the debugging sections of the build.
!system 'x86_64-w64-mingw32-strip -o "${BUILD}/installer/quarvel-batch.exe" "${BUILD}/bin/quarvel-batch.exe"' = 0
!if /FileExists "${BUILD}/bin/quarvel.exe"
  !system 'x86_64-w64-mingw32-strip -o "${BUILD}/installer/quarvel.exe" "${BUILD}/bin/quarvel.exe"' = 0
!endif

; Removes FILE while it has the size it was installed with: runs append to the
; catalogues, and users put their own export in place of the sample one.
!macro DeleteIfUnchanged FILE SIZE
  Push "${FILE}"
  Push ${SIZE}
  Call un.DeleteIfUnchanged
!macroend

Function un.DeleteIfUnchanged
  Exch $R1
  Exch
  Exch $R0
  Push $R2
  Push $R3
  FileOpen $R2 $R0 r
  StrCmp $R2 "" done
  FileSeek $R2 0 END $R3
  FileClose $R2
  IntCmp $R3 $R1 0 done done
  Delete $R0
done:
  Pop $R3
  Pop $R2
  Pop $R0
  Pop $R1
FunctionEnd

Function .onInit
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Quarvel"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "${BUILD}/installer/quarvel-batch.exe"
!if /FileExists "${BUILD}/bin/quarvel.exe"
  File "${BUILD}/installer/quarvel.exe"
!endif
  !include "${BUILD}/installer/install-files.nsh"

  ; The install folder, as the programs read it: no trailing backslash
  ; ($INSTDIR has none, "/D=C:\" aside, which the programs shorten themselves).
  WriteRegStr HKLM "${INSTALL_KEY}" "NB Path" "$INSTDIR"

  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${MAKER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
!if /FileExists "${BUILD}/bin/quarvel.exe"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\quarvel.exe"
!endif
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\Sample courses.lnk" "$INSTDIR\sample-courses"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\Uninstall ${PRODUCT}.lnk" "$INSTDIR\uninstall.exe"
SectionEnd

; Removes what the installer put in place. What runs made (the patch log,
; "vod packages", "upload packages", files written into the sample courses)
; and the user's own courses stay, with the folders that hold them.
Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\Sample courses.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\Uninstall ${PRODUCT}.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"

  Delete "$INSTDIR\quarvel-batch.exe"
  Delete "$INSTDIR\quarvel.exe"
  !include "${BUILD}/installer/uninstall-files.nsh"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"

  ; The value is this installation's only while it names this folder (the
  ; programs drop a trailing backslash; StrCmp ignores letter case).
  ReadRegStr $0 HKLM "${INSTALL_KEY}" "NB Path"
  StrCmp $0 "$INSTDIR" 0 +2
  DeleteRegValue HKLM "${INSTALL_KEY}" "NB Path"
  DeleteRegKey /ifempty HKLM "${INSTALL_KEY}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
