// What each check's findings mean: its status, the words for what it found
// and what to do. The checks gather the facts (check/*-win32.cc); the
// decisions and the words live here, apart from the platform.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "check/check_report.h"
#include "handoff/lock_probe.h"
#include "diagnosis/desktop_check.h"
#include "platform/product_version.h"
#include "platform/time_limit.h"

/// The check names, in the order they run.
extern const char kInstallCheck[];
extern const char kHandoffKeyCheck[];
extern const char kRegistrationCheck[];
extern const char kDcomIdentityCheck[];
extern const char kDesktopCheck[];
extern const char kTimeLimitCheck[];
extern const char kRunLockCheck[];
extern const char kLeftoverHostCheck[];
extern const char kHostStartCheck[];
extern const char kWorkbookCheck[];

/// The installation folder's files. Errors are the platform's codes, 0
/// when the file is there (and, for the workbook, could be opened for
/// reading).
struct InstallFacts {
  std::wstring folder;
  uint32_t programError = 0;   ///< UlvexCmdLine.exe
  ProductVersion product;      ///< Ulvex_32.exe's version
  uint32_t workbookError = 0;  ///< App\Ulvex
};
CheckResult JudgeInstall(const InstallFacts& facts);

/// openError: 0 when the hand-off key could be opened with the rights a run
/// needs (set, query, notify), otherwise why not.
CheckResult JudgeHandoffKey(uint32_t openError);

/// The host's class registration, one registry view at a time.
struct RegistrationFacts {
  struct View {
    bool view64 = false;
    std::wstring classId;
    std::wstring currentVersion;  ///< CurVer's ProgID, empty when none
    std::wstring serverImage;     ///< the program the launcher starts
    uint32_t fileError = 0;       ///< 0 when that program is there
    int bits = 0;                 ///< 32 or 64; 0 when unknown
  };
  std::vector<View> views;  ///< 32-bit view first
  std::wstring version;     ///< the major version a run acts on; "" unknown
  /// Where that version was read, for people (the run reads it from the
  /// merged classes, elevated or not).
  std::wstring versionSource;
  bool elevated = false;   ///< only the machine's classes were read
  bool windows64 = false;  ///< the machine has a 64-bit registry view
  bool client64 = false;   ///< this program (and a run) is a 64-bit client
  /// The AppID's PreferredServerBitness (1 the client's kind, 2 32-bit, 3
  /// 64-bit), 0 when none; and the AppID's key, empty without an AppID.
  unsigned long preferredBitness = 0;
  std::wstring appIdKey;
};
CheckResult JudgeRegistration(const RegistrationFacts& facts);

/// The host's DCOM identity: the RunAs value of its class's AppID.
struct DcomFacts {
  bool registered = false;  ///< a class was found at all
  std::wstring appIdKey;    ///< where RunAs is read; empty: no AppID
  uint32_t readError = 0;   ///< 0 read, 2 no RunAs, else unreadable
  std::wstring runAs;
  /// runAs was looked up as an account and compared with this check's
  /// (by SID); lookupError says why not, when it was not.
  bool resolved = false;
  uint32_t lookupError = 0;
  bool thisAccount = false;  ///< runAs names the account of this check
  std::wstring account;      ///< this check's account, "DOMAIN\user"
};
CheckResult JudgeDcomIdentity(const DcomFacts& facts);

CheckResult JudgeDesktop(const DesktopFinding& finding);

CheckResult JudgeTimeLimit(const TimeLimit& limit);

CheckResult JudgeRunLock(const LockProbe& probe);

/// The record of a host that an earlier run left.
struct LeftoverFacts {
  enum State {
    None,       ///< no record
    Stale,      ///< a record of a process that is gone, or not as written
    LeftAlone,  ///< a process the next run leaves alone (reason says why)
    Ended,      ///< the registered host: the next run ends it
    Holds,      ///< a host the next run may not end: it ends with status 1
  } state = None;
  bool runInProgress = false;  ///< the run lock is held: the record is its
  uint32_t processId = 0;
  std::wstring image;
  std::string reason;  ///< LeftAlone and Holds: why
};
CheckResult JudgeLeftoverHost(const LeftoverFacts& facts);

/// What starting the host as the run does gave.
struct HostStartFacts {
  enum Outcome { Started, ClassUnknown, NotCreated } outcome = Started;
  uint32_t status = 0;  ///< the failure of ClassUnknown and NotCreated
  std::wstring words;   ///< the failure's words (diagnosis/error_report.h)
  uintptr_t window = 0;
  uint32_t processId = 0;  ///< 0 when the window named no process we opened
  bool tied = false;
  uint32_t untiedError = 0;
  /// Why the window's process is not taken for the host ("its program is
  /// not the registered Excel", ...); empty when it is.
  std::string notHostReason;
  uint32_t versionStatus = 0;  ///< the failure of reading Version
  std::wstring versionWords;
  std::wstring version;  ///< the host's Version, e.g. "16.0"
  unsigned long elapsedMs = 0;
  /// The window's process runs as another account than this check: found
  /// so, or not checkable (access denied) while RunAs names another
  /// account. Its add-in writes that account's hand-off key.
  bool otherUser = false;
};
CheckResult JudgeHostStart(const HostStartFacts& facts);

/// A new workbook made and closed again.
struct WorkbookFacts {
  /// The call that failed: "" when none did, else "Workbooks",
  /// "Workbooks.Add" or "Close".
  std::string failedCall;
  uint32_t status = 0;
  std::wstring words;     ///< the failure's words
  std::wstring hostSaid;  ///< "Excel said (...): ...", empty when it was silent
  bool lacksDesktop = false;  ///< the desktop check found a folder missing
};
CheckResult JudgeWorkbook(const WorkbookFacts& facts);

/// A call into the host that did not return: within 60 s, or before the
/// time limit ran out (limitText, e.g. "2h", when that came first). call
/// names it ("CoCreateInstance", "Workbooks.Add", ...); the host has been
/// ended.
CheckResult JudgeNoAnswer(const char* id, const std::string& call,
                          const std::wstring& limitText);

/// A check that cannot run because the time limit has run out already.
CheckResult JudgeOutOfTime(const char* id, const std::wstring& limitText);
