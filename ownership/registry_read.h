// The one bounded read of a registry string value: every text the host's
// identity code reads from the registry goes through it.
#pragma once

#include <windows.h>

#include <string>

/// Reads the string value name (null: the key's default value) of key into
/// text, up to its first NUL, with its type (REG_SZ or REG_EXPAND_SZ, not
/// expanded). ERROR_SUCCESS, ERROR_FILE_NOT_FOUND when there is no such
/// value, ERROR_INVALID_DATA when it is of another type or longer than
/// maxChars characters, or the registry's own error. A trailing odd byte
/// is ignored (ownership/registry_text.h).
/// Reads no byte beyond the data the registry returned.
LSTATUS ReadRegistryText(HKEY key, const wchar_t* name, DWORD maxChars,
                         std::wstring& text, DWORD& type);
