#include "diagnosis/error_text.h"

#include "diagnosis/call_retry.h"

namespace {

// What the codes mean for a run that starts and drives Excel, and what
// usually helps.
constexpr char kNotInstalled[] =
    "Excel is not installed for this user. Install Excel, or repair its "
    "installation, for the account that runs this program.";
constexpr char kEndedDuringCall[] =
    "Excel ended during the call (it closed, failed or was ended). See the "
    "system's Application event log for why, and run the task again.";
static_assert(kRetryBusyForMs == 60000, "the busy text says 60 s");
constexpr char kStayedBusy[] =
    "Excel stayed busy (a dialog box waiting for an answer, or a long "
    "calculation) and did not take the call; a busy Excel is asked again for "
    "60 s. Find what keeps Excel busy, or run the task when Excel is idle.";

// The meanings are the system's own short texts for the codes.
struct CodeWords {
  uint32_t status;
  const char* meaning;
  const char* advice;
};
constexpr CodeWords kCodeWords[] = {
    {0x80040154u, "Class not registered (REGDB_E_CLASSNOTREG)", kNotInstalled},
    {0x800401F3u, "Invalid class string (CO_E_CLASSSTRING)", kNotInstalled},
    {0x80080005u, "Server execution failed (CO_E_SERVER_EXEC_FAILURE)",
     "Excel could not be started. Usually its DCOM settings name another "
     "account to run it as (dcomcnfg, Microsoft Excel Application, "
     "Identity), or this run has no desktop (a task set to run whether the "
     "user is logged on or not, or a service)."},
    {0x80070005u, "Access is denied (E_ACCESSDENIED)",
     "this account is not allowed to start Excel or to call it. Give it the "
     "DCOM launch and activation permissions for Excel (dcomcnfg, Microsoft "
     "Excel Application, Security), or run the task as an account that has "
     "them."},
    {0x800706BAu, "The RPC server is unavailable (RPC_S_SERVER_UNAVAILABLE)",
     kEndedDuringCall},
    {0x800706BEu, "The remote procedure call failed (RPC_S_CALL_FAILED)",
     kEndedDuringCall},
    {0x800706BFu,
     "The remote procedure call failed and did not execute "
     "(RPC_S_CALL_FAILED_DNE)",
     kEndedDuringCall},
    {0x80010007u,
     "The callee is not available and disappeared "
     "(RPC_E_SERVER_DIED)",
     kEndedDuringCall},
    {0x80010012u,
     "The callee is not available and disappeared; the call did not execute "
     "(RPC_E_SERVER_DIED_DNE)",
     kEndedDuringCall},
    {0x80010108u,
     "The object invoked has disconnected from its clients "
     "(RPC_E_DISCONNECTED)",
     kEndedDuringCall},
    {0x80010001u, "Call was rejected by callee (RPC_E_CALL_REJECTED)",
     kStayedBusy},
    {0x8001010Au,
     "The message filter indicated that the application is busy "
     "(RPC_E_SERVERCALL_RETRYLATER)",
     kStayedBusy},
    {0x80020006u, "Unknown name (DISP_E_UNKNOWNNAME)",
     "the program registered as Excel does not know this member: it is not "
     "Excel, or too old an Excel. Check which program the registration of "
     "Excel.Application starts (its LocalServer32), and repair or update "
     "Excel."},
    {0x80020009u, "Exception occurred (DISP_E_EXCEPTION)",
     "Excel could not do what it was asked and raised an error of its own; "
     "what Excel said, when it said anything, follows."},
};

bool IsControl(wchar_t unit) { return unit < 0x20 || unit == 0x7F; }

}  // namespace

std::string CodeInWords(uint32_t status) {
  for (const CodeWords& row : kCodeWords)
    if (row.status == status)
      return std::string(row.meaning) + ": " + row.advice;
  return std::string();
}

std::wstring OneLine(const std::wstring& text) {
  std::wstring line;
  line.reserve(text.size());
  bool blank = false;
  for (wchar_t unit : text) {
    if (IsControl(unit) || unit == L' ') {
      blank = true;
      continue;
    }
    if (blank && !line.empty()) line += L' ';
    blank = false;
    line += unit;
  }
  return line;
}

std::wstring HostSaidLine(const std::wstring& source,
                          const std::wstring& description) {
  const std::wstring from = OneLine(source);
  const std::wstring said = OneLine(description);
  if (from.empty() && said.empty()) return std::wstring();
  std::wstring line = L"Excel said";
  if (!from.empty()) line += L" (" + from + L")";
  line += L": ";
  line += said.empty() ? L"(no description)" : said;
  return line;
}
