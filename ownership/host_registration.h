// The host's class registration as COM finds it for this run: the class
// behind "Excel.Application" (or the version its CurVer names) in each
// registry view, and the program its LocalServer32 starts. The run's
// identity check and the installation check read it from here.
#pragma once

#include <string>
#include <vector>

/// One registry view's registration of the host's class.
struct HostRegistration {
  bool view64 = false;          ///< read in the 64-bit registry view
  /// Read from HKLM\Software\Classes alone (an elevated run), not from
  /// HKCR, which merges in the user's classes.
  bool machineClasses = false;
  std::wstring classId;         ///< "{...}"
  std::wstring currentVersion;  ///< the CurVer ProgID, empty when none
  /// The server's program as the launcher starts it (LocalServer32's
  /// "ServerExecutable" or the program of its command line, expanded as
  /// for that view, arguments left out); empty when none.
  std::wstring serverImage;
  /// serverImage as this process reaches the file: in the 64-bit view,
  /// the system folder through "Sysnative" from a 32-bit process.
  std::wstring serverFile;
  /// LocalServer32's command line as stored (not expanded); empty when none.
  std::wstring serverCommand;
  /// The class's "AppID" value (whose key holds its DCOM identity); empty
  /// when none.
  std::wstring appId;
  /// Where the AppID's key was read, for people: always the machine's
  /// ("HKEY_LOCAL_MACHINE\Software\Classes\AppID\{...}", in this view), as
  /// COM reads it; empty when there is no AppID.
  std::wstring appIdKey;
  /// The AppID's "RunAs" (its DCOM identity) and the status of reading it
  /// (ERROR_FILE_NOT_FOUND when the key or the value is missing).
  std::wstring runAs;
  long runAsStatus = 2;  // ERROR_FILE_NOT_FOUND
  /// The AppID's "PreferredServerBitness" (1 the client's kind, 2 32-bit,
  /// 3 64-bit); 0 when it has none.
  unsigned long preferredBitness = 0;
};

/// 32-bit view first, then 64-bit (on 64-bit Windows only); a view
/// without a registration is left out; an elevated run reads
/// HKLM\Software\Classes only, as COM does (a process of the user's may
/// write the per-user classes that HKCR merges in).
std::vector<HostRegistration> ReadHostRegistrations();

/// path, as a 64-bit process names the file, as this process reaches it.
/// NOTE: from a 32-bit process on 64-bit Windows the file system redirects
/// the system folder to the 32-bit one; "Sysnative" reaches the native one.
std::wstring NativePathAsReached(const std::wstring& path);

/// True on 64-bit Windows, which has a 64-bit registry view beside the
/// 32-bit one.
bool HasView64();

/// True when the run's token is elevated, or its elevation cannot be read
/// (then only what the machine registers is trusted).
bool RunIsElevated();
