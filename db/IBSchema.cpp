#include "db/IBSchema.h"

#include "db/IBDatabase.h"
#include "db/IBSQL.h"
#include "db/IBTransaction.h"
#include "runtime/Text.h"

namespace {

// Computed columns and columns with a default (at the domain or at the column) of a table.
constexpr const char* kColumnSQL =
    "Select F.RDB$COMPUTED_BLR, F.RDB$DEFAULT_VALUE, R.RDB$DEFAULT_VALUE, R.RDB$FIELD_NAME "
    "from RDB$RELATION_FIELDS R, RDB$FIELDS F where R.RDB$RELATION_NAME = :RELATION and "
    "R.RDB$FIELD_SOURCE = F.RDB$FIELD_NAME and ((not F.RDB$COMPUTED_BLR is NULL) or      "
    "(not (F.RDB$DEFAULT_VALUE is NULL and R.RDB$DEFAULT_VALUE is NULL))) ";

// The columns of a table's primary key.
constexpr const char* kKeySQL =
    "SELECT RDB$FIELD_NAME, RDB$FIELD_POSITION FROM RDB$RELATION_CONSTRAINTS RR JOIN "
    "RDB$INDEX_SEGMENTS RI ON      RR.RDB$INDEX_NAME = RI.RDB$INDEX_NAME WHERE "
    "RDB$RELATION_NAME = :relation_name AND       RDB$CONSTRAINT_TYPE = 'PRIMARY KEY ' "
    "ORDER BY RDB$FIELD_POSITION ";

std::unique_ptr<TIBSQL> CatalogueStatement(TIBDatabase* database, const char* text) {
  auto statement = std::make_unique<TIBSQL>(database);
  statement->SetTransaction(database->InternalTransaction());
  statement->GoToFirstRecordOnExecute = false;
  statement->SetSQL({text});
  return statement;
}

}  // namespace

TSchema::TSchema(TIBDatabase* database)
    : database_(database),
      columnQuery_(CatalogueStatement(database, kColumnSQL)),
      keyQuery_(CatalogueStatement(database, kKeySQL)) {}

TSchema::~TSchema() = default;

TIBSchema& TSchema::Of(TIBDatabase& database) {
  if (database.Schema() == nullptr) database.SetSchema(std::make_unique<TSchema>(&database));
  return *database.Schema();
}

void TSchema::ClearColumnCache() {
  relations_.clear();
}

bool TSchema::HasDefaultValue(const std::string& relation, const std::string& field) {
  const TFieldNode* node = Find(relation, field);
  return node != nullptr && node->HasDefault;
}

bool TSchema::IsComputedColumn(const std::string& relation, const std::string& field) {
  const TFieldNode* node = Find(relation, field);
  return node != nullptr && node->Computed;
}

bool TSchema::IsKeyColumn(const std::string& relation, const std::string& field) {
  const TFieldNode* node = Find(relation, field);
  return node != nullptr && node->InKey;
}

TFieldNode* TSchema::FindNode(TRelationNode& node, std::string_view field) {
  for (TFieldNode& entry : node.Fields) {
    if (rt::SameText(entry.FieldName, field)) return &entry;
  }
  return nullptr;
}

const TFieldNode* TSchema::Find(const std::string& relation, const std::string& field) {
  TRelationNode* node = nullptr;
  for (const auto& entry : relations_) {
    if (rt::SameText(entry->RelationName, relation)) {
      node = entry.get();
      break;
    }
  }
  if (node == nullptr) node = &Load(relation);
  // The answer needs the column's name exactly as the catalogue spells it.
  for (const TFieldNode& entry : node->Fields) {
    if (entry.FieldName == field) return &entry;
  }
  return nullptr;
}

TSchema::TRelationNode& TSchema::Load(const std::string& relation) {
  auto node = std::make_unique<TRelationNode>();
  node->RelationName = relation;
  TIBTransaction* transaction = database_->InternalTransaction();
  const bool started = !transaction->Active();
  if (started) transaction->Start();
  try {
    columnQuery_->Params()[0].SetTextValue(relation);
    columnQuery_->ExecQuery();
    while (TIBXSQLDA* row = columnQuery_->FetchNext()) {
      TFieldNode entry;
      entry.FieldName = rt::TrimRight((*row)[3].TextValue());
      entry.Computed = !(*row)[0].IsNull();
      entry.HasDefault = !(*row)[1].IsNull() || !(*row)[2].IsNull();
      node->Fields.push_back(std::move(entry));
    }
    columnQuery_->Close();

    keyQuery_->Params()[0].SetTextValue(relation);
    keyQuery_->ExecQuery();
    while (TIBXSQLDA* row = keyQuery_->FetchNext()) {
      const std::string name = rt::TrimRight((*row)[0].TextValue());
      if (TFieldNode* existing = FindNode(*node, name)) {
        existing->InKey = true;
      } else {
        TFieldNode entry;
        entry.FieldName = name;
        entry.InKey = true;
        node->Fields.push_back(std::move(entry));
      }
    }
    keyQuery_->Close();
    if (started) transaction->Commit();
  } catch (...) {
    // A table that could not be read is not remembered, so the next question tries again.
    try {
      columnQuery_->Close();
      keyQuery_->Close();
      if (started && transaction->Active()) transaction->Rollback();
    } catch (...) {
    }
    throw;
  }
  ++relationsLoaded_;
  relations_.push_back(std::move(node));
  return *relations_.back();
}
