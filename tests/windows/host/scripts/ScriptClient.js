// A JScript client of the driver, run by cscript: creates it by its ProgID, opens devices with
// a script object as the settings array and calls every method by name. [out] parameters are
// left out or passed by value, as JScript can do no better. Prints one "name=value" line per
// result and "done" at the end (the script host says nothing of an error that stops a script).

function print(name, value) {
    WScript.Echo(name + "=" + value);
}

function settings(values) {
    return { Get: function (index) { return values[index]; } };
}

function lastError(driver) {
    print("error", driver.GetLastError());
}

var driver = new ActiveXObject("Addin.LumMSRKBD1C");
print("version", driver.GetVersion());

var bench = [100, "#9", "#13", "#33", "#34", "#35", "#36", true];
print("open without DeviceID", driver.Open(settings(bench)));
lastError(driver);
print("open with DeviceID by value", driver.Open(settings(bench), ""));
lastError(driver);

var textual = [" 250", "#9", "#13", "", "", "", "", true];
print("open with textual sensitivity", driver.Open(settings(textual)));

var broken = [100, "#9", "#13", "#33", "#65;", "#35", "#36", true];
print("open with a malformed suffix", driver.Open(settings(broken)));
print("error with description by value", driver.GetLastError(""));

var failing = { Get: function (index) { throw new Error("\u043D\u0435\u0442 " + index); } };
print("open with a failing Get", driver.Open(failing));
lastError(driver);

print("close unknown", driver.Close("no such device"));
lastError(driver);

print("acknowledge idle", driver.EventProcessed("", true));
lastError(driver);

try {
    driver.EventProcessed("", "abc");
    print("acknowledge with text flag", "accepted");
} catch (error) {
    print("acknowledge with text flag", "error " + (error.number >>> 0).toString(16));
}

WScript.Echo("done");
