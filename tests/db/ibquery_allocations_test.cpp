// What the statements and query datasets allocate on their hot paths: executing a prepared
// UPDATE with new parameter values, fetching a result into the record cache, and walking the
// cached rows.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "db/Fields.h"
#include "db/IBQuery.h"
#include "db/IBSQL.h"
#include "db/IBTransaction.h"
#include "tests/support/AllocationCounter.h"
#include "tests/support/FirebirdFixture.h"
#include "tests/support/WindowConnection.h"

namespace {

// Rows of the numbers table.
constexpr int kRows = 3000;

class QueryAllocationsTest : public test::ConnectedTest {
 protected:
  static void SetUpTestSuite() { SetUpDatabase(test::NumbersTableSql(kRows)); }

  // `prefix` and the row number, for every row; RowsWith counts the rows that hold theirs.
  static std::vector<std::string> Values(const std::string& prefix) {
    std::vector<std::string> values;
    for (int i = 1; i <= kRows; ++i) values.push_back(prefix + std::to_string(i));
    return values;
  }
  int RowsWith(const std::string& prefix) {
    auto check = Statement("SELECT COUNT(*) FROM Tb_Numeros WHERE V = '" + prefix + "' || N");
    check->ExecQuery();
    return check->Fields(0).LongValue();
  }
};

TEST_F(QueryAllocationsTest, APreparedStatementBindsAndExecutesWithoutAllocating) {
  transaction.Start();
  auto update = Statement("UPDATE Tb_Numeros SET V = :V WHERE N = :N");
  TIBXSQLDA& params = update->Params();
  params[0].SetTextValue(std::string(45, ' '));
  char* buffer = params[0].Data().SqlData();
  const std::vector<std::string> values = Values("valor ");

  const long before = test::AllocationCount();
  for (int n = 1; n <= kRows; ++n) {
    params[0].SetTextValue(values[std::size_t(n - 1)]);
    params[1].SetLongValue(n);
    update->ExecQuery();
  }
  EXPECT_EQ(test::AllocationCount() - before, 0);
  EXPECT_EQ(params[0].Data().SqlData(), buffer);
  EXPECT_EQ(RowsWith("valor "), kRows);
}

TEST_F(QueryAllocationsTest, APreparedUpdateAllocatesOnlyItsNewParameterValues) {
  auto update = Query("UPDATE Tb_Numeros SET V = :V WHERE N = :N");
  TParam* value = update->GetParam("V");
  TParam* number = update->GetParam("N");
  value->AssignString("a first value long enough to live on the heap");
  number->AssignInteger(1);
  update->ExecuteSql();
  const std::vector<std::string> values = Values("a value long enough for the heap ");

  const long before = test::AllocationCount();
  for (int n = 1; n <= kRows; ++n) {
    update->Close();
    value->AssignString(values[std::size_t(n - 1)]);
    number->AssignInteger(n);
    update->ExecuteSql();
  }
  // One text value per execution, nothing else.
  EXPECT_EQ(test::AllocationCount() - before, kRows);
  EXPECT_EQ(RowsWith("a value long enough for the heap "), kRows);
}

TEST_F(QueryAllocationsTest, FetchingAndWalkingTheCacheAllocateNothingPerRow) {
  auto query = Query("SELECT N, V FROM Tb_Numeros ORDER BY N");
  TIntegerField n;
  n.FieldName = "N";
  n.SetDataSet(query.get());
  query->Open();

  // The cache grows by reallocating its one block, a chunk at a time; the second walk reads
  // the cache.
  for (int walk = 0; walk < 2; ++walk) {
    if (walk == 1) query->MoveFirst();
    const long before = test::AllocationCount();
    long sum = 0;
    int rows = 0;
    for (; !query->AtEnd(); query->MoveNext(), ++rows) sum += n.IntegerValue();
    EXPECT_EQ(test::AllocationCount() - before, 0) << "walk " << walk;
    EXPECT_EQ(rows, kRows);
    EXPECT_EQ(sum, long(kRows) * (kRows + 1) / 2);
  }
}

}  // namespace
