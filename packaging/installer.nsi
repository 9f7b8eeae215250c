; kestro_bimvision_setup.exe: puts the module into the plugins\ folder of the viewer the user names.
; Built by the "installer" target of the win32 preset:
;   makensis -DVERSION=1.0.4.0 -DRELEASE=1.0.4 -DSTAGE=<cmake --install prefix>
;            -DCHECKER=<viewer_check.exe> -DOUTFILE=<kestro_bimvision_setup.exe> installer.nsi
;
; Silent use:  kestro_bimvision_setup.exe /S /D=C:\Ruta\Del Visor
;   /D= last on the line; "/D=C:\Ruta\Del Visor" and /D="C:\Ruta\Del Visor" are read as well.
;   Without /D= a silent install updates the earlier install in its folder, or does nothing.
; Removal from a script, waiting for the end (the uninstaller started normally hands over to a
; copy of itself and returns at once):
;   copy "<visor>\plugins\kestro_bimvision_data\desinstalar.exe" "%TEMP%\kb_desinstalar.exe"
;   "%TEMP%\kb_desinstalar.exe" /S _?=<visor>\plugins\kestro_bimvision_data
;   del "%TEMP%\kb_desinstalar.exe"
;
; Exit codes (installer and uninstaller; the README lists them too):
;   0 done
;   1 cancelled by the user
;   2 the folder holds no 32-bit viewer (none, a 64-bit one, or no such folder): nothing installed
;   3 the viewer is running with the module loaded: nothing changed, the earlier install stays
;   4 the command line names no usable folder (a /D= that cannot be read; silent install with
;     neither /D= nor an earlier install; the uninstaller not in its folder)
;   5 a file could not be written or removed (rights, disk): nothing changed
; A silent run that fails also writes one line to the console it was started from (or to its
; redirected standard error).

Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!define PRODUCT "Kestro-BimVision"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KestroBimVision"
!define DATA_DIR "kestro_bimvision_data"
!define MODULE "kestro_bimvision_32.dll"
!define UNINSTALLER "desinstalar.exe"

!define EXIT_CANCELLED 1
!define EXIT_NO_VIEWER 2
!define EXIT_IN_USE 3
!define EXIT_COMMAND_LINE 4
!define EXIT_WRITE_FAILED 5

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "TextFunc.nsh"

Name "${PRODUCT} ${RELEASE}"
OutFile "${OUTFILE}"
InstallDir ""
InstallDirRegKey HKLM "${UNINST_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${RELEASE}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"

Var Named          ; 1 when the folder comes from the command line
Var ArgProblem     ; why the command line's /D= cannot be used, or ""
Var FolderNote     ; what the folder page says about the proposed folder
Var Verdict        ; viewer_check.exe's answer for $INSTDIR
Var Earlier        ; folder of an earlier install in another folder, or ""
Var CreatedPlugins ; 1 when this install creates <viewer>\plugins

!define MUI_ICON "${STAGE}\${DATA_DIR}\kestro.ico"
!define MUI_UNICON "${STAGE}\${DATA_DIR}\kestro.ico"
!define MUI_ABORTWARNING
; The details stay on screen until the user goes on.
!define MUI_FINISHPAGE_NOAUTOCLOSE
!define MUI_UNFINISHPAGE_NOAUTOCLOSE

!define MUI_WELCOMEPAGE_TITLE "Instalación de ${PRODUCT} ${RELEASE}"
!define MUI_WELCOMEPAGE_TEXT "Este asistente instala el módulo ${PRODUCT} ${RELEASE} en el visor IFC de 32 bits.$\r$\n$\r$\nEl módulo añade al visor el botón $\"Kestro-BimVision$\", que envía los elementos del modelo a KESTRO, y permite a KESTRO seleccionar un elemento en el visor.$\r$\n$\r$\nCierre el visor antes de continuar."
!insertmacro MUI_PAGE_WELCOME
!define MUI_PAGE_HEADER_TEXT "Carpeta del visor"
!define MUI_PAGE_HEADER_SUBTEXT "Elija la carpeta del visor en la que se instalará el módulo."
!define MUI_DIRECTORYPAGE_TEXT_TOP "Elija la carpeta del visor: la que contiene su programa (.exe). El módulo se instalará en su subcarpeta plugins\.$\r$\n$\r$\n$FolderNote"
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "Carpeta del visor"
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE CheckFolderPage
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TITLE "${PRODUCT} está instalado"
!define MUI_FINISHPAGE_TEXT "El módulo está instalado en la carpeta plugins\ del visor:$\r$\n$INSTDIR\plugins$\r$\n$\r$\nAl abrir el visor aparecerá el botón $\"Kestro-BimVision$\". KESTRO debe estar en ejecución para recibir los elementos."
!insertmacro MUI_PAGE_FINISH

