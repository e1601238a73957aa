// Errors of the database client: the status vector of the client API, the exceptions that carry
// SQL and server error codes, the table of the client's own numbered errors, and the routines
// that turn a failed call into an exception.
//
// Every client-API call receives the calling thread's status vector (StatusVector); a call
// failed when it returns a value greater than 0, and the vector then holds clusters of an
// argument type and its value(s), ended by type 0, the first error code in slot 1.
#pragma once

#include <ibase.h>

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "db/DatabaseError.h"

// An error of the database client with its SQL code and server error code.
class EIBError : public EDatabaseError {
 public:
  explicit EIBError(std::string message) : EDatabaseError(std::move(message)) {}
  EIBError(int32_t sqlCode, std::string message)
      : EDatabaseError(std::move(message)), SqlCode(sqlCode) {}
  EIBError(int32_t sqlCode, int32_t serverErrorCode, std::string message)
      : EDatabaseError(std::move(message)), SqlCode(sqlCode), ServerErrorCode(serverErrorCode) {}

  int32_t SqlCode = 0;
  int32_t ServerErrorCode = 0;
};

// A failure reported by the server (SQL code from the status vector, error code from slot 1).
class EIBInterBaseError : public EIBError {
 public:
  using EIBError::EIBError;
};

// A server failure with SQL code -551 (no permission).
class EIBInterBaseRoleError : public EIBError {
 public:
  using EIBError::EIBError;
};

// The database client's own errors: SqlCode holds the client error code.
class EIBClientError : public EIBError {
 public:
  using EIBError::EIBError;
};

// The plan of a statement could not be read.
class EIBPlanError : public EIBError {
 public:
  using EIBError::EIBError;
};

namespace db {

// The client error codes: the index of the text in the client error table.
enum class ClientError : int {
  UnknownError = 0,
  LibraryNotFound = 1,
  InstallLibraryNotFound = 2,
  IB60Feature = 3,
  NotSupported = 4,
  NotPermitted = 5,
  FileAccessError = 6,
  ConnectionTimeout = 7,
  CannotSetDatabase = 8,
  CannotSetTransaction = 9,
  OperationCancelled = 10,
  DPBConstantNotSupported = 11,
  DPBConstantUnknown = 12,
  TPBConstantNotSupported = 13,
  TPBConstantUnknown = 14,
  DatabaseClosed = 15,
  DatabaseOpen = 16,
  DatabaseNameMissing = 17,
  NotInTransaction = 18,
  InTransaction = 19,
  TimeoutNegative = 20,
  NoDatabasesInTransaction = 21,
  UpdateWrongDB = 22,
  UpdateWrongTR = 23,
  DatabaseNotAssigned = 24,
  TransactionNotAssigned = 25,
  XSQLDAIndexOutOfRange = 26,
  XSQLDANameDoesNotExist = 27,
  EndOfFile = 28,
  BeginningOfFile = 29,
  InvalidStatementHandle = 30,
  SQLOpen = 31,
  SQLClosed = 32,
  DatasetOpen = 33,
  DatasetClosed = 34,
  UnknownSQLDataType = 35,
  InvalidColumnIndex = 36,
  InvalidParamColumnIndex = 37,
  InvalidDataConversion = 38,
  ColumnIsNotNullable = 39,
  BlobCannotBeRead = 40,
  BlobCannotBeWritten = 41,
  EmptyQuery = 42,
  CannotOpenNonSQLSelect = 43,
  NoFieldAccess = 44,
  FieldReadOnly = 45,
  FieldNotFound = 46,
  NotEditing = 47,
  CannotInsert = 48,
  CannotPost = 49,
  CannotUpdate = 50,
  CannotDelete = 51,
  CannotRefresh = 52,
  BufferNotSet = 53,
  CircularReference = 54,
  SQLParseError = 55,
  UserAbort = 56,
  DataSetUniDirectional = 57,
  CannotCreateSharedResource = 58,
  WindowsAPIError = 59,
  ColumnListsDontMatch = 60,
  ColumnTypesDontMatch = 61,
  CantEndSharedTransaction = 62,
  FieldUnsupportedType = 63,
  CircularDataLink = 64,
  EmptySQLStatement = 65,
  IsASelectStatement = 66,
  RequiredParamNotSet = 67,
  NoStoredProcName = 68,
  IsAExecuteProcedure = 69,
  UpdateFailed = 70,
  NotCachedUpdates = 71,
  NotLiveRequest = 72,
  NoProvider = 73,
  NoRecordsAffected = 74,
  NoTableName = 75,
  CannotCreatePrimaryIndex = 76,
  CannotDropSystemIndex = 77,
  TableNameMismatch = 78,
  IndexFieldMissing = 79,
  InvalidCancellation = 80,
  InvalidEvent = 81,
  MaximumEvents = 82,
  NoEventsRegistered = 83,
  InvalidQueueing = 84,
  InvalidRegistration = 85,
  InvalidBatchMove = 86,
  SQLDialectInvalid = 87,
  SPBConstantNotSupported = 88,
  SPBConstantUnknown = 89,
  ServiceActive = 90,
  ServiceInActive = 91,
  ServerNameMissing = 92,
  QueryParamsError = 93,
  StartParamsError = 94,
  OutputParsingError = 95,
  UseSpecificProcedures = 96,
  SQLMonitorAlreadyPresent = 97,
  CantPrintValue = 98,
  EOFReached = 99,
  EOFInComment = 100,
  EOFInString = 101,
  ParamNameExpected = 102,
  SuccessfulExecution = 103,
  ServiceLayerMessage = 104,
  NoInstallOptions = 105,
  DestinationDirectoryNotSet = 106,
  SourceDirectoryNotSet = 107,
  UninstallFileNameNotSet = 108,
  RequiresClient = 109,
  RequiresServer = 110,
  InvalidOption = 111,
  UnexpectedOnErrorReturn = 112,
  UnexpectedOnStatusReturn = 113,
  DPBConstantUnknownEx = 114,
  TPBConstantUnknownEx = 115,
  UnknownPlan = 116,
  FieldSizeMismatch = 117,
  EventAlreadyRegistered = 118,
  StringTooLarge = 119,
  IB65Feature = 120,
  IB70Feature = 121,
};

// How many texts the client error table holds (codes 0-121).
constexpr int kClientErrorCount = 122;

// One argument of a message format: a text or a number.
struct FormatArg {
  FormatArg(std::string_view text) : Text(text) {}                 // NOLINT: implicit by design
  FormatArg(const char* text) : Text(text) {}                      // NOLINT
  FormatArg(const std::string& text) : Text(text) {}               // NOLINT
  FormatArg(int number) : Number(number), IsNumber(true) {}        // NOLINT
  FormatArg(long number) : Number(number), IsNumber(true) {}       // NOLINT
  FormatArg(long long number) : Number(number), IsNumber(true) {}  // NOLINT
  FormatArg(unsigned number) : Number(number), IsNumber(true) {}   // NOLINT

