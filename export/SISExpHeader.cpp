// Table declarations: the field-name line shared by the import header file
// and the update-file sections.
#include "export/SISExpHeader.h"

XString SISExpHeader::JoinFieldNames() const
{
    XString line;
    for (size_t i = 0; i < m_fields.size(); ++i) {
        if (i > 0)
            line += '\t';
        line += m_fields[i]->GetName();
    }
    return line;
}