!define MUI_UNCONFIRMPAGE_TEXT_TOP "Se quitará el módulo ${PRODUCT} de la carpeta del visor: el módulo, su icono y este desinstalador. El visor y sus demás archivos no se tocan.$\r$\n$\r$\nCierre el visor antes de continuar."
!define MUI_UNCONFIRMPAGE_TEXT_LOCATION "Carpeta del visor:"
!define MUI_PAGE_HEADER_SUBTEXT "Quita el módulo ${PRODUCT} del visor."
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE un.ConfirmPageLeave
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Spanish"

; The browse dialog and the details speak of the viewer's folder ("carpeta"), like the page.
LangString ^DirBrowseText ${LANG_SPANISH} "Elija la carpeta del visor (la que contiene su programa .exe):"
LangString ^DirSubCaption ${LANG_SPANISH} ": Carpeta del visor"
LangString ^CreateFolder ${LANG_SPANISH} "Creando carpeta: "
LangString ^OutputFolder ${LANG_SPANISH} "Carpeta de salida: "
LangString ^RemoveFolder ${LANG_SPANISH} "Quitando carpeta: "

VIAddVersionKey /LANG=${LANG_SPANISH} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_SPANISH} "FileDescription" "Instalador del módulo ${PRODUCT} para el visor IFC"
VIAddVersionKey /LANG=${LANG_SPANISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SPANISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SPANISH} "CompanyName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_SPANISH} "LegalCopyright" "${PRODUCT}"

;--------------------------------------------------------------------------------------------------
; Shared by the installer and the uninstaller (defined twice, the second time with the "un." prefix).

!macro SHARED_FUNCTIONS un

; Writes the text on the stack as one line for whoever started a silent run: to the standard
; error handle when there is one (redirected, or under Wine), else to the console of the parent
; process. A window program started from a console has no standard handles of its own.
Function ${un}Say
  Exch $R0
  Push $R1
  Push $R2
  Push $R3
  Push $R4
  StrCpy $R0 "$EXEFILE: $R0$\r$\n"
  System::Call 'kernel32::GetStdHandle(i -12) p .R1'
  ${If} $R1 = 0
  ${OrIf} $R1 = -1
    System::Call 'kernel32::AttachConsole(i -1) i .R2'
    StrCpy $R1 0
    ${If} $R2 <> 0
      StrCpy $R3 "CONOUT$$"
      System::Call 'kernel32::CreateFileW(w R3, i 0x40000000, i 3, p 0, i 3, i 0, p 0) p .R1'
    ${EndIf}
  ${EndIf}
  ${If} $R1 <> 0
  ${AndIf} $R1 <> -1
    System::Call 'kernel32::GetConsoleMode(p R1, *i .R2) i .R3'
    ${If} $R3 <> 0
      StrLen $R2 $R0
      System::Call 'kernel32::WriteConsoleW(p R1, w R0, i R2, *i .R3, p 0)'
    ${Else}
      ; A file or a pipe: UTF-8.
      System::Call 'kernel32::WideCharToMultiByte(i 65001, i 0, w R0, i -1, p 0, i 0, p 0, p 0) i .R2'
      System::Alloc $R2
      Pop $R4
      System::Call 'kernel32::WideCharToMultiByte(i 65001, i 0, w R0, i -1, p R4, i R2, p 0, p 0)'
      IntOp $R2 $R2 - 1
      System::Call 'kernel32::WriteFile(p R1, p R4, i R2, *i .R3, p 0)'
      System::Free $R4
    ${EndIf}
  ${EndIf}
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd

; What stands in the way of replacing or removing the file named on the stack; pushes 0 when it
; is absent or free, ${EXIT_IN_USE} when a program holds it (the viewer with the module loaded:
; Windows then refuses to write or delete it), ${EXIT_WRITE_FAILED} when it cannot be opened
; for writing for another reason.
Function ${un}FileState
  Exch $R0
  Push $R1
  Push $R2
  ; GENERIC_WRITE | DELETE, sharing reads only.
  System::Call 'kernel32::CreateFileW(w R0, i 0x40010000, i 1, p 0, i 3, i 0, p 0) p .R1 ?e'
  Pop $R2
  ${If} $R1 <> -1
    System::Call 'kernel32::CloseHandle(p R1)'
    StrCpy $R0 0
  ${ElseIf} $R2 = 2   ; ERROR_FILE_NOT_FOUND
  ${OrIf} $R2 = 3     ; ERROR_PATH_NOT_FOUND
    StrCpy $R0 0
  ${ElseIf} $R2 = 32  ; ERROR_SHARING_VIOLATION
  ${OrIf} $R2 = 33    ; ERROR_LOCK_VIOLATION
    StrCpy $R0 ${EXIT_IN_USE}
  ${Else}
    StrCpy $R0 ${EXIT_WRITE_FAILED}
  ${EndIf}
  Pop $R2
  Pop $R1
  Exch $R0
