// AdoError / AdoException: how the recordset layer reports failures. Every
// driver diagnostic becomes one AdoError (number, SQLSTATE, native code,
// description); an operation that fails throws an AdoException carrying a
// result code, the source of the failure, the first diagnostic's description
// and the whole list. AdoSystemMessage gives this layer's text for a code.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

// Result codes (32-bit, failure bit set) raised by this layer.
namespace AdoCode {
constexpr uint32_t ProviderError = 0x80004005u;    // the driver or driver manager reported an error
constexpr uint32_t NoCurrentRecord = 0x800A0BCDu;  // BOF or EOF is set: no current row
constexpr uint32_t InvalidArgument = 0x800A0BB9u;  // an argument of the wrong kind or range
constexpr uint32_t ItemNotFound = 0x800A0CC1u;     // no field with that name or position
constexpr uint32_t ObjectClosed = 0x800A0E78u;     // operation on a closed object
constexpr uint32_t ObjectOpen = 0x800A0E79u;       // operation needs a closed object
constexpr uint32_t ConnectionLost = 0x800A0E7Du;   // the link to the data source is gone
constexpr uint32_t ConversionFailed = 0x800A0D5Du; // a value could not be converted to its field's kind
constexpr uint32_t OutOfMemory = 0x8007000Eu;      // an allocation failed
}  // namespace AdoCode

// One diagnostic record of the driver manager or driver.
struct AdoError
{
    uint32_t number = AdoCode::ProviderError;  // result code of the operation that failed
    std::string sqlState;                      // five-character SQLSTATE ("08S01")
    int32_t nativeError = 0;                   // the database's own error number
    std::string description;                   // the diagnostic's text, unchanged
    std::string source;                        // what was being done ("AdoConnection::Open")
};

// The error collection of a connection: the diagnostics of its last failure.
using AdoErrors = std::vector<AdoError>;

class AdoException : public std::exception
{
public:
    AdoException(uint32_t code, std::string source, std::string description, AdoErrors errors = {});

    const char* what() const noexcept override { return m_description.c_str(); }

    // The result code (see AdoCode).
    uint32_t Code() const { return m_code; }
    // What failed, e.g. "AdoRecordset::Open".
    const std::string& Source() const { return m_source; }
    // The first diagnostic's text, or this layer's own text when there is none.
    const std::string& Description() const { return m_description; }
    // Every diagnostic record, in the driver's order.
    const AdoErrors& Errors() const { return m_errors; }
    // True when the failure means the connection is gone (SQLSTATE class 08
    // link failures): the caller may reconnect and try again.
    bool IsConnectionLost() const { return m_code == AdoCode::ConnectionLost; }
    // SQLSTATE of the first diagnostic, or empty.
    std::string SqlState() const { return m_errors.empty() ? std::string() : m_errors.front().sqlState; }

private:
    uint32_t m_code;
    std::string m_source;
    std::string m_description;
    AdoErrors m_errors;
};

// This layer's text for a result code, without a trailing line break:
// the known AdoCode values have their own text, codes from 0x80040200 to
// 0x8004FFFF read "IDispatch error #<n>" (n = code - 0x80040200), every other
// code "Unknown error 0x<code in hex>".
std::string AdoSystemMessage(uint32_t code);

// True for the SQLSTATEs that say the connection is unusable (08S01
// communication link failure, 08003 not open, 08007 failure during a
// transaction, 08001/08004 cannot connect is not included: that is a failed
// open, not a lost link).
bool AdoIsConnectionLostState(const std::string& sqlState);
