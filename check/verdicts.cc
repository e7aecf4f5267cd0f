#include "check/verdicts.h"

#include <cstdio>
#include <cstdlib>

#include "host/excel_version_text.h"

const char kInstallCheck[] = "install";
const char kHandoffKeyCheck[] = "handoff-key";
const char kRegistrationCheck[] = "host-registration";
const char kDcomIdentityCheck[] = "dcom-identity";
const char kDesktopCheck[] = "desktop";
const char kTimeLimitCheck[] = "time-limit";
const char kRunLockCheck[] = "run-lock";
const char kLeftoverHostCheck[] = "leftover-host";
const char kHostStartCheck[] = "host-start";
const char kMacrosCheck[] = "macros";
const char kWorkbookCheck[] = "workbook";

namespace {

constexpr uint32_t kFileNotFound = 2;
constexpr uint32_t kPathNotFound = 3;
constexpr uint32_t kAccessDenied = 5;
constexpr uint32_t kNoVersionResource = 1812;  // ERROR_RESOURCE_DATA_NOT_FOUND
constexpr char kHandoffKey[] = "HKEY_CURRENT_USER\\Software\\Quennet\\Ulvex";

CheckResult Result(const char* id, CheckStatus status, std::string found,
                   std::string advice = std::string()) {
  return {id, status, std::move(found), std::move(advice)};
}

bool IsMissing(uint32_t error) {
  return error == kFileNotFound || error == kPathNotFound;
}

// Equal without regard to the case of ASCII letters, as COM reads RunAs.
bool SameLetters(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const wchar_t x = a[i] >= L'A' && a[i] <= L'Z' ? a[i] + 32 : a[i];
    const wchar_t y = b[i] >= L'A' && b[i] <= L'Z' ? b[i] + 32 : b[i];
    if (x != y) return false;
  }
  return true;
}

std::string ErrorText(uint32_t error) {
  return "error " + std::to_string(error) +
         (error == kAccessDenied ? ": access denied" : "");
}

std::string Hex(uint32_t status) {
  char text[16];
  snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(status));
  return text;
}

// "name is missing" or "name cannot be <what> (error N)".
std::string FileProblem(const char* name, uint32_t error, const char* what) {
  if (IsMissing(error)) return std::string(name) + " is missing";
  return std::string(name) + " cannot be " + what + " (" + ErrorText(error) +
         ")";
}

std::string VersionProblem(const ProductVersion& version) {
  if (version.failure == VersionFailure::SizeQuery && IsMissing(version.error))
    return "Ulvex_32.exe is missing";
  if (version.error == kNoVersionResource)
    return "Ulvex_32.exe has no version information (error 1812)";
  return "the version of Ulvex_32.exe cannot be read (error " +
         std::to_string(version.error) + ")";
}

// The folder part of a path ("C:\\A\\b.txt" gives "C:\\A"); the path itself
// when it has none.
std::string FolderOf(const std::string& path) {
  const size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos || cut == 0 ? path : path.substr(0, cut);
}

void AddProblem(std::string& problems, const std::string& problem) {
  problems += (problems.empty() ? "" : "; ") + problem;
}

std::string Seconds(unsigned long ms) {
  char text[32];
  snprintf(text, sizeof text, "%lu.%02lu s", ms / 1000, (ms % 1000) / 10);
  return text;
}

// The registry view whose server COM starts for a client of this
// program's kind, as the PreferredServerBitness documentation says: the
// AppID's preference (1 the client's kind, 2 32-bit, 3 64-bit; only on
// 64-bit Windows) or, without one, the client's own kind where its view
// registers a server, else the other. A view counts when it names a
// program, whether or not the file is there: COM does not fall back when
// the file is missing. view is null when the preference names a view
// without a server.
struct ServerPick {
  const RegistrationFacts::View* view = nullptr;
  std::string words;  // "; ..." for the found text
};