FunctionEnd

; Tells why the module file named on the stack cannot be replaced or removed; the state
; (${EXIT_IN_USE} or ${EXIT_WRITE_FAILED}) is below it on the stack. Interactive: tells the user
; to close the viewer (or to check the rights), Retry/Cancel. Silent: says why. Pushes 0 for
; Retry, else the exit code to end with.
Function ${un}ModuleBlocked
  Exch $R0
  Exch
  Exch $R1
  ${If} $R1 = ${EXIT_IN_USE}
    ${If} ${Silent}
      Push "el visor está abierto y tiene cargado el módulo $R0; ciérrelo y repita. No se ha cambiado nada."
      Call ${un}Say
    ${Else}
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "El visor está abierto y tiene cargado el módulo$\r$\n$R0$\r$\n$\r$\nCierre el visor y pulse Reintentar. Con Cancelar se sale sin cambiar nada." IDCANCEL cancel
      StrCpy $R1 0
    ${EndIf}
  ${Else}
    ${If} ${Silent}
      Push "no se puede escribir $R0 (¿permisos de administrador?). No se ha cambiado nada."
      Call ${un}Say
    ${Else}
      MessageBox MB_RETRYCANCEL|MB_ICONSTOP "No se puede escribir$\r$\n$R0$\r$\n$\r$\nCompruebe que tiene permisos de administrador y pulse Reintentar. Con Cancelar se sale sin cambiar nada." IDCANCEL cancel
      StrCpy $R1 0
    ${EndIf}
  ${EndIf}
  Goto done
  cancel:
    StrCpy $R1 ${EXIT_CANCELLED}
  done:
  Pop $R0
  Exch $R1
FunctionEnd

; Waits until the module file named on the stack can be replaced or removed (see ModuleBlocked).
; Pushes 0 when it can, else the exit code to end with.
Function ${un}WaitForModule
  Exch $R0
  Push $R1
  ${Do}
    Push $R0
    Call ${un}FileState
    Pop $R1
    ${If} $R1 = 0
      ${ExitDo}
    ${EndIf}
    Push $R1
    Push $R0
    Call ${un}ModuleBlocked
    Pop $R1
  ${LoopWhile} $R1 = 0
  StrCpy $R0 $R1
  Pop $R1
  Exch $R0
FunctionEnd

; Ends the run with the exit code on the stack, from a section: the installer shows that it
; stopped, and the code is what the caller gets.
Function ${un}Fail
  Exch $R0
  SetErrorLevel $R0
  Pop $R0
  DetailPrint "No se ha completado: no se ha cambiado nada."
  Abort
FunctionEnd

!macroend

!insertmacro SHARED_FUNCTIONS ""
!insertmacro SHARED_FUNCTIONS "un."

;--------------------------------------------------------------------------------------------------
; The installer

