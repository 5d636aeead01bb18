; The setup client's setup program: installs the stand-in KelvoSetupClient.exe
; for the current user under "$APPDATA\<company>\Setup Client\" and writes
; uninstall.exe beside it. Silent with /S; exit code 0 on success.
;
; Defines (makensis -D...):
;   NSIS_TARGET   amd64-unicode or x86-unicode, as the helper build
;   VERSION       a.b.c, the setup client's version
;   COMPANY       company folder under the roaming application-data folder
;   STAND_IN_EXE  the stand-in KelvoSetupClient.exe of that version
;   OUT_FILE      the setup program to write
; Optional:
;   LINGERER      a program the uninstaller starts and leaves running, as a
;                 real uninstaller may leave a browser page or a survey open;
;                 installed under "$LOCALAPPDATA\Setup Client Survey\"
;   FAILING       a setup program that fails after it has started: it writes
;                 its uninstaller and registration, then ends with 1603 as a
;                 real one does when its files are in use
;
; Like a real setup program it registers in Programs and Features for the
; current user (HKCU ...\Uninstall\Kelvo Setup Client (<company>)), and its
; uninstaller removes that registration.

!ifndef NSIS_TARGET | VERSION | COMPANY | STAND_IN_EXE | OUT_FILE
  !error "NSIS_TARGET, VERSION, COMPANY, STAND_IN_EXE and OUT_FILE must be defined"
!endif

Target ${NSIS_TARGET}
Name "Kelvo Setup Client ${VERSION}"
OutFile "${OUT_FILE}"
RequestExecutionLevel user
SetCompressor /SOLID lzma
ShowInstDetails nevershow
ShowUninstDetails nevershow
InstallDir "$APPDATA\${COMPANY}\Setup Client"
!define REGISTRATION "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kelvo Setup Client (${COMPANY})"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "CompanyName" "Tessaly, LLC"
VIAddVersionKey /LANG=1033 "FileDescription" "Kelvo Setup Client setup (stand-in)"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "Kelvo Setup Client"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}.0"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Development build"

Page instfiles
UninstPage instfiles

Section "Setup Client"
  ; The per-user folders, whatever a caller's context says.
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  ; Values of several types, as real registrations have them.
  WriteRegStr HKCU "${REGISTRATION}" "DisplayName" "Kelvo Setup Client"
  WriteRegStr HKCU "${REGISTRATION}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${REGISTRATION}" "Publisher" "Tessaly, LLC"
  WriteRegStr HKCU "${REGISTRATION}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${REGISTRATION}" "InstallLocation" "$INSTDIR"
  WriteRegExpandStr HKCU "${REGISTRATION}" "DisplayIcon" "%APPDATA%\${COMPANY}\Setup Client\KelvoSetupClient.exe"
  WriteRegDWORD HKCU "${REGISTRATION}" "NoModify" 1
  WriteRegDWORD HKCU "${REGISTRATION}" "NoRepair" 1
!ifdef FAILING
  SetErrorLevel 1603
  Quit
!endif
  File "/oname=KelvoSetupClient.exe" "${STAND_IN_EXE}"
!ifdef LINGERER
  SetOutPath "$LOCALAPPDATA\Setup Client Survey"
  File "/oname=UninstallSurvey.exe" "${LINGERER}"
!endif
SectionEnd

; $INSTDIR is the folder uninstall.exe was started from.
Section "Uninstall"
  SetShellVarContext current
  Delete "$INSTDIR\KelvoSetupClient.exe"
  Delete "$INSTDIR\uninstall.exe"
  DeleteRegKey HKCU "${REGISTRATION}"
  RMDir "$INSTDIR"
  ; The company folder goes only when nothing else lives in it.
  RMDir "$INSTDIR\.."
!ifdef LINGERER
  ; Started, not waited for: it outlives the uninstaller.
  Exec '"$LOCALAPPDATA\Setup Client Survey\UninstallSurvey.exe"'
!endif
SectionEnd
