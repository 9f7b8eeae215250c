; kestro_bimvision_setup.exe: puts the module into the plugins\ folder of the viewer the user names.
; Built by the "installer" target of the win32 preset:
;   makensis -DVERSION=1.0.4.0 -DSTAGE=<cmake --install prefix> -DCHECKER=<viewer_check.exe>
;            -DOUTFILE=<kestro_bimvision_setup.exe> installer.nsi
; Silent use: kestro_bimvision_setup.exe /S /D=C:\Ruta\Del\Visor   (/D last, no quotes, may hold spaces)
; Exit codes: 0 installed; 2 the folder holds no 32-bit viewer (or a 64-bit one); 1 cancelled.

Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!define PRODUCT "Kestro-BimVision"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KestroBimVision"
!define DATA_DIR "kestro_bimvision_data"
!define UNINSTALLER "desinstalar.exe"

!include "MUI2.nsh"
!include "LogicLib.nsh"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES32"
InstallDirRegKey HKLM "${UNINST_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"

!define MUI_ICON "${STAGE}\${DATA_DIR}\kestro.ico"
!define MUI_UNICON "${STAGE}\${DATA_DIR}\kestro.ico"
!define MUI_ABORTWARNING

!define MUI_WELCOMEPAGE_TEXT "Este asistente instala el módulo ${PRODUCT} ${VERSION} en el visor IFC de 32 bits.$\r$\n$\r$\nEl módulo añade al visor el botón $\"Kestro-BimVision$\", que envía los elementos del modelo a KESTRO, y permite a KESTRO seleccionar un elemento en el visor.$\r$\n$\r$\nCierre el visor antes de continuar."
!insertmacro MUI_PAGE_WELCOME
!define MUI_DIRECTORYPAGE_TEXT_TOP "Elija la carpeta del visor: la que contiene su programa (.exe). El módulo se instalará en su subcarpeta plugins\."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "Carpeta del visor"
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE CheckFolderPage
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TEXT "El módulo está instalado en la carpeta plugins\ del visor.$\r$\n$\r$\nAl abrir el visor aparecerá el botón $\"Kestro-BimVision$\". KESTRO debe estar en ejecución para recibir los elementos."
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Spanish"

VIAddVersionKey /LANG=${LANG_SPANISH} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_SPANISH} "FileDescription" "Instalador del módulo ${PRODUCT} para el visor IFC"
VIAddVersionKey /LANG=${LANG_SPANISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SPANISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SPANISH} "CompanyName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_SPANISH} "LegalCopyright" "${PRODUCT}"

Var Verdict

; Runs viewer_check.exe on $INSTDIR; $Verdict gets its exit code (0 = a 32-bit viewer).
Function CheckViewer
  InitPluginsDir
  SetOutPath "$PLUGINSDIR"
  File "/oname=viewer_check.exe" "${CHECKER}"
  ClearErrors
  ExecWait '"$PLUGINSDIR\viewer_check.exe" "$INSTDIR"' $Verdict
  IfErrors 0 +2
    StrCpy $Verdict 4
FunctionEnd

; Shows what the check found. Returns in $0: 1 = go on, 0 = stop.
Function ExplainVerdict
  StrCpy $0 1
  ${If} $Verdict == 1
    MessageBox MB_OK|MB_ICONSTOP "La carpeta$\r$\n$INSTDIR$\r$\nno contiene el visor IFC: ninguno de sus programas (.exe) ofrece las funciones que el módulo necesita.$\r$\n$\r$\nElija la carpeta donde está instalado el programa del visor." /SD IDOK
    StrCpy $0 0
  ${ElseIf} $Verdict == 2
    MessageBox MB_OK|MB_ICONSTOP "El visor de la carpeta$\r$\n$INSTDIR$\r$\nes de 64 bits y no puede cargar este módulo, que es de 32 bits.$\r$\n$\r$\nInstale la versión de 32 bits del visor y elija su carpeta." /SD IDOK
    StrCpy $0 0
  ${ElseIf} $Verdict != 0
    MessageBox MB_OK|MB_ICONSTOP "No se puede leer la carpeta$\r$\n$INSTDIR" /SD IDOK
    StrCpy $0 0
  ${EndIf}
  ${If} $0 == 1
    ; The plugin takes every process whose path holds the token for KESTRO itself.
    Push $INSTDIR
    Call HasKestroToken
    Pop $1
    ${If} $1 == 1
      MessageBox MB_OKCANCEL|MB_ICONEXCLAMATION "La ruta$\r$\n$INSTDIR$\r$\ncontiene la palabra KESTRO. El módulo toma cualquier programa cuya ruta contenga KESTRO por el propio KESTRO, también el visor que lo carga: en esta carpeta enviaría los elementos al propio visor.$\r$\n$\r$\n¿Instalar de todos modos?" /SD IDOK IDOK +2
      StrCpy $0 0
    ${EndIf}
  ${EndIf}
