// What each check's findings mean: its status, the words for what it found
// and what to do. The checks gather the facts (check/*-win32.cc); the
// decisions and the words live here, apart from the platform.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "check/check_report.h"
#include "diagnosis/desktop_check.h"
#include "handoff/lock_probe.h"
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
extern const char kMacrosCheck[];
extern const char kWorkbookCheck[];

/// The check after id in the order; null after the last, and after the
/// last one without the host when noHost (/nohost) is given.
const char* NextCheck(const char* id, bool noHost);

/// Every check after id (after the last one without the host when
/// noHost), each as skipped with the reason ("not run: ...").
std::vector<CheckResult> SkippedAfter(const char* id, bool noHost,
                                      const std::string& reason);

/// The installation folder's files. Errors are the platform's codes, 0
/// when the file is there (and, for the workbook, could be opened for
/// reading).
struct InstallFacts {
  std::wstring folder;
  uint32_t programError = 0;   ///< UlvexCmdLine.exe
  ProductVersion product;      ///< Ulvex_32.exe's version
  uint32_t workbookError = 0;  ///< App\Ulvex
  /// App\Ulvex's mark of the web: the ZoneId of its Zone.Identifier
  /// stream, 0 when it has none.
  int zoneId = 0;
};
CheckResult JudgeInstall(const InstallFacts& facts);

/// The ZoneId that the text of a Zone.Identifier stream gives
/// ("[ZoneTransfer]", "ZoneId=3"); 0 when it gives none.
int ParseZoneId(const std::string& text);

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

/// Application.AutomationSecurity, read after the host started.
struct MacroFacts {
  uint32_t status = 0;  ///< the failure of reading it; 0 when read
  std::wstring words;   ///< the failure's words
  long security = 1;    ///< 1 low, 2 by the UI, 3 force-disable
};
CheckResult JudgeMacros(const MacroFacts& facts);

/// A small file of the check's own opened with Workbooks.Open and closed
/// again, as a run opens its workbook.
struct WorkbookFacts {
  std::wstring file;       ///< the file, under the temporary folder
  uint32_t fileError = 0;  ///< the file could not be written: why
  /// The call that failed: "" when none did, else "Workbooks",
  /// "Workbooks.Open" or "Close".
  std::string failedCall;
  uint32_t status = 0;
  std::wstring words;     ///< the failure's words
  std::wstring hostSaid;  ///< "Excel said (...): ...", empty when it was silent
  bool lacksDesktop = false;  ///< the desktop check found a folder missing
};
CheckResult JudgeWorkbook(const WorkbookFacts& facts);

/// What an ending that cannot wait did to the host the check started.
struct HostEnding {
  enum Outcome {
    NoHost,         ///< none was asked for
    Ended,          ///< it was ended through its job
    EndedUntied,    ///< not yet tied; found (processId) and ended
    Gone,           ///< it had ended by itself
    MayStillStart,  ///< not yet tied, and no such process was found
    Several,        ///< not yet tied; several could be it: none ended
    NotEnded,       ///< it could not be ended (processId, error)
  } outcome = NoHost;
  uint32_t processId = 0;
  uint32_t error = 0;
};

/// What was done to the host, as words that follow "; "; empty for NoHost.
std::string HostEndingWords(const HostEnding& host);

/// A call into the host that did not return: within 60 s, or before the
/// time limit ran out (limitText, e.g. "2h", when that came first). call
/// names it ("CoCreateInstance", "Workbooks.Open", ...); host says what was
/// done to the host.
CheckResult JudgeNoAnswer(const char* id, const std::string& call,
                          const std::wstring& limitText,
                          const HostEnding& host = {HostEnding::Ended});

/// The check was stopped (stop: "Ctrl+C", ...) while id was in progress,
/// in call when one was ("" otherwise).
CheckResult JudgeStopped(const char* id, const std::string& call,
                         const char* stop, const HostEnding& host);

/// The note for the last line when the host's ending could not be waited
/// for: a call that did not return (stop null), or a stop.
std::string HostLetGoNote(const std::string& call,
                          const std::wstring& limitText, const char* stop,
                          const HostEnding& host);

/// A check that cannot run because the time limit has run out already.
CheckResult JudgeOutOfTime(const char* id, const std::wstring& limitText);
