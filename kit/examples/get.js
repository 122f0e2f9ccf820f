// A script host's whole download of one code through the automation interface (InvTamselAgent3).
//
//   cscript //nologo get.js SERVICE_URL CODE FOLDER [/stop:PERCENT]
//
// Asks the service for CODE's download and downloads it into FOLDER under the last segment of the
// download URL's path, from the download URL and the mirrors the service names (LastSources), in one
// DownloadFrom call that retries by itself: a break is resumed, a busy server's Retry-After waited out,
// a failing source left for the next (safe replacement and resume; the file proven by the SHA-256 the
// service names). Shows a progress line from OnProgress and a line for each retry (the Retrying event,
// where the script host connects events), then what the download did, reports it (ReportDownloadEx) and
// prints how many downloads remain. /stop:PERCENT makes the handler cancel at that percentage. Exit
// codes: 0 done, 2 wrong arguments, 3 cancelled, 4 a download URL that names no usable file name
// (nothing downloaded or reported), 10-37 one per result code as tamsel.exe gives them. Needs the
// registered DLL, 1.3.0 or later.
// Everything is written with WScript.Echo and the arguments read by position: Wine's script host has
// neither StdErr nor named arguments.
var FETCH_REPLACE_SAFELY = 1, FETCH_RESUME = 2;

// tamsel.exe's exit codes, by result code.
var EXIT_CODES = {
    0x80004004: 3,   // E_ABORT: cancelled
    0x80042EFF: 10,  // AGENT_E_NO_SESSION
    0x80042F00: 11,  // AGENT_E_BUFFER_TOO_SMALL
    0x80042F01: 12,  // AGENT_E_HTTP_STATUS
    0x80042F02: 13,  // AGENT_E_SERVICE_STATUS
    0x80070057: 14,  // E_INVALIDARG
    0x80004005: 15,  // E_FAIL: the transfer broke off, or the file could not be written
    0x8007000E: 16,  // E_OUTOFMEMORY
    0x80070003: 22,  // the target's folder does not exist
    0x80070005: 26,  // E_ACCESSDENIED: a read-only target, or one open elsewhere
    0x800700AA: 27,  // AGENT_E_BUSY
    0x80042F03: 28,  // AGENT_E_SIZE_MISMATCH
    0x80042F04: 30,  // AGENT_E_CERTIFICATE
    0x80042F05: 31,  // AGENT_E_DIGEST_MISMATCH: not the bytes the service named
    0x80042F06: 32,  // AGENT_E_BROKEN: the verified download broke off
    0x80070070: 33,  // the disk is full
    0x80070020: 34,  // the partial file is in use by another download
    0x80042F07: 35,  // AGENT_E_INSECURE_REDIRECT
    0x80042F09: 36,  // AGENT_E_PROXY_AUTH: the proxy wants credentials
    0x80042F08: 37   // AGENT_E_RETRY_LATER: the server asked to be asked again later
};

// Script errors carry the result code as a signed number.
function codeOf(error) {
    return error.number < 0 ? error.number + 0x100000000 : error.number;
}

function fail(what, error) {
    var code = codeOf(error);
    WScript.Echo("get.js: " + what + ": " + error.message + " (0x" + code.toString(16).toUpperCase() + ")");
    WScript.Quit(EXIT_CODES[code] || 29);
}

function size(bytes) {
    return bytes >= 1048576 ? (bytes / 1048576).toFixed(1) + " MiB" : bytes + " bytes";
}

