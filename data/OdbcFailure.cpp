// OdbcFailure: the kind of a recordset-layer failure and its numbers.
#include "data/OdbcFailure.h"

#include "data/DatabaseTypes.h"

namespace {

// Whether a diagnostic text of the failure names a lost or timed-out link.
bool NamesLostLink(const AdoException& error)
{
    if (ClassifyError(error.Description().c_str()) != QueryError::Failed)
        return true;
    for (const AdoError& diagnostic : error.Errors())
        if (ClassifyError(diagnostic.description.c_str()) != QueryError::Failed)
            return true;
    return false;
}

XErrorKind KindOf(const AdoException& error)
{
    if (error.IsConnectionLost() || NamesLostLink(error))
        return XErrorKind::ConnectionLost;
    if (error.Code() == AdoCode::ConversionFailed)
        return XErrorKind::Conversion;
    return XErrorKind::Database;
}

} // namespace

XException OdbcFailure(const AdoException& error, const XString& message)
{
    const int32_t native = error.Errors().empty() ? 0 : error.Errors().front().nativeError;
    return XException(KindOf(error), message.c_str(), static_cast<int32_t>(error.Code()), error.SqlState(), native);
}
