; Ending a running tray before its files are replaced or removed.
;
; The tray's hidden control window takes WM_CLOSE as the menu's "Quit": the tray stops
; its agent, waits for it and exits. A running program's file can be neither written nor
; deleted, so the installer and the uninstaller ask the tray to end and then wait until
; its window is gone and its program file is free, instead of failing on locked files.

!include "LogicLib.nsh"
!include "WinMessages.nsh"

!define TRAY_CONTROL_CLASS "tallowmereTrayControl"
; The tray gives its agent 20 seconds to stop before ending it; then it exits itself.
!define TRAY_END_LIMIT_MS 30000
!define TRAY_END_POLL_MS 250
; The window only notes the request, so its reply comes at once from a tray that works.
!define TRAY_CLOSE_REPLY_LIMIT_MS 5000

; 1 once EndRunningTray has ended a tray, else 0.
Var TrayWasEnded

; Defines EndRunningTray, or un.EndRunningTray with "un.". It ends the tray that runs in
; this session, if any, and aborts when the tray does not end and the user gives up
; (a silent run gives up at once).
!macro TALLOW_END_RUNNING_TRAY_FUNCTION un
Function ${un}EndRunningTray
  StrCpy $TrayWasEnded 0
  FindWindow $0 "${TRAY_CONTROL_CLASS}"
  ${If} $0 = 0
    Return
  ${EndIf}
  DetailPrint "Ending the running tallowmered and its agent…"
  StrCpy $TrayWasEnded 1
  ${Do}
    FindWindow $0 "${TRAY_CONTROL_CLASS}"
    ${If} $0 <> 0
      SendMessage $0 ${WM_CLOSE} 0 0 $1 /TIMEOUT=${TRAY_CLOSE_REPLY_LIMIT_MS}
    ${EndIf}
    StrCpy $1 0
    ${Do}
      FindWindow $0 "${TRAY_CONTROL_CLASS}"
      ${If} $0 = 0
        ; The window goes just before the process ends; the file is free after that.
        ${IfNot} ${FileExists} "$INSTDIR\tallowmere-tray.exe"
          Return
        ${EndIf}
        ClearErrors
        FileOpen $2 "$INSTDIR\tallowmere-tray.exe" a
        ${IfNot} ${Errors}
          FileClose $2
          Return
        ${EndIf}
      ${EndIf}
      Sleep ${TRAY_END_POLL_MS}
      IntOp $1 $1 + ${TRAY_END_POLL_MS}
    ${LoopUntil} $1 >= ${TRAY_END_LIMIT_MS}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
      "tallowmered is still running.$\r$\n$\r$\nQuit it from its menu in the notification area, then choose Retry." \
      /SD IDCANCEL IDRETRY again
    Abort "tallowmered did not end."
    again:
  ${Loop}
FunctionEnd
!macroend
