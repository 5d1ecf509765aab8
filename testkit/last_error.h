#pragma once

#include <windows.h>

#include <string>

namespace testkit {

// "5 (Access is denied.)": a last-error or HRESULT value as readable
// assertion output.
std::string LastErrorText(DWORD error);
inline std::string LastErrorText() { return LastErrorText(GetLastError()); }

// UTF-8 text of a wide string, for assertion messages.
std::string Narrow(const std::wstring& text);

}  // namespace testkit
