#pragma once
// The points handed to one server connection that wait for the server's
// answer. The server answers points in the order it receives them (message
// 2 for each message 3, over one ordered TCP stream), so each answer
// belongs to the oldest waiting point.

#include <QList>
#include <QSet>
#include <QString>
#include <QVector>

#include "types.h"

class DeliveryQueue
{
public:
    struct Entry {
        QString id;          // journal id
        MeasuringPoint point;
        bool resent = false; // sent again at the operator's request
    };

    void handed(const QString &id, const MeasuringPoint &pt, bool resent);
    // Takes the oldest waiting point; false when none waits.
    bool answered(Entry *entry);
    // The connection ended: every waiting point, oldest first.
    QVector<Entry> takeAll();
    QSet<QString> ids() const;
    int size() const { return waiting.size(); }

private:
    QList<Entry> waiting; // oldest first
};
