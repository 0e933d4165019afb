// This bridge's application object: its identity, the "connection" and "school"
// set-up groups with their rules, the group tests and the pick lists.
#pragma once

#include "app/SISConfig.h"

#include <QString>

class BridgeBase : public SISConfig
{
    Q_OBJECT
public:

    // Fixed names the start-up failure path needs before any object exists.
    static const char *const Type;         // "Data Extractor"
    static const char *const FinishedFile; // "finished_bridge.tmp"

    explicit BridgeBase(QObject *parent = nullptr);

    int groupTest(const QString &group, QString &message) override;
    int loadSchoolList(const ParamRecord &record, QString &message) override;
    int loadBridgeList(const ParamRecord &record, QString &message) override;
    int loadDistrictList(const ParamRecord &record, QString &message) override;
    int loadYearList(const ParamRecord &record, QString &message) override;
    void readSchoolConfiguration(const QDomElement &element) override;

private:
    void registerGroups();
};
