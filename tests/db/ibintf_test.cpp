// Binding of the client library: the real Firebird client and small stand-in libraries built
// by the tests (tests/db/fakelibs) that export only chosen entry points.
#include "db/IBIntf.h"

#include <gtest/gtest.h>

#include <string>

#include "db/IBDatabase.h"
#include "db/IBErrors.h"
#include "runtime/OSError.h"
#include "tests/support/Failures.h"

namespace {

std::string FakeLibrary(const std::string& name) {
  return std::string(LIRENTA_BUILD_DIR) + "/lib/liblirenta_fakegds_" + name + ".so";
}

using test::ErrorOf;

TEST(ClientLibrary, RealClientIsSharedLoadedOnceAndReportsItsVersion) {
  std::shared_ptr<IGDSLibrary> first = GetClientLibrary();
  std::shared_ptr<IGDSLibrary> second = GetClientLibrary();
  EXPECT_EQ(first.get(), second.get());

  TIBDatabase one;
  TIBDatabase two;
  EXPECT_EQ(&one.GDSLibrary(), first.get());
  EXPECT_EQ(&two.GDSLibrary(), first.get());
  auto& dynamic = dynamic_cast<TDynamicLibrary&>(*first);
  EXPECT_EQ(dynamic.LoadCount(), 1);
  EXPECT_NE(dynamic.ModuleHandle(), nullptr);
  // The Firebird 3 client answers major 6, minor 3 through its version entry points (its
  // compatibility numbers), which is below 7.0: the basic descriptor layout applies.
  EXPECT_EQ(first->GetClientVersion(), 63000);
  EXPECT_LT(first->GetClientVersion(), db::kClientVersion70);
  EXPECT_NE(first->EntryPoints().fb_interpret, nullptr);
  // The 7.0 and 7.1 entry points stay stand-bys for a 3.0 client.
  const EIBClientError e =
      ErrorOf<EIBClientError>([&] { first->isc_start_savepoint(nullptr, nullptr, ""); });
  EXPECT_EQ(e.Message,
            "isc_start_savepoint  is an InterBase 7.1 function. Please upgrade to InterBase 7.1 "
            "to use this functonality");
  // The XML extension library does not exist here, which is no obstacle to loading.
  const EIBClientError x = ErrorOf<EIBClientError>(
      [&] { first->isc_dsql_xml_fetch(nullptr, nullptr, 1, nullptr, nullptr); });
  EXPECT_EQ(x.Message,
            "isc_dsql_xml_fetch  is an InterBase 6.5 function. Please upgrade to InterBase 6.5 "
            "to use this functonality");
}

TEST(ClientLibrary, MissingLibraryRaisesClientError1OnEveryCheck) {
  TDynamicLibrary library({"/nonexistent/libnothing.so"});
  EXPECT_FALSE(library.TryLoadClientLibrary());
  for (int attempt = 0; attempt < 2; ++attempt) {
    const EIBClientError e = ErrorOf<EIBClientError>([&] { library.CheckClientLibraryLoaded(); });
    EXPECT_EQ(e.SqlCode, 1);
    EXPECT_EQ(e.ServerErrorCode, 0);
    EXPECT_EQ(e.Message,
              "InterBase library gds32.dll not found in the path. Please install InterBase to use "
              "this functionality");
  }
  EXPECT_THROW(library.GetClientVersion(), EIBClientError);
  EXPECT_EQ(library.ModuleHandle(), nullptr);
}

TEST(ClientLibrary, OldClientIsVersion5AndRetainingRollbackIsAStandBy) {
  TDynamicLibrary library({FakeLibrary("v50")});
  ASSERT_TRUE(library.TryLoadClientLibrary());
  EXPECT_EQ(library.GetClientVersion(), 50000);

  ISC_STATUS_ARRAY status{};
  isc_tr_handle handle = 0;
  const EIBClientError e =
      ErrorOf<EIBClientError>([&] { library.isc_rollback_retaining(status, &handle); });
  EXPECT_EQ(e.SqlCode, 3);
  EXPECT_EQ(e.ServerErrorCode, 0);
  EXPECT_EQ(e.Message,
            "isc_rollback_retaining is an InterBase 6 function. Please upgrade to InterBase 6 to "
            "use this functonality");
  const EIBClientError d =
      ErrorOf<EIBClientError>([&] { library.isc_encode_sql_date(nullptr, nullptr); });
  EXPECT_EQ(d.Message,
            "isc_encode_sql_date is an InterBase 6 function. Please upgrade to InterBase 6 to use "
            "this functonality");

  // The version entry points raise the 7.0 message with the name followed by one blank, and
  // leave both codes 0.
  const EIBClientError v = ErrorOf<EIBClientError>([&] { library.isc_get_client_major_version(); });
  EXPECT_EQ(v.SqlCode, 0);
  EXPECT_EQ(v.ServerErrorCode, 0);
  EXPECT_EQ(v.Message,
            "isc_get_client_major_version  is an InterBase 7.0 function. Please upgrade to "
            "InterBase 7.0 to use this functonality");
  // Entry points it does export are bound to the library's own functions.
  EXPECT_EQ(library.isc_commit_retaining(status, &handle), 0);
}

TEST(ClientLibrary, MissingMandatoryEntryPointRaisesTheSystemErrorAndLoadsNothing) {
  TDynamicLibrary library({FakeLibrary("nofetch")});
  for (int attempt = 0; attempt < 2; ++attempt) {
    const EOSError e = test::FailureOf<EOSError>([&] { library.LoadClientLibrary(); }, 0, "");
    EXPECT_EQ(e.ErrorCode, 38);
    EXPECT_EQ(e.Message.rfind("System Error.  Code: 38.\r\n", 0), 0u) << e.Message;
    EXPECT_NE(e.Message.find("isc_dsql_fetch"), std::string::npos) << e.Message;
    // Nothing counts as loaded, so nothing unresolved can be called later.
    EXPECT_EQ(library.ModuleHandle(), nullptr);
    EXPECT_EQ(library.EntryPoints().isc_attach_database, nullptr);
  }
  EXPECT_THROW(library.TryLoadClientLibrary(), EOSError);
  EXPECT_EQ(library.LoadCount(), 0);
}

TEST(ClientLibrary, ReportedVersionIsMajorPlusMinorTenths) {
  TDynamicLibrary v25({FakeLibrary("v25")});
  EXPECT_EQ(v25.GetClientVersion(), 25000);
  // Below 7.0 the descriptor entry points of 7.0 are stand-bys.
  const EIBClientError e =
      ErrorOf<EIBClientError>([&] { v25.isc_blob_default_desc2(nullptr, nullptr, nullptr); });
  EXPECT_EQ(e.Message,
            "isc_blob_default_desc2  is an InterBase 7.0 function. Please upgrade to InterBase "
            "7.0 to use this functonality");
  ISC_STATUS_ARRAY status{};
  isc_tr_handle handle = 0;
  EXPECT_EQ(v25.isc_rollback_retaining(status, &handle), 0);
}

TEST(ClientLibrary, SavepointsExistFrom71) {
  TDynamicLibrary v70({FakeLibrary("v70")});
  EXPECT_EQ(v70.GetClientVersion(), 70000);
  const EIBClientError e =
      ErrorOf<EIBClientError>([&] { v70.isc_start_savepoint(nullptr, nullptr, "sp"); });
  EXPECT_EQ(e.Message,
            "isc_start_savepoint  is an InterBase 7.1 function. Please upgrade to InterBase 7.1 "
            "to use this functonality");
  EXPECT_EQ(v70.isc_array_gen_sdl2(nullptr, nullptr, nullptr, nullptr, nullptr), 0);

  TDynamicLibrary v71({FakeLibrary("v71")});
  EXPECT_EQ(v71.GetClientVersion(), 71000);
  EXPECT_EQ(v71.isc_start_savepoint(nullptr, nullptr, "sp"), 71);
}

TEST(ClientLibrary, From70TheDescriptorEntryPointsAreMandatory) {
  TDynamicLibrary library({FakeLibrary("v70bare")});
  const EOSError e = test::FailureOf<EOSError>([&] { library.LoadClientLibrary(); }, 0, "");
  EXPECT_NE(e.Message.find("isc_array_gen_sdl2"), std::string::npos) << e.Message;
  EXPECT_EQ(library.ModuleHandle(), nullptr);
}

TEST(ClientLibrary, LaterFileNamesAreTriedWhenTheFirstIsMissing) {
  TDynamicLibrary library({"/nonexistent/libfbclient.so.2", FakeLibrary("v25")});
  EXPECT_EQ(library.GetClientVersion(), 25000);
  EXPECT_EQ(library.LoadCount(), 1);
  EXPECT_TRUE(library.TryLoadClientLibrary());
  EXPECT_EQ(library.LoadCount(), 1);
}

}  // namespace
