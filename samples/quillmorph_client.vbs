' A late-bound client of the QuillmorphOLE automation interface, as a script
' host runs it: cscript //nologo quillmorph_client.vbs
'
' It creates the automation class by its ProgID, ends edits that are not open
' (which is harmless), reads a drawing back from the clipboard, and shows how
' the server answers arguments that are not byte arrays.
Option Explicit

Dim server, native, result

' Byte arrays come back as VarType 8209 (vbArray + vbByte).
Function DescribeBytes(value)
    If VarType(value) = vbArray + vbByte Then
        DescribeBytes = "a byte array"
    Else
        DescribeBytes = "VarType " & VarType(value)
    End If
End Function

Set server = CreateObject("QUILLMORPHOLE.QuillmorphOLE")
WScript.Echo "created: " & TypeName(server)

' Ending every open edit, or one by its key, always succeeds.
server.CloseAll
WScript.Echo "CloseAll: ok"
server.Close 7
WScript.Echo "Close 7: ok"

' The native document of a Quillmorph drawing on the clipboard, or Empty.
native = server.TripBack()
If IsEmpty(native) Then
    WScript.Echo "TripBack: no drawing on the clipboard"
Else
    WScript.Echo "TripBack: " & DescribeBytes(native)
End If

' Script strings are not byte arrays: the server refuses them with
' E_INVALIDARG instead of reading them as something else; the script host
' reports that as error 5, "Invalid procedure call or argument".
On Error Resume Next
result = server.TripForward("native", "picture")
WScript.Echo "TripForward with strings: error " & Err.Number
Err.Clear

' A byte array that came from the server goes back in unchanged: the native
' document read from the clipboard, with an empty picture, becomes an
' embeddable drawing again.
If Not IsEmpty(native) Then
    result = server.TripForward(native, native)
    If Err.Number = 0 Then
        WScript.Echo "TripForward: " & DescribeBytes(result) & " of compound file"
    Else
        WScript.Echo "TripForward: error " & Err.Number
    End If
End If
On Error GoTo 0

Set server = Nothing
WScript.Echo "done"
