' A script host's whole download of one code through the automation interface (InvTamselAgent3).
'
'   cscript //nologo get.vbs SERVICE_URL CODE FOLDER [/stop:PERCENT]
'
' Asks the service for CODE's download and downloads it into FOLDER under the last segment of the
' download URL's path, from the download URL and the mirrors the service names (LastSources), in one
' DownloadFrom call that retries by itself: a break is resumed, a busy server's Retry-After waited out,
' a failing source left for the next (safe replacement and resume; when the service names the file's
' SHA-256, only bytes of that digest take the name). Shows a progress line from OnProgress and a line
' for each retry (the Retrying event, where the script host connects events), then what the download
' did, reports it (ReportDownloadEx) and prints how many downloads remain.
' /stop:PERCENT makes the handler cancel at that percentage. Exit codes: 0 done, 2 wrong arguments,
' 3 cancelled, 4 a download URL that names no usable file name (nothing downloaded or reported),
' 10-37 one per result code as tamsel.exe gives them. Needs the registered DLL, 1.3.0 or later.
' Everything is written with WScript.Echo and the arguments read by position: Wine's script host has
' neither StdErr nor named arguments.
Option Explicit

Const FETCH_REPLACE_SAFELY = 1
Const FETCH_RESUME = 2

' VBScript has no GetRef in every engine: an object whose Progress function the agent calls serves
' in all of them (its default member would be called first, when it has one).
Class ProgressLine
    Public StopAt

    Public Function Progress(received, total, percent)
        If total >= 0 Then
            WScript.Echo "progress " & percent & "% " & Size(received) & " of " & Size(total)
        Else
            WScript.Echo "progress " & Size(received)
        End If
        ' A true answer cancels the download.
        Progress = (StopAt >= 0 And percent >= StopAt)
    End Function
End Class

Function Size(bytes)
    If bytes >= 1048576 Then
        Size = FormatNumber(bytes / 1048576, 1, True, False, False) & " MiB"
    Else
        Size = bytes & " bytes"
    End If
End Function

' tamsel.exe's exit code for a result code.
Function ExitCodeOf(number)
    Select Case number
        Case &H80004004: ExitCodeOf = 3     ' E_ABORT: cancelled
        Case &H80042EFF: ExitCodeOf = 10    ' AGENT_E_NO_SESSION
        Case &H80042F00: ExitCodeOf = 11    ' AGENT_E_BUFFER_TOO_SMALL
        Case &H80042F01: ExitCodeOf = 12    ' AGENT_E_HTTP_STATUS
        Case &H80042F02: ExitCodeOf = 13    ' AGENT_E_SERVICE_STATUS
        Case &H80070057: ExitCodeOf = 14    ' E_INVALIDARG
        Case &H80004005: ExitCodeOf = 15    ' E_FAIL: the transfer broke off, or the file could not be written
        Case &H8007000E: ExitCodeOf = 16    ' E_OUTOFMEMORY
        Case &H80070003: ExitCodeOf = 22    ' the target's folder does not exist
        Case &H80070005: ExitCodeOf = 26    ' E_ACCESSDENIED: a read-only target, or one open elsewhere
        Case &H800700AA: ExitCodeOf = 27    ' AGENT_E_BUSY
        Case &H80042F03: ExitCodeOf = 28    ' AGENT_E_SIZE_MISMATCH
        Case &H80042F04: ExitCodeOf = 30    ' AGENT_E_CERTIFICATE
        Case &H80042F05: ExitCodeOf = 31    ' AGENT_E_DIGEST_MISMATCH: not the bytes the service named
        Case &H80042F06: ExitCodeOf = 32    ' AGENT_E_BROKEN: the verified download broke off
        Case &H80070070: ExitCodeOf = 33    ' the disk is full
        Case &H80070020: ExitCodeOf = 34    ' the partial file is in use by another download
        Case &H80042F07: ExitCodeOf = 35    ' AGENT_E_INSECURE_REDIRECT
        Case &H80042F09: ExitCodeOf = 36    ' AGENT_E_PROXY_AUTH: the proxy wants credentials
        Case &H80042F08: ExitCodeOf = 37    ' AGENT_E_RETRY_LATER: the server asked to be asked again later
        Case Else: ExitCodeOf = 29
    End Select
End Function

Sub Fail(what)
    Dim number
    number = Err.Number
    WScript.Echo "get.vbs: " & what & ": " & Err.Description & " (0x" & Hex(number) & ")"
    WScript.Quit ExitCodeOf(number)
End Sub

