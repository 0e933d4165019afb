// The type of a registered parameter: what kind of field the importer shows
// for it and how its values are reported. Registration names a type by this
// enumeration; the type word the importer reads is made from it in one place.
#pragma once

#include <QString>

enum class ParamType {
    Label,
    Header,
    List,
    SchoolList,
    DistrictList,
    YearList,
    FilterList,
    BridgeList,
    Edit,
    Password,
    Flag,
    FlagText,
    File,
    Folder,
    Date,
    Number,
    Switch,
    Default,
    Hidden,
    Tree,
};

// The type word of the protocol ("list", "school_list", "bridgelist", ...).
QString ParamTypeWord(ParamType type);

// Whether the usage text leaves a parameter of this type out: it is no
// option a user types.
bool IsHiddenFromUsage(ParamType type);