; Reads /D= from the command line as the system passed it: NSIS takes only an unquoted /D= and
; cuts it off $CMDLINE, but PowerShell and deployment tools write "/D=C:\Ruta" or /D="C:\Ruta",
; which NSIS passes over (and would leave the folder of an earlier install in place). Sets $Named
; and $INSTDIR, or $ArgProblem when the line holds a /D= that cannot be read.
Function ReadFolderArgument
  Push $R0
  Push $R1
  Push $R2
  Push $R3
  Push $R4
  StrCpy $Named 0
  StrCpy $ArgProblem ""
  System::Call 'kernel32::GetCommandLineW() w .R4'
  StrLen $R2 $R4
  StrCpy $R0 0
  StrCpy $R3 -1
  ${DoWhile} $R0 < $R2
    StrCpy $R1 $R4 3 $R0
    ${If} $R1 S== "/D="
      ${If} $R3 <> -1
        StrCpy $ArgProblem "la línea de órdenes tiene más de un /D="
      ${EndIf}
      StrCpy $R3 $R0
    ${EndIf}
    IntOp $R0 $R0 + 1
  ${Loop}
  ${If} $R3 <> -1
  ${AndIf} $ArgProblem == ""
    IntOp $R0 $R3 - 1
    StrCpy $R1 $R4 1 $R0               ; the character before /D=
    IntOp $R0 $R3 + 3
    StrCpy $R2 $R4 1 $R0               ; the first after it
    ${If} $R1 == '"'
      StrCpy $R0 $R4 "" $R0            ; "/D=path" ...
      Push $R0
      Call ReadQuotedRest
      Pop $R0
    ${ElseIf} $R1 == " "
    ${AndIf} $R2 == '"'
      IntOp $R0 $R0 + 1
      StrCpy $R0 $R4 "" $R0            ; /D="path" ...
      Push $R0
      Call ReadQuotedRest
      Pop $R0
    ${ElseIf} $R1 == " "
      StrCpy $R0 $R4 "" $R0            ; /D=path: the rest of the line, as NSIS reads it
      ${Do}
        StrCpy $R1 $R0 1 -1
        ${If} $R1 != " "
          ${ExitDo}
        ${EndIf}
        StrCpy $R0 $R0 -1
      ${Loop}
    ${Else}
      StrCpy $ArgProblem "/D= debe ir separado por un espacio de lo anterior"
    ${EndIf}
    ${If} $ArgProblem == ""
      ; A full path: a drive (C:\...) or a network share (\\servidor\...).
      StrCpy $R1 $R0 2 1
      StrCpy $R2 $R0 2
      ${If} $R1 == ":\"
      ${OrIf} $R2 == "\\"
        ${Do}
          StrCpy $R1 $R0 1 -1
          StrLen $R2 $R0
          ${If} $R1 != "\"
          ${OrIf} $R2 <= 3
            ${ExitDo}
          ${EndIf}
          StrCpy $R0 $R0 -1
        ${Loop}
        StrCpy $INSTDIR $R0
        StrCpy $Named 1
      ${Else}
        StrCpy $ArgProblem "/D= debe dar la ruta completa de la carpeta del visor (C:\...), no $\"$R0$\""
      ${EndIf}
    ${EndIf}
  ${EndIf}
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd

; The text on the stack runs up to a closing quote followed by nothing but spaces; pushes what
; stands before that quote, or sets $ArgProblem.
Function ReadQuotedRest
  Exch $R0
  Push $R1
  Push $R2
  Push $R3
  StrLen $R2 $R0
  StrCpy $R1 0
  ${DoWhile} $R1 < $R2
    StrCpy $R3 $R0 1 $R1
    ${If} $R3 == '"'
      ${ExitDo}
    ${EndIf}
    IntOp $R1 $R1 + 1
  ${Loop}
  ${If} $R1 >= $R2
    StrCpy $ArgProblem "falta la comilla que cierra la ruta de /D="
  ${Else}
    IntOp $R3 $R1 + 1
    StrCpy $R3 $R0 "" $R3
    ${Do}
      StrCpy $R2 $R3 1
      ${If} $R2 != " "
        ${ExitDo}
      ${EndIf}
      StrCpy $R3 $R3 "" 1
    ${Loop}
    ${If} $R3 != ""
      StrCpy $ArgProblem "/D= debe ser lo último de la línea de órdenes"
    ${EndIf}
    StrCpy $R0 $R0 $R1
  ${EndIf}
  Pop $R3
  Pop $R2
  Pop $R1
  Exch $R0
FunctionEnd

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

; Looks for the viewer under the program folders and proposes the first one found.
Function ProposeFolder
  InitPluginsDir
  SetOutPath "$PLUGINSDIR"
  File "/oname=viewer_check.exe" "${CHECKER}"
  StrCpy $0 ""
  ClearErrors
  ExecWait '"$PLUGINSDIR\viewer_check.exe" /find "$PLUGINSDIR\found.txt" "$PROGRAMFILES32" "$PROGRAMFILES64" "$LOCALAPPDATA\Programs"' $1
  ${IfNot} ${Errors}
  ${AndIf} $1 = 0
    StrCpy $2 0
    FileOpen $3 "$PLUGINSDIR\found.txt" r
    ${Do}
      FileReadUTF16LE $3 $4
      ${If} $4 == ""
        ${ExitDo}
      ${EndIf}
      IntOp $2 $2 + 1
      ${If} $0 == ""
        ${TrimNewLines} $4 $0
      ${EndIf}
    ${Loop}
    FileClose $3
  ${EndIf}
  ${If} $0 != ""
    StrCpy $INSTDIR $0
    ${If} $2 > 1
      StrCpy $FolderNote "Hay $2 visores de 32 bits en las carpetas de programas; se propone el primero. Con Examinar puede elegir otro."
    ${Else}
      StrCpy $FolderNote "El visor se ha encontrado en la carpeta de abajo. Con Examinar puede elegir otra."
    ${EndIf}
  ${Else}
    StrCpy $FolderNote "No se ha encontrado ningún visor de 32 bits en las carpetas de programas. Pulse Examinar y elija la carpeta del visor."
  ${EndIf}
FunctionEnd

