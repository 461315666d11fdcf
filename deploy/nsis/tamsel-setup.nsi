; Setup program for Tamsel, as tamsel-update.exe runs it.
;
; The updater starts it as the system account in session 0, where nobody can
; answer a question, with exactly this command line:
;
;   "...\update\downloaded-setup.exe" /VERYSILENT /SUPPRESSMSGBOXES /NORESTART /UPDATE "/LOG=...\update\setup.log"
;
; (rollback-setup.exe for a rollback), does not wait for it, and relies on
; four things (docs/setup-program-contract.md): the silent run with those
; flags and that log switch; the mutex Global\Tam_Sel.Setup held from start
; to end; a copy of this program left as installed-setup.exe in the folder of
; the log, which the next update keeps as its rollback copy; and
; "<program folder>\tamsel-update.exe" /phase2 started at the end, without
; waiting for it, while the mutex's name lasts until this process has ended.
;
; The program folder is the one recorded in the program's uninstall entry
; (HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tamsel, value
; InstallLocation, 64-bit view); the first installation writes it. The
; deployment kit (MSI and scripts) reads the same value, so the updater, the
; program and every later update meet in one folder wherever that is.
;
; Built with TAMSEL_UPDATE_EXE, it also carries the updater and puts it in
; place after the updater's own check run has let go of the file, so a new
; updater build reaches the machines with the ordinary update and runs that
; update's phase two.
;
; Build (makensis 3.x, on Linux or Windows):
;   makensis -DTAMSEL_EXE=path\Tamsel.exe -DVERSION=2.0.0 [-DTAMSEL_UPDATE_EXE=path\tamsel-update.exe]
;            -DOUT_FILE=tamsel-setup-2.0.0.exe tamsel-setup.nsi
;
; Exit codes, for whoever runs it by hand (the updater never reads them):
;   0 installed; 2 refused, not the updater's command line; 3 Tamsel.exe not
;   replaced (still in use, or not writable); 4 phase two could not be started;
;   5 Tamsel.exe installed but tamsel-update.exe not replaced (not written, its
;   self-check failed, or still in use; phase two is run by the previous updater).

!ifndef TAMSEL_EXE
  !error "Give the Tamsel.exe to install: -DTAMSEL_EXE=..."
!endif
!ifndef VERSION
  !error "Give the version it carries: -DVERSION=a.b.c"
!endif
!ifndef OUT_FILE
  !define OUT_FILE "tamsel-setup-${VERSION}.exe"
!endif

; A 64-bit program gets a 64-bit setup (this also keeps $PROGRAMFILES and the
; registry on the 64-bit side).
Target amd64-unicode
; No wizard at all: the sections then run on the main thread, the same one
; that created the mutex and so the only one that can release it.
SilentInstall silent
RequestExecutionLevel admin
SetCompressor /SOLID lzma
CRCCheck on
Name "Tamsel ${VERSION}"
OutFile "${OUT_FILE}"
; Where the program lives; the updater lies beside it. The folder the first
; installation recorded wins over the default, so a program installed
; elsewhere (D:\Apps\Tamsel) is updated where it is and phase two is found.
!define PROGRAM_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tamsel"
InstallDir "$PROGRAMFILES64\Tamsel"
InstallDirRegKey HKLM "${PROGRAM_KEY}" "InstallLocation"

!include FileFunc.nsh
!include WordFunc.nsh
!include LogicLib.nsh

!define SETUP_MUTEX "Global\Tam_Sel.Setup"
!define EXIT_REFUSED 2
!define EXIT_NOT_INSTALLED 3
!define EXIT_NO_PHASE_TWO 4
!define EXIT_UPDATER_NOT_REPLACED 5
; The updater has closed Tamsel.exe before it starts this program, but a
; forced end takes a moment to let go of the file: keep trying for 30 s.
!define REPLACE_TRIES 60
!define REPLACE_PAUSE_MS 500
!define MOVEFILE_REPLACE_EXISTING_WRITE_THROUGH 9
!define ERROR_ALREADY_EXISTS 183

Var Parameters
Var LogPath
Var Log      ; handle of the open log file; empty when it could not be opened
Var Mutex
Var ExitCode

!macro LogLine text
  ${If} $Log != ""
    ; ASCII only: FileWrite writes the ANSI code page in a Unicode build.
    FileWrite $Log "tamsel setup ${VERSION}: ${text}$\r$\n"
  ${EndIf}
!macroend
!define LogLine "!insertmacro LogLine"