' tamsel.exe's rule for a file name taken from a URL: the last segment of its path (after scheme and
' host, before any "?" or "#"), unchanged (nothing unescaped), or "" when it would not be a plain file
' in FOLDER: empty, "." or "..", a control character or one of <>:"/\|?* (so no ..\, C: or \\server
' prefix), a trailing dot or space (Windows would drop it), a device name (CON, NUL.txt, COM1, ...).
Function FileNameOf(url)
    Dim cut, path, plain, device, name
    FileNameOf = ""
    cut = InStr(url, "://")
    If cut = 0 Then Exit Function
    ' The host ends at the first "/", "?" or "#"; only a "/" starts a path, and "?" or "#" ends it.
    Set path = New RegExp
    path.Pattern = "^[^/?#]*(/[^?#]*)"
    If Not path.Test(Mid(url, cut + 3)) Then Exit Function
    name = path.Execute(Mid(url, cut + 3))(0).SubMatches(0)
    name = Mid(name, InStrRev(name, "/") + 1)
    ' A pattern, not AscW: Wine's VBScript has no AscW, and Asc of a character beyond the code page is no
    ' code point.
    Set plain = New RegExp
    plain.Pattern = "^[^\x00-\x1f\x7f<>:""/\\|?*]*[^\x00-\x1f\x7f<>:""/\\|?*. ]$"
    Set device = New RegExp
    device.Pattern = "^(CON|PRN|AUX|NUL|COM[1-9]|LPT[1-9])(\.|$)"
    device.IgnoreCase = True
    If plain.Test(name) And Not device.Test(name) Then FileNameOf = name
End Function

Function SourceName(index)
    If index = 0 Then SourceName = "the download URL" Else SourceName = "mirror " & index
End Function

' Each retry, heard before its wait. Where the script host connects no events (Wine's), the summary
' after the download tells what happened.
Sub agent_Retrying(attempt, waitMs, reason, sourceIndex, cancel)
    WScript.Echo "retrying in " & ((waitMs + 999) \ 1000) & " s from " & SourceName(sourceIndex) & _
                 " (attempt " & attempt & "; the last ended with 0x" & Hex(reason) & ")"
End Sub

Dim args(2), count, index, stopAt, agent, handler, url, sources, target, summary, number, description, remaining
count = 0
stopAt = -1
For index = 0 To WScript.Arguments.Count - 1
    If LCase(Left(WScript.Arguments(index), 6)) = "/stop:" Then
        stopAt = CLng(Mid(WScript.Arguments(index), 7))
    Else
        If count < 3 Then args(count) = WScript.Arguments(index)
        count = count + 1
    End If
Next
If count <> 3 Then
    WScript.Echo "usage: cscript //nologo get.vbs SERVICE_URL CODE FOLDER [/stop:PERCENT]"
    WScript.Quit 2
End If

Set agent = CreateObject("NorvikTamselAgent.nvTamselAgent")
Set handler = New ProgressLine
handler.StopAt = stopAt
Set agent.OnProgress = handler

On Error Resume Next
url = agent.QueryDownload(args(0), args(1))
If Err.Number <> 0 Then Fail "query"
On Error GoTo 0
If FileNameOf(url) = "" Then
    WScript.Echo "get.vbs: the download URL " & url & " names no usable file name; nothing downloaded"
    WScript.Quit 4
End If
target = args(2) & "\" & FileNameOf(url)
sources = agent.LastSources
WScript.Echo "downloading " & url & " (" & Size(agent.LastFileSize) & ") from " & (UBound(sources) + 1) & _
             IIf(UBound(sources) = 0, " source", " sources")

On Error Resume Next
WScript.ConnectObject agent, "agent_"
Err.Clear
agent.DownloadFrom sources, target, FETCH_REPLACE_SAFELY Or FETCH_RESUME, _
                   IIf(agent.LastFileSize > 0, agent.LastFileSize, -1), agent.LastSha256
number = Err.Number
description = Err.Description
On Error GoTo 0
summary = "attempts " & agent.LastAttempts & ", the last from " & SourceName(agent.LastSourceIndex)
If agent.LastBytesResumed > 0 Then summary = summary & ", going on from " & Size(agent.LastBytesResumed) & " kept"
If agent.LastRetryAfter > 0 Then summary = summary & ", the server asked to wait " & (agent.LastRetryAfter / 1000) & " s"
WScript.Echo summary
If number = 0 And agent.LastSha256 <> "" Then WScript.Echo "verified sha256 " & agent.LastSha256
If number = 0 Then WScript.Echo "saved " & target

On Error Resume Next
remaining = agent.ReportDownloadEx(args(0), args(1), number = 0)
If Err.Number <> 0 Then Fail "report"
On Error GoTo 0
WScript.Echo "reported " & IIf(number = 0, "success", "failure") & "; remaining downloads: " & remaining
If number <> 0 Then
    WScript.Echo "get.vbs: download: " & description & " (0x" & Hex(number) & ")"
    WScript.Quit ExitCodeOf(number)
End If

Function IIf(condition, yes, no)
    If condition Then IIf = yes Else IIf = no
End Function
