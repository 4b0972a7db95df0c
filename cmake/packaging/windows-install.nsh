; Run by the installer once the files are in place.
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
StrCpy $R9 "first"
IfFileExists "$INSTDIR\config\configuration.xml" 0 +2
  StrCpy $R9 "again"

!macro tamro_copy_example NAME
  IfFileExists "$INSTDIR\config\${NAME}" +2 0
    CopyFiles /SILENT "$INSTDIR\share\examples\${NAME}" "$INSTDIR\config\${NAME}"
!macroend
!insertmacro tamro_copy_example configuration.xml
!insertmacro tamro_copy_example mappings.xml
!insertmacro tamro_copy_example devices.xml
!insertmacro tamro_copy_example heartbeat.xml

; The home is the folder installed into, also when the operator chose another than C:\tamro:
; --install-service passes the TAMRO_HOME it runs with on to the service.
System::Call 'kernel32::SetEnvironmentVariable(t "TAMRO_HOME", t "$INSTDIR")'
ExecWait '"$INSTDIR\bin\tamro.exe" --install-service -c "$INSTDIR\config\configuration.xml"'
StrCmp $R9 "again" 0 +2
  ExecWait '"$SYSDIR\net.exe" start TAMRO'
