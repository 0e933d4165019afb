// Shared helper for everything that writes TAB-separated lines for the importer:
// a field must never break the line structure it sits in.
#pragma once

#include <QString>

// One protocol field on one line: TAB, CR and LF inside the text become blanks,
// so a message with an embedded line break cannot shift or split the fields.
inline QString protocolField(QString text)
{
    for (QChar &c : text) {
        if (c == u'\t' || c == u'\r' || c == u'\n')
            c = u' ';
    }
    return text;
}