; Shows (or, silent, says) what the check found. Returns in $0: 0 go on, else the exit code.
Function ExplainVerdict
  StrCpy $0 0
  StrCpy $1 ""
  ${IfNot} ${FileExists} "$INSTDIR\*.*"
    ${If} ${Silent}
      StrCpy $1 "La carpeta $INSTDIR no existe: indique con /D= la carpeta donde está instalado el visor, la que contiene su programa (.exe)."
    ${Else}
      StrCpy $1 "La carpeta$\r$\n$INSTDIR$\r$\nno existe.$\r$\n$\r$\nPulse Examinar y elija la carpeta donde está instalado el visor: la que contiene su programa (.exe)."
    ${EndIf}
  ${ElseIf} $Verdict = 1
    StrCpy $1 "La carpeta$\r$\n$INSTDIR$\r$\nno contiene el visor IFC: ninguno de sus programas (.exe) ofrece las funciones que el módulo necesita.$\r$\n$\r$\nElija la carpeta donde está instalado el programa del visor."
  ${ElseIf} $Verdict = 2
    StrCpy $1 "El visor de la carpeta$\r$\n$INSTDIR$\r$\nes de 64 bits y no puede cargar este módulo, que es de 32 bits.$\r$\n$\r$\nInstale la versión de 32 bits del visor y elija su carpeta."
  ${ElseIf} $Verdict <> 0
    StrCpy $1 "No se puede leer la carpeta$\r$\n$INSTDIR"
  ${EndIf}
  ${If} $1 != ""
    StrCpy $0 ${EXIT_NO_VIEWER}
    ${If} ${Silent}
      Push "$1 No se ha instalado nada."
      Call SayOneLine
    ${Else}
      MessageBox MB_OK|MB_ICONSTOP "$1"
    ${EndIf}
    Return
  ${EndIf}
  ; The module takes any other process whose path holds the token for KESTRO itself.
  Push $INSTDIR
  Call HasKestroToken
  Pop $1
  ${If} $1 = 1
    StrCpy $1 "La ruta$\r$\n$INSTDIR$\r$\ncontiene la palabra KESTRO. El módulo toma por KESTRO cualquier programa cuya ruta contenga esa palabra. El visor que lo carga no se toma a sí mismo, pero cualquier otro programa que se inicie desde esta carpeta (un segundo visor, una herramienta) recibiría los elementos en lugar de KESTRO.$\r$\n$\r$\n¿Instalar de todos modos?"
    ${If} ${Silent}
      Push "aviso: $1 Se instala."
      Call SayOneLine
    ${Else}
      MessageBox MB_OKCANCEL|MB_ICONEXCLAMATION|MB_DEFBUTTON2 "$1" IDOK +2
      StrCpy $0 ${EXIT_CANCELLED}
    ${EndIf}
  ${EndIf}
FunctionEnd

; Say, with the line breaks of a message box turned into spaces.
Function SayOneLine
  Exch $R0
  Push $R1
  Push $R2
  Push $R3
  StrCpy $R1 ""
  ${Do}
    StrCpy $R2 $R0 1
    ${If} $R2 == ""
      ${ExitDo}
    ${EndIf}
    StrCpy $R0 $R0 "" 1
    ${If} $R2 == "$\r"
      ${Continue}
    ${ElseIf} $R2 == "$\n"
      StrCpy $R2 " "
    ${EndIf}
    ${If} $R2 == " "
      StrCpy $R3 $R1 1 -1
      ${If} $R3 == " "
        ${Continue}
      ${EndIf}
    ${EndIf}
    StrCpy $R1 "$R1$R2"
  ${Loop}
  Push $R1
  Call Say
  Pop $R3
  Pop $R2
  Pop $R1
  Pop $R0
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

; $Earlier: the folder of an earlier install in another folder than $INSTDIR, when it left files.
Function FindEarlier
  ReadRegStr $Earlier HKLM "${UNINST_KEY}" "InstallLocation"
  ${If} $Earlier == $INSTDIR  ; StrCmp ignores letter case, like the file system
  ${OrIfNot} ${FileExists} "$Earlier\plugins\${DATA_DIR}\${UNINSTALLER}"
    StrCpy $Earlier ""
  ${EndIf}
FunctionEnd

; Both modules this install replaces or removes can be: returns in $0 0, or the exit code.
Function WaitForModules
  Call FindEarlier
  Push "$INSTDIR\plugins\${MODULE}"
  Call WaitForModule
  Pop $0
  ${If} $0 = 0
  ${AndIf} $Earlier != ""
    Push "$Earlier\plugins\${MODULE}"
    Call WaitForModule
    Pop $0
  ${EndIf}
FunctionEnd

