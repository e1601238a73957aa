// Query datasets against the embedded engine: the update run's exact sequence of calls, the SQL
// list and its change handler, parameters found by name and bound by position, execution of
// statements without rows, and the states that failures leave behind.
#include "db/IBQuery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/DataSource.h"
#include "db/IBErrors.h"
#include "db/IBFields.h"
#include "db/IBSQL.h"
#include "db/IBSQLMonitor.h"
#include "db/IBTransaction.h"
#include "tests/db/TraceRecorder.h"
#include "tests/support/Failures.h"
#include "tests/support/FirebirdFixture.h"
#include "tests/support/StoredSongs.h"
#include "tests/support/WindowConnection.h"

namespace {

using test::ErrorOf;
using test::MessageOf;

const char* const kSelectSongs =
    "SELECT Mus_Codigo, Mus_Nome, Mus_Interprete, Mus_Compositor FROM Tb_Musicas";
const char* const kCount = "SELECT COUNT(*) FROM Tb_Musicas";
const char* const kUpdate =
    "UPDATE Tb_Musicas SET Mus_Compositor = :Compositor WHERE Mus_Codigo = :Codigo";

// Q_Musicas with its four persistent fields, as the main window declares it.
struct SongList {
  explicit SongList(test::WindowConnection& connection) {
    Q_Musicas.SetDatabase(&connection.database);
    Q_Musicas.SetTransaction(&connection.transaction);
    Q_Musicas.SQL().Add(kSelectSongs);
    Declare(Q_MusicasMUS_CODIGO, "MUS_CODIGO");
    Q_MusicasMUS_CODIGO.Required = true;
    Declare(Q_MusicasMUS_NOME, "MUS_NOME");
    Declare(Q_MusicasMUS_INTERPRETE, "MUS_INTERPRETE");
    Declare(Q_MusicasMUS_COMPOSITOR, "MUS_COMPOSITOR");
  }
  void Declare(TField& field, const std::string& column) {
    field.Name = "Q_Musicas" + column;
    field.FieldName = column;
    field.Origin = "TB_MUSICAS." + column;
    field.SetDataSet(&Q_Musicas);
  }

