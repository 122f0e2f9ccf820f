// Download of URL into PATH from JScript, with an OnProgress handler that counts its calls, timed from
// inside the script: scripts/bench.sh sets it beside FetchToFileEx with the same flags.
//
//   cscript //nologo bench_download.js URL PATH
var FETCH_REPLACE_SAFELY = 1, FETCH_RESUME = 2;
var agent = new ActiveXObject("NorvikTamselAgent.nvTamselAgent");
var calls = 0;
agent.OnProgress = function (received, total, percent) {
    ++calls;
    return false;
};
var start = new Date().getTime();
agent.Download(WScript.Arguments(0), WScript.Arguments(1), FETCH_REPLACE_SAFELY | FETCH_RESUME);
WScript.Echo("seconds=" + (new Date().getTime() - start) / 1000);
WScript.Echo("handler_calls=" + calls);