ServerPick PickServerView(const RegistrationFacts& facts) {
  const RegistrationFacts::View* servers[2] = {nullptr, nullptr};
  for (const RegistrationFacts::View& view : facts.views)
    if (!view.serverImage.empty()) servers[view.view64 ? 1 : 0] = &view;
  const bool own64 = facts.client64;
  const unsigned long preference = facts.windows64 ? facts.preferredBitness : 0;
  const std::string client = own64 ? "64-bit" : "32-bit";
  ServerPick pick;
  bool want64 = own64;
  std::string why;
  if (preference >= 1 && preference <= 3) {
    want64 = preference == 3 || (preference == 1 && own64);
    why = " (PreferredServerBitness " + std::to_string(preference) + " in " +
          Utf8(facts.appIdKey) + ")";
    pick.view = servers[want64 ? 1 : 0];
  } else {
    pick.view = servers[own64 ? 1 : 0];
    if (pick.view == nullptr) {
      want64 = !own64;
      pick.view = servers[want64 ? 1 : 0];
    }
  }
  const std::string view = want64 ? "64-bit" : "32-bit";
  if (pick.view == nullptr)
    pick.words = "; a " + client + " run gets no program: the " + view +
                 " view names none" + why;
  else
    pick.words =
        "; a " + client + " run gets the " + view + " view's program" + why;
  return pick;
}

// Every check, in order; the ones from host-start on start the host.
const char* const kCheckOrder[] = {
    kInstallCheck,   kHandoffKeyCheck, kRegistrationCheck, kDcomIdentityCheck,
    kDesktopCheck,   kTimeLimitCheck,  kRunLockCheck,      kLeftoverHostCheck,
    kHostStartCheck, kMacrosCheck,     kWorkbookCheck};
constexpr size_t kCheckCount = sizeof kCheckOrder / sizeof kCheckOrder[0];
constexpr size_t kFirstHostCheck = 8;

// The position of id in the order; kCheckCount when it is none.
size_t CheckIndex(const char* id) {
  for (size_t i = 0; i < kCheckCount; ++i)
    if (id != nullptr && std::string(kCheckOrder[i]) == id) return i;
  return kCheckCount;
}

// The words for a Zone.Identifier's zone.
const char* ZoneWords(int zone) {
  return zone == 4 ? "the restricted sites zone" : "the internet zone";
}

}  // namespace

const char* NextCheck(const char* id, bool noHost) {
  const size_t next = CheckIndex(id) + 1;
  if (next >= (noHost ? kFirstHostCheck : kCheckCount)) return nullptr;
  return kCheckOrder[next];
}

std::vector<CheckResult> SkippedAfter(const char* id, bool noHost,
                                      const std::string& reason) {
  std::vector<CheckResult> skipped;
  for (const char* next = NextCheck(id, noHost); next != nullptr;
       next = NextCheck(next, noHost))
    skipped.push_back(Result(next, CheckStatus::Skip, reason));
  return skipped;
}

int ParseZoneId(const std::string& text) {
  const std::string key = "zoneid=";
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos) continue;
    line.erase(0, first);
    if (line.size() <= key.size()) continue;
    bool same = true;
    for (size_t i = 0; i < key.size() && same; ++i) {
      const char c = line[i] >= 'A' && line[i] <= 'Z' ? line[i] + 32 : line[i];
      same = c == key[i];
    }
    if (!same) continue;
    int zone = 0;
    for (size_t i = key.size(); i < line.size(); ++i) {
      if (line[i] < '0' || line[i] > '9') break;
      zone = zone * 10 + (line[i] - '0');
      if (zone > 1000) return 0;
    }
    return zone;
  }
  return 0;
}

