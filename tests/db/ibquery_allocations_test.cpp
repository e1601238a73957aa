// What the query dataset allocates on its hot paths: executing a prepared UPDATE with new
// parameter values, fetching a result into the record cache, and walking the cached rows.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "db/Fields.h"
#include "db/IBDatabase.h"
#include "db/IBQuery.h"
#include "db/IBSQL.h"
#include "db/IBTransaction.h"
#include "tests/support/AllocationCounter.h"
#include "tests/support/FirebirdFixture.h"

namespace {

// Rows of the numbers table.
constexpr int kRows = 3000;

class QueryAllocationsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    database_ = std::make_unique<test::FirebirdDatabase>(
        test::DefaultSongs(),
        "CREATE TABLE Tb_Numeros (N INTEGER NOT NULL PRIMARY KEY, V VARCHAR(45));\n");
  }
  static void TearDownTestSuite() { database_.reset(); }

  void SetUp() override {
    database.SetDatabaseName(database_->Path());
    database.SetParams(test::DefaultDatabaseParams());
    database.LoginPrompt = false;
    database.SetSQLDialect(1);
    transaction.SetParams({"read_committed", "rec_version", "nowait"});
    transaction.SetDefaultDatabase(&database);
    database.Open();
    TIBSQL insert(&database);
    insert.SetTransaction(&transaction);
    transaction.Start();
    insert.SetSQL({"INSERT INTO Tb_Numeros VALUES (:N, 'inicial')"});
    for (int n = 1; n <= kRows; ++n) {
      insert.Params()[0].SetLongValue(n);
      insert.ExecQuery();
    }
  }
  void TearDown() override {
    if (transaction.Active()) transaction.Rollback();
    database.Close();
  }

  std::unique_ptr<TIBQuery> Query(const std::string& sql) {
    auto query = std::make_unique<TIBQuery>("Q");
    query->SetDatabase(&database);
    query->SetTransaction(&transaction);
    query->SQL().Add(sql);
    return query;
  }

  TIBDatabase database{"DB"};
  TIBTransaction transaction{"TR"};

 private:
  static std::unique_ptr<test::FirebirdDatabase> database_;
};

std::unique_ptr<test::FirebirdDatabase> QueryAllocationsTest::database_;

TEST_F(QueryAllocationsTest, APreparedUpdateAllocatesOnlyItsNewParameterValues) {
  auto update = Query("UPDATE Tb_Numeros SET V = :V WHERE N = :N");
  TParam* value = update->GetParam("V");
  TParam* number = update->GetParam("N");
  value->AssignString("a first value long enough to live on the heap");
  number->AssignInteger(1);
  update->ExecuteSql();
  std::vector<std::string> values;
  for (int i = 0; i < kRows; ++i)
    values.push_back("a value long enough for the heap " + std::to_string(i));

  const long before = test::AllocationCount();
  for (int i = 0; i < kRows; ++i) {
    update->Close();
    value->AssignString(values[static_cast<std::size_t>(i)]);
    number->AssignInteger(i + 1);
    update->ExecuteSql();
  }
  // One text value per execution, nothing else.
  EXPECT_EQ(test::AllocationCount() - before, kRows);

  auto check = Query("SELECT V FROM Tb_Numeros WHERE N = 3000");
  check->Open();
  EXPECT_EQ(check->Fields()[0]->StringValue(), values.back());
}

TEST_F(QueryAllocationsTest, FetchingAndWalkingTheCacheAllocateNothingPerRow) {
  auto query = Query("SELECT N, V FROM Tb_Numeros ORDER BY N");
  TIntegerField n;
  n.FieldName = "N";
  n.SetDataSet(query.get());
  query->Open();

  long before = test::AllocationCount();
  long sum = 0;
  int rows = 0;
  while (!query->AtEnd()) {
    sum += n.IntegerValue();
    ++rows;
    query->MoveNext();
  }
  EXPECT_EQ(rows, kRows);
  EXPECT_EQ(sum, long(kRows) * (kRows + 1) / 2);
  // The cache grows by reallocating its one block, a chunk at a time.
  EXPECT_EQ(test::AllocationCount() - before, 0);

  before = test::AllocationCount();
  query->MoveFirst();
  rows = 0;
  while (!query->AtEnd()) {
    sum -= n.IntegerValue();
    ++rows;
    query->MoveNext();
  }
  EXPECT_EQ(rows, kRows);
  EXPECT_EQ(sum, 0);
  EXPECT_EQ(test::AllocationCount() - before, 0);
}

}  // namespace
