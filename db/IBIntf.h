// Binding of the database client library.
//
// The client library is never linked at build time: it is opened with dlopen when the first
// database component is created, and every entry point the database client knows is looked up
// by name into one table of function pointers. Invariants:
//  - the library counts as loaded only after every mandatory entry point has resolved, so no
//    unresolved pointer is ever called;
//  - an optional entry point that the library lacks is bound to a stand-by function that raises
//    the client error naming the entry point, so every slot of a loaded table is callable (the
//    one exception is fb_interpret, the sized message reader, which stays null when absent and
//    is only used after a check);
//  - nothing unloads the shared library while the process runs.
//
// Types and constants come from the client's published C header (ibase.h).
#pragma once

#include <ibase.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace db {

// Function-pointer types of the entry points. Those of the published header are taken from
// its declarations; the few that only newer servers of the same family export (and which the
// header here does not declare) are spelled out.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#define LIRENTA_DB_DECLARED_TYPE(name) using name##_fn = decltype(&::name);
// clang-format off
#define LIRENTA_DB_DECLARED_ENTRY_POINTS(X)                                                      \
  X(BLOB_get) X(BLOB_put) X(isc_sqlcode) X(isc_sql_interprete) X(isc_interprete)                \
  X(isc_vax_integer) X(isc_blob_info) X(isc_open_blob2) X(isc_close_blob) X(isc_get_segment)    \
  X(isc_put_segment) X(isc_create_blob2) X(isc_cancel_blob) X(isc_array_gen_sdl)                \
  X(isc_array_get_slice) X(isc_array_lookup_bounds) X(isc_array_lookup_desc)                    \
  X(isc_array_set_desc) X(isc_array_put_slice) X(isc_blob_default_desc) X(isc_blob_gen_bpb)     \
  X(isc_blob_lookup_desc) X(isc_blob_set_desc) X(isc_decode_date) X(isc_encode_date)            \
  X(isc_dsql_free_statement) X(isc_dsql_execute2) X(isc_dsql_execute)                           \
  X(isc_dsql_set_cursor_name) X(isc_dsql_fetch) X(isc_dsql_sql_info)                            \
  X(isc_dsql_alloc_statement2) X(isc_dsql_prepare) X(isc_dsql_describe_bind)                    \
  X(isc_dsql_describe) X(isc_dsql_execute_immediate) X(isc_drop_database)                       \
  X(isc_detach_database) X(isc_attach_database) X(isc_database_info) X(isc_start_multiple)      \
  X(isc_commit_transaction) X(isc_commit_retaining) X(isc_rollback_transaction)                 \
  X(isc_cancel_events) X(isc_que_events) X(isc_event_counts) X(isc_event_block) X(isc_free)     \
  X(isc_add_user) X(isc_delete_user) X(isc_modify_user) X(isc_prepare_transaction)              \
  X(isc_prepare_transaction2)                                                                   \
  /* version 6.0 */                                                                             \
  X(isc_rollback_retaining) X(isc_service_attach) X(isc_service_detach) X(isc_service_query)    \
  X(isc_service_start) X(isc_decode_sql_date) X(isc_decode_sql_time) X(isc_decode_timestamp)    \
  X(isc_encode_sql_date) X(isc_encode_sql_time) X(isc_encode_timestamp)                         \
  /* version query */                                                                           \
  X(isc_get_client_version) X(isc_get_client_major_version) X(isc_get_client_minor_version)     \
  /* status text with the buffer's size */                                                      \
  X(fb_interpret)
// clang-format on
LIRENTA_DB_DECLARED_ENTRY_POINTS(LIRENTA_DB_DECLARED_TYPE)
#undef LIRENTA_DB_DECLARED_TYPE
#pragma GCC diagnostic pop

// Array and blob descriptors of the 7.0 entry points are opaque here: nothing on this platform
// exports those entry points, so only their stand-by functions are ever bound.
using isc_array_gen_sdl2_fn = ISC_STATUS (*)(ISC_STATUS*, const void*, ISC_SHORT*, ISC_UCHAR*,
                                             ISC_SHORT*);