CheckResult JudgeInstall(const InstallFacts& facts) {
  const std::string folder = Utf8(facts.folder);
  std::string problems;
  if (facts.programError != 0)
    AddProblem(problems,
               FileProblem("UlvexCmdLine.exe", facts.programError, "read"));
  if (facts.product.failure != VersionFailure::None)
    AddProblem(problems, VersionProblem(facts.product));
  if (facts.workbookError != 0)
    AddProblem(problems,
               FileProblem("App\\Ulvex", facts.workbookError, "read"));
  const bool marked = facts.zoneId == 3 || facts.zoneId == 4;
  const std::string workbook = folder + "\\App\\Ulvex";
  const std::string unblock =
      "Unblock " + workbook +
      ": its Properties, General, tick Unblock, OK; or in PowerShell "
      "Unblock-File -LiteralPath '" +
      workbook +
      "'. An installation copied out of a downloaded ZIP carries the mark "
      "on every file: unblock the ZIP before extracting it, or unblock the "
      "files.";
  if (marked && problems.empty())
    return Result(kInstallCheck, CheckStatus::Fail,
                  "App\\Ulvex carries the mark of the web (its "
                  "Zone.Identifier says ZoneId=" +
                      std::to_string(facts.zoneId) + ", " +
                      ZoneWords(facts.zoneId) +
                      "): Excel opens it without running its code, and every "
                      "run waits for a report that never comes; in " +
                      folder,
                  unblock);
  if (problems.empty())
    return Result(kInstallCheck, CheckStatus::Ok,
                  "UlvexCmdLine.exe, Ulvex_32.exe (version " +
                      VersionNumberText(facts.product) +
                      ") and App\\Ulvex in " + folder);
  if (marked)
    AddProblem(problems, "App\\Ulvex carries the mark of the web (ZoneId=" +
                             std::to_string(facts.zoneId) + ")");
  return Result(kInstallCheck, CheckStatus::Fail, problems + " in " + folder,
                "Install or repair Ulvex so that the folder " + folder +
                    " holds UlvexCmdLine.exe, Ulvex_32.exe and App\\Ulvex, "
                    "readable by the account that runs the task, with "
                    "UlvexCheck.exe beside them." +
                    (marked ? " " + unblock : std::string()));
}

CheckResult JudgeHandoffKey(uint32_t openError) {
  const std::string key = kHandoffKey;
  if (openError == 0)
    return Result(kHandoffKeyCheck, CheckStatus::Ok,
                  key +
                      " exists and this account may set, read and watch its "
                      "values, as a run does (nothing was written)");
  if (IsMissing(openError))
    return Result(
        kHandoffKeyCheck, CheckStatus::Fail,
        key + " does not exist for this account",
        "Set up Ulvex for the account that runs the task (the Ulvex "
        "installation creates the key " +
            key +
            "), or run the task as the account Ulvex was set up for; neither "
            "a run nor this check creates the key.");
  return Result(kHandoffKeyCheck, CheckStatus::Fail,
                key +
                    " cannot be opened for setting, reading and watching "
                    "values, as a run opens it (" +
                    ErrorText(openError) + ")",
                "Give the account that runs the task the Set Value, Query "
                "Value and Notify permissions on " +
                    key +
                    " (regedit: right-click the key, Permissions, Advanced); "
                    "without any one of them every run fails.");
}

CheckResult JudgeRegistration(const RegistrationFacts& facts) {
  const std::string where =
      facts.elevated
          ? " of the machine (HKEY_LOCAL_MACHINE\\Software\\Classes, "
            "all an elevated run trusts)"
          : "";
  if (facts.views.empty())
    return Result(
        kRegistrationCheck, CheckStatus::Fail,
        "Excel.Application names no class in either registry view" + where,
        facts.elevated
            ? "Install Excel for all users of this machine, or run the task "
              "without the highest privileges, then run this check again."
            : "Install or repair Excel for this machine (Settings, Apps, "
              "Microsoft Office, Modify, Quick Repair), then run this check "
              "again.");
  const int version = atoi(Utf8(facts.version).c_str());
  const std::string source =
      facts.versionSource.empty()
          ? ""
          : " (" + Utf8(facts.versionSource) + ", as a run reads it)";
  std::string found = "Excel.Application" + where + ": ";
  if (facts.version.empty())
    found += "no version (no CurVer" + source +
             "), so a run sets neither FileValidation nor the Office options";
  else if (SetsFileValidation(version))
    found += "version " + Utf8(facts.version) + source +
             ", so a run sets FileValidation and the Office options";
  else if (SetsOfficeOptions(version))
    found += "version " + Utf8(facts.version) + source +
             ", so a run sets the Office options but not FileValidation";
  else
    found += "version " + Utf8(facts.version) + source +
             ", so a run sets neither FileValidation nor the Office options";
  int working = 0;
  std::string missing;  // a program that a view names and that is missing
  for (const RegistrationFacts::View& view : facts.views) {
    found += std::string("; ") + (view.view64 ? "64-bit" : "32-bit") +
             " view: class " + Utf8(view.classId);
    if (!view.currentVersion.empty())
      found += " (CurVer " + Utf8(view.currentVersion) + ")";
    // NOTE: the ProgID is shared by both views, the class is not: a 32-bit
    // host's class is found through the ProgID in the 64-bit view too,
    // without a server there.
    if (view.serverImage.empty()) {
      found += ", no LocalServer32 program in this view";
      continue;
    }
    found += ", LocalServer32 " + Utf8(view.serverImage);
    if (view.fileError != 0) {
      found +=
          IsMissing(view.fileError)
              ? " (missing)"
              : " (cannot be looked at: " + ErrorText(view.fileError) + ")";
      missing = Utf8(view.serverImage);
      continue;
    }
    ++working;
    if (view.bits != 0) found += " (" + std::to_string(view.bits) + "-bit)";
  }
  const char* repair =
      "Repair Excel (Settings, Apps, Microsoft Office, Modify, Quick "
      "Repair): ";
  if (working == 0 && missing.empty())
    return Result(
        kRegistrationCheck, CheckStatus::Fail, found,
        std::string(repair) + "no view of its class names a program to start.");
  // The server COM starts for a client of this program's kind: a problem
  // there fails every run, one in the other view does not.
  const ServerPick pick = PickServerView(facts);
  found += pick.words;
  const RegistrationFacts::View* picked = pick.view;
  if (picked == nullptr)
    return Result(kRegistrationCheck, CheckStatus::Fail, found,
                  "Remove PreferredServerBitness from " + Utf8(facts.appIdKey) +
                      ", or repair Excel (Settings, Apps, Microsoft Office, "
                      "Modify, Quick Repair) so that the view it asks for "
                      "names Excel.");
  if (picked->fileError != 0)
    return Result(kRegistrationCheck, CheckStatus::Fail, found,
                  repair + std::string("the program ") +
                      Utf8(picked->serverImage) +
                      ", which COM starts for a run here, is missing or "
                      "cannot be looked at; COM does not fall back to the "
                      "other view.");
  if (missing.empty())
    return Result(kRegistrationCheck, CheckStatus::Ok, found);
  return Result(
      kRegistrationCheck, CheckStatus::Warn, found,
      repair + std::string("the program ") + missing + " is missing.");
}