  TIBQuery Q_Musicas{"Q_Musicas"};
  TIntegerField Q_MusicasMUS_CODIGO;
  TIBStringField Q_MusicasMUS_NOME{45};
  TIBStringField Q_MusicasMUS_INTERPRETE{45};
  TIBStringField Q_MusicasMUS_COMPOSITOR{45};
};

// One UPDATE of the update run: Close, the two parameters, ExecuteSql.
void UpdateComposer(TIBQuery& update, const std::string& composer, int codigo) {
  update.Close();
  update.GetParam("Compositor")->AssignString(composer);
  update.GetParam("Codigo")->AssignInteger(codigo);
  update.ExecuteSql();
}

using Composers = std::map<int, std::optional<std::string>>;

Composers ComposersOf(const std::map<int, test::StoredSong>& songs) {
  Composers composers;
  for (const auto& [codigo, song] : songs) composers[codigo] = song.Compositor;
  return composers;
}

TEST(IBQueryRoad, UpdateRunSequenceWritesEveryComposerAndCommitsRetaining) {
  test::FirebirdDatabase database;
  {
    test::WindowConnection connection(database.Path());
    test::TraceRecorder trace(connection.database, TraceFlag(tfQPrepare) | TraceFlag(tfQExecute));
    SongList songs(connection);
    auto Q_Atualizar = connection.Query("", "Q_Atualizar");

    // The window is shown: connect and open the song list, which starts the transaction.
    connection.database.Open();
    ASSERT_FALSE(connection.transaction.Active());
    songs.Q_Musicas.Open();
    EXPECT_TRUE(connection.transaction.Active());
    EXPECT_FALSE(songs.Q_Musicas.DefaultFields());

    // The run: count, then one UPDATE per song.
    Q_Atualizar->Close();
    Q_Atualizar->SQL().Clear();
    Q_Atualizar->SQL().Add(kCount);
    Q_Atualizar->Open();
    EXPECT_TRUE(Q_Atualizar->DefaultFields());
    EXPECT_EQ(Q_Atualizar->Fields()[0]->IntegerValue(), 3);
    Q_Atualizar->Close();
    Q_Atualizar->SQL().Clear();
    Q_Atualizar->SQL().Add(kUpdate);

    if (songs.Q_Musicas.Active())
      songs.Q_Musicas.MoveFirst();
    else
      songs.Q_Musicas.Open();
    std::map<int, std::string> read;
    std::vector<int> visited;
    while (!songs.Q_Musicas.AtEnd()) {
      const int codigo = songs.Q_MusicasMUS_CODIGO.IntegerValue();
      visited.push_back(codigo);
      read[codigo] = songs.Q_MusicasMUS_NOME.StringValue() + "|" +
                     songs.Q_MusicasMUS_INTERPRETE.StringValue() + "|" +
                     songs.Q_MusicasMUS_COMPOSITOR.StringValue();
      UpdateComposer(*Q_Atualizar, "Compositor " + std::to_string(codigo), codigo);
      songs.Q_Musicas.MoveNext();
    }
    std::sort(visited.begin(), visited.end());
    EXPECT_EQ(visited, (std::vector<int>{1, 2, 3}));
    std::map<int, std::string> expected;
    for (const test::Song& song : test::DefaultSongs())
      expected[song.Codigo] =
          song.Nome + "|" + song.Interprete + "|" + song.Compositor.value_or("");
    EXPECT_EQ(read, expected);

    connection.transaction.CommitRetaining();
    EXPECT_TRUE(connection.transaction.Active());
    ASSERT_TRUE(songs.Q_Musicas.Active());

    // A second walk comes from the cache: the same rows, the composers as they were read.
    std::vector<std::string> secondWalk;
    for (songs.Q_Musicas.MoveFirst(); !songs.Q_Musicas.AtEnd(); songs.Q_Musicas.MoveNext())
      secondWalk.push_back(std::to_string(songs.Q_MusicasMUS_CODIGO.IntegerValue()) + "=" +
                           songs.Q_MusicasMUS_COMPOSITOR.StringValue());
    std::sort(secondWalk.begin(), secondWalk.end());
    EXPECT_EQ(secondWalk, (std::vector<std::string>{"1=", "2=", "3=Desconhecido"}));

    // Prepared once per text; the song list executed once.
    EXPECT_EQ(trace.Count(tfQPrepare, "UPDATE Tb_Musicas"), 1);
    EXPECT_EQ(trace.Count(tfQExecute, "UPDATE Tb_Musicas"), 3);
    EXPECT_EQ(trace.Count(tfQPrepare, "SELECT Mus_Codigo"), 1);
    EXPECT_EQ(trace.Count(tfQExecute, "SELECT Mus_Codigo"), 1);
  }
  // Committed for good: the connection rolled back what was left, and another attachment reads
  // every composer.
  EXPECT_EQ(ComposersOf(test::ReadStoredSongs(database.Path())),
            (Composers{{1, "Compositor 1"}, {2, "Compositor 2"}, {3, "Compositor 3"}}));
}

class IBQueryTest : public test::ConnectedTest {
 protected:
  // The composers as this connection's transaction sees them.
  Composers StoredComposers() { return ComposersOf(test::ReadStoredSongs(database, transaction)); }
};

TEST_F(IBQueryTest, ChangeHandlerRunsOncePerActualChangeOfTheList) {
  auto query = Query("", "Q_Atualizar");
  TDataSource source("Ds");
  source.SetDataSet(query.get());
  int changes = 0;
  source.OnDataChange = [&](TDataSource&, TDataEvent event) {
    if (event == dePropertyChange) ++changes;
  };
  query->SQL().Clear();
  EXPECT_EQ(changes, 0);
  query->SQL().Add(kCount);
  EXPECT_EQ(changes, 1);
  query->SQL().Clear();
  query->SQL().Add(kUpdate);
  EXPECT_EQ(changes, 3);
  query->SQL().Assign({kUpdate});
  EXPECT_EQ(changes, 3);
  query->SQL().SetText(std::string(kUpdate) + "\r\n");
  EXPECT_EQ(changes, 3);
  EXPECT_EQ(query->SelectSQL().SQL(), std::vector<std::string>{kUpdate});
}

TEST_F(IBQueryTest, TextChangeClosesTheQueryAndFreesItsDefaultFields) {
  auto query = Query(kCount, "Q_Atualizar");
  TDataSource source("Ds");
  source.SetDataSet(query.get());
  int stateChanges = 0;
  source.OnStateChange = [&](TDataSource&) { ++stateChanges; };
  query->Open();
  EXPECT_EQ(stateChanges, 1);
  ASSERT_EQ(query->Fields().Count(), 1);
  EXPECT_EQ(query->Fields()[0]->FieldName, "COUNT");
  EXPECT_TRUE(query->Prepared());
  EXPECT_EQ(query->FieldDefs().Count(), 1);

  query->SQL().Clear();
  EXPECT_FALSE(query->Active());
  EXPECT_EQ(stateChanges, 2);
  EXPECT_EQ(query->Fields().Count(), 0);
  EXPECT_EQ(query->FieldDefs().Count(), 0);
  EXPECT_FALSE(query->Prepared());
  EXPECT_FALSE(query->SelectSQL().Prepared());
  EXPECT_THROW(query->Fields()[0], EListError);

  // A new text given to the select statement itself unprepares the query as well.
  query->SQL().Add(kCount);
  query->Open();
  ASSERT_TRUE(query->Prepared());
  query->SelectSQL().SetSQL({"SELECT 1 FROM RDB$DATABASE"});
  EXPECT_FALSE(query->Active());
  EXPECT_FALSE(query->Prepared());
  EXPECT_FALSE(query->SelectSQL().Prepared());
}

TEST_F(IBQueryTest, UpdateTextGivesTwoParametersFoundInAnyLetterCase) {
  auto query = Query(kUpdate, "Q_Atualizar");
  ASSERT_EQ(query->Params().Count(), 2);
  EXPECT_EQ(query->Params()[0]->Name, "Compositor");
  EXPECT_EQ(query->Params()[1]->Name, "Codigo");
  for (int i = 0; i < 2; ++i) {
    EXPECT_TRUE(query->Params()[i]->IsNull());
    EXPECT_FALSE(query->Params()[i]->Bound());
    EXPECT_EQ(query->Params()[i]->DataType, ftUnknown);
    EXPECT_EQ(query->Params()[i]->ParamType, ptUnknown);
  }
  EXPECT_EQ(query->ParsedText(),
            "UPDATE Tb_Musicas SET Mus_Compositor = ? WHERE Mus_Codigo = ?\r\n");
  EXPECT_EQ(query->GetParam("codigo"), query->Params()[1]);
  EXPECT_EQ(query->GetParam("COMPOSITOR"), query->Params()[0]);

  // The query's own lookup and its collection's carry the query's name as it stands.
  const auto missing = [&] { query->GetParam("Titulo"); };
  const auto missingInCollection = [&] { query->Params().GetParam("Nada"); };
  EXPECT_EQ(MessageOf<EDatabaseError>(missing), "Q_Atualizar: Parameter 'Titulo' not found");
  EXPECT_EQ(MessageOf<EDatabaseError>(missingInCollection),
            "Q_Atualizar: Parameter 'Nada' not found");
  query->Name.clear();
  EXPECT_EQ(MessageOf<EDatabaseError>(missing), "Parameter 'Titulo' not found");
  EXPECT_EQ(MessageOf<EDatabaseError>(missingInCollection), "Parameter 'Nada' not found");
}

TEST_F(IBQueryTest, ValuesOfParametersThatKeepTheirNamesSurviveATextChange) {
  auto query = Query(kUpdate);
  query->GetParam("Compositor")->AssignString("Ana");
  query->GetParam("Codigo")->AssignInteger(2);
  query->SQL().Assign({"UPDATE Tb_Musicas SET Mus_Nome = :NOME WHERE Mus_Codigo = :CODIGO"});
  ASSERT_EQ(query->Params().Count(), 2);
  EXPECT_TRUE(query->Params()[0]->IsNull());
  EXPECT_EQ(query->Params()[1]->Name, "CODIGO");
  EXPECT_EQ(query->Params()[1]->AsInteger(), 2);
  EXPECT_EQ(query->Params()[1]->DataType, ftInteger);
  EXPECT_TRUE(query->Params()[1]->Bound());

  // Without the parameter scan the collection stays as it was.
  query->ParamCheck = false;
  query->SQL().Assign({"DELETE FROM Tb_Musicas WHERE Mus_Codigo = -1"});
  EXPECT_EQ(query->Params().Count(), 2);
  EXPECT_EQ(query->ParsedText(), "DELETE FROM Tb_Musicas WHERE Mus_Codigo = -1\r\n");
}

TEST_F(IBQueryTest, RepeatedExecutionPreparesOnceAndBindsNewValuesEachTime) {
  test::TraceRecorder trace(database, TraceFlag(tfQPrepare) | TraceFlag(tfQExecute));
  auto query = Query(kUpdate, "Q_Atualizar");
  for (int round = 0; round < 20; ++round) {
    for (int codigo = 1; codigo <= 3; ++codigo)
      UpdateComposer(*query, "R" + std::to_string(round) + "-" + std::to_string(codigo), codigo);
  }
  EXPECT_EQ(trace.Count(tfQPrepare, "UPDATE Tb_Musicas"), 1);
  EXPECT_EQ(trace.Count(tfQExecute, "UPDATE Tb_Musicas"), 60);
  EXPECT_EQ(StoredComposers(), (Composers{{1, "R19-1"}, {2, "R19-2"}, {3, "R19-3"}}));
}

TEST_F(IBQueryTest, ParametersNeverAssignedAreSentAsNullAndEmptyTextIsNotNull) {
  auto query = Query(kUpdate, "Q_Atualizar");
  query->GetParam("Codigo")->AssignInteger(3);
  query->ExecuteSql();
  EXPECT_EQ(StoredComposers()[3], std::nullopt);

  query->GetParam("Compositor")->AssignString("");
  EXPECT_FALSE(query->GetParam("Compositor")->IsNull());
  query->ExecuteSql();
  EXPECT_EQ(StoredComposers()[3], "");

  // A parameter that held text and then an integer goes over as an integer.
  query->GetParam("Compositor")->AssignString("Zé");
  query->GetParam("Codigo")->AssignString("not a number");
  query->GetParam("Codigo")->AssignInteger(1);
  EXPECT_EQ(query->GetParam("Codigo")->DataType, ftInteger);
  query->ExecuteSql();
  EXPECT_EQ(StoredComposers()[1], "Zé");
}

TEST_F(IBQueryTest, ExecuteSqlRefusesOpenQueriesSelectsAndEmptyTexts) {
  auto query = Query(kCount, "Q_Atualizar");
  query->Open();
  // A dataset error, not a client or server error.
  EXPECT_EQ(test::ExactMessageOf<EDatabaseError>([&] { query->ExecuteSql(); }),
            "Q_Atualizar: Cannot perform this operation on an open dataset");
  EXPECT_TRUE(query->Active());

  query->Close();
  const EIBClientError select = ErrorOf<EIBClientError>([&] { query->ExecuteSql(); });
  EXPECT_EQ(select.SqlCode, 66);
  EXPECT_EQ(select.Message, "use Open for a Select Statement");
  EXPECT_FALSE(query->Active());
  EXPECT_TRUE(query->Prepared());

  query->SQL().Clear();
  const EIBClientError empty = ErrorOf<EIBClientError>([&] { query->ExecuteSql(); });
  EXPECT_EQ(empty.SqlCode, 65);
  EXPECT_EQ(empty.Message, "Empty SQL Statement");
  query->SQL().Add(" ");
  EXPECT_EQ(ErrorOf<EIBClientError>([&] { query->ExecuteSql(); }).SqlCode, 65);
  EXPECT_EQ(ErrorOf<EIBClientError>([&] { query->Open(); }).SqlCode, 65);
  EXPECT_FALSE(query->Active());
}

TEST_F(IBQueryTest, MissingDatabaseOrTransactionIsAClientError) {
  TIBQuery alone("Q");
  alone.SQL().Add(kCount);
  const EIBClientError noDatabase = ErrorOf<EIBClientError>([&] { alone.Open(); });
  EXPECT_EQ(noDatabase.SqlCode, 24);
  EXPECT_EQ(noDatabase.Message, "Database not assigned");
  EXPECT_FALSE(alone.Active());

  TIBDatabase other("Other");
  alone.SetDatabase(&other);
  const EIBClientError noTransaction = ErrorOf<EIBClientError>([&] { alone.ExecuteSql(); });
  EXPECT_EQ(noTransaction.SqlCode, 25);
  EXPECT_EQ(noTransaction.Message, "Transaction not assigned");
}

TEST_F(IBQueryTest, FailedExecutionLeavesTheQueryInactivePreparedWithItsValues) {
  auto query = Query(kUpdate, "Q_Atualizar");
  UpdateComposer(*query, "Bom", 2);

  // 46 characters for a 45-character column.
  const std::string tooLong(46, 'x');
  query->GetParam("Compositor")->AssignString(tooLong);
  const EIBClientError error = ErrorOf<EIBClientError>([&] { query->ExecuteSql(); });
  EXPECT_EQ(error.SqlCode, 119);
  EXPECT_EQ(error.Message,
            "Trying to store a string of length 46 into a field that can only contain 45");
  EXPECT_FALSE(query->Active());
  EXPECT_TRUE(query->Prepared());
  EXPECT_EQ(query->GetParam("Compositor")->AsString(), tooLong);
  EXPECT_EQ(query->GetParam("Codigo")->AsInteger(), 2);
  EXPECT_TRUE(transaction.Active());

  // A value the server refuses.
  query->GetParam("Compositor")->AssignString("Outro");
  query->GetParam("Codigo")->AssignString("dois");
  EXPECT_THROW(query->ExecuteSql(), EIBInterBaseError);
  EXPECT_FALSE(query->Active());
  EXPECT_TRUE(query->Prepared());
  EXPECT_TRUE(transaction.Active());

  // The same query goes on working with good values, and the first update is still there.
  query->GetParam("Codigo")->AssignInteger(1);
  query->ExecuteSql();
  const Composers composers = StoredComposers();
  EXPECT_EQ(composers.at(1), "Outro");
  EXPECT_EQ(composers.at(2), "Bom");
}

TEST_F(IBQueryTest, CloseOnAClosedQueryAndOpenOnAnOpenQueryDoNothing) {
  SongList songs(connection);
  songs.Q_Musicas.Close();
  EXPECT_FALSE(songs.Q_Musicas.Active());
  songs.Q_Musicas.Open();
  songs.Q_Musicas.MoveNext();
  const int second = songs.Q_MusicasMUS_CODIGO.IntegerValue();
  songs.Q_Musicas.Open();
  EXPECT_EQ(songs.Q_MusicasMUS_CODIGO.IntegerValue(), second);
  EXPECT_FALSE(songs.Q_Musicas.AtStart());
}

TEST_F(IBQueryTest, NavigationOnAClosedQueryIsADatasetError) {
  SongList songs(connection);
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { songs.Q_Musicas.MoveNext(); }),
            "Q_Musicas: Cannot perform this operation on a closed dataset");
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { songs.Q_Musicas.MoveFirst(); }),
            "Q_Musicas: Cannot perform this operation on a closed dataset");
}

