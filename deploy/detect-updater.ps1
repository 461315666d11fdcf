<#
.SYNOPSIS
Detection rule for Intune and Configuration Manager: prints one line and
exits 0 when the updater is installed; prints nothing and exits 0 when not.

.DESCRIPTION
Installed means: the task "Tam Sel Update" is registered, the executable it
starts exists, and that executable's own report ("tamsel-update.exe /status")
accepts the data folders: a machine whose folders the updater refuses never
updates, so it counts as not installed and the deployment runs again (its
/prepare repairs them). The line names the executable and its file version:

  Tam Sel Update 1.0.0.0: C:\Program Files\Tamsel\tamsel-update.exe

Both tools take "exit code 0 and something on standard output" as installed
and "exit code 0, nothing on standard output" as not installed; a non-zero
exit code (1: the check itself failed) or anything on standard error counts
as an error, so the reasons for "not installed" go to the verbose stream
(-Verbose when run by hand). Intune and Configuration Manager run it as
SYSTEM; by hand, run it from an elevated prompt, since the data folders let
nobody else read their permissions.

.PARAMETER MinimumVersion
Counts an older tamsel-update.exe (by file version) as not installed, for a
deployment that must bring a newer one.
#>
[CmdletBinding()]
param(
    [string]$MinimumVersion = ''
)
Set-StrictMode -Version 3
$ErrorActionPreference = 'Stop'

# The kit's three scripts stand alone (a detection script is uploaded as one
# file), so each carries these few lines.
$TaskName = 'Tam Sel Update'
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
trap { exit 1 }

$task = Get-ScheduledTask -TaskName $TaskName -ErrorAction SilentlyContinue
if ($null -eq $task) { Write-Verbose "no task '$TaskName'"; exit 0 }
$updater = @($task.Actions)[0].Execute.Trim('"')
if (-not (Test-Path -LiteralPath $updater -PathType Leaf)) { Write-Verbose "the task starts $updater, which is not there"; exit 0 }
# Piped, so that PowerShell waits for the windowless updater and takes its
# exit code: 4 when a data folder is refused, with the reason in the report.
$report = (& $updater /status 2>$null | Out-String)
if ($LASTEXITCODE -ne 0) { Write-Verbose "tamsel-update.exe /status ended with ${LASTEXITCODE}: $report"; exit 0 }
$version = (Get-Item -LiteralPath $updater).VersionInfo.FileVersion
if ($MinimumVersion -ne '' -and [version]$version -lt [version]$MinimumVersion) {
    Write-Verbose "$updater is $version, older than $MinimumVersion"; exit 0
}
Write-Output "$TaskName ${version}: $updater"
exit 0
