// The link of one statement or dataset to its database and its transaction (TIBBase), the
// object that owns such a link (TIBBaseOwner), and the slot lists in which a database and a
// transaction keep the links and each other.
//
// Invariants:
//  - a TIBBase is listed by its database and by its transaction exactly while it links to them;
//    whichever side is destroyed first removes itself from the other, so no list ever holds a
//    dangling pointer;
//  - list slots of removed entries stay empty (nullptr) and are reused lowest first, so the
//    index an object was given stays valid until it leaves.
#pragma once

#include <ibase.h>

#include <cstddef>
#include <functional>
#include <vector>

class TIBDatabase;
class TIBTransaction;

using TNotifyEvent = std::function<void()>;

// The object that owns a TIBBase link: a statement or a dataset.
class TIBBaseOwner {
 public:
  virtual ~TIBBaseOwner() = default;
  // The owner's published Database property (a transaction hands its new default database to
  // the statements that have none through it).
  virtual void SetDatabase(TIBDatabase* value) = 0;
  // Datasets are registered as clients of the database and tell whether they are open; a
  // transaction's automatic stop waits for its open datasets.
  virtual bool IsDataSet() const { return false; }
  virtual bool IsOpenDataSet() const { return false; }
  // The database's connect (true) and disconnect (false) notification of client datasets.
  virtual void ConnectChange(bool /*connecting*/) {}
};

// The link of one statement or dataset to its database and transaction.
class TIBBase {
 public:
  explicit TIBBase(TIBBaseOwner* owner);
  virtual ~TIBBase();
  TIBBase(const TIBBase&) = delete;
  TIBBase& operator=(const TIBBase&) = delete;

  // Notifications, each calling its hook when set.
  virtual void DoDatabaseClosing();    // before the database detaches
  virtual void DoDatabaseClosed();     // after it detached
  virtual void DoDatabaseFreed();      // the database is destroyed; then the link drops it
  virtual void DoTransactionEnding();  // before a commit or rollback
  virtual void DoTransactionEnded();   // after it
  virtual void DoTransactionFreed();   // the transaction is destroyed; then the link drops it

  // RequireDatabase, then the address of the database's handle.
  virtual isc_db_handle* DBHandle();
  // RequireTransaction, then the address of the transaction's handle.
  virtual isc_tr_handle* TRHandle();
  virtual void SetDatabase(TIBDatabase* value);
  virtual void SetTransaction(TIBTransaction* value);
  // Client error 24 without a database, then the database's RequireOpen.
  virtual void RequireDatabase();
  // Client error 25 without a transaction, then the transaction's RequireActive.
  virtual void RequireTransaction();

  // The other side of leaving a list: the database (or transaction) has already emptied this
  // link's slot, so the link only forgets it and its index.
  void ForgetDatabase();
  void ForgetTransaction();

  TIBBaseOwner* Owner() const { return owner_; }
  TIBDatabase* Database() const { return database_; }
  TIBTransaction* Transaction() const { return transaction_; }

  // Hooks, each a method of the owner or empty.
  TNotifyEvent OnDatabaseClosing;
  TNotifyEvent OnDatabaseClosed;
  TNotifyEvent OnDatabaseFreed;
  TNotifyEvent OnTransactionEnding;
  TNotifyEvent OnTransactionEnded;
  TNotifyEvent OnTransactionFreed;

 private:
  TIBBaseOwner* owner_;
  TIBDatabase* database_ = nullptr;
  int indexInDatabase_ = -1;
  TIBTransaction* transaction_ = nullptr;
  int indexInTransaction_ = -1;
};

namespace db {

// Takes the lowest empty slot of a list, else appends; returns the slot's index.
template <class T>
int TakeSlot(std::vector<T*>& list, T* item) {
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i] == nullptr) {
      list[i] = item;
      return static_cast<int>(i);
    }
  }
  list.push_back(item);
  return static_cast<int>(list.size()) - 1;
}

// True when `index` names a slot of the list that holds an entry.
template <class T>
bool ValidSlot(const std::vector<T*>& list, int index) {
  return index >= 0 && static_cast<std::size_t>(index) < list.size() && list[index] != nullptr;
}

// The index of `item` in the list, or -1.
template <class T>
int FindSlot(const std::vector<T*>& list, const T* item) {
  for (std::size_t i = 0; i < list.size(); ++i)
    if (list[i] == item) return static_cast<int>(i);
  return -1;
}

}  // namespace db
