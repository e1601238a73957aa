// The error unit: the client error table and its formatting, the status-vector walk, and server
// messages built by the real client library from prepared status vectors.
#include "db/IBErrors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "db/IBIntf.h"
#include "db/IBSQLMonitor.h"
#include "runtime/OSError.h"
#include "tests/support/Failures.h"

namespace {

void SetStatus(std::initializer_list<ISC_STATUS> values) {
  ISC_STATUS* status = db::StatusVector();
  std::fill(status, status + ISC_STATUS_LENGTH, 0);
  std::copy(values.begin(), values.end(), status);
}

ISC_STATUS Text(const char* text) {
  return reinterpret_cast<ISC_STATUS>(text);
}

constexpr ISC_STATUS kRandom = 335544382;  // the server's free-text message "@1"
constexpr ISC_STATUS kNoPrivilege = 335544352;

TEST(ClientErrors, TableTextsAndFormatting) {
  EXPECT_EQ(db::ClientErrorText(0), "Unknown error");
  EXPECT_EQ(db::ClientErrorText(43), "Cannot \"open\" a non-select statement. Use ExecQuery");
  EXPECT_EQ(db::ClientErrorText(121),
            "%s is an InterBase 7.0 function. Please upgrade to InterBase 7.0 to use this "
            "functonality");
  // Codes are masked to 0-127: 128 reads entry 0; 122-127 have no text.
  EXPECT_EQ(db::ClientErrorText(128), "Unknown error");
  EXPECT_EQ(db::ClientErrorText(122), "");
  EXPECT_EQ(db::ClientErrorMessage(db::ClientError::StringTooLarge, {46, 45}),
            "Trying to store a string of length 46 into a field that can only contain 45");
  EXPECT_EQ(db::ClientErrorMessage(db::ClientError::SQLParseError, {"EOF in string detected"}),
            "SQL Parse Error:\r\n\r\nEOF in string detected");
  EXPECT_EQ(db::ClientErrorMessage(db::ClientError::FieldNotFound, {"7"}), "Field \"7\" not found");
  EXPECT_EQ(db::ClientErrorMessage(db::ClientError::WindowsAPIError, {5, 5}),
            "Windows API error. (Windows error 5 [$00000005])");
  EXPECT_EQ(db::FormatMessage("%d%% of %s, %x", {-12, "all", 255}), "-12% of all, FF");
  // A missing argument leaves its placeholder.
  EXPECT_EQ(db::FormatMessage("(%s)", {}), "(%s)");
}

TEST(ClientErrors, RaisedWithTheCodeAsSqlCodeAndOfferedToTheTrace) {
  std::vector<std::string> trace;
  const int id = MonitorHook()->AddListener([&](const TTraceEntry& e) { trace.push_back(e.Text); });
  const EIBClientError e = test::ErrorOf<EIBClientError>(
      [] { db::RaiseClientError(db::ClientError::DPBConstantUnknownEx, {" USER_NAME"}); });
  EXPECT_EQ(e.Message, "DPB Constant ( USER_NAME) is unknown");
  EXPECT_EQ(e.SqlCode, 114);
  EXPECT_EQ(e.ServerErrorCode, 0);
  MonitorHook()->RemoveListener(id);
  ASSERT_EQ(trace.size(), 1u);
  EXPECT_NE(trace[0].find("]\r\n[Error] DPB Constant ( USER_NAME) is unknown"), std::string::npos);
}

TEST(ClientErrors, DatasetAndOperatingSystemErrors) {
  // A dataset error names its component when it has one.
  EXPECT_EQ(
      test::MessageOf<EDatabaseError>([] { DatabaseError("Field 'X' not found", "Q_Atualizar"); }),
      "Q_Atualizar: Field 'X' not found");
  EXPECT_EQ(test::MessageOf<EDatabaseError>([] { DatabaseError("Field 'X' not found"); }),
            "Field 'X' not found");
  EXPECT_EQ(EOSError(0, "ignored").Message, "A call to an OS function failed");
  EXPECT_EQ(EOSError(2, "No such file").Message, "System Error.  Code: 2.\r\nNo such file");
}

TEST(StatusVector, FindsCodesOfGdsAndNumberArgumentsOnly) {
  const char* text = "abc";
  // The first error code, and the same code as a later argument of type 1 or 4.
  SetStatus({1, db::kConnectionLost, 0});
  EXPECT_TRUE(db::StatusVectorHas({db::kConnectionLost}));
  SetStatus({1, 335544721, 2, Text(text), 1, db::kConnectionLost, 0});
  EXPECT_TRUE(db::StatusVectorHas({db::kConnectionLost}));
  SetStatus({1, 335544721, 4, db::kConnectionLost, 0});
  EXPECT_TRUE(db::StatusVectorHas({db::kNetworkReadError, db::kConnectionLost}));
  // A string argument's value and a counted string's length are not codes.
  SetStatus({1, 335544721, 2, db::kConnectionLost, 0});
  EXPECT_FALSE(db::StatusVectorHas({db::kConnectionLost}));
  SetStatus({1, 335544721, 3, db::kConnectionLost, Text(text), 0});
  EXPECT_FALSE(db::StatusVectorHas({db::kConnectionLost}));
  SetStatus({1, 335544721, 3, 3, Text(text), 1, db::kConnectionLost, 0});
  EXPECT_TRUE(db::StatusVectorHas({db::kConnectionLost}));
  // Nothing after the end marker counts.
  SetStatus({1, 335544721, 0, 1, db::kConnectionLost});
  EXPECT_FALSE(db::StatusVectorHas({db::kConnectionLost}));
  // A vector filled to its end without a marker is walked no further than its size.
  const ISC_STATUS full[ISC_STATUS_LENGTH] = {1, 5, 1, 5, 1, 5, 1, 5, 1, 5,
                                              1, 5, 1, 5, 1, 5, 1, 5, 1, 5};
  EXPECT_FALSE(db::StatusVectorHas(full, {db::kConnectionLost}));
}

TEST(ServerMessages, LinesAreJoinedAndOneFinalFullStopGoes) {
  GetClientLibrary()->CheckClientLibraryLoaded();
  SetStatus({1, kRandom, 2, Text("first line"), 1, kRandom, 2, Text("second line.."), 0});
  const db::ServerError error = db::BuildServerError();
  EXPECT_EQ(error.Message, "first line\r\nsecond line.");
  EXPECT_EQ(error.ServerErrorCode, kRandom);

  db::SetErrorMessageParts(db::kShowSQLCode | db::kShowServerMessage);
  SetStatus({1, kRandom, 2, Text("only line."), 0});
  const db::ServerError withCode = db::BuildServerError();
  db::SetErrorMessageParts(db::kShowServerMessage | db::kShowSQLMessage);
  EXPECT_EQ(withCode.Message, "SQLCODE: " + std::to_string(withCode.SqlCode) + "\r\nonly line");
  EXPECT_EQ(db::GetErrorMessageParts(), 6u);
}

TEST(ServerMessages, RaisedClassFollowsTheSqlCode) {
  GetClientLibrary()->CheckClientLibraryLoaded();
  std::vector<std::string> trace;
  const int id = MonitorHook()->AddListener([&](const TTraceEntry& e) { trace.push_back(e.Text); });
  SetStatus({1, kNoPrivilege, 2, Text("UPDATE"), 2, Text("TABLE"), 2, Text("TB_MUSICAS"), 0});
  const EIBInterBaseRoleError e = test::ErrorOf<EIBInterBaseRoleError>(db::RaiseServerError);
  EXPECT_EQ(e.SqlCode, -551);
  EXPECT_EQ(e.ServerErrorCode, kNoPrivilege);
  EXPECT_EQ(e.Message, "no permission for UPDATE access to TABLE TB_MUSICAS");
  // Any other code raises the plain server error (a permission error is no kind of it).
  SetStatus({1, kRandom, 2, Text("plain"), 0});
  EXPECT_EQ(test::MessageOf<EIBInterBaseError>(db::RaiseServerError), "plain");
  MonitorHook()->RemoveListener(id);
  ASSERT_EQ(trace.size(), 2u);
  EXPECT_NE(trace[0].find("[Error] -551 335544352 no permission for UPDATE access"),
            std::string::npos)
      << trace[0];
}

}  // namespace
