// The column-information cache of a database: for each table it was asked about, which columns
// are computed, which have a default value and which belong to the primary key.
//
// The database owns its cache through the TIBSchema interface and empties it when its name
// changes; TSchema is the cache the dataset layer installs on first use.
//
// A table is loaded on its first question by two catalogue statements run in the database's
// internal transaction; later questions about it are answered from memory until the cache is
// cleared (when the database name changes) or the database goes away.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

class TIBDatabase;
class TIBSQL;

// The column-information cache as the database sees it.
class TIBSchema {
 public:
  virtual ~TIBSchema() = default;
  virtual void ClearColumnCache() = 0;
  virtual bool HasDefaultValue(const std::string& relation, const std::string& field) = 0;
  virtual bool IsComputedColumn(const std::string& relation, const std::string& field) = 0;
  virtual bool IsKeyColumn(const std::string& relation, const std::string& field) = 0;
};

// One column of a cached table.
struct TFieldNode {
  std::string FieldName;
  bool Computed = false;
  bool HasDefault = false;
  bool InKey = false;
};

class TSchema : public TIBSchema {
 public:
  explicit TSchema(TIBDatabase* database);
  ~TSchema() override;
  TSchema(const TSchema&) = delete;
  TSchema& operator=(const TSchema&) = delete;

  void ClearColumnCache() override;
  bool HasDefaultValue(const std::string& relation, const std::string& field) override;
  bool IsComputedColumn(const std::string& relation, const std::string& field) override;
  bool IsKeyColumn(const std::string& relation, const std::string& field) override;

  // Tables loaded from the catalogue since the cache was created (each costs two statements).
  int RelationsLoaded() const { return relationsLoaded_; }

  // The database's cache, installed on first use.
  static TIBSchema& Of(TIBDatabase& database);

 private:
  struct TRelationNode {
    std::string RelationName;
    std::vector<TFieldNode> Fields;
  };

  // The entry of `field` in `relation` (loading the table first when needed), or nullptr.
  const TFieldNode* Find(const std::string& relation, const std::string& field);
  TRelationNode& Load(const std::string& relation);
  static TFieldNode* FindNode(TRelationNode& node, std::string_view field);

  TIBDatabase* database_;
  std::vector<std::unique_ptr<TRelationNode>> relations_;
  std::unique_ptr<TIBSQL> columnQuery_;
  std::unique_ptr<TIBSQL> keyQuery_;
  int relationsLoaded_ = 0;
};