using isc_array_get_slice2_fn = ISC_STATUS (*)(ISC_STATUS*, isc_db_handle*, isc_tr_handle*,
                                               ISC_QUAD*, const void*, void*, ISC_LONG*);
using isc_array_lookup_bounds2_fn = ISC_STATUS (*)(ISC_STATUS*, isc_db_handle*, isc_tr_handle*,
                                                   const ISC_SCHAR*, const ISC_SCHAR*, void*);
using isc_array_lookup_desc2_fn = ISC_STATUS (*)(ISC_STATUS*, isc_db_handle*, isc_tr_handle*,
                                                 const ISC_SCHAR*, const ISC_SCHAR*, void*);
using isc_array_set_desc2_fn = ISC_STATUS (*)(ISC_STATUS*, const ISC_SCHAR*, const ISC_SCHAR*,
                                              const short*, const short*, const short*, void*);
using isc_array_put_slice2_fn = ISC_STATUS (*)(ISC_STATUS*, isc_db_handle*, isc_tr_handle*,
                                               ISC_QUAD*, const void*, void*, ISC_LONG*);
using isc_blob_default_desc2_fn = void (*)(void*, const ISC_UCHAR*, const ISC_UCHAR*);
using isc_blob_gen_bpb2_fn = ISC_STATUS (*)(ISC_STATUS*, const void*, const void*, unsigned short,
                                            ISC_UCHAR*, unsigned short*);
using isc_blob_lookup_desc2_fn = ISC_STATUS (*)(ISC_STATUS*, isc_db_handle*, isc_tr_handle*,
                                                const ISC_UCHAR*, const ISC_UCHAR*, void*,
                                                ISC_UCHAR*);
using isc_blob_set_desc2_fn = ISC_STATUS (*)(ISC_STATUS*, const ISC_UCHAR*, const ISC_UCHAR*, short,
                                             short, short, void*);
using isc_release_savepoint_fn = ISC_STATUS (*)(ISC_STATUS*, isc_tr_handle*, const ISC_SCHAR*);
using isc_rollback_savepoint_fn = ISC_STATUS (*)(ISC_STATUS*, isc_tr_handle*, const ISC_SCHAR*,
                                                 unsigned short);
using isc_start_savepoint_fn = ISC_STATUS (*)(ISC_STATUS*, isc_tr_handle*, const ISC_SCHAR*);
// The XML fetch entry points of the separate extension library.
using isc_dsql_xml_fetch_fn = int (*)(ISC_STATUS*, isc_stmt_handle*, unsigned short, XSQLDA*,
                                      void*);
using isc_dsql_xml_fetch_all_fn = int (*)(ISC_STATUS*, isc_stmt_handle*, unsigned short, XSQLDA*,
                                          void*);
using isc_dsql_xml_buffer_fetch_fn = int (*)(ISC_STATUS*, isc_stmt_handle*, ISC_SCHAR*, int,
                                             unsigned short, XSQLDA*, void*);

// clang-format off
#define LIRENTA_DB_EXTENDED_ENTRY_POINTS(X)                                                      \
  X(isc_array_gen_sdl2) X(isc_array_get_slice2) X(isc_array_lookup_bounds2)                     \
  X(isc_array_lookup_desc2) X(isc_array_set_desc2) X(isc_array_put_slice2)                      \
  X(isc_blob_default_desc2) X(isc_blob_gen_bpb2) X(isc_blob_lookup_desc2) X(isc_blob_set_desc2) \
  X(isc_release_savepoint) X(isc_rollback_savepoint) X(isc_start_savepoint)                     \
  X(isc_dsql_xml_fetch) X(isc_dsql_xml_fetch_all) X(isc_dsql_xml_buffer_fetch)
// clang-format on

#define LIRENTA_DB_ALL_ENTRY_POINTS(X) \
  LIRENTA_DB_DECLARED_ENTRY_POINTS(X) LIRENTA_DB_EXTENDED_ENTRY_POINTS(X)

