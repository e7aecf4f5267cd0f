#pragma once

/// Switches off add-in custom UI error reports and sets the quick access
/// toolbar style for the installed Office version. Never creates a key.
bool SetOfficeOptions();
