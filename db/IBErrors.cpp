#include "db/IBErrors.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>

#include "db/IBIntf.h"
#include "db/IBSQLMonitor.h"
#include "runtime/Text.h"

namespace db {
namespace {

// Client error codes are masked to this range before the table is read.
constexpr int kClientErrorCodeMask = 127;
// isc_interprete writes one message line into a buffer of this size.
constexpr std::size_t kInterpretBufferSize = 20480;

const std::array<std::string, kClientErrorCount>& ClientErrorTable() {
  static const std::array<std::string, kClientErrorCount> table{
      "Unknown error",
      "InterBase library gds32.dll not found in the path. Please install InterBase to use this "
      "functionality",
      "InterBase Install DLL ibinstall.dll not found in the path. Please install InterBase 6 to "
      "use this functionality",
      "%s is an InterBase 6 function. Please upgrade to InterBase 6 to use this functonality",
      "Unsupported feature",
      "Not permitted",
      "Temporary file access error",
      "Database connection timed out",
      "Cannot set database",
      "Cannot set transaction",
      "Operation cancelled at user's request",
      "DPB Constant (isc_dpb_%s) is unsupported",
      "DPB Constant (%d) is unknown",
      "TPB Constant (isc_tpb_%s) is unsupported",
      "TPB Constant (%d) is unknown",
      "Cannot perform operation -- DB is not open",
      "Cannot perform operation -- DB is currently open",
      "Database name is missing",
      "Transaction is not active",
      "Transaction is active",
      "Timeout values cannot be negative",
      "No databases are listed in transaction component",
      "Updating wrong database",
      "Updating wrong transaction. Unique transaction expected in set",
      "Database not assigned",
      "Transaction not assigned",
      "XSQLDA index out of range",
      "XSQLDA name does not exist (%s)",
      "End of file",
      "Beginning of file",
      "Invalid statement handle",
      "IBSQL Open",
      "IBSQL Closed",
      "Dataset open",
      "Dataset closed",
      "Unknown SQL Data type (%d)",
      "Invalid column index (index exceeds permitted range)",
      "Invalid parameter index (index exceeds permitted range)",
      "Invalid data conversion",
      "Column cannot be set to null (%s)",
      "Blob stream cannot be read",
      "Blob stream cannot be written",
      "Empty query",
      "Cannot \"open\" a non-select statement. Use ExecQuery",
      "No access to field \"%s\"",
      "Field \"%s\" is read-only",
      "Field \"%s\" not found",
      "Not in edit mode",
      "Cannot insert into dataset. (No insert query)",
      "Cannot post. (No update/insert query)",
      "Cannot update. (No update query)",
      "Cannot delete from dataset. (No delete query)",
      "Cannot refresh row. (No refresh query)",
      "Buffer not set",
      "Circular references not permitted",
      "SQL Parse Error:\r\n\r\n%s",
      "User abort",
      "Data set is uni-directional",
      "Cannot create shared resource. (Windows error %d)",
      "Windows API error. (Windows error %d [$%.8x])",
      "Column lists do not match",
      "Column types don't match. (From index: %d; To index: %d)",
      "Can't end a shared transaction unless it is forced and equal to the transaction's "
      "TimeoutAction",
      "Unsupported Field Type",
      "Circular DataLink Reference",
      "Empty SQL Statement",
      "use Open for a Select Statement",
      "Required Param value not set",
      "No Stored Procedure Name assigned",
      "use ExecProc for Procedure; use TQuery for Select procedures",
      "Update Failed",
      "CachedUpdates not enabled",
      "Request is not live - cannot modify",
      "No Provider",
      "No Records Affected",
      "No Table Name assigned",
      "Cannot Create Primary Index; are created automatically",
      "Cannot Drop System Index",
      "Table Name Mismatch",
      "Index Field Missing",
      "Cannot Cancel events while processing",
      "Invalid Event",
      "Exceded Maximum Event limits",
      "No Events Registered",
      "Invalid Queueing",
      "Invalid Registration",
      "Invalid Batch Move",
      "SQL Dialect Invalid",
      "SPB Constant Not supported",
      "SPB Constant Unknown",
      "Cannot perform operation -- service is not attached",
      "Cannot perform operation -- service is attached",
      "Server Name Missing",
      "Query Parameters missing or incorrect",
      "start Parameters missing or incorrect",
      "Unexpected Output buffer value",
      "Generic ServiceStart not applicable: Use Specific Procedures to set configuration params",
      "SQL Monitor Instance is already present",
      "Cannot print value",
      "SEOFReached",
      "EOF in comment detected",
      "EOF in string detected",
      "Parameter name expected",
      "Successful execution",
      // The service-manager layer's message; the database client never raises it.
      "Service manager error",
      "No Install Options selected",
      "DestinationDirectory is not set",
      "SourceDirectory is not set",
      "Uninstall File Name is not set",
      "%s component requires Client to function properly",
      "%s component requires Server to function properly",
      "Invalid option specified",
      "Unexpected onError return value",
      "Unexpected onStatus return value",
      "DPB Constant (%s) is unknown",
      "TPB Constant (%s) is unknown",
      "Unknown Error - Can't retrieve plan",
      "Size Mismatch - Field %s size is too small for data",
      "Events already registered",
      "Trying to store a string of length %d into a field that can only contain %d",
      "%s is an InterBase 6.5 function. Please upgrade to InterBase 6.5 to use this functonality",
      "%s is an InterBase 7.0 function. Please upgrade to InterBase 7.0 to use this functonality",
  };
  return table;
}

std::mutex& ErrorMessagePartsMutex() {
  static std::mutex mutex;
  return mutex;
}
unsigned errorMessageParts = kShowServerMessage | kShowSQLMessage;

std::string FormatNumber(const FormatArg& arg, char conversion, int precision) {
  if (conversion == 'x' || conversion == 'X') {
    static const char digits[] = "0123456789ABCDEF";
    uint64_t value = static_cast<uint64_t>(arg.Number);
    if (arg.Number < 0) value &= 0xFFFFFFFFu;  // a 32-bit value's bits, as the format shows them
    std::string out;
    do {
      out.insert(out.begin(), digits[value & 15]);
      value >>= 4;
    } while (value != 0);
    while (static_cast<int>(out.size()) < precision) out.insert(out.begin(), '0');
    return out;
  }
  std::string out = std::to_string(arg.Number < 0 ? -arg.Number : arg.Number);
  while (static_cast<int>(out.size()) < precision) out.insert(out.begin(), '0');
  return arg.Number < 0 ? "-" + out : out;
}

}  // namespace

std::string FormatMessage(std::string_view format, std::initializer_list<FormatArg> args) {
  std::string out;
  auto next = args.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    const char c = format[i];
    if (c != '%' || i + 1 >= format.size()) {
      out += c;
      continue;
    }
    if (format[i + 1] == '%') {
      out += '%';
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    int precision = -1;
    if (format[j] == '.') {
      precision = 0;
      ++j;
      while (j < format.size() && format[j] >= '0' && format[j] <= '9')
        precision = precision * 10 + (format[j++] - '0');
    }
    if (j >= format.size()) {
      out += format.substr(i);
      break;
    }
    const char conversion = format[j];
    if (next == args.end()) {
      out += format.substr(i, j - i + 1);
    } else if (conversion == 's') {
      out += next->IsNumber ? std::to_string(next->Number) : next->Text;
      ++next;
    } else if (conversion == 'd' || conversion == 'u' || conversion == 'x' || conversion == 'X') {
      out += next->IsNumber ? FormatNumber(*next, conversion, precision) : next->Text;
      ++next;
    } else {
      out += format.substr(i, j - i + 1);
    }
    i = j;
  }
  return out;
}

const std::string& ClientErrorText(int code) {
  static const std::string none;
  const int index = code & kClientErrorCodeMask;
  if (index >= kClientErrorCount) return none;
  return ClientErrorTable()[static_cast<std::size_t>(index)];
}

std::string ClientErrorMessage(ClientError code, std::initializer_list<FormatArg> args) {
  return FormatMessage(ClientErrorText(static_cast<int>(code)), args);
}

void RaiseClientError(ClientError code, std::initializer_list<FormatArg> args) {
  std::string message = ClientErrorMessage(code, args);
  MonitorHook()->SendError(message);
  throw EIBClientError(static_cast<int>(code) & kClientErrorCodeMask, std::move(message));
}

ISC_STATUS* StatusVector() {
  thread_local ISC_STATUS_ARRAY status{};
  return status;
}

StatusVectorKeeper::StatusVectorKeeper() {
  const ISC_STATUS* status = StatusVector();
  std::copy(status, status + ISC_STATUS_LENGTH, saved_.begin());
}

StatusVectorKeeper::~StatusVectorKeeper() {
  std::copy(saved_.begin(), saved_.end(), StatusVector());
}

bool StatusVectorHas(std::initializer_list<ISC_STATUS> codes) {
  return StatusVectorHas(StatusVector(), codes);
}

bool StatusVectorHas(const ISC_STATUS* status, std::initializer_list<ISC_STATUS> codes) {
  std::size_t i = 0;
  while (i < ISC_STATUS_LENGTH && status[i] != isc_arg_end) {
    const ISC_STATUS type = status[i];
    if (type == isc_arg_cstring) {
      i += 3;
      continue;
    }
    if (i + 1 >= ISC_STATUS_LENGTH) break;
    if (type == isc_arg_gds || type == isc_arg_number) {
      for (ISC_STATUS code : codes)
        if (status[i + 1] == code) return true;
    }
    i += 2;
  }
  return false;
}

unsigned GetErrorMessageParts() {
  std::lock_guard<std::mutex> lock(ErrorMessagePartsMutex());
  return errorMessageParts;
}

void SetErrorMessageParts(unsigned parts) {
  std::lock_guard<std::mutex> lock(ErrorMessagePartsMutex());
  errorMessageParts = parts;
}

ServerError BuildServerError() {
  const std::shared_ptr<IGDSLibrary> library = GetClientLibrary();
  const ISC_STATUS* status = StatusVector();
  ServerError error;
  error.ServerErrorCode = static_cast<int32_t>(status[1]);
  // A status vector only comes from a loaded library; without one there is nothing to read.
  if (!library->TryLoadClientLibrary()) return error;
  error.SqlCode = static_cast<int32_t>(library->isc_sqlcode(status));
  const unsigned parts = GetErrorMessageParts();

  std::string& text = error.Message;
  if (parts & kShowSQLCode) text += "SQLCODE: " + std::to_string(error.SqlCode);
  if (parts & kShowServerMessage) {
    if (!text.empty()) text += "\r\n";
    std::string buffer(kInterpretBufferSize, '\0');
    const ISC_STATUS* cursor = status;
    const db::TGDSEntryPoints& entries = library->EntryPoints();
    for (;;) {
      ISC_LONG length;
      if (entries.fb_interpret) {
        length = entries.fb_interpret(buffer.data(), static_cast<unsigned>(buffer.size()), &cursor);
      } else {
        // Without the sized variant the client writes at most one message line, which the
        // buffer's size is meant to hold.
        ISC_STATUS* mutableCursor = const_cast<ISC_STATUS*>(cursor);
        length = entries.isc_interprete(buffer.data(), &mutableCursor);
        cursor = mutableCursor;
      }
      if (length <= 0) break;
      if (!text.empty() && text.back() != '\n') text += "\r\n";
      text.append(buffer.data(), strnlen(buffer.data(), buffer.size()));
    }
  }
  if (!text.empty() && text.back() == '.') text.pop_back();
  return error;
}

void RaiseServerError() {
  ServerError error = BuildServerError();
  MonitorHook()->SendError(std::to_string(error.SqlCode) + " " +
                           std::to_string(error.ServerErrorCode) + " " + error.Message);
  if (error.SqlCode == kSqlCodeNoPermission)
    throw EIBInterBaseRoleError(error.SqlCode, error.ServerErrorCode, std::move(error.Message));
  throw EIBInterBaseError(error.SqlCode, error.ServerErrorCode, std::move(error.Message));
}

bool IsRowInUse(const EIBError& failure) {
  const ISC_STATUS code = failure.ServerErrorCode;
  return dynamic_cast<const EIBInterBaseError*>(&failure) != nullptr &&
         (code == isc_lock_conflict || code == isc_update_conflict || code == isc_deadlock);
}

bool IsConnectionLost(const EIBError& failure) {
  const ISC_STATUS code = failure.ServerErrorCode;
  return dynamic_cast<const EIBInterBaseError*>(&failure) != nullptr &&
         (code == kConnectionLost || code == kNetworkReadError || code == kNetworkWriteError ||
          code == kNetworkRequestFailed || code == kAttachmentShutdown);
}

}  // namespace db