  std::string Text;
  int64_t Number = 0;
  bool IsNumber = false;
};

// Fills the placeholders %s, %d, %x, %.8x (and %%) of `format` from `args`, in order.
std::string FormatMessage(std::string_view format, std::initializer_list<FormatArg> args);

// The table text of a client error code (masked to 0-127; codes beyond the table give "").
const std::string& ClientErrorText(int code);

// The formatted message of a client error, as RaiseClientError raises it.
std::string ClientErrorMessage(ClientError code, std::initializer_list<FormatArg> args = {});

// Formats the table text for `code`, offers "[Error] " and the text to the trace hook, and
// raises EIBClientError with the code as SqlCode.
[[noreturn]] void RaiseClientError(ClientError code, std::initializer_list<FormatArg> args = {});

// The calling thread's status vector (ISC_STATUS_LENGTH values).
ISC_STATUS* StatusVector();

// Keeps the calling thread's status vector from its construction to its destruction, for a
// clean-up call after a failed call (closing a cursor or a blob) that would overwrite it: the
// failure raised afterwards is the first one.
class StatusVectorKeeper {
 public:
  StatusVectorKeeper();
  ~StatusVectorKeeper();
  StatusVectorKeeper(const StatusVectorKeeper&) = delete;
  StatusVectorKeeper& operator=(const StatusVectorKeeper&) = delete;

 private:
  std::array<ISC_STATUS, ISC_STATUS_LENGTH> saved_;
};

// Walks the status vector cluster by cluster and tells whether one of the values of an argument
// of type 1 (gds code) or 4 (number) equals one of `codes`.
bool StatusVectorHas(std::initializer_list<ISC_STATUS> codes);
bool StatusVectorHas(const ISC_STATUS* status, std::initializer_list<ISC_STATUS> codes);

// Server error codes the database client reacts to.
constexpr ISC_STATUS kConnectionLost = isc_lost_db_connection;
constexpr ISC_STATUS kNetworkReadError = isc_net_read_err;
constexpr ISC_STATUS kNetworkWriteError = isc_net_write_err;
constexpr ISC_STATUS kNetworkRequestFailed = isc_network_error;
constexpr ISC_STATUS kAttachmentShutdown = isc_att_shutdown;
// SQL code of a failed network request (isc_sqlcode of isc_network_error).
constexpr int32_t kSqlCodeNetworkError = -902;
// SQL code of a missing permission (isc_sqlcode of isc_no_priv).
constexpr int32_t kSqlCodeNoPermission = -551;

// Whether `failure` is a write refused because another transaction holds the row: a lock
// conflict, an update conflict, or the deadlock a transaction that does not wait reports for
// either.
bool IsRowInUse(const EIBError& failure);

// Whether `failure` says that the attachment is gone: the server was killed, stopped or
// restarted, the network to it failed, or the attachment was shut down. A transaction's own
// calls report it too, without closing the database as a statement's calls do.
bool IsConnectionLost(const EIBError& failure);

// The parts of a server error message (ErrorMessageParts), as bits.
constexpr unsigned kShowSQLCode = 1;
constexpr unsigned kShowServerMessage = 2;
constexpr unsigned kShowSQLMessage = 4;
unsigned GetErrorMessageParts();
void SetErrorMessageParts(unsigned parts);

// The message of the server error in the thread's status vector, with its codes.
struct ServerError {
  int32_t SqlCode = 0;
  int32_t ServerErrorCode = 0;
  std::string Message;
};
ServerError BuildServerError();

// Builds the message of the server error in the status vector, offers it to the trace hook and
// raises EIBInterBaseRoleError (SQL code -551) or EIBInterBaseError.
[[noreturn]] void RaiseServerError();

}  // namespace db
