#pragma once

#include <QString>

#include <stdexcept>

// The program's one run-time error: a number and a Czech description, thrown
// where a step fails and caught by the handler that decides how to go on.
// Numbers follow the well-known ones of the original platform where one fits.
class RunTimeError : public std::runtime_error {
public:
    RunTimeError(int number, const QString& description);

    int number() const { return m_number; }
    const QString& description() const { return m_description; }

private:
    int m_number;
    QString m_description;
};

// Error numbers used across the program; the errors themselves, with their
// texts, are the factories of Errors.h.
namespace ErrorNumber {
constexpr int InvalidArgument = 5;        // invalid procedure call or argument
constexpr int FileNotFound = 53;          // file not found
constexpr int PathNotFound = 76;          // path not found
constexpr int ObjectVariableNotSet = 91;  // object variable not set
constexpr int DiskFull = 61;              // disk full
constexpr int DeviceUnavailable = 68;     // device unavailable (a drive of the folder chooser)
constexpr int PermissionDenied = 70;      // permission denied (a file held locked)
constexpr int PathFileAccess = 75;        // path/file access error
constexpr int InvalidFileFormat = 321;    // invalid file format (help files)
constexpr int NoCurrentRecord = 3021;     // no current record
constexpr int FileNotFoundDb = 3024;      // database file not found
constexpr int FileInUse = 3045;           // file already in use / locked
constexpr int NotInTransaction = 3034;    // commit or rollback without a transaction
constexpr int UnrecognizedFormat = 3343;  // unrecognised database format
constexpr int ObjectNotFound = 3011;      // object not found (source table)
constexpr int ItemNotInCollection = 3265; // item not found in this collection
constexpr int DuplicateValue = 3022;      // duplicate value in a unique index
constexpr int FieldTooSmall = 3163;       // field too small for the data
constexpr int OperationNotSupported = 3219;
constexpr int CannotSetProperty = 3268; // cannot set this property on a linked / local table
constexpr int OdbcFailed = 3151;        // ODBC connection failed
constexpr int OdbcCallFailed = 3146;    // ODBC call failed
constexpr int RecordDeleted = 3167;     // record is deleted
constexpr int SyntaxError = 3000;       // reserved error / SQL syntax
constexpr int ReadOnly = 3051;          // cannot open the file for writing
constexpr int DiskIo = 3043;            // disk or network error
constexpr int FileAlreadyExists = 3204; // database already exists
// Database engine.
constexpr int TableAlreadyExists = 3010;   // table already exists
constexpr int UpdateWithoutAddNew = 3020;  // Update without AddNew
constexpr int ReadOnlyObject = 3027;       // object is read-only (a linked table)
constexpr int InvalidPath = 3044;          // not a valid path
constexpr int DatabaseCorrupt = 3049;      // database damaged
constexpr int InputTableNotFound = 3078;   // no such table or query
constexpr int InvalidName = 3125;          // not a valid name
constexpr int InvalidFieldType = 3259;     // invalid field data type
constexpr int NoFields = 3264;             // no field defined
constexpr int FieldRequired = 3314;        // field must hold a value
constexpr int ZeroLengthNotAllowed = 3315; // field cannot be a zero-length text
constexpr int ValidationRule = 3317;       // value breaks a validation rule
constexpr int ObjectInvalid = 3420;        // object invalid or no longer set (closed)
} // namespace ErrorNumber