Function CheckFolderPage
  Call CheckViewer
  Call ExplainVerdict
  ${If} $0 <> 0
    Abort
  ${EndIf}
  Call WaitForModules
  ${If} $0 <> 0
    SetErrorLevel $0
    Quit
  ${EndIf}
FunctionEnd

Function .onInit
  Call ReadFolderArgument
  ${If} $ArgProblem != ""
    ${If} ${Silent}
      Push "$ArgProblem. Ejemplo: /S /D=C:\Ruta\del visor (al final, sin comillas). No se ha instalado nada."
      Call Say
    ${Else}
      MessageBox MB_OK|MB_ICONSTOP "No se entiende la carpeta de la línea de órdenes: $ArgProblem.$\r$\n$\r$\nEjemplo: kestro_bimvision_setup.exe /D=C:\Ruta\del visor (al final, sin comillas)."
    ${EndIf}
    SetErrorLevel ${EXIT_COMMAND_LINE}
    Quit
  ${EndIf}
  ${If} $Named = 0
  ${AndIf} $INSTDIR != ""
    StrCpy $FolderNote "Se propone la carpeta de la instalación anterior."
    ; An entry left behind by a folder that is gone proposes nothing in an interactive run.
    ${IfNot} ${Silent}
    ${AndIfNot} ${FileExists} "$INSTDIR\*.*"
      StrCpy $INSTDIR ""
    ${EndIf}
  ${EndIf}

  ${If} ${Silent}
    ${If} $Named = 0
    ${AndIf} $INSTDIR == ""
      Push "indique la carpeta del visor: /S /D=C:\Ruta\del visor (al final, sin comillas). No se ha instalado nada."
      Call Say
      SetErrorLevel ${EXIT_COMMAND_LINE}
      Quit
    ${EndIf}
    Call CheckViewer
    Call ExplainVerdict
    ${If} $0 <> 0
      SetErrorLevel $0
      Quit
    ${EndIf}
    Call WaitForModules
    ${If} $0 <> 0
      SetErrorLevel $0
      Quit
    ${EndIf}
  ${ElseIf} $INSTDIR == ""
    Call ProposeFolder
  ${EndIf}

  ; "Espacio requerido" on the folder page (not shown in a silent run): the module, the icon and
  ; the uninstaller as written.
  ${IfNot} ${Silent}
    InitPluginsDir
    WriteUninstaller "$PLUGINSDIR\${UNINSTALLER}"
    ${GetSize} "$PLUGINSDIR" "/M=${UNINSTALLER} /S=0K /G=0" $0 $1 $2
    Delete "$PLUGINSDIR\${UNINSTALLER}"
    SectionGetSize 0 $1
    IntOp $1 $1 + $0
    SectionSetSize 0 $1
  ${EndIf}
FunctionEnd

; Puts the new module into $INSTDIR\plugins: written beside the old one first, then the old one
; renamed aside (${MODULE}.anterior) and the new one renamed into its place. The old one stays
; aside until the install has gone through, so that a failure later on can put it back
; (UndoModule). Windows and Wine rename a module the viewer has loaded but refuse to
; write it: once aside, where no viewer looks for it, it is checked again, so a viewer started
; after the check still leaves the old module where it was. Sets $0 to 0, or the exit code.
; A macro, used in the section: so the module counts in the section's size ("Espacio requerido").
!macro PLACE_MODULE
  StrCpy $0 0
  DetailPrint "Módulo: $INSTDIR\plugins\${MODULE}"
  SetDetailsPrint none
  SetOutPath "$INSTDIR\plugins"
  SetOverwrite try
  ClearErrors
  File "/oname=${MODULE}.nuevo" "${STAGE}\${MODULE}"
  SetOverwrite on
  ${If} ${Errors}
    Delete "$INSTDIR\plugins\${MODULE}.nuevo"
    StrCpy $0 ${EXIT_WRITE_FAILED}
  ${Else}
    Delete "$INSTDIR\plugins\${MODULE}.anterior"
    ${If} ${FileExists} "$INSTDIR\plugins\${MODULE}"
      ClearErrors
      Rename "$INSTDIR\plugins\${MODULE}" "$INSTDIR\plugins\${MODULE}.anterior"
      ${If} ${Errors}
        StrCpy $0 ${EXIT_IN_USE}
      ${Else}
        Push "$INSTDIR\plugins\${MODULE}.anterior"
        Call FileState
        Pop $0
        ${If} $0 <> 0
          Rename "$INSTDIR\plugins\${MODULE}.anterior" "$INSTDIR\plugins\${MODULE}"
        ${EndIf}
      ${EndIf}
    ${EndIf}
    ${If} $0 = 0
      ClearErrors
      Rename "$INSTDIR\plugins\${MODULE}.nuevo" "$INSTDIR\plugins\${MODULE}"
      ${If} ${Errors}
        StrCpy $0 ${EXIT_WRITE_FAILED}
        ${If} ${FileExists} "$INSTDIR\plugins\${MODULE}.anterior"
          Rename "$INSTDIR\plugins\${MODULE}.anterior" "$INSTDIR\plugins\${MODULE}"
        ${EndIf}
      ${EndIf}
    ${EndIf}
    ${If} $0 <> 0
      Delete "$INSTDIR\plugins\${MODULE}.nuevo"
    ${EndIf}
  ${EndIf}
  SetDetailsPrint both
