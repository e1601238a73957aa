#include "db/IBIntf.h"

#include <dlfcn.h>

#include <cerrno>
#include <mutex>

#include "db/IBErrors.h"
#include "runtime/OSError.h"

namespace db {
namespace {

// dlsym reports no error number; a missing entry point is reported as the errno that means
// "function not implemented", with dlerror's text.
constexpr int kEntryPointMissingCode = ENOSYS;
// The version of a client without retaining rollback.
constexpr TClientVersion kClientVersion50 = 50000;

// Entry-point names as template arguments of the stand-by functions.
// Only the entry points that have stand-by functions use their names.
#define LIRENTA_DB_NAME(name) [[maybe_unused]] constexpr char k_##name[] = #name;
LIRENTA_DB_ALL_ENTRY_POINTS(LIRENTA_DB_NAME)
#undef LIRENTA_DB_NAME

// Which message a stand-by function raises.
enum class StandByKind { IB60, IB65, IB70, IB71 };

[[noreturn]] void RaiseStandBy(StandByKind kind, const char* name) {
  switch (kind) {
    case StandByKind::IB60:
      RaiseClientError(ClientError::IB60Feature, {name});
    case StandByKind::IB65:
      throw EIBClientError(ClientErrorMessage(ClientError::IB65Feature, {std::string(name) + " "}));
    case StandByKind::IB70:
      throw EIBClientError(ClientErrorMessage(ClientError::IB70Feature, {std::string(name) + " "}));
    case StandByKind::IB71:
      break;
  }
  throw EIBClientError(FormatMessage(
      "%s is an InterBase 7.1 function. Please upgrade to InterBase 7.1 to use this functonality",
      {std::string(name) + " "}));
}

// A function of the entry point's own type that raises the stand-by message when called.
template <class F>
struct StandBy;
template <class R, class... A>
struct StandBy<R (*)(A...)> {
  template <const char* Name, StandByKind Kind>
  static R Call(A...) {
    RaiseStandBy(Kind, Name);
  }
};

template <const char* Name, StandByKind Kind, class F>
void BindStandBy(F& slot) {
  slot = &StandBy<F>::template Call<Name, Kind>;
}

// Resolves the entry points of one library into a table; the table is only handed out when
// every mandatory entry point resolved.
class Resolver {
 public:
  explicit Resolver(void* module) : module_(module) {}

  template <class F>
  void Mandatory(F& slot, const char* name) {
    dlerror();
    void* address = dlsym(module_, name);
    if (!address) {
      const char* text = dlerror();
      throw EOSError(kEntryPointMissingCode,
                     text ? std::string(text) : std::string("undefined symbol: ") + name);
    }
    slot = reinterpret_cast<F>(address);
  }

  template <class F>
  bool Optional(F& slot, const char* name) {
    void* address = dlsym(module_, name);
    if (!address) return false;
    slot = reinterpret_cast<F>(address);
    return true;
  }

 private:
  void* module_;
};

}  // namespace
}  // namespace db

TDynamicLibrary::TDynamicLibrary(std::vector<std::string> fileNames)
    : fileNames_(std::move(fileNames)) {}