CheckResult JudgeDcomIdentity(const DcomFacts& facts) {
  const char* dialog =
      "dcomcnfg: Component Services, Computers, My Computer, DCOM Config, "
      "Microsoft Excel Application, Properties, Identity";
  const std::string launching =
      "Excel runs as the account that starts it (\"The launching user\")";
  if (!facts.registered)
    return Result(kDcomIdentityCheck, CheckStatus::Ok,
                  "no class registered, so no DCOM identity (see "
                  "host-registration)");
  if (facts.appIdKey.empty())
    return Result(kDcomIdentityCheck, CheckStatus::Ok,
                  "the class has no AppID: " + launching);
  const std::string key = Utf8(facts.appIdKey);
  if (IsMissing(facts.readError) ||
      (facts.readError == 0 && facts.runAs.empty()))
    return Result(kDcomIdentityCheck, CheckStatus::Ok,
                  "no RunAs in " + key + ": " + launching);
  const std::string advice =
      std::string(
          "Unless the task runs as that account, choose \"The "
          "launching user\" (") +
      dialog +
      "): otherwise the add-in reads the hand-off key "
      "HKEY_CURRENT_USER\\Software\\Quennet\\Ulvex of the account Excel runs "
      "as, and the run waits for a report that never comes.";
  if (facts.readError != 0)
    return Result(kDcomIdentityCheck, CheckStatus::Warn,
                  "the RunAs value of " + key + " cannot be read (" +
                      ErrorText(facts.readError) + ")",
                  std::string("Look at Excel's identity (") + dialog +
                      "): \"The launching user\" runs it as the task's "
                      "account.");
  if (SameLetters(facts.runAs, L"Interactive User"))
    return Result(kDcomIdentityCheck, CheckStatus::Warn,
                  "RunAs in " + key +
                      " is \"Interactive User\": Excel runs as the user "
                      "logged on at the console, not necessarily as this "
                      "account (" +
                      Utf8(facts.account) + ")",
                  advice);
  if (facts.thisAccount)
    return Result(kDcomIdentityCheck, CheckStatus::Ok,
                  "RunAs in " + key + " names this account (" +
                      Utf8(facts.runAs) + "): Excel runs as this account");
  if (!facts.resolved)
    return Result(kDcomIdentityCheck, CheckStatus::Warn,
                  "RunAs in " + key + " names " + Utf8(facts.runAs) +
                      ", which this check cannot look up as an account (" +
                      ErrorText(facts.lookupError) +
                      "), so it cannot tell whether that is this account (" +
                      Utf8(facts.account) + ")",
                  advice);
  // Excel would run in that account's logon session, with its desktop and
  // registry: its add-in writes that account's hand-off key.
  return Result(kDcomIdentityCheck, CheckStatus::Fail,
                "RunAs in " + key + " names the account " + Utf8(facts.runAs) +
                    ", not this account (" + Utf8(facts.account) +
                    "): Excel runs as that account, and its add-in reads and "
                    "writes that account's hand-off key",
                std::string("Choose \"The launching user\" (") + dialog +
                    "), or run the task as " + Utf8(facts.runAs) +
                    " (and this check as that account too): as it stands, "
                    "every run waits for a report that never comes.");
}