!macroend

; Takes back the module this install put in $INSTDIR, after a later step failed: an old module
; set aside comes back, else the plugins folder goes again when this install created it.
Function UndoModule
  SetDetailsPrint none
  SetOutPath "$TEMP"  ; a folder in use as working directory would stay
  SetDetailsPrint both
  Delete "$INSTDIR\plugins\${MODULE}"
  ${If} $3 == "update"
    Rename "$INSTDIR\plugins\${MODULE}.anterior" "$INSTDIR\plugins\${MODULE}"
  ${ElseIf} $CreatedPlugins = 1
    RMDir "$INSTDIR\plugins"
  ${EndIf}
FunctionEnd

Section "Kestro-BimVision"
  SetShellVarContext all
  ; The uninstaller removes the plugins folder again when this install created it, and an update
  ; in the same folder keeps what the first install recorded.
  ReadRegStr $0 HKLM "${UNINST_KEY}" "InstallLocation"
  ClearErrors
  ReadRegDWORD $CreatedPlugins HKLM "${UNINST_KEY}" "CreatedPluginsFolder"
  ${If} $0 != $INSTDIR
  ${OrIf} ${Errors}
    StrCpy $CreatedPlugins 0
    ${IfNot} ${FileExists} "$INSTDIR\plugins\*.*"
      StrCpy $CreatedPlugins 1
    ${EndIf}
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\plugins\${MODULE}"
    StrCpy $3 "update"
  ${Else}
    StrCpy $3 "new"
  ${EndIf}

  ; 1. The module, first: until it is in place nothing else has changed.
  ${Do}
    Call WaitForModules
    ${If} $0 = 0
      !insertmacro PLACE_MODULE
      ${If} $0 = ${EXIT_IN_USE}
        Push $0
        Push "$INSTDIR\plugins\${MODULE}"
        Call ModuleBlocked
        Pop $0
        ${If} $0 = 0
          ${Continue}
        ${EndIf}
      ${ElseIf} $0 = ${EXIT_WRITE_FAILED}
        DetailPrint "No se puede escribir $INSTDIR\plugins\${MODULE}"
        ${If} ${Silent}
          Push "no se puede escribir $INSTDIR\plugins\${MODULE}. No se ha cambiado nada."
          Call Say
        ${EndIf}
      ${EndIf}
    ${EndIf}
    ${ExitDo}
  ${Loop}
  ${If} $0 <> 0
    ${If} $3 == "new"
      Call UndoModule
    ${EndIf}
    Push $0
    Call Fail
  ${EndIf}

  ; 2. An earlier install in another folder goes, as its own uninstaller removes it. If it
  ;    cannot (its viewer was started meanwhile), the new module goes again and the earlier
  ;    install stays as it was.
  ${If} $Earlier != ""
    DetailPrint "Quitando la instalación anterior de $Earlier"
    InitPluginsDir
    CopyFiles /SILENT "$Earlier\plugins\${DATA_DIR}\${UNINSTALLER}" "$PLUGINSDIR\old_uninstaller.exe"
    ; _? runs it in place of its own copy to the temporary folder, so that ExecWait waits for it.
    ClearErrors
    ExecWait '"$PLUGINSDIR\old_uninstaller.exe" /S _?=$Earlier\plugins\${DATA_DIR}' $1
    ${If} ${Errors}
    ${OrIf} ${FileExists} "$Earlier\plugins\${MODULE}"
      DetailPrint "No se puede quitar la instalación anterior de $Earlier"
      ${If} ${Silent}
        Push "no se puede quitar la instalación anterior de $Earlier (¿un visor abierto allí?). No se ha cambiado nada."
        Call Say
      ${Else}
        MessageBox MB_OK|MB_ICONSTOP "No se puede quitar la instalación anterior de$\r$\n$Earlier$\r$\n$\r$\nCierre el visor que la usa y vuelva a instalar. No se ha cambiado nada."
      ${EndIf}
      Call UndoModule
      Push ${EXIT_IN_USE}
      Call Fail
    ${EndIf}
  ${EndIf}

  ; The install goes through: the old module set aside is no longer needed.
  SetDetailsPrint none
  Delete "$INSTDIR\plugins\${MODULE}.anterior"
  SetDetailsPrint both

  ; 3. The rest of the install.
  SetOutPath "$INSTDIR\plugins\${DATA_DIR}"
  File "${STAGE}\${DATA_DIR}\kestro.ico"
  WriteUninstaller "$INSTDIR\plugins\${DATA_DIR}\${UNINSTALLER}"

  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "${PRODUCT}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\plugins\${DATA_DIR}\kestro.ico"
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\plugins\${DATA_DIR}\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\plugins\${DATA_DIR}\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "CreatedPluginsFolder" $CreatedPlugins
  ${GetSize} "$INSTDIR\plugins" "/M=${MODULE} /S=0K /G=0" $1 $2 $4
  ${GetSize} "$INSTDIR\plugins\${DATA_DIR}" "/S=0K /G=0" $2 $4 $5
  IntOp $1 $1 + $2
  WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" $1
