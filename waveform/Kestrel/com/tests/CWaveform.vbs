' Kestrel.CWaveform as a late-bound script host sees it. Wine's cscript
' hides script errors, so every statement runs under On Error Resume Next and
' Check reports an error left by the statement before it; the exit status is
' the number of failed checks (100 when the object cannot be made).
Option Explicit
On Error Resume Next
Dim failures : failures = 0

Sub Check(holds, what)
    If Err.Number <> 0 Then
        WScript.Echo "FAIL " & what & ": error &H" & Hex(Err.Number) & " " & Err.Description
        Err.Clear
        failures = failures + 1
    ElseIf Not holds Then
        WScript.Echo "FAIL " & what
        failures = failures + 1
    End If
End Sub

Dim waveform, other, value, action, data, result
Set waveform = CreateObject("Kestrel.CWaveform")
If Err.Number <> 0 Or Not IsObject(waveform) Then
    WScript.Echo "FAIL CreateObject(""Kestrel.CWaveform""): error &H" & Hex(Err.Number)
    WScript.Quit 100
End If

value = waveform.ComponentID
Check value = "KR470A Firmware Update", "ComponentID is ""KR470A Firmware Update"""
value = waveform.CountryCode
Check value = 1, "CountryCode is 1"
waveform.CountryCode = 7
value = waveform.CountryCode
Check value = 1, "CountryCode set to 7 still reads 1"
value = waveform.WaveFormResult
Check value = 2 And VarType(value) = vbLong, "WaveFormResult is the Long 2"
value = waveform.CType
Check value = 0 And VarType(value) = vbInteger, "CType is the Integer 0"

action = 5
data = "data"
result = waveform.Execute(action, data)
Check result = True, "Execute returns True"
Check action = 5 And data = "data", "Execute leaves its arguments as passed"

value = waveform.module
Check IsEmpty(value), "module starts Empty"
waveform.module = 42
value = waveform.module
Check value = 42, "module set to 42 reads 42"
waveform.Module = "text"
value = waveform.module
Check value = "text", "module set to a string reads the string"
Set other = CreateObject("Kestrel.CWaveform")
Set waveform.module = other
Set value = waveform.module
Check value Is other, "module set to an object reads the same object"
value = other.module
Check IsEmpty(value), "a second object starts with module Empty"
Set waveform.module = Nothing
Set other = Nothing
Set waveform = Nothing
Check True, "releasing the objects"

If failures = 0 Then WScript.Echo "VBScript: all checks passed"
WScript.Quit failures
