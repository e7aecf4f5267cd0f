#include "host/auto_wrap.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/run_program.h"

namespace {

// An in-process IDispatch that knows a few members by name and records
// every lookup and invocation it receives.
class RecordingDispatch : public IDispatch {
 public:
  struct Member {
    std::wstring name;
    DISPID id;
  };
  struct Lookup {
    std::wstring name;
    UINT nameCount;
    LCID locale;
    bool nullInterfaceId;
  };
  struct Invocation {
    DISPID id;
    LCID locale;
    WORD flags;
    bool nullInterfaceId;
    std::vector<VARIANT> arguments;
    std::vector<DISPID> named;
    bool wantsResult;
    bool asksForException;
    bool asksForArgumentError;
  };

  explicit RecordingDispatch(std::vector<Member> members)
      : members_(std::move(members)) {}

  HRESULT invokeStatus = S_OK;
  // With DISP_E_EXCEPTION: the exception information is left to be filled
  // in when asked for, as a host may do.
  HRESULT(STDAPICALLTYPE* deferredFillIn)(EXCEPINFO*) = nullptr;
  LONG valueOfGet = 42;
  std::vector<Lookup> lookups;
  std::vector<Invocation> invocations;

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
      *object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
  STDMETHODIMP_(ULONG) Release() override { return --references_; }
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count,
                             LCID locale, DISPID* ids) override {
    lookups.push_back({names[0], count, locale, riid == IID_NULL});
    for (const Member& member : members_) {
      if (member.name == names[0]) {
        ids[0] = member.id;
        return S_OK;
      }
    }
    ids[0] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
  }
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID locale, WORD flags,
                      DISPPARAMS* parameters, VARIANT* result,
                      EXCEPINFO* exception, UINT* argumentError) override {
    Invocation call{id,
                    locale,
                    flags,
                    riid == IID_NULL,
                    {},
                    {},
                    result != nullptr,
                    exception != nullptr,
                    argumentError != nullptr};
    for (UINT i = 0; i < parameters->cArgs; ++i)
      call.arguments.push_back(parameters->rgvarg[i]);
    for (UINT i = 0; i < parameters->cNamedArgs; ++i)
      call.named.push_back(parameters->rgdispidNamedArgs[i]);
    invocations.push_back(call);
    if (invokeStatus == DISP_E_EXCEPTION && exception != nullptr)
      exception->pfnDeferredFillIn = deferredFillIn;
    if (SUCCEEDED(invokeStatus) && result != nullptr &&
        (flags & DISPATCH_PROPERTYGET)) {
      result->vt = VT_I4;
      result->lVal = valueOfGet;
    }
    return invokeStatus;
  }

 private:
  std::vector<Member> members_;
  ULONG references_ = 1;
};

VARIANT Integer(LONG value) {
  VARIANT variant;
  VariantInit(&variant);
  variant.vt = VT_I4;
  variant.lVal = value;
  return variant;
}

LPOLESTR Name(const wchar_t* text) { return const_cast<LPOLESTR>(text); }

TEST(AutoWrapTest, ParameterBlockPerCallKind) {
  const struct {
    const char* name;
    int kind;
    int count;
    bool wantsResult;
    std::vector<DISPID> named;
  } cases[] = {
      {"property write: one value named DISPID_PROPERTYPUT",
       DISPATCH_PROPERTYPUT,
       1,
       false,
       {DISPID_PROPERTYPUT}},
      {"property read: nothing", DISPATCH_PROPERTYGET, 0, true, {}},
      {"method with one value: no named argument",
       DISPATCH_METHOD,
       1,
       true,
       {}},
      {"method with two values: no named argument",
       DISPATCH_METHOD,
       2,
       true,
       {}},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    RecordingDispatch object({{L"Visible", 7}});
    VARIANT result;
    VariantInit(&result);
    testing::internal::CaptureStdout();
    HRESULT status = E_FAIL;
    if (row.count == 0)
      status = AutoWrap(row.kind, row.wantsResult ? &result : nullptr, &object,
                        Name(L"Visible"), 0);
    else if (row.count == 1)
      status = AutoWrap(row.kind, row.wantsResult ? &result : nullptr, &object,
                        Name(L"Visible"), 1, Integer(1));
    else
      status = AutoWrap(row.kind, row.wantsResult ? &result : nullptr, &object,
                        Name(L"Visible"), 2, Integer(10), Integer(20));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(status, S_OK);

    ASSERT_EQ(object.lookups.size(), 1u);
    EXPECT_EQ(object.lookups[0].name, L"Visible");
    EXPECT_EQ(object.lookups[0].nameCount, 1u);
    EXPECT_EQ(object.lookups[0].locale, static_cast<LCID>(LOCALE_USER_DEFAULT));
    EXPECT_TRUE(object.lookups[0].nullInterfaceId);

    ASSERT_EQ(object.invocations.size(), 1u);
    const auto& call = object.invocations[0];
    EXPECT_EQ(call.id, 7);
    EXPECT_EQ(call.locale, static_cast<LCID>(LOCALE_SYSTEM_DEFAULT));
    EXPECT_EQ(call.flags, row.kind);
    EXPECT_TRUE(call.nullInterfaceId);
    EXPECT_EQ(call.wantsResult, row.wantsResult);
    // The host's own explanation of a failure is asked for.
    EXPECT_TRUE(call.asksForException);
    EXPECT_FALSE(call.asksForArgumentError);
    EXPECT_EQ(call.named, row.named);
    ASSERT_EQ(call.arguments.size(), static_cast<size_t>(row.count));
    // The values are stored in the order they are given.
    if (row.count == 1) {
      EXPECT_EQ(call.arguments[0].vt, VT_I4);
      EXPECT_EQ(call.arguments[0].lVal, 1);
    } else if (row.count == 2) {
      EXPECT_EQ(call.arguments[0].lVal, 10);
      EXPECT_EQ(call.arguments[1].lVal, 20);
    }
    if (row.kind == DISPATCH_PROPERTYGET) {
      EXPECT_EQ(result.vt, VT_I4);
      EXPECT_EQ(result.lVal, 42);
    }
  }
}

