<#
.SYNOPSIS
Installs tamsel-update.exe beside Tamsel.exe, creates its protected data
folders, registers the daily task "Tam Sel Update" and the event log source
"Tam_Sel Update".

.DESCRIPTION
Run it elevated, from the folder that holds it together with
tamsel-update.exe and tamsel-update-task.xml.

The updater makes its own data folder (%ProgramData%\Tam_Sel) and update
folder: "tamsel-update.exe /prepare", run as the system account (directly
when this script runs as SYSTEM, as under Intune and Configuration Manager,
else through a one-off task), creates them with their protected descriptor
(owned by Administrators, full control for SYSTEM and Administrators alone,
nothing inherited from ProgramData) or gives it to folders that exist before
anything inside is touched, moves aside links, junctions and folders of
other owners, and takes out of the update folder what the updater did not
write. It first refuses a program folder, or an updater in it, that anybody
but SYSTEM, Administrators and TrustedInstaller may change: the task runs
that file as the system account. Users get no read right on the data
folders either: a user who could read state.toml could hold it open and make
every pass fail.

The updater reports every log line to the Application event log under the
source "Tam_Sel Update"; the source's registration points the Event Viewer
at the message table inside tamsel-update.exe, which holds the texts.
/prepare's refusals are reported there too.

Running the script again replaces the executable, the task and the event log
source and prepares the folders again; the state file and the log stay.

Started from 32-bit PowerShell (Intune's and Configuration Manager's default
for install commands), it runs itself again in the 64-bit PowerShell, where
Program Files, the registry and Task Scheduler are the machine's own.

