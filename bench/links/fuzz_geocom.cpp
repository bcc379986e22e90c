// libFuzzer target: arbitrary bytes as a reply to every procedure the link
// decodes. Checks that decoding never crashes and that every success carries
// the record its procedure promises, with finite numbers.

#include "geocom.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace {

const RPC kRpcs[] = {EDM_Laserpointer, TMC_DoMeasure, TMC_SetEdmMode, TMC_GetEdmMode, TMC_GetAngle5,
                     TMC_GetSimpleMea, TMC_QuickDist, CSV_GetInstrumentNo, CSV_GetInstrumentName,
                     CSV_GetIntTemp, MOT_StartController, MOT_StopController, MOT_SetVelocity, AUT_LockIn,
                     AUT_FineAdjust, BAP_MeasDistanceAngle, AUS_SetUserLockState, RPC(-1)};

void check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

void checkReply(RPC rpc, const GeoCom::Reply &r)
{
    if (r.status != GeoCom::Reply::Ok) {
        check(!r.payload.isValid());
        check(r.status != GeoCom::Reply::ErrorCode || r.returnCode != 0);
        return;
    }
    check(r.returnCode == 0);
    switch (rpc) {
    case TMC_GetAngle5: {
        check(r.payload.canConvert<TMC_HZ_V_ANG>());
        const TMC_HZ_V_ANG a = r.payload.value<TMC_HZ_V_ANG>();
        check(std::isfinite(a.hzAngle) && std::isfinite(a.vAngle));
        break;
    }
    case TMC_GetSimpleMea: {
        check(r.payload.canConvert<GetSimpleMea>());
        const GetSimpleMea g = r.payload.value<GetSimpleMea>();
        check(std::isfinite(g.hzAngle) && std::isfinite(g.vAngle) && std::isfinite(g.slopeDistance));
        break;
    }
    case BAP_MeasDistanceAngle: {
        check(r.payload.canConvert<MeasDistanceAngle>());
        const MeasDistanceAngle m = r.payload.value<MeasDistanceAngle>();
        check(std::isfinite(m.hzAngle) && std::isfinite(m.vAngle) && std::isfinite(m.slopeDistance));
        break;
    }
    case CSV_GetInstrumentNo:
    case TMC_GetEdmMode:
        check(r.payload.userType() == QMetaType::Int);
        break;
    case CSV_GetInstrumentName:
        check(r.payload.userType() == QMetaType::QString);
        break;
    case CSV_GetIntTemp: {
        check(r.payload.userType() == QMetaType::QString);
        const QString t = r.payload.toString();
        const int dot = t.indexOf(QLatin1Char('.'));
        check(dot > 0 && t.size() - dot - 1 == 3);
        break;
    }
    case TMC_SetEdmMode:
        check(r.payload == QVariant(true));
        break;
    default:
        check(!r.payload.isValid());
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const RPC rpc = kRpcs[data[0] % (sizeof kRpcs / sizeof kRpcs[0])];
    const QByteArray bytes(reinterpret_cast<const char *>(data + 1), int(size - 1));

    // As the link does: the last complete line of what was read.
    const QByteArray line = GeoCom::lastCompleteLine(bytes);
    check(!line.contains('\n'));
    checkReply(rpc, GeoCom::decodeReply(rpc, QString::fromUtf8(line)));
    // And the raw buffer as one text.
    checkReply(rpc, GeoCom::decodeReply(rpc, QString::fromUtf8(bytes)));
    return 0;
}