TEST_F(IBQueryTest, CloseKeepsThePreparationAndPersistentFieldsBindAgain) {
  test::TraceRecorder trace(database, TraceFlag(tfQPrepare) | TraceFlag(tfQExecute));
  SongList songs(connection);
  songs.Q_Musicas.Open();
  EXPECT_EQ(songs.Q_MusicasMUS_CODIGO.FieldNo(), 1);
  EXPECT_EQ(songs.Q_MusicasMUS_COMPOSITOR.FieldNo(), 4);
  songs.Q_Musicas.Close();
  EXPECT_EQ(songs.Q_MusicasMUS_CODIGO.FieldNo(), 0);
  EXPECT_EQ(songs.Q_Musicas.Fields().Count(), 4);
  EXPECT_EQ(songs.Q_MusicasMUS_NOME.StringValue(), "");
  songs.Q_Musicas.Open();
  EXPECT_EQ(songs.Q_MusicasMUS_NOME.FieldNo(), 2);
  EXPECT_FALSE(songs.Q_MusicasMUS_NOME.StringValue().empty());
  EXPECT_EQ(trace.Count(tfQPrepare, "SELECT Mus_Codigo"), 1);
  EXPECT_EQ(trace.Count(tfQExecute, "SELECT Mus_Codigo"), 2);
}

