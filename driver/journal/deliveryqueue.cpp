#include "deliveryqueue.h"

void DeliveryQueue::handed(const QString &id, const MeasuringPoint &pt, bool resent)
{
    waiting.append({id, pt, resent});
}

bool DeliveryQueue::answered(Entry *entry)
{
    if (waiting.isEmpty())
        return false;
    *entry = waiting.takeFirst();
    return true;
}

QVector<DeliveryQueue::Entry> DeliveryQueue::takeAll()
{
    const QVector<Entry> all = waiting.toVector();
    waiting.clear();
    return all;
}

QSet<QString> DeliveryQueue::ids() const
{
    QSet<QString> s;
    for (const Entry &e : waiting)
        s.insert(e.id);
    return s;
}
