// The record of the run's host against the registry and real processes:
// what a later run makes of a record that names a host still running, a
// process that is gone or another one, and of data it did not write.
#include "host/host_record.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/host_record.h"

namespace {

constexpr DWORD kIdleMs = 60000;
constexpr DWORD kEndMs = 10000;

struct Planted {
  HANDLE process;
  DWORD processId;
  ULONGLONG startTime;
  std::wstring image;
};

bool Alive(HANDLE process) {
  return WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
}

class HostRecordTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(ulvex_test::DeleteHostRecord()); }
  void TearDown() override { ulvex_test::DeleteHostRecord(); }

  // A process of the user's own, as a host of an earlier run.
  static bool Start(Planted& planted, DWORD idleMs = kIdleMs) {
    planted.process = ulvex_test::StartIdleProcess(idleMs);
    if (planted.process == nullptr) return false;
    planted.processId = GetProcessId(planted.process);
    planted.startTime = ulvex_test::ProcessStartTime(planted.process);
    planted.image = ulvex_test::ProcessImage(planted.process);
    return planted.startTime != 0 && !planted.image.empty();
  }
  static void Stop(Planted& planted) {
    TerminateProcess(planted.process, 0);
    WaitForSingleObject(planted.process, kEndMs);
    CloseHandle(planted.process);
  }
};

std::string EndedLine(DWORD processId, const char* lineEnd) {
  return "Ended Excel (process " + std::to_string(processId) +
         "), left running by an earlier run of this user." + lineEnd;
}

TEST_F(HostRecordTest, ALaterRunEndsOnlyTheRecordedHost) {
  using Plant = std::function<bool(const Planted&)>;
  auto write = [](DWORD id, ULONGLONG time, const std::wstring& image) {
    return ulvex_test::WriteHostRecord(id, time, image);
  };
  // The record of the planted process with one value replaced.
  auto replaced = [write](const wchar_t* name, DWORD type,
                          std::vector<unsigned char> data) -> Plant {
    return [=](const Planted& p) {
      return write(p.processId, p.startTime, p.image) &&
             ulvex_test::WriteHostRecordData(name, type, data.data(),
                                             static_cast<DWORD>(data.size()));
    };
  };
  const struct {
    const char* name;
    Plant plant;
    bool ended;
    bool exited = false;  // the planted process has ended before the run
    const char* lineEnd = "\n";
  } rows[] = {
      {"no record", [](const Planted&) { return true; }, false},
      {"the host still runs",
       [write](const Planted& p) {
         return write(p.processId, p.startTime, p.image);
       },
       true},
      {"the host still runs, HTML line end",
       [write](const Planted& p) {
         return write(p.processId, p.startTime, p.image);
       },
       true, false, "<br>"},
      {"recorded without its image",
       [write](const Planted& p) {
         return write(p.processId, p.startTime, L"");
       },
       true},
      {"another start time: the process ID was reused",
       [write](const Planted& p) {
         return write(p.processId, p.startTime + 1, p.image);
       },
       false},
      {"another image",
       [write](const Planted& p) {
         return write(p.processId, p.startTime, L"C:\\Other\\EXCEL.EXE");
       },
       false},
      {"the host has ended",
       [write](const Planted& p) {
         return write(p.processId, p.startTime, p.image);
       },
       false, true},
      {"process ID as text", replaced(L"HostProcessId", REG_SZ, {'1', 0, 0, 0}),
       false},
      {"process ID of eight bytes",
       replaced(L"HostProcessId", REG_QWORD, std::vector<unsigned char>(8, 0)),
       false},
      {"process ID 0", replaced(L"HostProcessId", REG_DWORD, {0, 0, 0, 0}),
       false},
      {"start time of four bytes",
       replaced(L"HostStartTime", REG_DWORD, {1, 0, 0, 0}), false},
      {"start time as binary data",
       replaced(L"HostStartTime", REG_BINARY, std::vector<unsigned char>(8, 1)),
       false},
      {"image as binary data",
       replaced(L"HostImage", REG_BINARY, {'C', 0, 0, 0}), false},
      {"image empty", replaced(L"HostImage", REG_SZ, {0, 0}), false},
      {"image of an odd byte count",
       replaced(L"HostImage", REG_SZ, {'C', 0, 0}), false},
      {"no start time",
       [](const Planted& p) {
         return ulvex_test::WriteHostRecordData(
             L"HostProcessId", REG_DWORD, &p.processId, sizeof p.processId);
       },
       false},
      {"an empty key",
       [](const Planted&) {
         return ulvex_test::WriteHostRecordData(L"Other", REG_SZ, L"", 2) &&
                RegDeleteKeyValueW(HKEY_CURRENT_USER,
                                   ulvex_test::kHostRecordKey,
                                   L"Other") == ERROR_SUCCESS;
       },
       false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Planted planted;
    ASSERT_TRUE(Start(planted, row.exited ? 0 : kIdleMs));
    if (row.exited)
      ASSERT_EQ(WaitForSingleObject(planted.process, kEndMs), WAIT_OBJECT_0);
    ASSERT_TRUE(row.plant(planted));

    testing::internal::CaptureStdout();
    EXPECT_TRUE(EndLeftoverHost(row.lineEnd));
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              row.ended ? EndedLine(planted.processId, row.lineEnd) : "");
    if (!row.exited) EXPECT_EQ(Alive(planted.process), !row.ended);
    // Ended, gone or not to be trusted: the record goes either way.
    EXPECT_FALSE(ulvex_test::HostRecordExists());
    Stop(planted);
  }
}

TEST_F(HostRecordTest, TheRunRecordsItsHostAndForgetsItAtItsEnd) {
  Planted planted;
  ASSERT_TRUE(Start(planted));
  RecordHost(planted.process);
  EXPECT_EQ(ulvex_test::RecordedHostProcessId(), planted.processId);
  EXPECT_EQ(ulvex_test::RecordedHostImage(), planted.image);
  ForgetHost();
  EXPECT_FALSE(ulvex_test::HostRecordExists());

  // What one run records, the next recognises.
  RecordHost(planted.process);
  testing::internal::CaptureStdout();
  EXPECT_TRUE(EndLeftoverHost("\n"));
  fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            EndedLine(planted.processId, "\n"));
  EXPECT_EQ(WaitForSingleObject(planted.process, 0), WAIT_OBJECT_0);
  Stop(planted);

  // A process that cannot be queried, or none, leaves no record.
  ulvex_test::DeleteHostRecord();
  RecordHost(nullptr);
  EXPECT_FALSE(ulvex_test::HostRecordExists());
}

}  // namespace
