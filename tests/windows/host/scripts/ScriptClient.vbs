' A VBScript client of the driver, run by cscript: creates it by its ProgID and calls every
' method by name, passing its own variables for the [out] parameters. Prints one "name=value"
' line per result and "done" at the end (the script host says nothing of an error that stops a
' script).
'
' The settings array is a class of this script. This script engine cannot name a method "Get"
' (it takes the word for the keyword of "Property Get"), so the driver finds no Get to call:
' Open fails its reading, which is what is checked here; the JScript client opens devices.

Sub Show(Name, Value)
    WScript.Echo Name & "=" & Value
End Sub

' Booleans print in the system's language otherwise.
Function Flag(Value)
    If Value Then Flag = "true" Else Flag = "false"
End Function

Class SettingsArray
    Public Function Item(Index)
        Item = Array(100, "#9", "#13", "#33", "#34", "#35", "#36", True)(Index)
    End Function
End Class

Dim driver, settings, deviceID, text, code
Set driver = CreateObject("Addin.LumMSRKBD1C")
Show "version", driver.GetVersion()

code = driver.GetLastError(text)
Show "new driver error", code & " " & text

Set settings = New SettingsArray
deviceID = 42
Show "open", Flag(driver.Open(settings, deviceID))
Show "device id type", TypeName(deviceID)
Show "device id", deviceID
code = driver.GetLastError(text)
Show "open error", code & " " & text

Show "close unknown", Flag(driver.Close("no such device"))
code = driver.GetLastError(text)
Show "close error", code & " " & text

Show "acknowledge idle", Flag(driver.EventProcessed("", False))
code = driver.GetLastError(text)
Show "acknowledge error", code & " " & text

Show "version again", driver.GetVersion()
code = driver.GetLastError(text)
Show "error after version", code & " " & text

WScript.Echo "done"
