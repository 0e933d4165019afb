// The parameter registry: the parameter values of one command, the registered
// parameters by group, the keys the scanner knows, and the rules that say when
// a command or group has what it needs. It only stores and answers; telling
// the importer what is missing is the application's part.
#pragma once

#include "app/ParamRecord.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class ParamRegistry
{
public:
    // Value of a key; a key never set reads as the empty text.
    QString value(const QString &key) const { return m_values.value(key); }
    void setValue(const QString &key, const QString &value) { m_values[key] = value; }
    const QMap<QString, QString> &values() const { return m_values; }
    bool switchValue(const QString &key) const { return m_switches.value(key, false); }
    void setSwitch(const QString &key, bool on) { m_switches[key] = on; }

    // Keys the option scanner registers, in registration order.
    const QStringList &switchKeys() const { return m_switchKeys; }
    const QStringList &valueKeys() const { return m_valueKeys; }
    // Adds a key once; a key registered again keeps its place.
    void addKey(const QString &key, bool isSwitch);

    // Creates an empty group; false when it exists already.
    bool addGroup(const QString &name);
    bool hasGroup(const QString &name) const { return m_groups.contains(name); }
    QList<ParamRecord *> groupRecords(const QString &name) const { return m_groups.value(name); }
    ParamRecord *record(const QString &key) const { return m_records.value(key, nullptr); }
    // Tries the key, the key with "encode" appended, then the key without
    // "encode", so a missing plain password is found under its encoded key.
    ParamRecord *recordForReport(const QString &key) const;
    // A new record of `group`, owned by the registry.
    ParamRecord *createRecord(const QString &group, const QString &key);

    // Requirement sets (any one complete set satisfies) and the names a
    // command or group depends on, in registration order.
    void addRequirement(const QString &name, const QStringList &keys) { m_requirements[name].append(keys); }
    void addDependency(const QString &name, const QString &otherName) { m_dependencies[name].append(otherName); }
    QList<QStringList> requirements(const QString &name) const { return m_requirements.value(name); }
    QStringList dependencies(const QString &name) const { return m_dependencies.value(name); }

    // Whether a key's value may be echoed: only a registered parameter that
    // is not secret. A key without a record (the plain form of an encoded
    // password) never is.
    bool isShownKey(const QString &key) const;

private:
    QStringList m_switchKeys;
    QStringList m_valueKeys;
    QMap<QString, QString> m_values;
    QMap<QString, bool> m_switches;
    std::vector<std::unique_ptr<ParamRecord>> m_recordStore;
    QMap<QString, QList<ParamRecord *>> m_groups;
    QMap<QString, ParamRecord *> m_records;
    QMap<QString, QStringList> m_dependencies;
    QMap<QString, QList<QStringList>> m_requirements;
};
