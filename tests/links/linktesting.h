#pragma once
// Shared pieces of the serial link tests: a recorder of the link's signals
// (queued into the test thread, as the main window receives them) and a
// handler whose thread is stopped on destruction.

#include "serialporthandler.h"
#include "types.h"

#include <QList>
#include <QObject>
#include <QStringList>

class LinkRecorder : public QObject
{
public:
    explicit LinkRecorder(SerialPortHandler *h)
    {
        connect(h, &SerialPortHandler::errorResponse, this,
                [this](QString e) { errors << e; }, Qt::QueuedConnection);
        connect(h, &SerialPortHandler::responseReceived, this,
                [this](ReplyPair p) { responses << p; }, Qt::QueuedConnection);
        connect(h, &SerialPortHandler::receivedBasePoint, this,
                [this](ReplyPair p) { basePoints << p; }, Qt::QueuedConnection);
        connect(h, &SerialPortHandler::portLost, this, [this](QString e) { lost << e; },
                Qt::QueuedConnection);
        connect(h, &SerialPortHandler::basePointFailed, this,
                [this](int code, QString e) { basePointFailures << qMakePair(code, e); },
                Qt::QueuedConnection);
        connect(h, &SerialPortHandler::commandFailed, this,
                [this](RPC rpc, int code, QString) { failedCommands << qMakePair(int(rpc), code); },
                Qt::QueuedConnection);
    }
    QStringList errors;
    QList<QPair<int, int>> failedCommands; // (rpc, code), base-point mode included
    QList<QPair<int, QString>> basePointFailures;
    QStringList lost;
    QList<ReplyPair> responses;
    QList<ReplyPair> basePoints;

    QList<ReplyPair> responsesFor(RPC rpc) const
    {
        QList<ReplyPair> out;
        for (const ReplyPair &p : responses)
            if (p.first == rpc)
                out << p;
        return out;
    }
};

// Exposes what the tests need to see of the link's inner state.
class TestableHandler : public SerialPortHandler
{
public:
    ~TestableHandler() override
    {
        if (isRunning())
            stop();
    }
};

inline PortSettings ptySettings(const QString &name)
{
    PortSettings s;
    s.portName = name;
    s.baudRate = 115200;
    return s;
}
