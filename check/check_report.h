// The installation check's results and how they are shown: one line per
// check, a line of advice after a warning or a failure, and the verdict
// last; or, with /json, one JSON object.
#pragma once

#include <string>
#include <utility>
#include <vector>

/// Skip: the check could not run because an earlier one failed (or the
/// check was stopped first); its found says why. Not a failure.
enum class CheckStatus { Ok, Warn, Fail, Skip };

/// One check's result. Texts are UTF-8, each one line.
struct CheckResult {
  std::string id;  ///< the check's name: "install", "handoff-key", ...
  CheckStatus status = CheckStatus::Ok;
  std::string found;   ///< what the check found
  std::string advice;  ///< what to do; empty for ok
};

/// The check program itself, for the JSON object.
struct ProgramFacts {
  std::string version;  ///< its own file version, "1.0.0"
  std::string folder;   ///< the installation folder it checks (UTF-8)
};

/// Wide text (UTF-16 on Windows, UTF-32 elsewhere) as UTF-8; what is no
/// character (an unpaired surrogate) becomes U+FFFD.
std::string Utf8(const std::wstring& text);

/// "<status> <id> <found>\n" with the status and the name in columns, and
/// after a warning or a failure "     What to do: <advice>\n".
std::string ResultLines(const CheckResult& result);

/// How many results are failures.
int FailedCount(const std::vector<CheckResult>& results);

/// The last line, with "\n": ready, or how many checks failed.
std::string SummaryLine(const std::vector<CheckResult>& results);

/// The whole report as one JSON object, then "\n": "ready", "checks" (each
/// with "id", "status" "ok"/"warn"/"fail"/"skip", "found", and "advice",
/// null for ok and skip) and "program" ("version", "folder"). Only ASCII:
/// every other character is escaped, so no code page can change it.
/// stopped: not ready whatever the checks say (the check was stopped).
std::string ReportJson(const std::vector<CheckResult>& results,
                       const ProgramFacts& program, bool stopped = false);

/// The report as the checks come. In line mode each result's lines are
/// printed at once, so that a log shows how far the check came; with /json
/// the whole object comes at the end.
class CheckReport {
 public:
  CheckReport(bool json, ProgramFacts program)
      : json_(json), program_(std::move(program)) {}

  /// What to print before the first check.
  std::string Begin() const;
  /// Adds a result; what to print now.
  std::string Add(const CheckResult& result);
  /// What ends the report: the verdict line, or the JSON object.
  std::string End() const;
  /// What Add(last) and End() would print together: for an ending that
  /// cannot wait for the check in progress (a call that does not return).
  std::string EndWith(const CheckResult& last) const;
  /// The same for an ending that adds the results of the checks left (the
  /// one in progress, the ones skipped) and a note to the last line ("" for
  /// none; the JSON object has no place for it). stopped: the check was
  /// stopped, so the last line says not ready even without a failure.
  std::string EndWith(const std::vector<CheckResult>& rest,
                      const std::string& note, bool stopped) const;
  /// The exit status of that ending.
  int StatusWith(const std::vector<CheckResult>& rest, bool stopped) const;
  /// The exit status: 1 when a check failed, else 0.
  int Status() const { return FailedCount(results_) > 0 ? 1 : 0; }
  const std::vector<CheckResult>& results() const { return results_; }

 private:
  bool json_;
  ProgramFacts program_;
  std::vector<CheckResult> results_;
};