CheckResult JudgeDesktop(const DesktopFinding& finding) {
  if (finding.interactive) {
    std::string found = "this session";
    if (finding.session.sessionKnown)
      found += " (" + std::to_string(finding.session.sessionId) + ")";
    found += " has an interactive desktop";
    if (!finding.session.sessionKnown && !finding.session.stationKnown)
      found =
          "this session's desktop could not be looked at; taken as "
          "interactive, as a run takes it";
    return Result(kDesktopCheck, CheckStatus::Ok, found);
  }
  const std::string without =
      "no interactive desktop (session 0 or a hidden window station, as for "
      "a task set to run whether the user is logged on or not)";
  if (finding.folders.empty())
    return Result(kDesktopCheck, CheckStatus::Warn,
                  without +
                      ", and the profile folder of this account is not known "
                      "(USERPROFILE), so its Desktop folder cannot be looked "
                      "at",
                  "Make sure the Desktop folder of the profile of the "
                  "account that runs the task exists: without it Excel's "
                  "workbook calls fail or never return.");
  std::string found = without;
  std::string missing;
  for (const DesktopFolderState& folder : finding.folders) {
    found += "; " + Utf8(folder.shown) +
             (folder.missing ? " is missing" : " exists");
    if (folder.missing) missing = Utf8(folder.shown);
  }
  if (missing.empty()) return Result(kDesktopCheck, CheckStatus::Ok, found);
  return Result(kDesktopCheck, CheckStatus::Fail, found, Utf8(finding.advice));
}

CheckResult JudgeTimeLimit(const TimeLimit& limit) {
  switch (limit.setting) {
    case TimeLimitSetting::Unset:
      return Result(kTimeLimitCheck, CheckStatus::Ok,
                    "no limit (ULVEX_TIME_LIMIT is not set)");
    case TimeLimitSetting::Valid:
      return Result(kTimeLimitCheck, CheckStatus::Ok,
                    TimeLimitInWords(limit.seconds) +
                        " (ULVEX_TIME_LIMIT=" + Utf8(limit.text) +
                        "): a run that takes longer is ended, with its host");
    default:
      return Result(kTimeLimitCheck, CheckStatus::Fail,
                    Utf8(InvalidTimeLimitLine(limit.text)),
                    "Correct or remove the environment variable "
                    "ULVEX_TIME_LIMIT of the account that runs the task "
                    "(System Properties, Environment Variables, or the "
                    "task's batch file): while it holds this value, every run "
                    "ends at once with status 1.");
  }
}

