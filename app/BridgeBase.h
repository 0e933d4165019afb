// This bridge's application object: its identity, the "connection" and "school"
// set-up groups with their rules, the group tests and the pick lists.
#pragma once

#include "app/SISConfig.h"

#include <QList>
#include <QMap>
#include <QPair>
#include <QString>

class BridgeBase : public SISConfig
{
    Q_OBJECT
public:
    using Entry = QPair<QString, QString>; // (key, text)

    // Fixed names the start-up failure path needs before any object exists.
    static const char *const Type;         // "Data Extractor"
    static const char *const FinishedFile; // "finished_bridge.tmp"

    explicit BridgeBase(QObject *parent = nullptr);

    int groupTest(const QString &group, QString &message) override;
    int loadSchoolList(const ParamRecord &record) override;
    int loadBridgeList(const ParamRecord &record) override;
    int loadDistrictList(const ParamRecord &record) override;
    int loadYearList(const ParamRecord &record) override;

protected:
    // Database services of the extraction engine. Until the engine is linked in
    // each one reports that it is missing and fails.
    virtual bool ValidateConnection(const QMap<QString, QString> &values, QString &message);
    virtual bool ValidateSchoolNumber(const QMap<QString, QString> &values, QString &message);
    virtual bool LoadSchoolList(const QMap<QString, QString> &values, QList<Entry> &entries, QString &message);
    virtual bool LoadBridgeList(const QString &paramKey, const QMap<QString, QString> &values,
                                QList<Entry> &entries, QString &message);

private:
    void registerGroups();
    bool engineMissing(const QString &service);
};
