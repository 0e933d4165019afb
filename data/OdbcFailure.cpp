// OdbcFailure: the kind of a recordset-layer failure and its numbers.
#include "data/OdbcFailure.h"

#include "data/DatabaseTypes.h"

namespace {

// Whether a diagnostic's native code names a lost link for the type.
bool HasLostLinkNativeCode(const AdoException& error, int databaseType)
{
    for (const AdoError& diagnostic : error.Errors())
        if (IsLostLinkNativeCode(databaseType, diagnostic.nativeError))
            return true;
    return false;
}

XErrorKind KindOf(const AdoException& error, int databaseType)
{
    if (error.IsConnectionLost() || HasLostLinkNativeCode(error, databaseType))
        return XErrorKind::ConnectionLost;
    if (error.Code() == AdoCode::ConversionFailed)
        return XErrorKind::Conversion;
    return XErrorKind::Database;
}

} // namespace

XException OdbcFailure(const AdoException& error, const XString& message, int databaseType)
{
    const int32_t native = error.Errors().empty() ? 0 : error.Errors().front().nativeError;
    return XException(KindOf(error, databaseType), message.c_str(), static_cast<int32_t>(error.Code()),
                      error.SqlState(), native);
}