CheckResult JudgeRunLock(const LockProbe& probe) {
  const std::string file = Utf8(probe.lockFile);
  const std::string folder = Utf8(probe.folder);
  switch (probe.state) {
    case LockState::Free:
      return Result(
          kRunLockCheck, CheckStatus::Ok,
          "the run lock " + file + " could be taken (and was let go at once)");
    case LockState::Held:
      return Result(
          kRunLockCheck, CheckStatus::Warn,
          "a run of this user is going on: it holds the run lock " + file,
          "Run this check again once that run has ended; a run "
          "started meanwhile waits for it to end.");
    case LockState::WillBeCreated:
      return Result(kRunLockCheck, CheckStatus::Ok,
                    "the run lock " + file +
                        " does not exist yet; the first run creates it (and "
                        "any folder missing on its way) in " +
                        folder + ", where this account may create them");
    default:
      break;
  }
  if (file.empty())
    return Result(kRunLockCheck, CheckStatus::Fail,
                  "the local application data folder of this account cannot "
                  "be found (" +
                      ErrorText(probe.error) + ")",
                  "Run the task as an account with a loaded profile (a task "
                  "set to run whether the user is logged on or not loads "
                  "it); every run ends at once with status 1 without its run "
                  "lock.");
  // Where the file itself failed, the right to ask for is in its folder.
  const std::string rightsFolder =
      probe.folder == probe.lockFile ? FolderOf(file) : folder;
  return Result(kRunLockCheck, CheckStatus::Fail,
                "the run lock " + file + " cannot be opened or created at " +
                    folder + " (" + ErrorText(probe.error) + ")",
                "Give the account that runs the task the right to create and "
                "change files in " +
                    rightsFolder +
                    " (its Properties, Security), and remove anything else "
                    "that stands at " +
                    file +
                    "; every run ends at once with status 1 while it cannot "
                    "take its run lock.");
}

CheckResult JudgeLeftoverHost(const LeftoverFacts& facts) {
  std::string process = "process " + std::to_string(facts.processId);
  if (!facts.image.empty()) process += ", " + Utf8(facts.image);
  switch (facts.state) {
    case LeftoverFacts::None:
      return Result(kLeftoverHostCheck, CheckStatus::Ok,
                    "no Excel left running by an earlier run");
    case LeftoverFacts::Stale:
      return Result(kLeftoverHostCheck, CheckStatus::Ok,
                    "an earlier run's record names no running Excel; the "
                    "next run removes it");
    default:
      break;
  }
  if (facts.runInProgress)
    return Result(
        kLeftoverHostCheck, CheckStatus::Ok,
        "the record names Excel (" + process + ") of the run going on");
  switch (facts.state) {
    case LeftoverFacts::LeftAlone:
      return Result(kLeftoverHostCheck, CheckStatus::Ok,
                    "an earlier run's record names " + process + " (" +
                        facts.reason +
                        "): the next run leaves it running and removes the "
                        "record");
    case LeftoverFacts::Ended:
      return Result(kLeftoverHostCheck, CheckStatus::Warn,
                    "Excel (" + process +
                        "), left running by an earlier run of this user, "
                        "still runs: the next run ends it first",
                    "Nothing, unless someone works in that Excel: then "
                    "close it before the task's next run, which would end "
                    "it.");
    default:
      return Result(kLeftoverHostCheck, CheckStatus::Fail,
                    "Excel (" + process +
                        "), left running by an earlier run of this user, "
                        "still runs (" +
                        facts.reason +
                        "): every run here ends at once with status 1 while "
                        "it runs",
                    "Close that Excel (Task Manager, Details, process " +
                        std::to_string(facts.processId) +
                        "; in another session, sign that session out), then "
                        "run this check again.");
  }
}