TEST(AutoWrapTest, StringArgumentIsPassedAsGiven) {
  RecordingDispatch object({{L"Open", 0x2aa}});
  BSTR path = SysAllocString(L"C:\\Tools\\App\\Ulvex \u00e9\u4e2d");
  VARIANT argument;
  VariantInit(&argument);
  argument.vt = VT_BSTR;
  argument.bstrVal = path;
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(
      AutoWrap(DISPATCH_METHOD, &result, &object, Name(L"Open"), 1, argument),
      S_OK);
  ASSERT_EQ(object.invocations.size(), 1u);
  ASSERT_EQ(object.invocations[0].arguments.size(), 1u);
  EXPECT_EQ(object.invocations[0].arguments[0].vt, VT_BSTR);
  // The caller's string itself, neither copied nor freed.
  EXPECT_EQ(object.invocations[0].arguments[0].bstrVal, path);
  EXPECT_STREQ(path, L"C:\\Tools\\App\\Ulvex \u00e9\u4e2d");
  SysFreeString(path);
}

// The ANSI form of a name, as the messages show it.
std::string Ansi(const std::wstring& text) {
  char buffer[512] = {};
  WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, buffer, sizeof buffer,
                      nullptr, nullptr);
  return buffer;
}

// A failure status the system has no text for: the designed line alone.
const HRESULT kNoTextCode = static_cast<HRESULT>(0x8004ABCD);
// The line in words after every refused lookup.
const std::string kUnknownName =
    "Unknown name (DISP_E_UNKNOWNNAME): the program registered as Excel does "
    "not know this member: it is not Excel, or too old an Excel. Check which "
    "program the registration of Excel.Application starts (its "
    "LocalServer32), and repair or update Excel.\n";

TEST(AutoWrapTest, FailureMessagesAndStatus) {
  const std::wstring longName(100, L'A');
  const std::wstring pairName =
      std::wstring(59, L'B') + L"\U0001F600" + std::wstring(10, L'C');
  const struct {
    const char* name;
    std::wstring member;
    DISPID id;  // of a member the object knows, or DISPID_UNKNOWN
    HRESULT invokeStatus;
    HRESULT status;
    bool invoked;
    std::string output;
  } cases[] = {
      {"unknown name: lookup message, no invocation", L"Nope", DISPID_UNKNOWN,
       S_OK, DISP_E_UNKNOWNNAME, false,
       "IDispatch::GetIDsOfNames(\"Nope\") failed w/err 0x80020006\n" +
           kUnknownName},
      {"failed invocation", L"Visible", 7, DISP_E_TYPEMISMATCH,
       DISP_E_TYPEMISMATCH, true,
       "IDispatch ()::Invoke(\"Visible\"=00000007) failed w/ err0x80020005\n"},
      {"negative member id in eight digits", L"Value", -5, kNoTextCode,
       kNoTextCode, true,
       "IDispatch ()::Invoke(\"Value\"=fffffffb) failed w/ err0x8004abcd\n"},
      {"success status other than S_OK: silent", L"Visible", 7, S_FALSE,
       S_FALSE, true, ""},
      {"name of 63 bytes shown whole", std::wstring(63, L'C'), DISPID_UNKNOWN,
       S_OK, DISP_E_UNKNOWNNAME, false,
       "IDispatch::GetIDsOfNames(\"" + std::string(63, 'C') +
           "\") failed w/err 0x80020006\n" + kUnknownName},
      {"longer name shown cut", longName, DISPID_UNKNOWN, S_OK,
       DISP_E_UNKNOWNNAME, false,
       "IDispatch::GetIDsOfNames(\"" + std::string(60, 'A') +
           "...\") failed w/err 0x80020006\n" + kUnknownName},
      {"cut never splits a surrogate pair", pairName, DISPID_UNKNOWN, S_OK,
       DISP_E_UNKNOWNNAME, false,
       "IDispatch::GetIDsOfNames(\"" + std::string(59, 'B') +
           "...\") failed w/err 0x80020006\n" + kUnknownName},
      {"non-ASCII name in the ANSI code page", L"Gr\u00f6\u00dfe",
       DISPID_UNKNOWN, S_OK, DISP_E_UNKNOWNNAME, false,
       "IDispatch::GetIDsOfNames(\"" + Ansi(L"Gr\u00f6\u00dfe") +
           "\") failed w/err 0x80020006\n" + kUnknownName},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    std::vector<RecordingDispatch::Member> members;
    if (row.id != DISPID_UNKNOWN) members.push_back({row.member, row.id});
    RecordingDispatch object(members);
    object.invokeStatus = row.invokeStatus;
    testing::internal::CaptureStdout();
    const HRESULT status =
        AutoWrap(DISPATCH_PROPERTYPUT, nullptr, &object,
                 const_cast<LPOLESTR>(row.member.c_str()), 1, Integer(1));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), row.output);
    EXPECT_EQ(status, row.status);
    // The lookup always receives the whole name.
    ASSERT_EQ(object.lookups.size(), 1u);
    EXPECT_EQ(object.lookups[0].name, row.member);
    EXPECT_EQ(object.invocations.size(), row.invoked ? 1u : 0u);
  }
}

