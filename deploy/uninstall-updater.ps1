<#
.SYNOPSIS
Removes what install-updater.ps1 installed: the task "Tam Sel Update",
tamsel-update.exe and the event log source "Tam_Sel Update"; with -RemoveData
also the data folder %ProgramData%\Tam_Sel.

.DESCRIPTION
Run it elevated. The updater is found where the task starts it, else in the
program folder (the program's uninstall entry, else %ProgramFiles%\Tamsel).
Tamsel.exe and the rest of the program folder stay. Without -RemoveData the
state file and the log stay, so a later installation goes on where this one
ended (the versions that failed here stay refused). For an updater installed
with the MSI, uninstall the MSI instead.

Exit codes: 0 removed, or there was nothing to remove; 1 an unexpected
failure (the message says which); 2 not elevated; 3 tamsel-update.exe could
not be deleted (a pass still running after 60 seconds).

.PARAMETER ProgramFolder
The folder that holds tamsel-update.exe, when no task names it.

.PARAMETER RemoveData
Also delete %ProgramData%\Tam_Sel with the state file, the log and the setup
programs kept for a rollback.
#>
[CmdletBinding()]
param(
    [string]$ProgramFolder = '',
    [switch]$RemoveData
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

$identity = [Security.Principal.WindowsIdentity]::GetCurrent()
if (-not (New-Object Security.Principal.WindowsPrincipal($identity)).IsInRole(
        [Security.Principal.WindowsBuiltInRole]::Administrator)) {
    Stop-With 2 'Run this script elevated (as an administrator).'
}

if ($ProgramFolder -eq '') { $ProgramFolder = Get-ProgramFolder }
$updater = Join-Path $ProgramFolder 'tamsel-update.exe'
$task = Get-ScheduledTask -TaskName $TaskName -ErrorAction SilentlyContinue
if ($null -ne $task) {
    $registered = @($task.Actions)[0].Execute.Trim('"')
    if ($registered -ne '') { $updater = $registered }
    # A pass under way ends at once; one that is installing leaves its setup
    # program running, which finishes on its own.
    Stop-ScheduledTask -TaskName $TaskName -ErrorAction SilentlyContinue
    Unregister-ScheduledTask -TaskName $TaskName -Confirm:$false
    Write-Output "Task '$TaskName' removed"
}

if (Test-Path -LiteralPath $updater -PathType Leaf) {
    # Phase two or a window helper may still run from the file for a while.
    for ($try = 0; $true; $try++) {
        try { Remove-Item -LiteralPath $updater -Force; break }
        catch { if ($try -ge 60) { Stop-With 3 "$updater is still in use: $_" } }
        Start-Sleep -Seconds 1
    }
    Write-Output "Removed $updater"
}

# The events already recorded stay in the Application log; without the
# source, the Event Viewer no longer shows their texts.
$eventLogKey = [Microsoft.Win32.RegistryKey]::OpenBaseKey('LocalMachine', 'Registry64').OpenSubKey(
    'SYSTEM\CurrentControlSet\Services\EventLog\Application', $true)
if ($null -ne $eventLogKey) {
    if ($null -ne $eventLogKey.OpenSubKey('Tam_Sel Update')) {
        $eventLogKey.DeleteSubKeyTree('Tam_Sel Update')
        Write-Output "Event log source 'Tam_Sel Update' removed"
    }
    $eventLogKey.Close()
}

$dataFolder = Join-Path ([Environment]::GetFolderPath('CommonApplicationData')) 'Tam_Sel'
if ($RemoveData -and (Test-Path -LiteralPath $dataFolder)) {
    Remove-Item -LiteralPath $dataFolder -Recurse -Force
    Write-Output "Removed $dataFolder"
}
exit 0