CheckResult JudgeHostStart(const HostStartFacts& facts) {
  const std::string words =
      facts.words.empty() ? std::string() : ": " + Utf8(facts.words);
  const char* startAdvice =
      "Start Excel by hand as the account that runs the task and answer "
      "whatever it asks (first start, activation, a repair); see "
      "host-registration and dcom-identity above, then run this check again.";
  if (facts.outcome == HostStartFacts::ClassUnknown)
    return Result(kHostStartCheck, CheckStatus::Fail,
                  "CLSIDFromProgID() failed:" + Hex(facts.status) + words,
                  startAdvice);
  if (facts.outcome == HostStartFacts::NotCreated)
    return Result(kHostStartCheck, CheckStatus::Fail,
                  "Excel not registered properly: " + Hex(facts.status) + words,
                  startAdvice);
  if (facts.versionStatus != 0)
    return Result(
        kHostStartCheck, CheckStatus::Fail,
        "Excel started in " + Seconds(facts.elapsedMs) +
            " but did not give its Version (" + Hex(facts.versionStatus) + ")" +
            (facts.versionWords.empty() ? std::string()
                                        : ": " + Utf8(facts.versionWords)),
        "The program registered as Excel.Application does not "
        "answer as Excel does: repair Excel, or correct its "
        "registration (see host-registration).");
  std::string found = "Excel " + Utf8(facts.version) + " started in " +
                      Seconds(facts.elapsedMs) + ", ";
  if (facts.window == 0) {
    found += "without naming its window";
  } else {
    char window[32];
    snprintf(window, sizeof window, "0x%llx",
             static_cast<unsigned long long>(facts.window));
    found += std::string("window ") + window;
    if (facts.processId != 0)
      found += " of process " + std::to_string(facts.processId);
  }
  if (facts.otherUser)
    return Result(kHostStartCheck, CheckStatus::Fail,
                  found +
                      ", but that process runs as another account than this "
                      "check: its add-in writes that account's hand-off key",
                  "Make Excel run as the account that starts it (\"The "
                  "launching user\", see dcom-identity), or run the task as "
                  "the account Excel runs as: as it stands, every run waits "
                  "for a report that never comes.");
  if (facts.tied)
    return Result(kHostStartCheck, CheckStatus::Ok,
                  found + ", tied to this check");
  std::string why;
  if (!facts.notHostReason.empty())
    why = " (" + facts.notHostReason + ")";
  else if (facts.untiedError != 0)
    why = " (error " + std::to_string(facts.untiedError) + ")";
  if (!facts.notHostReason.empty())
    return Result(
        kHostStartCheck, CheckStatus::Warn,
        found + ", but it could not be tied to this check" + why,
        "A run here only watches that process (its end ends the run's wait "
        "for the add-in): it neither ties nor records it, so a run that is "
        "interrupted or killed leaves it running and no later run ends it. "
        "See host-registration for the program Excel.Application starts, "
        "and dcom-identity and desktop for a host in another session.");
  return Result(kHostStartCheck, CheckStatus::Warn,
                found + ", but it could not be tied to this check" + why,
                "A run here cannot end the Excel it started when it is "
                "interrupted or killed: that Excel then stays, and the next "
                "run ends it first. Error 1400 means Excel runs in another "
                "session or as another account (see dcom-identity and "
                "desktop).");
}

CheckResult JudgeMacros(const MacroFacts& facts) {
  if (facts.status != 0)
    return Result(
        kMacrosCheck, CheckStatus::Warn,
        "Excel did not give its AutomationSecurity (" + Hex(facts.status) +
            ")" +
            (facts.words.empty() ? std::string() : ": " + Utf8(facts.words)),
        "Look at Excel's macro settings for the account that runs "
        "the task (File, Options, Trust Center, Trust Center "
        "Settings, Macro Settings): the add-in's code must run "
        "when a run opens its workbook.");
  const std::string value =
      "Application.AutomationSecurity is " + std::to_string(facts.security);
  if (facts.security == 3)
    return Result(
        kMacrosCheck, CheckStatus::Fail,
        value +
            " (force disable): Excel opens the add-in workbook without "
            "running its code, so every run waits for a report that never "
            "comes",
        "Have the setting that forces it removed for the account that runs "
        "the task (a policy of the Office security settings, \"Automation "
        "Security\", or an add-in or start-up file that sets it), then run "
        "this check again.");
  if (facts.security == 2)
    return Result(kMacrosCheck, CheckStatus::Warn,
                  value +
                      " (by the user interface): the Trust Center's macro "
                      "setting decides whether the add-in's code runs",
                  "Make sure the Trust Center lets the add-in's code run for "
                  "the account that runs the task (File, Options, Trust "
                  "Center, Trust Center Settings: Macro Settings, or the "
                  "install folder as a Trusted Location).");
  if (facts.security == 1)
    return Result(kMacrosCheck, CheckStatus::Ok,
                  value +
                      " (low): the add-in's code runs when a run opens its "
                      "workbook");
  return Result(kMacrosCheck, CheckStatus::Warn,
                value + ", a value this check does not know",
                "Look at Excel's macro settings for the account that runs "
                "the task (File, Options, Trust Center, Trust Center "
                "Settings, Macro Settings).");
}