FunctionEnd

; Pushes 1 when the text on the stack holds "KESTRO" in any letter case, else 0.
Function HasKestroToken
  Exch $R0
  Push $R1
  Push $R2
  StrCpy $R1 0
  loop:
    StrCpy $R2 $R0 6 $R1
    StrLen $R2 $R2
    IntCmp $R2 6 0 none none
    StrCpy $R2 $R0 6 $R1
    StrCmp $R2 "KESTRO" found  ; StrCmp ignores letter case
    IntOp $R1 $R1 + 1
    Goto loop
  found:
    StrCpy $R0 1
    Goto done
  none:
    StrCpy $R0 0
  done:
  Pop $R2
  Pop $R1
  Exch $R0
FunctionEnd

Function CheckFolderPage
  Call CheckViewer
  Call ExplainVerdict
  ${If} $0 == 0
    Abort
  ${EndIf}
FunctionEnd

Function .onInit
  ${If} ${Silent}
    Call CheckViewer
    Call ExplainVerdict
    ${If} $0 == 0
      SetErrorLevel 2
      Quit
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "Kestro-BimVision"
  SetShellVarContext all
  ; An earlier install, here or in another folder, is removed first, as its uninstaller would.
  ReadRegStr $1 HKLM "${UNINST_KEY}" "InstallLocation"
  ${If} $1 != ""
  ${AndIf} ${FileExists} "$1\plugins\${DATA_DIR}\${UNINSTALLER}"
    DetailPrint "Quitando la instalación anterior de $1"
    InitPluginsDir
    CopyFiles /SILENT "$1\plugins\${DATA_DIR}\${UNINSTALLER}" "$PLUGINSDIR\old_uninstaller.exe"
    ; _? runs it in place of its own copy to the temporary folder, so that ExecWait waits for it.
    ExecWait '"$PLUGINSDIR\old_uninstaller.exe" /S _?=$1\plugins\${DATA_DIR}'
  ${EndIf}

  ; Folders this install creates are removed again by the uninstaller, when empty.
  StrCpy $2 0
  ${IfNot} ${FileExists} "$INSTDIR\plugins\*.*"
    StrCpy $2 1
  ${EndIf}

  SetOutPath "$INSTDIR\plugins"
  File "${STAGE}\kestro_bimvision_32.dll"
  SetOutPath "$INSTDIR\plugins\${DATA_DIR}"
  File "${STAGE}\${DATA_DIR}\kestro.ico"
  WriteUninstaller "$INSTDIR\plugins\${DATA_DIR}\${UNINSTALLER}"

  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "${PRODUCT} (módulo del visor IFC para KESTRO)"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "${PRODUCT}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\plugins\${DATA_DIR}\kestro.ico"
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\plugins\${DATA_DIR}\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\plugins\${DATA_DIR}\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "CreatedPluginsFolder" $2
  SectionGetSize 0 $3
  WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" $3
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  ; Out of the folders about to be removed: a folder in use as working directory stays.
  SetOutPath "$TEMP"
  ; The uninstaller sits in <viewer>\plugins\kestro_bimvision_data.
  ReadRegDWORD $2 HKLM "${UNINST_KEY}" "CreatedPluginsFolder"
  Delete "$INSTDIR\kestro.ico"
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR"
  Delete "$INSTDIR\..\kestro_bimvision_32.dll"
  ${If} $2 == 1
    RMDir "$INSTDIR\.."
  ${EndIf}
  DeleteRegKey HKLM "${UNINST_KEY}"
SectionEnd
