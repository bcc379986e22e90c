#include "types.h"

#include <QMatrix4x4>

void registerServerMetaTypes()
{
    qRegisterMetaType<ErrorInfo>("ErrorInfo");
    qRegisterMetaType<MeasuringPoint>("MeasuringPoint");
    qRegisterMetaType<QMatrix4x4>("QMatrix4x4");
}

void registerInstrumentMetaTypes()
{
    qRegisterMetaType<RPC>("RPC");
    qRegisterMetaType<TMC_HZ_V_ANG>("TMC_HZ_V_ANG");
    qRegisterMetaType<GetSimpleMea>("GetSimpleMea");
    qRegisterMetaType<MeasDistanceAngle>("MeasDistanceAngle");
    qRegisterMetaType<ReplyPair>("QPair<RPC,QVariant>");
}