; Pushes $INSTDIR\<name>.new through to the disk (FlushFileBuffers) before it
; is renamed over the old file: NTFS journals the rename, not the data, so a
; power cut after an unflushed rename can leave a file of zeros in its place.
; $3 is non-zero when the data reached the disk.
!macro FlushNew name
  StrCpy $3 0
  ; GENERIC_WRITE, no sharing, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL.
  System::Call 'kernel32::CreateFileW(w "$INSTDIR\${name}.new", i 0x40000000, i 0, p 0, i 3, i 0x80, p 0) p .r4'
  ${If} $4 P<> -1
    System::Call 'kernel32::FlushFileBuffers(p r4) i .r3'
    System::Call 'kernel32::CloseHandle(p r4)'
  ${EndIf}
!macroend

; Moves $INSTDIR\<name>.new over $INSTDIR\<name> in one step, retrying while
; the old file is in use (a program still ending, or the updater's check run
; that started this setup). $3 is non-zero when it was moved; otherwise the
; .new file is removed and the old file stays.
!macro ReplaceInUse name
  StrCpy $R2 0
  ${Do}
    System::Call 'kernel32::MoveFileExW(w "$INSTDIR\${name}.new", w "$INSTDIR\${name}", i ${MOVEFILE_REPLACE_EXISTING_WRITE_THROUGH}) i .r3'
    ${If} $3 <> 0
    ${OrIf} $R2 >= ${REPLACE_TRIES}
      ${ExitDo}
    ${EndIf}
    ${If} $R2 = 0
      ${LogLine} "${name} is still in use: waiting for it"
    ${EndIf}
    IntOp $R2 $R2 + 1
    Sleep ${REPLACE_PAUSE_MS}
  ${Loop}
  ${If} $3 = 0
    Delete "$INSTDIR\${name}.new"
  ${EndIf}
!macroend

; Each flag must stand alone: the option parser matches by prefix, so text
; after a flag (/UPDATEX) means it is some other flag.
!macro RequireFlag flag
  ClearErrors
  ${GetOptions} $Parameters "${flag}" $R1
  ${If} ${Errors}
  ${OrIf} $R1 != ""
    SetErrorLevel ${EXIT_REFUSED}
    Quit
  ${EndIf}
!macroend

Function .onInit
  StrCpy $Log ""
  StrCpy $Mutex 0
  StrCpy $ExitCode 0
  ${GetParameters} $Parameters
  ; The updater quotes the log switch as a whole ("/LOG=C:\...\setup.log"),
  ; and the option parser does not look inside quotes: move the opening quote
  ; behind the equals sign, where the parser takes it for a quoted value.
  ${WordReplace} $Parameters '"/LOG=' '/LOG="' "+" $Parameters

  ; Started any other way (a double click) it installs nothing: a run with a
  ; wizard would wait for ever in session 0.
  !insertmacro RequireFlag "/VERYSILENT"
  !insertmacro RequireFlag "/SUPPRESSMSGBOXES"
  !insertmacro RequireFlag "/NORESTART"
  !insertmacro RequireFlag "/UPDATE"
  ClearErrors
  ${GetOptions} $Parameters "/LOG=" $LogPath
  ${If} ${Errors}
  ${OrIf} $LogPath == ""
    SetErrorLevel ${EXIT_REFUSED}
    Quit
  ${EndIf}

  ; Phase two judges the installation once this mutex is gone, so it is taken
  ; before anything is touched. Another setup program holding it is waited
  ; for as long as phase two would wait for it (180 s).
  System::Call 'kernel32::CreateMutexW(p 0, i 1, w "${SETUP_MUTEX}") p .r0 ?e'
  Pop $1
  StrCpy $Mutex $0
  ${If} $0 P<> 0
  ${AndIf} $1 = ${ERROR_ALREADY_EXISTS}
    System::Call 'kernel32::WaitForSingleObject(p r0, i 180000) i .r2'
  ${EndIf}

  ClearErrors
  FileOpen $Log $LogPath a
  ${If} ${Errors}
    StrCpy $Log ""
  ${Else}
    FileSeek $Log 0 END
  ${EndIf}
  ${LogLine} "started"
  ${If} $0 P= 0
    ${LogLine} "the setup mutex could not be created; installing all the same"
  ${ElseIf} $1 = ${ERROR_ALREADY_EXISTS}
    ${LogLine} "waited for another setup program (wait result $2)"
  ${EndIf}
FunctionEnd