// tamsel.exe's rule for a file name taken from a URL: the last segment of its path (after scheme and
// host, before any "?" or "#"), unchanged (nothing unescaped), or "" when it would not be a plain file
// in FOLDER: empty, "." or "..", a control character or one of <>:"/\|?* (so no ..\, C: or \\server
// prefix), a trailing dot or space (Windows would drop it), a device name (CON, NUL.txt, COM1, ...).
function fileNameOf(url) {
    var scheme = url.indexOf("://");
    if (scheme < 0) return "";
    var rest = url.substring(scheme + 3);
    var pathStart = rest.search(/[\/?#]/);
    if (pathStart < 0 || rest.charAt(pathStart) != "/") return "";
    var path = rest.substring(pathStart).split(/[?#]/)[0];
    var name = path.substring(path.lastIndexOf("/") + 1);
    var usable = /^[^\x00-\x1f\x7f<>:"\/\\|?*]*[^\x00-\x1f\x7f<>:"\/\\|?*. ]$/.test(name) &&
                 !/^(CON|PRN|AUX|NUL|COM[1-9]|LPT[1-9])(\.|$)/i.test(name);
    return usable ? name : "";
}

var args = [], stopAt = -1;
for (var index = 0; index < WScript.Arguments.Count(); ++index) {
    var arg = WScript.Arguments(index);
    if (arg.toLowerCase().indexOf("/stop:") == 0) stopAt = Number(arg.substring(6));
    else args.push(arg);
}
if (args.length != 3) {
    WScript.Echo("usage: cscript //nologo get.js SERVICE_URL CODE FOLDER [/stop:PERCENT]");
    WScript.Quit(2);
}
var serviceUrl = args[0], code = args[1], folder = args[2];

var agent = new ActiveXObject("NorvikTamselAgent.nvTamselAgent");
// Any function serves; a true answer cancels the download.
agent.OnProgress = function (received, total, percent) {
    WScript.Echo("progress " + (total >= 0 ? percent + "% " + size(received) + " of " + size(total)
                                           : size(received)));
    return stopAt >= 0 && percent >= stopAt;
};

var url;
try {
    url = agent.QueryDownload(serviceUrl, code);
} catch (e) {
    fail("query", e);
}
if (fileNameOf(url) == "") {
    WScript.Echo("get.js: the download URL " + url + " names no usable file name; nothing downloaded");
    WScript.Quit(4);
}
var target = folder + "\\" + fileNameOf(url);
// LastSources is an array of the platform's kind; DownloadFrom takes it as it is, or, as here, as a
// JScript array.
var sources = new VBArray(agent.LastSources).toArray();
WScript.Echo("downloading " + url + " (" + size(agent.LastFileSize) + ") from " + sources.length +
             (sources.length == 1 ? " source" : " sources"));

// Each retry, heard before its wait. Where the script host connects no events (Wine's), the summary
// after the download tells what happened.
function sourceName(index) {
    return index == 0 ? "the download URL" : "mirror " + index;
}
function agent_Retrying(attempt, waitMs, reason, sourceIndex, cancel) {
    var code = reason < 0 ? reason + 0x100000000 : reason;
    WScript.Echo("retrying in " + Math.ceil(waitMs / 1000) + " s from " + sourceName(sourceIndex) + " (attempt " +
                 attempt + "; the last ended with 0x" + code.toString(16).toUpperCase() + ")");
}
try {
    WScript.ConnectObject(agent, "agent_");
} catch (e) {
}

var failure = null;
try {
    agent.DownloadFrom(sources, target, FETCH_REPLACE_SAFELY | FETCH_RESUME,
                       agent.LastFileSize > 0 ? agent.LastFileSize : -1, agent.LastSha256);
} catch (e) {
    failure = e;
}
WScript.Echo("attempts " + agent.LastAttempts + ", the last from " + sourceName(agent.LastSourceIndex) +
             (agent.LastBytesResumed > 0 ? ", going on from " + size(agent.LastBytesResumed) + " kept" : "") +
             (agent.LastRetryAfter > 0 ? ", the server asked to wait " + agent.LastRetryAfter / 1000 + " s" : ""));
if (failure == null && agent.LastSha256 != "") WScript.Echo("verified sha256 " + agent.LastSha256);
if (failure == null) WScript.Echo("saved " + target);

var remaining;
try {
    remaining = agent.ReportDownloadEx(serviceUrl, code, failure == null);
} catch (e) {
    fail("report", e);
}
WScript.Echo("reported " + (failure == null ? "success" : "failure") + "; remaining downloads: " + remaining);
if (failure != null) fail("download", failure);
