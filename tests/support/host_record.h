// The record of the host a run started (HKCU "Software\Quennet\UlvexCmdLine")
// as a test plants and reads it, written here with the test's own code, and
// a planted process for it to name: a process of the user's own that a run
// may end, where ending the stand-in host would spoil its COM registration.
#pragma once

#include <windows.h>

#include <string>

namespace ulvex_test {

/// "Software\Quennet\UlvexCmdLine".
extern const wchar_t kHostRecordKey[];

/// A program of the build (BinFolder()) started without a window, with
/// arguments; null when it could not be started. The caller owns the
/// handle.
HANDLE StartBuildProgram(const wchar_t* program, const std::wstring& arguments,
                         DWORD* processId = nullptr);

/// The program at path started in the same way.
HANDLE StartProgramFile(const std::wstring& path, const std::wstring& arguments,
                        DWORD* processId = nullptr);

/// IdleProcess.exe from the build, started to idle for idleMs; null when
/// it could not be started. The caller owns the handle.
HANDLE StartIdleProcess(DWORD idleMs);

/// The creation time of process as the record holds it (a FILETIME as one
/// number); 0 when it cannot be read.
ULONGLONG ProcessStartTime(HANDLE process);
/// The full path of process's image; empty when it cannot be read.
std::wstring ProcessImage(HANDLE process);

/// Writes a record of processId, startTime and image (no image value when
/// image is empty), replacing any record there is.
bool WriteHostRecord(DWORD processId, ULONGLONG startTime,
                     const std::wstring& image);
/// Writes one value of the record with exactly these bytes and this type.
bool WriteHostRecordData(const wchar_t* name, DWORD type, const void* data,
                         DWORD byteCount);
/// True when the record key exists.
bool HostRecordExists();
/// The recorded process ID; 0 when there is none.
DWORD RecordedHostProcessId();
/// The recorded image path; empty when there is none.
std::wstring RecordedHostImage();
bool DeleteHostRecord();

}  // namespace ulvex_test
