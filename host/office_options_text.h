// The per-user Office registry locations the program writes before the
// host starts.
#pragma once

#include <string>

/// "Software\Microsoft\Office\<version>.0\Common\General\": holds
/// "ReportAddinCustomUIErrors".
std::wstring OfficeGeneralKeyPath(const std::wstring& version);

/// "Software\Microsoft\Office\<version>.0\Common\Toolbars\Excel\": holds
/// "QuickAccessToolbarStyle".
std::wstring OfficeToolbarKeyPath(const std::wstring& version);