void TDynamicLibrary::LoadClientLibrary() {
  using namespace db;
  void* module = nullptr;
  for (const std::string& name : fileNames_) {
    module = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module) break;
  }
  if (!module) return;

  TGDSEntryPoints t;
  TClientVersion version = 0;
  try {
    Resolver r(module);
    // clang-format off
#define M(name) r.Mandatory(t.name, #name);
    M(BLOB_get) M(BLOB_put) M(isc_sqlcode) M(isc_sql_interprete) M(isc_interprete)
    M(isc_vax_integer) M(isc_blob_info) M(isc_open_blob2) M(isc_close_blob) M(isc_get_segment)
    M(isc_put_segment) M(isc_create_blob2) M(isc_cancel_blob) M(isc_array_gen_sdl)
    M(isc_array_get_slice) M(isc_array_lookup_bounds) M(isc_array_lookup_desc)
    M(isc_array_set_desc) M(isc_array_put_slice) M(isc_blob_default_desc) M(isc_blob_gen_bpb)
    M(isc_blob_lookup_desc) M(isc_blob_set_desc) M(isc_decode_date) M(isc_encode_date)
    M(isc_dsql_free_statement) M(isc_dsql_execute2) M(isc_dsql_execute)
    M(isc_dsql_set_cursor_name) M(isc_dsql_fetch) M(isc_dsql_sql_info)
    M(isc_dsql_alloc_statement2) M(isc_dsql_prepare) M(isc_dsql_describe_bind)
    M(isc_dsql_describe) M(isc_dsql_execute_immediate) M(isc_drop_database)
    M(isc_detach_database) M(isc_attach_database) M(isc_database_info) M(isc_start_multiple)
    M(isc_commit_transaction) M(isc_commit_retaining) M(isc_rollback_transaction)
    M(isc_cancel_events) M(isc_que_events) M(isc_event_counts) M(isc_event_block) M(isc_free)
    M(isc_add_user) M(isc_delete_user) M(isc_modify_user) M(isc_prepare_transaction)
    M(isc_prepare_transaction2)

    // Retaining rollback marks a 6.0 client, which has the service and SQL date entry points.
    if (r.Optional(t.isc_rollback_retaining, "isc_rollback_retaining")) {
      version = kClientVersion60;
      M(isc_service_attach) M(isc_service_detach) M(isc_service_query) M(isc_service_start)
      M(isc_decode_sql_date) M(isc_decode_sql_time) M(isc_decode_timestamp)
      M(isc_encode_sql_date) M(isc_encode_sql_time) M(isc_encode_timestamp)
    } else {
      version = kClientVersion50;
#define S60(name) BindStandBy<k_##name, StandByKind::IB60>(t.name);
      S60(isc_rollback_retaining) S60(isc_service_attach) S60(isc_service_detach)
      S60(isc_service_query) S60(isc_service_start) S60(isc_decode_sql_date)
      S60(isc_decode_sql_time) S60(isc_decode_timestamp) S60(isc_encode_sql_date)
      S60(isc_encode_sql_time) S60(isc_encode_timestamp)
#undef S60
    }

#define S70(name) BindStandBy<k_##name, StandByKind::IB70>(t.name);
    if (r.Optional(t.isc_get_client_version, "isc_get_client_version")) {
      M(isc_get_client_major_version) M(isc_get_client_minor_version)
      const int major = t.isc_get_client_major_version();
      const int minor = t.isc_get_client_minor_version();
      // major + minor / 10 in the four-decimal fixed point.
      version = static_cast<TClientVersion>(major) * kClientVersionScale +
                static_cast<TClientVersion>(minor) * (kClientVersionScale / 10);
    } else {
      S70(isc_get_client_version) S70(isc_get_client_major_version)
      S70(isc_get_client_minor_version)
    }

    if (version >= kClientVersion70) {
      M(isc_array_gen_sdl2) M(isc_array_get_slice2) M(isc_array_lookup_bounds2)
      M(isc_array_lookup_desc2) M(isc_array_set_desc2) M(isc_array_put_slice2)
      M(isc_blob_default_desc2) M(isc_blob_gen_bpb2) M(isc_blob_lookup_desc2)
      M(isc_blob_set_desc2)
    } else {
      S70(isc_array_gen_sdl2) S70(isc_array_get_slice2) S70(isc_array_lookup_bounds2)
      S70(isc_array_lookup_desc2) S70(isc_array_set_desc2) S70(isc_array_put_slice2)
      S70(isc_blob_default_desc2) S70(isc_blob_gen_bpb2) S70(isc_blob_lookup_desc2)
      S70(isc_blob_set_desc2)
    }
#undef S70
    if (version >= kClientVersion71) {
      M(isc_release_savepoint) M(isc_rollback_savepoint) M(isc_start_savepoint)
    } else {
      BindStandBy<k_isc_release_savepoint, StandByKind::IB71>(t.isc_release_savepoint);
      BindStandBy<k_isc_rollback_savepoint, StandByKind::IB71>(t.isc_rollback_savepoint);
      BindStandBy<k_isc_start_savepoint, StandByKind::IB71>(t.isc_start_savepoint);
    }
#undef M

    // The XML extension library does not exist on this platform.
    BindStandBy<k_isc_dsql_xml_fetch, StandByKind::IB65>(t.isc_dsql_xml_fetch);
    BindStandBy<k_isc_dsql_xml_fetch_all, StandByKind::IB65>(t.isc_dsql_xml_fetch_all);
    BindStandBy<k_isc_dsql_xml_buffer_fetch, StandByKind::IB65>(t.isc_dsql_xml_buffer_fetch);

    // The sized message reader, where the library has one (the error unit falls back on
    // isc_interprete when this slot stays empty).
    r.Optional(t.fb_interpret, "fb_interpret");
    // clang-format on
  } catch (...) {
    dlclose(module);
    throw;
  }

  entries_ = t;
  clientVersion_ = version;
  module_ = module;
  ++loadCount_;
}

void TDynamicLibrary::FreeClientLibrary() {
  if (module_) dlclose(module_);
  if (xmlModule_) dlclose(xmlModule_);
  module_ = nullptr;
  xmlModule_ = nullptr;
  entries_ = db::TGDSEntryPoints{};
}

bool TDynamicLibrary::TryLoadClientLibrary() {
  if (!module_) LoadClientLibrary();
  return module_ != nullptr;
}

void TDynamicLibrary::CheckClientLibraryLoaded() {
  if (!TryLoadClientLibrary()) db::RaiseClientError(db::ClientError::LibraryNotFound);
}

db::TClientVersion TDynamicLibrary::GetClientVersion() {
  CheckClientLibraryLoaded();
  return clientVersion_;
}

std::shared_ptr<IGDSLibrary> GetClientLibrary() {
  // Components are created on one thread, but a lock costs nothing here and keeps the first
  // creation single.
  static std::mutex mutex;
  static std::shared_ptr<IGDSLibrary> library;
  std::lock_guard<std::mutex> lock(mutex);
  if (!library) library = std::make_shared<TDynamicLibrary>();
  return library;
}
