// OdbcFailure: the one place where a failure of the recordset layer
// (AdoException) becomes the task chain's XException. Every catch site of the
// data layer hands its AdoException here, so the kind of a failure (a lost
// link, a value that would not convert, or any other database failure) and
// the driver's SQLSTATE and native code reach the callers that decide on
// them, whatever text the site puts around the cause.
#pragma once

#include "data/odbc/AdoError.h"
#include "util/XException.h"
#include "util/XString.h"

// `error` as an XException with `message` as its text: kind ConnectionLost
// when the layer reports the link gone (a link-failure SQLSTATE, or the
// connection found dead) or a diagnostic's native code means a lost link for
// `databaseType` (see IsLostLinkNativeCode), Conversion for a value that
// could not be converted, Database for every other failure; the code is the
// layer's result code, the SQLSTATE and native code those of the first
// diagnostic. The texts are never read: drivers word and translate them.
XException OdbcFailure(const AdoException& error, const XString& message, int databaseType);