TEST_F(IBQueryTest, EndOfTheTransactionClosesTheQueryAndTheNextUsePreparesAgain) {
  test::TraceRecorder trace(database, TraceFlag(tfQPrepare));
  SongList songs(connection);
  auto update = Query(kUpdate, "Q_Atualizar");
  songs.Q_Musicas.Open();
  UpdateComposer(*update, "Primeiro", 1);

  transaction.Commit();
  EXPECT_FALSE(songs.Q_Musicas.Active());
  EXPECT_FALSE(update->InternalPrepared());
  EXPECT_TRUE(update->Prepared());

  // The values bound after the statement is prepared again are the ones that arrive.
  UpdateComposer(*update, "Segundo", 2);
  EXPECT_TRUE(transaction.Active());
  const Composers composers = StoredComposers();
  EXPECT_EQ(composers.at(1), "Primeiro");
  EXPECT_EQ(composers.at(2), "Segundo");
  EXPECT_EQ(trace.Count(tfQPrepare, "UPDATE Tb_Musicas"), 2);

  songs.Q_Musicas.Open();
  EXPECT_FALSE(songs.Q_Musicas.AtEnd());
}

TEST_F(IBQueryTest, FailedOpenLeavesTheQueryInactiveWithoutFields) {
  auto query = Query("SELECT * FROM Tb_Inexistente");
  EXPECT_THROW(query->Open(), EIBInterBaseError);
  EXPECT_FALSE(query->Active());
  EXPECT_EQ(query->Fields().Count(), 0);
  EXPECT_FALSE(query->Prepared());

  // A statement without rows opened as a query runs and leaves an open query with no row.
  auto update = Query("UPDATE Tb_Musicas SET Mus_Nome = Mus_Nome WHERE Mus_Codigo = -1", "Q2");
  update->Open();
  EXPECT_TRUE(update->Active());
  EXPECT_TRUE(update->AtEnd());
  EXPECT_FALSE(update->CursorOpen());
}

