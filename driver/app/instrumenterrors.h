#pragma once
// The texts that explain a failed instrument request to the operator: what
// the GeoCOM return code means and what to do about it. The main window and
// the base points dialog both take them from here, in the context
// "InstrumentErrors".

#include <QCoreApplication>
#include <QString>

#include "types.h"

class InstrumentErrors
{
    Q_DECLARE_TR_FUNCTIONS(InstrumentErrors)

public:
    // What the return code means; empty for 0 (no code: the request failed
    // without one, for instance when the link ended).
    static QString meaning(int code);
    // What the operator can do about it; empty for 0.
    static QString advice(int code);
    // "<meaning> (<bare>)", or the bare text when there is no meaning. The
    // bare text is the link's own ("Command error 17017: error code 1292").
    static QString explained(int code, const QString &bare);
    // The whole message: explained, then the advice.
    static QString message(int code, const QString &bare);
};
