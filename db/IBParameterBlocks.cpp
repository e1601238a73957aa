#include "db/IBParameterBlocks.h"

#include <ibase.h>

#include <array>
#include <cstdint>
#include <string_view>

#include "db/IBErrors.h"
#include "runtime/Text.h"

using db::ClientError;
using db::RaiseClientError;

namespace {

// One parameter name as Params lines spell it and its code in the client API.
struct ParameterName {
  const char* Name;
  int Code;
};

constexpr ParameterName Named(const char* name, int code) {
  return ParameterName{name, code};
}

// Each entry pairs a name with the client API's constant of that name.
#define LIRENTA_DB_DPB(name) Named(#name, isc_dpb_##name)
#define LIRENTA_DB_TPB(name) Named(#name, isc_tpb_##name)

// The database parameters the names can stand for (isc_dpb_cdd_pathname to
// isc_dpb_gstat_attach).
constexpr std::array kDPBNames{LIRENTA_DB_DPB(cdd_pathname),
                               LIRENTA_DB_DPB(allocation),
                               LIRENTA_DB_DPB(journal),
                               LIRENTA_DB_DPB(page_size),
                               LIRENTA_DB_DPB(num_buffers),
                               LIRENTA_DB_DPB(buffer_length),
                               LIRENTA_DB_DPB(debug),
                               LIRENTA_DB_DPB(garbage_collect),
                               LIRENTA_DB_DPB(verify),
                               LIRENTA_DB_DPB(sweep),
                               LIRENTA_DB_DPB(enable_journal),
                               LIRENTA_DB_DPB(disable_journal),
                               LIRENTA_DB_DPB(dbkey_scope),
                               LIRENTA_DB_DPB(number_of_users),
                               LIRENTA_DB_DPB(trace),
                               LIRENTA_DB_DPB(no_garbage_collect),
                               LIRENTA_DB_DPB(damaged),
                               LIRENTA_DB_DPB(license),
                               LIRENTA_DB_DPB(sys_user_name),
                               LIRENTA_DB_DPB(encrypt_key),
                               LIRENTA_DB_DPB(activate_shadow),
                               LIRENTA_DB_DPB(sweep_interval),
                               LIRENTA_DB_DPB(delete_shadow),
                               LIRENTA_DB_DPB(force_write),
                               LIRENTA_DB_DPB(begin_log),
                               LIRENTA_DB_DPB(quit_log),
                               LIRENTA_DB_DPB(no_reserve),
                               LIRENTA_DB_DPB(user_name),
                               LIRENTA_DB_DPB(password),
                               LIRENTA_DB_DPB(password_enc),
                               LIRENTA_DB_DPB(sys_user_name_enc),
                               LIRENTA_DB_DPB(interp),
                               LIRENTA_DB_DPB(online_dump),
                               LIRENTA_DB_DPB(old_file_size),
                               LIRENTA_DB_DPB(old_num_files),
                               LIRENTA_DB_DPB(old_file),
                               LIRENTA_DB_DPB(old_start_page),
                               LIRENTA_DB_DPB(old_start_seqno),
                               LIRENTA_DB_DPB(old_start_file),
                               LIRENTA_DB_DPB(drop_walfile),
                               LIRENTA_DB_DPB(old_dump_id),
                               LIRENTA_DB_DPB(wal_backup_dir),
                               LIRENTA_DB_DPB(wal_chkptlen),
                               LIRENTA_DB_DPB(wal_numbufs),
                               LIRENTA_DB_DPB(wal_bufsize),
                               LIRENTA_DB_DPB(wal_grp_cmt_wait),
                               LIRENTA_DB_DPB(lc_messages),
                               LIRENTA_DB_DPB(lc_ctype),
                               LIRENTA_DB_DPB(cache_manager),
                               LIRENTA_DB_DPB(shutdown),
                               LIRENTA_DB_DPB(online),
                               LIRENTA_DB_DPB(shutdown_delay),
                               LIRENTA_DB_DPB(reserved),
                               LIRENTA_DB_DPB(overwrite),
                               LIRENTA_DB_DPB(sec_attach),
                               LIRENTA_DB_DPB(disable_wal),
                               LIRENTA_DB_DPB(connect_timeout),
                               LIRENTA_DB_DPB(dummy_packet_interval),
                               LIRENTA_DB_DPB(gbak_attach),
                               LIRENTA_DB_DPB(sql_role_name),
                               LIRENTA_DB_DPB(set_page_buffers),
                               LIRENTA_DB_DPB(working_directory),
                               LIRENTA_DB_DPB(sql_dialect),
                               LIRENTA_DB_DPB(set_db_readonly),
                               LIRENTA_DB_DPB(set_db_sql_dialect),
                               LIRENTA_DB_DPB(gfix_attach),
                               LIRENTA_DB_DPB(gstat_attach)};

// The transaction parameters the names can stand for (isc_tpb_consistency to
// isc_tpb_no_auto_undo).
constexpr std::array kTPBNames{
    LIRENTA_DB_TPB(consistency),      LIRENTA_DB_TPB(concurrency),  LIRENTA_DB_TPB(shared),
    LIRENTA_DB_TPB(protected),        LIRENTA_DB_TPB(exclusive),    LIRENTA_DB_TPB(wait),
    LIRENTA_DB_TPB(nowait),           LIRENTA_DB_TPB(read),         LIRENTA_DB_TPB(write),
    LIRENTA_DB_TPB(lock_read),        LIRENTA_DB_TPB(lock_write),   LIRENTA_DB_TPB(verb_time),
    LIRENTA_DB_TPB(commit_time),      LIRENTA_DB_TPB(ignore_limbo), LIRENTA_DB_TPB(read_committed),
    LIRENTA_DB_TPB(autocommit),       LIRENTA_DB_TPB(rec_version),  LIRENTA_DB_TPB(no_rec_version),
    LIRENTA_DB_TPB(restart_requests), LIRENTA_DB_TPB(no_auto_undo)};

#undef LIRENTA_DB_DPB
#undef LIRENTA_DB_TPB

// Each table lists the client API's codes from 1 up without a gap, so no code is left out.
template <std::size_t N>
constexpr bool CodesRunFromOne(const std::array<ParameterName, N>& names) {
  for (std::size_t i = 0; i < N; ++i)
    if (names[i].Code != static_cast<int>(i) + 1) return false;
  return true;
}
static_assert(CodesRunFromOne(kDPBNames) && kDPBNames.size() == isc_dpb_gstat_attach);
static_assert(CodesRunFromOne(kTPBNames) && kTPBNames.size() == isc_tpb_no_auto_undo);

// A name may carry the constant's prefix.
constexpr std::string_view kDPBPrefix = "isc_dpb_";
constexpr std::string_view kTPBPrefix = "isc_tpb_";
// A clump's value length is one byte.
constexpr std::size_t kMaxClumpValueLength = 255;
// The clump of a parameter with a one-byte value: code, this length, the value.
constexpr char kOneByteValue = 1;

template <std::size_t N>
const ParameterName* LookupName(const std::array<ParameterName, N>& names, const std::string& key) {
  for (const ParameterName& entry : names)
    if (key == entry.Name) return &entry;
  return nullptr;
}

// The lower-cased name without its prefix.
std::string ParameterKey(const std::string& name, std::string_view prefix) {
  std::string key = rt::LowerCase(name);
  if (key.compare(0, prefix.size(), prefix) == 0) key.erase(0, prefix.size());
  return key;
}

}  // namespace

