# A PowerShell host's whole download of one code through the automation interface (InvTamselAgent3).
#
#   powershell -File get.ps1 SERVICE_URL CODE FOLDER
#
# Asks the service for CODE's download and downloads it into FOLDER under the last segment of the
# download URL's path, from the download URL and the mirrors the service names (LastSources), in one
# DownloadFrom call that retries by itself (safe replacement and resume); shows progress from
# OnProgress, then what the download did (its attempts and sources), reports it
# (ReportDownloadEx) and prints how many downloads remain. Exit codes as in get.vbs (4: a download URL
# that names no usable file name, nothing downloaded or reported). Needs the DLL, 1.3.0 or later,
# registered for the PowerShell's width (32-bit DLL for 32-bit PowerShell).
param([Parameter(Mandatory)] [string] $ServiceUrl,
      [Parameter(Mandatory)] [string] $Code,
      [Parameter(Mandatory)] [string] $Folder)

$FETCH_REPLACE_SAFELY = 1
$FETCH_RESUME = 2
# PowerShell reads a hex literal with the top bit set as a negative [int], which is what .NET's HResult
# holds too: result codes stay [int] on both sides of every comparison and as the table's keys.
$ExitCodes = @{ 0x80004004 = 3; 0x80042EFF = 10; 0x80042F00 = 11; 0x80042F01 = 12; 0x80042F02 = 13;
                0x80070057 = 14; 0x80004005 = 15; 0x8007000E = 16; 0x80070003 = 22; 0x80070005 = 26;
                0x800700AA = 27; 0x80042F03 = 28; 0x80042F04 = 30; 0x80042F05 = 31; 0x80042F06 = 32;
                0x80070070 = 33; 0x80070020 = 34; 0x80042F07 = 35; 0x80042F09 = 36; 0x80042F08 = 37 }

# A failing member raises a COMException whose message is the component's own sentence.
function ResultOf($failure) { $failure.Exception.InnerException.HResult }
function Fail($what, $failure) {
    $code = ResultOf $failure
    Write-Error ("get.ps1: {0}: {1} (0x{2:X8})" -f $what, $failure.Exception.InnerException.Message, $code)
    if ($null -ne $code -and $ExitCodes.ContainsKey($code)) { exit $ExitCodes[$code] } else { exit 29 }
}

# tamsel.exe's rule for a file name taken from a URL: the last segment of its path (after scheme and
# host, before any "?" or "#"), unchanged (nothing unescaped), or '' when it would not be a plain file
# in $Folder: empty, "." or "..", a control character or one of <>:"/\|?* (so no ..\, C: or \\server
# prefix), a trailing dot or space (Windows would drop it), a device name (CON, NUL.txt, COM1, ...).
function FileNameOf([string] $url) {
    $scheme = $url.IndexOf('://')
    if ($scheme -lt 0) { return '' }
    $pathStart = $url.IndexOfAny([char[]]'/?#', $scheme + 3)
    if ($pathStart -lt 0 -or $url[$pathStart] -ne [char]'/') { return '' }
    $path = ($url.Substring($pathStart) -split '[?#]')[0]
    $name = $path.Substring($path.LastIndexOf('/') + 1)
    # \z, not $: .NET's $ also matches before a final line feed.
    if ($name -cnotmatch '^[^\x00-\x1F\x7F<>:"/\\|?*]*[^\x00-\x1F\x7F<>:"/\\|?*. ]\z') { return '' }
    if ($name -match '^(CON|PRN|AUX|NUL|COM[1-9]|LPT[1-9])(\.|$)') { return '' }
    return $name
}

$agent = New-Object -ComObject NorvikTamselAgent.nvTamselAgent
# A script block is no COM object; a small class is, and the agent calls its Progress method. The
# agent calls a handler's default member first: a .NET class's is ToString unless one says DispId(0).
Add-Type -TypeDefinition @"
using System;
using System.Runtime.InteropServices;
[ComVisible(true), ClassInterface(ClassInterfaceType.AutoDispatch)]
public class TamselProgress {
    [DispId(0)]
    public bool Progress(double received, double total, double percent) {
        if (total >= 0) Console.Error.Write("\r{0}% {1} of {2} bytes   ", percent, received, total);
        else Console.Error.Write("\r{0} bytes   ", received);
        return false;  // true cancels the download
    }
}
"@
$agent.OnProgress = New-Object TamselProgress

try { $url = $agent.QueryDownload($ServiceUrl, $Code) } catch { Fail "query" $_ }
$name = FileNameOf $url
if (-not $name) { Write-Error "get.ps1: the download URL $url names no usable file name; nothing downloaded"; exit 4 }
$target = Join-Path $Folder $name
$expected = if ($agent.LastFileSize -gt 0) { $agent.LastFileSize } else { -1 }
$sources = $agent.LastSources
function SourceName([int] $index) { if ($index -eq 0) { 'the download URL' } else { "mirror $index" } }
# The retries are not shown as they happen: PowerShell runs an event's action only once the pipeline is
# idle, after DownloadFrom has returned. The line after it tells what the download did.
$failure = $null
try { $agent.DownloadFrom($sources, $target, $FETCH_REPLACE_SAFELY -bor $FETCH_RESUME, $expected, $agent.LastSha256) } catch { $failure = $_ }
"attempts {0}, the last from {1}, {2} bytes kept from before, the server asked to wait {3} ms" -f `
    $agent.LastAttempts, (SourceName $agent.LastSourceIndex), $agent.LastBytesResumed, $agent.LastRetryAfter
try { $remaining = $agent.ReportDownloadEx($ServiceUrl, $Code, $null -eq $failure) } catch { Fail "report" $_ }
"reported {0}; remaining downloads: {1}" -f $(if ($null -eq $failure) { "success" } else { "failure" }), $remaining
if ($null -ne $failure) { Fail "download" $failure }
"saved $target"
