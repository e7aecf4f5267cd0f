#include "check/check_report.h"

#include <nlohmann/json.hpp>

namespace {

constexpr char32_t kReplacement = 0xFFFD;
// The width of the name column: the longest name, "host-registration".
constexpr size_t kNameColumn = 17;

void AppendUtf8(std::string& out, char32_t point) {
  if (point < 0x80) {
    out += static_cast<char>(point);
  } else if (point < 0x800) {
    out += static_cast<char>(0xC0 | (point >> 6));
    out += static_cast<char>(0x80 | (point & 0x3F));
  } else if (point < 0x10000) {
    out += static_cast<char>(0xE0 | (point >> 12));
    out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (point & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (point >> 18));
    out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (point & 0x3F));
  }
}

bool IsSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

const char* StatusWord(CheckStatus status) {
  switch (status) {
    case CheckStatus::Ok:
      return "ok";
    case CheckStatus::Warn:
      return "warn";
    case CheckStatus::Skip:
      return "skip";
    default:
      return "fail";
  }
}

}  // namespace

std::string Utf8(const std::wstring& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t point = static_cast<char32_t>(text[i]);
    if (sizeof(wchar_t) == 2 && point >= 0xD800 && point <= 0xDBFF &&
        i + 1 < text.size()) {
      const char32_t low = static_cast<char32_t>(text[i + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        point = 0x10000 + ((point - 0xD800) << 10) + (low - 0xDC00);
        ++i;
        AppendUtf8(out, point);
        continue;
      }
    }
    if (IsSurrogate(point) || point > 0x10FFFF) point = kReplacement;
    AppendUtf8(out, point);
  }
  return out;
}

std::string ResultLines(const CheckResult& result) {
  std::string status =
      result.status == CheckStatus::Fail ? "FAIL" : StatusWord(result.status);
  status.resize(4, ' ');
  std::string name = result.id;
  if (name.size() < kNameColumn) name.resize(kNameColumn, ' ');
  std::string lines = status + " " + name + " " + result.found + "\n";
  if (result.status == CheckStatus::Warn || result.status == CheckStatus::Fail)
    lines += "     What to do: " + result.advice + "\n";
  return lines;
}

int FailedCount(const std::vector<CheckResult>& results) {
  int failed = 0;
  for (const CheckResult& result : results)
    if (result.status == CheckStatus::Fail) ++failed;
  return failed;
}

std::string SummaryLine(const std::vector<CheckResult>& results) {
  const int failed = FailedCount(results);
  if (failed == 0)
    return "This installation is ready for an unattended Ulvex Task.\n";
  return "This installation is not ready: " + std::to_string(failed) +
         (failed == 1 ? " check failed.\n" : " checks failed.\n");
}

std::string ReportJson(const std::vector<CheckResult>& results,
                       const ProgramFacts& program, bool stopped) {
  using Json = nlohmann::ordered_json;
  Json checks = Json::array();
  for (const CheckResult& result : results) {
    Json check = Json::object();
    check["id"] = result.id;
    check["status"] = StatusWord(result.status);
    check["found"] = result.found;
    if (result.status == CheckStatus::Ok || result.status == CheckStatus::Skip)
      check["advice"] = nullptr;
    else
      check["advice"] = result.advice;
    checks.push_back(std::move(check));
  }
  Json report = Json::object();
  report["ready"] = FailedCount(results) == 0 && !stopped;
  report["checks"] = std::move(checks);
  Json facts = Json::object();
  facts["version"] = program.version;
  facts["folder"] = program.folder;
  report["program"] = std::move(facts);
  // NOTE: dump throws on text that is not UTF-8 unless told to replace it;
  // the texts are made by Utf8 above, and the handler makes sure.
  return report.dump(-1, ' ', true, Json::error_handler_t::replace) + "\n";
}

std::string CheckReport::Begin() const {
  if (json_) return std::string();
  return "UlvexCheck " + program_.version + ": the Ulvex installation in " +
         program_.folder + "\n\n";
}

std::string CheckReport::Add(const CheckResult& result) {
  results_.push_back(result);
  return json_ ? std::string() : ResultLines(result);
}

std::string CheckReport::End() const {
  if (json_) return ReportJson(results_, program_);
  return "\n" + SummaryLine(results_);
}

std::string CheckReport::EndWith(const CheckResult& last) const {
  CheckReport copy = *this;
  const std::string lines = copy.Add(last);
  return lines + copy.End();
}

std::string CheckReport::EndWith(const std::vector<CheckResult>& rest,
                                 const std::string& note, bool stopped) const {
  CheckReport copy = *this;
  std::string lines;
  for (const CheckResult& result : rest) lines += copy.Add(result);
  if (json_) return ReportJson(copy.results_, program_, stopped);
  std::string last = SummaryLine(copy.results_);
  if (stopped && FailedCount(copy.results_) == 0)
    last = "This installation is not ready: the check was stopped.\n";
  if (!note.empty()) last.insert(last.size() - 1, " Note: " + note);
  return lines + "\n" + last;
}

int CheckReport::StatusWith(const std::vector<CheckResult>& rest,
                            bool stopped) const {
  if (stopped) return 1;
  for (const CheckResult& result : rest)
    if (result.status == CheckStatus::Fail) return 1;
  return Status();
}
