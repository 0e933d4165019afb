// ParamType: the type words of the protocol.
#include "app/ParamType.h"

QString ParamTypeWord(ParamType type)
{
    switch (type) {
    case ParamType::Label: return QStringLiteral("label");
    case ParamType::Header: return QStringLiteral("header");
    case ParamType::List: return QStringLiteral("list");
    case ParamType::SchoolList: return QStringLiteral("school_list");
    case ParamType::DistrictList: return QStringLiteral("district_list");
    case ParamType::YearList: return QStringLiteral("year_list");
    case ParamType::FilterList: return QStringLiteral("filter_list");
    case ParamType::BridgeList: return QStringLiteral("bridgelist");
    case ParamType::Edit: return QStringLiteral("edit");
    case ParamType::Password: return QStringLiteral("password");
    case ParamType::Flag: return QStringLiteral("flag");
    case ParamType::FlagText: return QStringLiteral("flagtext");
    case ParamType::File: return QStringLiteral("file");
    case ParamType::Folder: return QStringLiteral("folder");
    case ParamType::Date: return QStringLiteral("date");
    case ParamType::Number: return QStringLiteral("number");
    case ParamType::Switch: return QStringLiteral("switch");
    case ParamType::Default: return QStringLiteral("default");
    case ParamType::Hidden: return QStringLiteral("hidden");
    case ParamType::Tree: return QStringLiteral("tree");
    }
    return QString();
}

bool IsHiddenFromUsage(ParamType type)
{
    return type == ParamType::Label || type == ParamType::Header || type == ParamType::Switch ||
           type == ParamType::Hidden;
}
