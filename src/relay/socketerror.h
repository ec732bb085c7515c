#pragma once
// What a Windows Sockets error number means, as the user reads it.

// A short Japanese text for the error ("ソケットエラー" for the rest).
const char* socketErrorText(int error);
