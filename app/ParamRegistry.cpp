// Parameter registry storage and look-ups.
#include "app/ParamRegistry.h"

void ParamRegistry::addKey(const QString &key, bool isSwitch)
{
    QStringList &keys = isSwitch ? m_switchKeys : m_valueKeys;
    // Listing a key twice would repeat it in the usage text and the scanner.
    if (!keys.contains(key))
        keys.append(key);
}

bool ParamRegistry::addGroup(const QString &name)
{
    if (m_groups.contains(name))
        return false;
    m_groups.insert(name, {});
    return true;
}

ParamRecord *ParamRegistry::createRecord(const QString &group, const QString &key)
{
    auto owned = std::make_unique<ParamRecord>();
    ParamRecord *created = owned.get();
    created->key = key;
    created->group = group;
    m_recordStore.push_back(std::move(owned));
    m_groups[group].append(created);
    m_records.insert(key, created);
    return created;
}

ParamRecord *ParamRegistry::recordForReport(const QString &key) const
{
    if (ParamRecord *r = record(key))
        return r;
    if (ParamRecord *r = record(key + QStringLiteral("encode")))
        return r;
    QString shortened = key;
    shortened.remove(QStringLiteral("encode"));
    return record(shortened);
}

bool ParamRegistry::isShownKey(const QString &key) const
{
    const ParamRecord *r = record(key);
    return r && !r->secret;
}
