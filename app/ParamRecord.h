// One registered parameter: what the importer shows for it and what it reports.
#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

#include "app/ParamType.h"

struct ParamRecord
{
    QString key;
    QString displayName;
    QString group;
    ParamType type = ParamType::Default;
    QString help;
    QString defaultValue; // reported to the importer, never copied into the values
    // Its value is never echoed (status files, log, warnings): the arguments
    // that carry it are masked whole. Password parameters are secret.
    bool secret = false;
    // Keys whose values must be present before this parameter's list can load;
    // holds the empty key from creation, which never counts as missing.
    QMap<QString, QString> parentKeys{{QString(), QString()}};
    // What a file, number or date parameter reports (extensions, bounds, dates).
    QStringList items;
};