Section
  SetOutPath $INSTDIR
  ; A file that cannot be written sets the error flag instead of asking.
  SetOverwrite try

  ; Written beside the old program first and then moved over it in one step,
  ; so an interrupted write never leaves a broken Tamsel.exe behind.
  ClearErrors
  File "/oname=Tamsel.exe.new" "${TAMSEL_EXE}"
  ${IfNot} ${Errors}
    !insertmacro FlushNew "Tamsel.exe"
  ${EndIf}
  ${If} ${Errors}
  ${OrIf} $3 = 0
    Delete "$INSTDIR\Tamsel.exe.new"
    ${LogLine} "Tamsel.exe.new could not be written: nothing installed"
    StrCpy $ExitCode ${EXIT_NOT_INSTALLED}
  ${Else}
    !insertmacro ReplaceInUse "Tamsel.exe"
    ${If} $3 = 0
      ${LogLine} "Tamsel.exe stayed in use: nothing installed"
      StrCpy $ExitCode ${EXIT_NOT_INSTALLED}
    ${Else}
      ${LogLine} "Tamsel.exe installed"
      ; The first installation records where the program lives, for the next
      ; setup program and for the deployment kit; later ones leave the entry
      ; as the vendor's own installer wrote it.
      SetRegView 64
      ReadRegStr $R4 HKLM "${PROGRAM_KEY}" "InstallLocation"
      ${If} $R4 == ""
        WriteRegStr HKLM "${PROGRAM_KEY}" "InstallLocation" "$INSTDIR"
        ${LogLine} "program folder recorded"
      ${EndIf}
!ifdef TAMSEL_UPDATE_EXE
      ; The updater that started this setup has ended or is ending: its check
      ; run stops right after the start. The new updater belongs to the
      ; version now installed; it runs this update's phase two, and a
      ; rollback's setup program brings the previous one back with it.
      ; Written under another name, flushed, and run once with /selfcheck
      ; (it starts, finds its folders and its keys, exits 0) before it
      ; replaces the old one: an updater that cannot start would leave the
      ; machine with none and no way back.
      ClearErrors
      File "/oname=tamsel-update.exe.new" "${TAMSEL_UPDATE_EXE}"
      ${IfNot} ${Errors}
        !insertmacro FlushNew "tamsel-update.exe"
      ${EndIf}
      ${If} ${Errors}
      ${OrIf} $3 = 0
        Delete "$INSTDIR\tamsel-update.exe.new"
        ${LogLine} "tamsel-update.exe.new could not be written: the previous updater stays"
        StrCpy $ExitCode ${EXIT_UPDATER_NOT_REPLACED}
      ${Else}
        ClearErrors
        ExecWait '"$INSTDIR\tamsel-update.exe.new" /selfcheck' $R5
        ${If} ${Errors}
          StrCpy $R5 "none, it did not start"
        ${EndIf}
      ${EndIf}
      ${If} $ExitCode = ${EXIT_UPDATER_NOT_REPLACED}
      ${ElseIf} $R5 != 0
        Delete "$INSTDIR\tamsel-update.exe.new"
        ${LogLine} "tamsel-update.exe.new failed its self-check (exit code $R5): the previous updater stays"
        StrCpy $ExitCode ${EXIT_UPDATER_NOT_REPLACED}
      ${Else}
        !insertmacro ReplaceInUse "tamsel-update.exe"
        ${If} $3 = 0
          ${LogLine} "tamsel-update.exe stayed in use: the previous updater stays"
          StrCpy $ExitCode ${EXIT_UPDATER_NOT_REPLACED}
        ${Else}
          ${LogLine} "tamsel-update.exe installed"
        ${EndIf}
      ${EndIf}
!endif
      ; Run as downloaded-setup.exe or rollback-setup.exe, it leaves itself as
      ; the setup program of the version now installed.
      ${GetParent} $LogPath $R4
      System::Call 'kernel32::CopyFileW(w "$EXEPATH", w "$R4\installed-setup.exe", i 0) i .r3'
      ${If} $3 <> 0
        ${LogLine} "installed-setup.exe left"
      ${Else}
        ${LogLine} "installed-setup.exe could not be written"
      ${EndIf}
    ${EndIf}
  ${EndIf}

  ; Phase two follows whatever happened: it judges the result, starts the
  ; program again and puts the previous setup program back when needed.
  ${LogLine} "done; starting phase two"
  ${If} $Log != ""
    FileClose $Log
    StrCpy $Log ""
  ${EndIf}
  ; Ownership is given up, but the handle stays open until this process has
  ; ended, so the name lasts as long as the process: phase two waits while
  ; the name exists and then deletes downloaded-setup.exe, this program's own
  ; file, which cannot be deleted while it still runs.
  ${If} $Mutex P<> 0
    System::Call 'kernel32::ReleaseMutex(p $Mutex)'
  ${EndIf}
  ClearErrors
  Exec '"$INSTDIR\tamsel-update.exe" /phase2'
  ${If} ${Errors}
  ${AndIf} $ExitCode = 0
    StrCpy $ExitCode ${EXIT_NO_PHASE_TWO}
  ${EndIf}
  SetErrorLevel $ExitCode
  Quit
SectionEnd
