#include "types.h"

#include <QMatrix4x4>
#include <QVector>

void registerServerMetaTypes()
{
    qRegisterMetaType<ErrorInfo>("ErrorInfo");
    qRegisterMetaType<MeasuringPoint>("MeasuringPoint");
    qRegisterMetaType<QMatrix4x4>("QMatrix4x4");
    qRegisterMetaType<QVector<double>>("QVector<double>");
}

void registerInstrumentMetaTypes()
{
    qRegisterMetaType<RPC>("RPC");
    qRegisterMetaType<TMC_HZ_V_ANG>("TMC_HZ_V_ANG");
    qRegisterMetaType<GetSimpleMea>("GetSimpleMea");
    qRegisterMetaType<MeasDistanceAngle>("MeasDistanceAngle");
    qRegisterMetaType<ReplyPair>("QPair<RPC,QVariant>");
}