// The table: one function pointer per entry point, all null until a load completes.
struct TGDSEntryPoints {
#define LIRENTA_DB_SLOT(name) name##_fn name = nullptr;
  LIRENTA_DB_ALL_ENTRY_POINTS(LIRENTA_DB_SLOT)
#undef LIRENTA_DB_SLOT
};

// Client versions are fixed-point decimals with four fractional digits (6.0 is 60000).
using TClientVersion = int64_t;
constexpr TClientVersion kClientVersionScale = 10000;
// The version from which retaining rollback exists.
constexpr TClientVersion kClientVersion60 = 60000;
// The version from which the 300-byte descriptor entries and the 7.0 entry points exist.
constexpr TClientVersion kClientVersion70 = 70000;
// The version from which the savepoint entry points exist.
constexpr TClientVersion kClientVersion71 = 71000;

// An information answer (isc_database_info, isc_dsql_sql_info) starts with the item asked for,
// then the value's length in 2 bytes (read with isc_vax_integer), then the value.
constexpr int kInfoLengthOffset = 1;
constexpr short kInfoLengthSize = 2;
constexpr int kInfoValueOffset = 3;

// File names tried, in order, for the client library (the platform's search path applies).
inline const std::vector<std::string>& DefaultClientLibraryNames() {
  static const std::vector<std::string> names{"libfbclient.so.2", "libfbclient.so"};
  return names;
}

}  // namespace db

// The client library as the rest of the database client sees it. Every server call of every
// database object goes through the forwarding operations below, which call the table entry of
// the same name with the published C parameters and return what the entry point returns.
class IGDSLibrary {
 public:
  virtual ~IGDSLibrary() = default;

  // Loads the library and resolves the table; a library that cannot be opened is no error here.
  virtual void LoadClientLibrary() = 0;
  virtual void FreeClientLibrary() = 0;
  // True when the library is loaded, trying to load it first when it is not.
  virtual bool TryLoadClientLibrary() = 0;
  // Raises client error 1 when the library cannot be loaded.
  virtual void CheckClientLibraryLoaded() = 0;
  // The client version (scaled by 10 000) after CheckClientLibraryLoaded.
  virtual db::TClientVersion GetClientVersion() = 0;

  // The resolved table (every slot callable once loaded).
  const db::TGDSEntryPoints& EntryPoints() const { return entries_; }

#define LIRENTA_DB_FORWARD(name)                       \
  template <class... Args>                             \
  decltype(auto) name(Args&&... args) const {          \
    return entries_.name(std::forward<Args>(args)...); \
  }
  LIRENTA_DB_ALL_ENTRY_POINTS(LIRENTA_DB_FORWARD)
#undef LIRENTA_DB_FORWARD

 protected:
  db::TGDSEntryPoints entries_;
};

// The loader of the client library. The process-wide instance (GetClientLibrary) opens the
// platform's client library; tests construct their own with other file names.
class TDynamicLibrary : public IGDSLibrary {
 public:
  explicit TDynamicLibrary(std::vector<std::string> fileNames = db::DefaultClientLibraryNames());
  // Releasing the object does not unload the library (see FreeClientLibrary).
  ~TDynamicLibrary() override = default;
  TDynamicLibrary(const TDynamicLibrary&) = delete;
  TDynamicLibrary& operator=(const TDynamicLibrary&) = delete;

  void LoadClientLibrary() override;
  void FreeClientLibrary() override;
  bool TryLoadClientLibrary() override;
  void CheckClientLibraryLoaded() override;
  db::TClientVersion GetClientVersion() override;

  // The module handle; null while not loaded.
  void* ModuleHandle() const { return module_; }
  // How many times the library file was opened successfully (one per load).
  int LoadCount() const { return loadCount_; }

 private:
  std::vector<std::string> fileNames_;
  void* module_ = nullptr;
  void* xmlModule_ = nullptr;
  db::TClientVersion clientVersion_ = 0;
  int loadCount_ = 0;
};

// The shared client library of the process: created on the first call, never loaded by it.
std::shared_ptr<IGDSLibrary> GetClientLibrary();