Exit codes: 0 installed; 1 an unexpected failure (the message says which);
2 not elevated; 3 Tamsel.exe or tamsel-update.exe not found; 4 the program
folder lets others change it; 5 the data folders could not be made safe
(/prepare's own exit code and output are in the message).

.PARAMETER ProgramFolder
The folder that holds Tamsel.exe. Default: the folder the program's uninstall
entry records (HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tamsel,
InstallLocation), else %ProgramFiles%\Tamsel.

.PARAMETER Updater
The tamsel-update.exe to install. Default: the one beside this script.
#>
[CmdletBinding()]
param(
    [string]$ProgramFolder = '',
    [string]$Updater = (Join-Path $PSScriptRoot 'tamsel-update.exe')
)
Set-StrictMode -Version 3
$ErrorActionPreference = 'Stop'

# The kit's three scripts stand alone (a detection script is uploaded as one
# file), so each carries these few lines.
$TaskName = 'Tam Sel Update'
$ProgramKey = 'SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Tamsel'
if ([Environment]::Is64BitOperatingSystem -and -not [Environment]::Is64BitProcess) {
    # 32-bit PowerShell sees Program Files (x86) and the 32-bit registry.
    $arguments = @('-NoProfile', '-ExecutionPolicy', 'Bypass', '-File', $PSCommandPath)
    foreach ($p in $PSBoundParameters.GetEnumerator()) {
        if ($p.Value -is [switch]) { if ($p.Value) { $arguments += "-$($p.Key)" } }
        elseif ("$($p.Value)" -ne '') { $arguments += "-$($p.Key)", "$($p.Value)".TrimEnd('\') }
    }
    & (Join-Path $env:windir 'Sysnative\WindowsPowerShell\v1.0\powershell.exe') @arguments
    exit $LASTEXITCODE
}
function Get-ProgramFolder {
    $key = [Microsoft.Win32.RegistryKey]::OpenBaseKey('LocalMachine', 'Registry64').OpenSubKey($ProgramKey)
    if ($null -ne $key) {
        $recorded = "$($key.GetValue('InstallLocation'))".Trim('"').TrimEnd('\')
        $key.Close()
        if ($recorded -ne '') { return $recorded }
    }
    Join-Path $env:ProgramFiles 'Tamsel'
}
function Stop-With([int]$Code, [string]$Message) {
    [Console]::Error.WriteLine($Message)
    exit $Code
}
trap { Stop-With 1 $_.ToString() }

if ($ProgramFolder -eq '') { $ProgramFolder = Get-ProgramFolder }

$identity = [Security.Principal.WindowsIdentity]::GetCurrent()
if (-not (New-Object Security.Principal.WindowsPrincipal($identity)).IsInRole(
        [Security.Principal.WindowsBuiltInRole]::Administrator)) {
    Stop-With 2 'Run this script elevated (as an administrator).'
}

$mainExe = Join-Path $ProgramFolder 'Tamsel.exe'
if (-not (Test-Path -LiteralPath $mainExe -PathType Leaf)) {
    Stop-With 3 "Tamsel.exe is not in $ProgramFolder; give the program folder with -ProgramFolder."
}
if (-not (Test-Path -LiteralPath $Updater -PathType Leaf)) {
    Stop-With 3 "$Updater not found; give the executable with -Updater."
}

$target = Join-Path $ProgramFolder 'tamsel-update.exe'
if ((Resolve-Path -LiteralPath $Updater).Path -ne $target) {
    Copy-Item -LiteralPath $Updater -Destination $target -Force
}

# The updater makes its folders itself, as the system account, and judges the
# program folder first (exit 9). Its text goes to standard output.
if ($identity.IsSystem) {
    $prepared = (& $target /prepare | Out-String)
    $code = $LASTEXITCODE
} else {
    $prepareTask = 'Tam Sel Prepare'
    $action = New-ScheduledTaskAction -Execute $target -Argument '/prepare'
    $principal = New-ScheduledTaskPrincipal -UserId 'S-1-5-18' -LogonType ServiceAccount -RunLevel Highest
    Register-ScheduledTask -TaskName $prepareTask -Action $action -Principal $principal -Force | Out-Null
    try {
        Start-ScheduledTask -TaskName $prepareTask
        $deadline = (Get-Date).AddMinutes(15)  # /prepare waits up to 10 minutes for a running pass
        do { Start-Sleep -Seconds 1 } while ((Get-ScheduledTask -TaskName $prepareTask).State -eq 'Running' -and
                                             (Get-Date) -lt $deadline)
        $code = (Get-ScheduledTaskInfo -TaskName $prepareTask).LastTaskResult
        $prepared = 'see the Application event log, source Tam_Sel Update'
    } finally {
        Unregister-ScheduledTask -TaskName $prepareTask -Confirm:$false
    }
}
if ($code -eq 9) { Stop-With 4 "$ProgramFolder lets others change it: $prepared" }
if ($code -ne 0) { Stop-With 5 "tamsel-update.exe /prepare ended with $code`: $prepared" }

$task = New-Object Xml.XmlDocument
$task.LoadXml((Get-Content -LiteralPath (Join-Path $PSScriptRoot 'tamsel-update-task.xml') -Raw))
foreach ($comment in @($task.SelectNodes('//comment()'))) { $comment.ParentNode.RemoveChild($comment) | Out-Null }
$task.Task.Actions.Exec.Command = "`"$target`""
Register-ScheduledTask -TaskName $TaskName -Xml $task.OuterXml -Force | Out-Null

# The event log source: the texts of its events are in the updater itself.
$sourceKey = [Microsoft.Win32.RegistryKey]::OpenBaseKey('LocalMachine', 'Registry64').CreateSubKey(
    'SYSTEM\CurrentControlSet\Services\EventLog\Application\Tam_Sel Update')
$sourceKey.SetValue('EventMessageFile', $target, [Microsoft.Win32.RegistryValueKind]::ExpandString)
$sourceKey.SetValue('TypesSupported', 7, [Microsoft.Win32.RegistryValueKind]::DWord)
$sourceKey.Close()

Write-Output "Installed $target"
Write-Output "Data folders prepared by the updater (owner Administrators; SYSTEM and Administrators only)"
Write-Output "Task '$TaskName': daily and hourly as SYSTEM. Run it now with: Start-ScheduledTask -TaskName '$TaskName'"
Write-Output "Event log: Application, source 'Tam_Sel Update'"