TEST_F(IBQueryTest, AFailingFetchKeepsTheQueryOpenAndTheRowItHad) {
  // The first fetch fails: the query is open without a row.
  auto broken = Query("SELECT Mus_Codigo / 0 FROM Tb_Musicas");
  EXPECT_THROW(broken->Open(), EIBInterBaseError);
  EXPECT_TRUE(broken->Active());
  EXPECT_TRUE(broken->AtEnd());
  broken->Close();
  EXPECT_FALSE(broken->Active());

  // The second row fails: the first one stays current and readable.
  auto query = Query("SELECT 10 / (Mus_Codigo - 2) AS V FROM Tb_Musicas ORDER BY Mus_Codigo");
  query->Open();
  ASSERT_EQ(query->Fields().Count(), 1);
  EXPECT_EQ(query->Fields()[0]->StringValue(), "-10");
  EXPECT_THROW(query->MoveNext(), EIBInterBaseError);
  EXPECT_TRUE(query->Active());
  EXPECT_FALSE(query->AtEnd());
  EXPECT_EQ(query->Fields()[0]->StringValue(), "-10");
}

TEST_F(IBQueryTest, DisconnectClosesTheQuery) {
  SongList songs(connection);
  songs.Q_Musicas.Open();
  database.Close();
  EXPECT_FALSE(songs.Q_Musicas.Active());
  EXPECT_FALSE(songs.Q_Musicas.InternalPrepared());
  EXPECT_TRUE(songs.Q_Musicas.Prepared());
  songs.Q_Musicas.Open();
  EXPECT_TRUE(database.Connected());
  EXPECT_FALSE(songs.Q_Musicas.AtEnd());
}

}  // namespace