TEST(AutoWrapTest, CallsAreIndependent) {
  RecordingDispatch object({{L"Visible", 1}, {L"WindowState", 2}});
  testing::internal::CaptureStdout();
  AutoWrap(DISPATCH_PROPERTYPUT, nullptr, &object, Name(L"Missing"), 1,
           Integer(1));
  object.invokeStatus = kNoTextCode;
  AutoWrap(DISPATCH_PROPERTYPUT, nullptr, &object, Name(L"Visible"), 1,
           Integer(1));
  object.invokeStatus = S_OK;
  const HRESULT last = AutoWrap(DISPATCH_PROPERTYPUT, nullptr, &object,
                                Name(L"WindowState"), 1, Integer(-4137));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "IDispatch::GetIDsOfNames(\"Missing\") failed w/err 0x80020006\n" +
                kUnknownName +
                "IDispatch ()::Invoke(\"Visible\"=00000001) failed w/ "
                "err0x8004abcd\n");
  EXPECT_EQ(last, S_OK);
  ASSERT_EQ(object.invocations.size(), 2u);
  EXPECT_EQ(object.invocations[1].id, 2);
  EXPECT_EQ(object.invocations[1].arguments[0].lVal, -4137);
}

HRESULT STDAPICALLTYPE FillInRefusal(EXCEPINFO* info) {
  info->bstrSource = SysAllocString(L"Microsoft Excel");
  info->bstrDescription =
      SysAllocString(L"Sorry, we couldn't find \u00c5r.xlsx.\r\nIs it moved?");
  info->bstrHelpFile = SysAllocString(L"xlmain.chm");
  return S_OK;
}

TEST(AutoWrapTest, HostsExplanationAfterTheWords) {
  RecordingDispatch object({{L"Open", 1}});
  object.invokeStatus = DISP_E_EXCEPTION;
  object.deferredFillIn = FillInRefusal;
  testing::internal::CaptureStdout();
  EXPECT_EQ(
      AutoWrap(DISPATCH_METHOD, nullptr, &object, Name(L"Open"), 1, Integer(1)),
      DISP_E_EXCEPTION);
  // To a pipe, in the ANSI code page (1252 here).
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "IDispatch ()::Invoke(\"Open\"=00000001) failed w/ err0x80020009\n"
            "Exception occurred (DISP_E_EXCEPTION): Excel could not do what it "
            "was asked and raised an error of its own; what Excel said, when "
            "it said anything, follows.\n"
            "Excel said (Microsoft Excel): Sorry, we couldn't find \xc5r.xlsx. "
            "Is it moved?\n");
}

// Run only as a child process of NullObjectEndsTheProcess (the variable
// below marks it): a null object must end the process.
constexpr char kChildVariable[] = "ULVEX_AUTOWRAP_NULL_CHILD";

TEST(AutoWrapChildTest, DISABLED_NullObject) {
  if (getenv(kChildVariable) == nullptr) GTEST_SKIP();
  printf("before|");
  AutoWrap(DISPATCH_PROPERTYPUT, nullptr, nullptr, Name(L"Visible"), 1,
           Integer(1));
  printf("returned|");
  fflush(stdout);
}

TEST(AutoWrapTest, NullObjectEndsTheProcessWithStatus1) {
  const auto run = ulvex_test::RunChildTest(
      kChildVariable, L"AutoWrapChildTest.DISABLED_NullObject");
  ASSERT_TRUE(run.started);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 1u);
  // Text-mode stdio writes each "\n" as "\r\n".
  std::string out = run.out;
  for (size_t at = out.find("\r\n"); at != std::string::npos;
       at = out.find("\r\n", at))
    out.erase(at, 1);
  const std::string tail = "before|NULL IDispatch passed to AutoWrap()\n";
  ASSERT_GE(out.size(), tail.size()) << out;
  EXPECT_EQ(out.substr(out.size() - tail.size()), tail) << out;
}

}  // namespace
