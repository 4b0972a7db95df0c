; Run by the installer once the program is in place.
;
; The program lives in Program Files, where only administrators change it. What the agent
; reads and writes (configuration, log, SNMP state) lives in its home, ProgramData\TAMRO,
; which --install-service closes to everyone but SYSTEM, the administrators and the
; service's own account, NT SERVICE\TAMRO: it holds the communities and passphrases.
;
; The agent rewrites its configuration, mappings and devices files, so the installer ships
; the defaults as examples and copies one into config\ only when it is missing: a reinstall
; or an upgrade keeps the operator's files, and the uninstaller (which removes only what was
; installed) leaves them, with the log and the SNMP state, in the home.
;
; With a configuration already there (an upgrade, or a reinstall), the service is started
; again: the old version's uninstaller stopped it, and an automatic service would otherwise
; stay down until the next boot. A first install leaves it stopped until the operator has
; named the management server.
SetShellVarContext all
StrCpy $R8 "$APPDATA\TAMRO"

; Versions before this one kept everything in C:\tamro, open to every local user. Their
; uninstaller (run before this install) removed the program and left the operator's files:
; they move into the home, and a note in the old folder says where they went.
StrCpy $R7 "C:\tamro"
IfFileExists "$R8\config\configuration.xml" tamro_moved 0
IfFileExists "$R7\config\configuration.xml" 0 tamro_moved
  CreateDirectory "$R8"
  !macro tamro_move NAME
    IfFileExists "$R7\${NAME}\*.*" 0 +3
      Rename "$R7\${NAME}" "$R8\${NAME}"
      DetailPrint "moved $R7\${NAME} to $R8\${NAME}"
  !macroend
  !insertmacro tamro_move config
  !insertmacro tamro_move log
  !insertmacro tamro_move snmp
  FileOpen $0 "$R7\MOVED.txt" w
  FileWrite $0 "The TAMRO agent's configuration, log and SNMP state were moved from $R7 to$\r$\n"
  FileWrite $0 "$R8, its home from now on, which only SYSTEM, the administrators and the$\r$\n"
  FileWrite $0 "service (NT SERVICE\TAMRO) may open. The program is in $INSTDIR.$\r$\n"
  FileWrite $0 "A path in config\configuration.xml that names $R7 must be changed to name$\r$\n"
  FileWrite $0 "$R8 (or be left out, for the default): check with$\r$\n"
  FileWrite $0 "$\"$INSTDIR\bin\tamro.exe$\" --check$\r$\n"
  FileClose $0
  DetailPrint "the files of $R7 are in $R8 now: see $R7\MOVED.txt"
tamro_moved:

StrCpy $R9 "first"
IfFileExists "$R8\config\configuration.xml" 0 +2
  StrCpy $R9 "again"

CreateDirectory "$R8\config"
CreateDirectory "$R8\log"
CreateDirectory "$R8\snmp\mibs"
CreateDirectory "$R8\snmp\persist"
!macro tamro_copy_example NAME
  IfFileExists "$R8\config\${NAME}" +2 0
    CopyFiles /SILENT "$INSTDIR\share\examples\${NAME}" "$R8\config\${NAME}"
!macroend
!insertmacro tamro_copy_example configuration.xml
!insertmacro tamro_copy_example mappings.xml
!insertmacro tamro_copy_example devices.xml
!insertmacro tamro_copy_example heartbeat.xml

; --install-service passes the TAMRO_HOME it runs with on to the service, and gives the home
; and the program folder their access lists; what it says goes to log\install.log, the
; record of what each installation set up.
FileOpen $0 "$R8\log\install.log" a
FileWrite $0 "--- TAMRO ${VERSION} installed into $INSTDIR, home $R8 ---$\r$\n"
FileClose $0
System::Call 'kernel32::SetEnvironmentVariable(t "TAMRO_HOME", t "$R8")'
ExecWait '"$SYSDIR\cmd.exe" /c ""$INSTDIR\bin\tamro.exe" --install-service -c "$R8\config\configuration.xml" >> "$R8\log\install.log" 2>&1"' $0
StrCmp $0 "0" +2
  DetailPrint "registering the service TAMRO failed (exit code $0): see $R8\log\install.log"
StrCmp $R9 "again" 0 +2
  ExecWait '"$SYSDIR\net.exe" start TAMRO'