SectionEnd

;--------------------------------------------------------------------------------------------------
; The uninstaller. It sits in <viewer>\plugins\kestro_bimvision_data; $INSTDIR is made the viewer's
; folder, which its page shows.

Function un.onInit
  ${Do}
    StrCpy $0 $INSTDIR 1 -1
    ${If} $0 != "\"
      ${ExitDo}
    ${EndIf}
    StrCpy $INSTDIR $INSTDIR -1
  ${Loop}
  ${GetFileName} $INSTDIR $0
  ${GetParent} $INSTDIR $1
  ${GetFileName} $1 $2
  ${If} $0 != "${DATA_DIR}"
  ${OrIf} $2 != "plugins"
    StrCpy $0 "${UNINSTALLER} debe estar en <carpeta del visor>\plugins\${DATA_DIR}; está en $INSTDIR. No se ha quitado nada."
    ${If} ${Silent}
      Push $0
      Call un.Say
    ${Else}
      MessageBox MB_OK|MB_ICONSTOP $0
    ${EndIf}
    SetErrorLevel ${EXIT_COMMAND_LINE}
    Quit
  ${EndIf}
  ${GetParent} $1 $INSTDIR
  ${If} ${Silent}
    Push "$INSTDIR\plugins\${MODULE}"
    Call un.WaitForModule
    Pop $0
    ${If} $0 <> 0
      SetErrorLevel $0
      Quit
    ${EndIf}
  ${EndIf}
FunctionEnd

Function un.ConfirmPageLeave
  Push "$INSTDIR\plugins\${MODULE}"
  Call un.WaitForModule
  Pop $0
  ${If} $0 <> 0
    SetErrorLevel $0
    Quit
  ${EndIf}
FunctionEnd

Section "Uninstall"
  SetShellVarContext all
  ; Out of the folders about to be removed: a folder in use as working directory stays.
  SetDetailsPrint none
  SetOutPath "$TEMP"
  SetDetailsPrint both
  ; The module first: while the viewer holds it, Windows refuses to delete it, and then the icon,
  ; the uninstaller and the entry in the list of programs stay with it.
  ${Do}
    Push "$INSTDIR\plugins\${MODULE}"
    Call un.WaitForModule
    Pop $0
    ${If} $0 = 0
      Delete "$INSTDIR\plugins\${MODULE}"
      ${IfNot} ${FileExists} "$INSTDIR\plugins\${MODULE}"
        ${ExitDo}
      ${EndIf}
      Push ${EXIT_IN_USE}
      Push "$INSTDIR\plugins\${MODULE}"
      Call un.ModuleBlocked
      Pop $0
    ${EndIf}
  ${LoopWhile} $0 = 0
  ${If} $0 <> 0
    Push $0
    Call un.Fail
  ${EndIf}

  ReadRegStr $1 HKLM "${UNINST_KEY}" "InstallLocation"
  ReadRegDWORD $2 HKLM "${UNINST_KEY}" "CreatedPluginsFolder"
  Delete "$INSTDIR\plugins\${DATA_DIR}\kestro.ico"
  Delete "$INSTDIR\plugins\${DATA_DIR}\${UNINSTALLER}"
  RMDir "$INSTDIR\plugins\${DATA_DIR}"
  ${If} $1 == $INSTDIR
  ${AndIf} $2 = 1
    RMDir "$INSTDIR\plugins"
  ${EndIf}
  ; The entry belongs to this folder's install (or to none that is left).
  ${If} $1 == $INSTDIR
  ${OrIfNot} ${FileExists} "$1\plugins\${MODULE}"
    DeleteRegKey HKLM "${UNINST_KEY}"
  ${EndIf}
SectionEnd