namespace db {

ParameterLine SplitParameterLine(const std::string& line) {
  ParameterLine parts;
  const std::size_t eq = line.find('=');
  parts.HasValue = eq != std::string::npos;
  if (parts.HasValue) {
    parts.Name = line.substr(0, eq);
    parts.Value = line.substr(eq + 1);
  }
  return parts;
}

std::string BuildDPB(const std::vector<std::string>& params) {
  std::string dpb(1, static_cast<char>(isc_dpb_version1));
  for (const std::string& line : params) {
    ParameterLine parts = SplitParameterLine(line);
    const std::string& name = parts.Name;
    std::string& value = parts.Value;
    if (rt::Trim(name).empty()) continue;
    const ParameterName* entry = LookupName(kDPBNames, ParameterKey(name, kDPBPrefix));
    if (entry == nullptr) RaiseClientError(ClientError::DPBConstantUnknownEx, {name});
    const int code = entry->Code;
    switch (code) {
      case isc_dpb_license:
      case isc_dpb_sys_user_name:
      case isc_dpb_encrypt_key:
      case isc_dpb_user_name:
      case isc_dpb_password:
      case isc_dpb_password_enc:
      case isc_dpb_lc_messages:
      case isc_dpb_lc_ctype:
      case isc_dpb_sql_role_name:
      case isc_dpb_sql_dialect: {
        // A longer value would not fit its length byte and spill into the following clumps.
        if (value.size() > kMaxClumpValueLength)
          RaiseClientError(ClientError::DPBConstantNotSupported, {entry->Name});
        if (code == isc_dpb_sql_dialect && !value.empty())
          value[0] = static_cast<char>(static_cast<unsigned char>(value[0]) - '0');
        dpb += static_cast<char>(code);
        dpb += static_cast<char>(value.size());
        dpb += value;
        break;
      }
      case isc_dpb_num_buffers:
      case isc_dpb_verify:
      case isc_dpb_dbkey_scope:
      case isc_dpb_damaged:
      case isc_dpb_force_write:
      case isc_dpb_no_reserve: {
        const int32_t number = rt::StrToInt(value);
        dpb += static_cast<char>(code);
        dpb += kOneByteValue;
        dpb += static_cast<char>(number & 0xFF);
        break;
      }
      case isc_dpb_sweep:
        dpb += static_cast<char>(code);
        dpb += kOneByteValue;
        dpb += static_cast<char>(isc_dpb_records);
        break;
      case isc_dpb_activate_shadow:
      case isc_dpb_delete_shadow:
      case isc_dpb_begin_log:
      case isc_dpb_quit_log:
        dpb += static_cast<char>(code);
        dpb += kOneByteValue;
        dpb += static_cast<char>(0);
        break;
      case isc_dpb_sweep_interval: {
        const uint32_t number = static_cast<uint32_t>(rt::StrToInt(value));
        dpb += static_cast<char>(code);
        dpb += static_cast<char>(sizeof number);
        for (std::size_t shift = 0; shift < 8 * sizeof number; shift += 8)
          dpb += static_cast<char>((number >> shift) & 0xFF);
        break;
      }
      default:
        RaiseClientError(ClientError::DPBConstantNotSupported, {entry->Name});
    }
  }
  return dpb;
}

std::string BuildTPB(const std::vector<std::string>& params) {
  if (params.empty()) return {};
  std::string tpb(1, static_cast<char>(isc_tpb_version3));
  for (const std::string& line : params) {
    if (rt::Trim(line).empty()) continue;
    const ParameterLine parts = SplitParameterLine(line);
    const std::string& name = parts.HasValue ? parts.Name : line;
    const std::string& value = parts.Value;
    const ParameterName* entry = LookupName(kTPBNames, ParameterKey(name, kTPBPrefix));
    if (entry == nullptr) RaiseClientError(ClientError::TPBConstantUnknownEx, {name});
    const int code = entry->Code;
    switch (code) {
      case isc_tpb_verb_time:
      case isc_tpb_commit_time:
      case isc_tpb_autocommit:
        RaiseClientError(ClientError::TPBConstantNotSupported, {entry->Name});
      case isc_tpb_lock_read:
      case isc_tpb_lock_write:
        // A longer table name would not fit its length byte.
        if (value.size() > kMaxClumpValueLength)
          RaiseClientError(ClientError::TPBConstantNotSupported, {entry->Name});
        tpb += static_cast<char>(code);
        tpb += static_cast<char>(value.size());
        tpb += value;
        break;
      default:
        tpb += static_cast<char>(code);
        break;
    }
  }
  return tpb;
}

}  // namespace db
