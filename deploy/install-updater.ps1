<#
.SYNOPSIS
Installs tamsel-update.exe beside Tamsel.exe, creates its protected data
folders and registers the daily task "Tam Sel Update".

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

Running the script again replaces the executable and the task and applies the
permissions again; the state file and the log stay.

.PARAMETER ProgramFolder
The folder that holds Tamsel.exe. Default: %ProgramFiles%\Tamsel.

.PARAMETER Updater
The tamsel-update.exe to install. Default: the one beside this script.
#>
[CmdletBinding()]
param(
    [string]$ProgramFolder = (Join-Path $env:ProgramFiles 'Tamsel'),
    [string]$Updater = (Join-Path $PSScriptRoot 'tamsel-update.exe')
)
Set-StrictMode -Version 3
$ErrorActionPreference = 'Stop'

$SystemSid = 'S-1-5-18'
$AdministratorsSid = 'S-1-5-32-544'
$CreatorOwnerSid = 'S-1-3-0'
$TrustedInstallerSid = 'S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464'

$identity = [Security.Principal.WindowsIdentity]::GetCurrent()
if (-not (New-Object Security.Principal.WindowsPrincipal($identity)).IsInRole(
        [Security.Principal.WindowsBuiltInRole]::Administrator)) {
    throw 'Run this script elevated (as an administrator).'
}

$mainExe = Join-Path $ProgramFolder 'Tamsel.exe'
if (-not (Test-Path -LiteralPath $mainExe -PathType Leaf)) {
    throw "Tamsel.exe is not in $ProgramFolder; give the program folder with -ProgramFolder."
}
if (-not (Test-Path -LiteralPath $Updater -PathType Leaf)) {
    throw "$Updater not found; give the executable with -Updater."
}

# The task runs the updater from the program folder as the system account, and
# the updater runs setup programs that install there: a folder that anybody
# else may change would let them run a program of their own as SYSTEM.
$changingRights = 0x500D0156  # the generic all and write bits and every right that changes a folder
foreach ($rule in (Get-Acl -LiteralPath $ProgramFolder).GetAccessRules($true, $true, [Security.Principal.SecurityIdentifier])) {
    if ($rule.AccessControlType -ne [Security.AccessControl.AccessControlType]::Allow) { continue }
    if (@($SystemSid, $AdministratorsSid, $CreatorOwnerSid, $TrustedInstallerSid) -contains $rule.IdentityReference.Value) { continue }
    if (([int]$rule.FileSystemRights -band $changingRights) -ne 0) {
        throw "$ProgramFolder lets $($rule.IdentityReference.Value) change it; protect it first (as %ProgramFiles% is)."
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
        throw "$Path is not a plain folder (a file, link or junction); remove it and run the script again."
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
        throw "The permissions of $Path did not take: $($stored.Sddl)"
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
Register-ScheduledTask -TaskName 'Tam Sel Update' -Xml $task.OuterXml -Force | Out-Null

Write-Output "Installed $target"
Write-Output "Data folders: $dataFolder and $updateFolder (owner Administrators; SYSTEM and Administrators only)"
Write-Output "Task 'Tam Sel Update': daily as SYSTEM. Run it now with: Start-ScheduledTask -TaskName 'Tam Sel Update'"