CheckResult JudgeWorkbook(const WorkbookFacts& facts) {
  const std::string file = Utf8(facts.file);
  if (facts.fileError != 0)
    return Result(kWorkbookCheck, CheckStatus::Fail,
                  "this check's own file " + file + " cannot be written (" +
                      ErrorText(facts.fileError) + ")",
                  "Give the account that runs the task a temporary folder it "
                  "can write to (the variables TEMP and TMP), as Excel "
                  "needs one too, then run this check again.");
  if (facts.failedCall.empty())
    return Result(kWorkbookCheck, CheckStatus::Ok,
                  "Workbooks.Open opened " + file +
                      ", a small file of this check's own, and its Close "
                      "(SaveChanges False) closed it; the file was deleted");
  std::string found = facts.failedCall;
  if (facts.failedCall == "Workbooks.Open") found += " of " + file;
  found += " failed (" + Hex(facts.status) + ")";
  if (!facts.hostSaid.empty())
    found += "; " + Utf8(facts.hostSaid);
  else if (!facts.words.empty())
    found += ": " + Utf8(facts.words);
  const std::string advice =
      facts.lacksDesktop
          ? "This is the call that fails without the Desktop folder of the "
            "account's profile: create the folder that the desktop check "
            "names, then run this check again."
          : "Open Excel by hand as the account that runs the task, open a "
            "file with File, Open and close it; deal with what stops that (a "
            "dialog, a damaged add-in, a policy that blocks files, a full "
            "disk), then run this check again.";
  return Result(kWorkbookCheck, CheckStatus::Fail, found, advice);
}

std::string HostEndingWords(const HostEnding& host) {
  const std::string close =
      " and must be closed (Task Manager, Details) before the task's next "
      "run";
  switch (host.outcome) {
    case HostEnding::NoHost:
      return std::string();
    case HostEnding::Ended:
      return "the Excel this check started has been ended";
    case HostEnding::EndedUntied:
      return "the Excel this check started (process " +
             std::to_string(host.processId) +
             "), not yet tied to it, has been ended";
    case HostEnding::Gone:
      return "the Excel this check started had ended by itself";
    case HostEnding::MayStillStart:
      return "no Excel of this check could be found to end it: an Excel "
             "may still be starting," +
             close;
    case HostEnding::Several:
      return "more than one Excel has started since this check asked for "
             "one, so none was ended: the one this check started may still "
             "run," +
             close;
    default:
      return "the Excel this check started (process " +
             std::to_string(host.processId) + ") could not be ended (" +
             ErrorText(host.error) + ")" + close;
  }
}

CheckResult JudgeNoAnswer(const char* id, const std::string& call,
                          const std::wstring& limitText,
                          const HostEnding& host) {
  std::string done = HostEndingWords(host);
  if (!done.empty()) done = "; " + done;
  if (!limitText.empty())
    return Result(id, CheckStatus::Fail,
                  "the time limit (ULVEX_TIME_LIMIT=" + Utf8(limitText) +
                      ") ran out during " + call + done,
                  "Give the task a longer ULVEX_TIME_LIMIT, or find out why "
                  "Excel is this slow for the account that runs the task.");
  return Result(id, CheckStatus::Fail,
                "Excel did not answer " + call + " within 60 s" + done,
                "Start Excel by hand as the account that runs the task and "
                "look for what keeps it waiting (a dialog box, a first-start "
                "question, an add-in that hangs), then run this check "
                "again.");
}

CheckResult JudgeStopped(const char* id, const std::string& call,
                         const char* stop, const HostEnding& host) {
  std::string found = "the check was stopped by " + std::string(stop);
  if (!call.empty()) found += " during " + call;
  const std::string done = HostEndingWords(host);
  if (!done.empty()) found += "; " + done;
  return Result(id, CheckStatus::Fail, found,
                "Let the check run to its end: a stopped check says nothing "
                "about this installation. Run it again.");
}

std::string HostLetGoNote(const std::string& call,
                          const std::wstring& limitText, const char* stop,
                          const HostEnding& host) {
  std::string note;
  if (stop != nullptr)
    note = "the check was stopped by " + std::string(stop) + " during " + call;
  else if (!limitText.empty())
    note = "the time limit (ULVEX_TIME_LIMIT=" + Utf8(limitText) +
           ") ran out during " + call;
  else
    note = "Excel did not answer " + call + " within 60 s";
  const std::string done = HostEndingWords(host);
  return note + (done.empty() ? std::string() : "; " + done) + ".";
}

CheckResult JudgeOutOfTime(const char* id, const std::wstring& limitText) {
  return Result(id, CheckStatus::Fail,
                "not done: the time limit (ULVEX_TIME_LIMIT=" +
                    Utf8(limitText) + ") ran out before it",
                "Give the task a longer ULVEX_TIME_LIMIT.");
}
