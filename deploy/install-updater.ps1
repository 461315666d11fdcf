<#
.SYNOPSIS
Installs tamsel-update.exe beside Tamsel.exe, creates its protected data
folders, registers the daily task "Tam Sel Update" and the event log source
"Tam_Sel Update".

.DESCRIPTION
Run it elevated, from the folder that holds it together with
tamsel-update.exe, folder-security.sddl and tamsel-update-task.xml.

The data folder (%ProgramData%\Tam_Sel) and its update folder get the owner
and DACL written in folder-security.sddl: owned by Administrators, full
control for SYSTEM and Administrators, nothing for anybody else, inheritance
from ProgramData broken (its default lets Users create and append in new
subfolders). The updater refuses, with exit code 4, folders that grant anybody
else a right to change them, and never creates or repairs them itself. Users
get no read right either: a user who could read state.toml could hold it open
and make every pass fail.

The updater reports every log line to the Application event log under the
source "Tam_Sel Update"; the source's registration points the Event Viewer
at the message table inside tamsel-update.exe, which holds the texts.

Running the script again replaces the executable, the task and the event log
source and applies the permissions again; the state file and the log stay.

Started from 32-bit PowerShell (Intune's and Configuration Manager's default
for install commands), it runs itself again in the 64-bit PowerShell, where
Program Files, the registry and Task Scheduler are the machine's own.

Exit codes: 0 installed; 1 an unexpected failure (the message says which);
2 not elevated; 3 Tamsel.exe or tamsel-update.exe not found; 4 the program
folder lets others change it; 5 a data folder is a file, link or junction;
6 the permissions did not take.

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

$SystemSid = 'S-1-5-18'
$AdministratorsSid = 'S-1-5-32-544'
$CreatorOwnerSid = 'S-1-3-0'
$TrustedInstallerSid = 'S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464'

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

# The task runs the updater from the program folder as the system account, and
# the updater runs setup programs that install there: a folder that anybody
# else may change would let them run a program of their own as SYSTEM.
$changingRights = 0x500D0156  # the generic all and write bits and every right that changes a folder
foreach ($rule in (Get-Acl -LiteralPath $ProgramFolder).GetAccessRules($true, $true, [Security.Principal.SecurityIdentifier])) {
    if ($rule.AccessControlType -ne [Security.AccessControl.AccessControlType]::Allow) { continue }
    if (@($SystemSid, $AdministratorsSid, $CreatorOwnerSid, $TrustedInstallerSid) -contains $rule.IdentityReference.Value) { continue }
    if (([int]$rule.FileSystemRights -band $changingRights) -ne 0) {
        Stop-With 4 "$ProgramFolder lets $($rule.IdentityReference.Value) change it; protect it first (as %ProgramFiles% is)."
    }
}

# One descriptor for both folders; the platform tests judge the same file with
# the updater's folder guard, so the two cannot disagree.
$sddl = (Get-Content -LiteralPath (Join-Path $PSScriptRoot 'folder-security.sddl') -TotalCount 1).Trim()

function Protect-Folder([string]$Path) {
    if (-not (Test-Path -LiteralPath $Path)) {
        New-Item -ItemType Directory -Path $Path | Out-Null
    }
    # ProgramData lets users create folders, so one may have been planted here
    # before: the updater refuses a link or junction, and so does this script.
    $item = Get-Item -LiteralPath $Path -Force
    if (-not $item.PSIsContainer -or ([int]($item.Attributes -band [IO.FileAttributes]::ReparsePoint)) -ne 0) {
        Stop-With 5 "$Path is not a plain folder (a file, link or junction); remove it and run the script again."
    }
    $security = New-Object Security.AccessControl.DirectorySecurity
    $security.SetSecurityDescriptorSddlForm($sddl, [Security.AccessControl.AccessControlSections]'Owner, Access')
    Set-Acl -LiteralPath $Path -AclObject $security

    # Read back what Windows stored: protected, owned by Administrators, and
    # entries for SYSTEM and Administrators only.
    $stored = Get-Acl -LiteralPath $Path
    $owner = $stored.GetOwner([Security.Principal.SecurityIdentifier]).Value
    $others = @($stored.GetAccessRules($true, $true, [Security.Principal.SecurityIdentifier]) |
        Where-Object { @($SystemSid, $AdministratorsSid) -notcontains $_.IdentityReference.Value })
    if (-not $stored.AreAccessRulesProtected -or $owner -ne $AdministratorsSid -or $others.Count -ne 0) {
        Stop-With 6 "The permissions of $Path did not take: $($stored.Sddl)"
    }
}

$dataFolder = Join-Path ([Environment]::GetFolderPath('CommonApplicationData')) 'Tam_Sel'
$updateFolder = Join-Path $dataFolder 'update'
Protect-Folder $dataFolder
Protect-Folder $updateFolder

# Files already in the update folder (an earlier deployment's state and log,
# or anything put there before it was protected) are given to Administrators
# and made to inherit the folder's entries alone.
if (@(Get-ChildItem -LiteralPath $updateFolder -Force).Count -gt 0) {
    & icacls.exe (Join-Path $updateFolder '*') /setowner "*$AdministratorsSid" /T /C /Q | Out-Null
    if ($LASTEXITCODE -ne 0) { throw "icacls /setowner failed in $updateFolder" }
    & icacls.exe (Join-Path $updateFolder '*') /reset /T /C /Q | Out-Null
    if ($LASTEXITCODE -ne 0) { throw "icacls /reset failed in $updateFolder" }
}

$target = Join-Path $ProgramFolder 'tamsel-update.exe'
if ((Resolve-Path -LiteralPath $Updater).Path -ne $target) {
    Copy-Item -LiteralPath $Updater -Destination $target -Force
}

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
Write-Output "Data folders: $dataFolder and $updateFolder (owner Administrators; SYSTEM and Administrators only)"
Write-Output "Task '$TaskName': daily and hourly as SYSTEM. Run it now with: Start-ScheduledTask -TaskName '$TaskName'"
Write-Output "Event log: Application, source 'Tam_Sel Update'"
