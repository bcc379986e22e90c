#include "instrumenterrors.h"

QString InstrumentErrors::meaning(int code)
{
    switch (code) {
    case 0:
        return QString();
    case 1:
        return tr("The instrument reports an unspecified error");
    case 2:
        return tr("The instrument refused a value of the request");
    case 5:
    case 3081:
        return tr("The instrument does not offer this request");
    case 8:
        return tr("The instrument aborted the request");
    case 13:
    case 1293:
        return tr("The instrument is busy");
    case 1283:
    case 1284:
        return tr("The measurement is not fully corrected: the instrument may not be levelled");
    case 1285:
    case 1288:
    case 1289:
        return tr("Only the angles were measured, no distance");
    case 1290:
        return tr("The angles could not be measured");
    case 1292:
        return tr("No distance could be measured: no reflector or target in the line of sight");
    case 1294:
        return tr("The distance signal is too weak or disturbed");
    case 1792:
    case 1794:
        return tr("The motors are not ready for this request");
    case 1793:
        return tr("The motors are busy");
    case 3074:
    case 3093:
        return tr("The instrument's answer could not be read");
    case 3077:
        return tr("The instrument did not answer in time");
    case 8704:
        return tr("The automatic aiming ran out of time");
    case 8707:
        return tr("The motors or the automatic aiming failed");
    case 8710:
        return tr("No target was found");
    case 8711:
        return tr("Several targets are in the search range");
    case 8714:
        return tr("The target lock is not switched on");
    default:
        return tr("The instrument could not carry out the request");
    }
}

QString InstrumentErrors::advice(int code)
{
    switch (code) {
    case 0:
        return QString();
    case 1285:
    case 1288:
    case 1289:
    case 1292:
        return tr("Aim the telescope at the reflector (or choose a reflectorless EDM mode for a "
                  "target without one) and measure again.");
    case 1294:
        return tr("Check that the reflector faces the instrument and nothing is in the way, then "
                  "measure again.");
    case 1283:
    case 1284:
    case 1290:
        return tr("Check that the instrument is levelled and stands firm, then try again.");
    case 13:
    case 1293:
    case 1793:
        return tr("Wait a moment until the instrument is ready and try again.");
    case 1792:
    case 1794:
    case 8707:
        return tr("Release the arrow buttons, wait until the instrument stands still and try again.");
    case 3077:
        return tr("Check that the instrument is switched on and its cable is plugged in; if it "
                  "keeps happening, disconnect and connect again.");
    case 3074:
    case 3093:
        return tr("Check the baud rate in Settings and the cable; if it keeps happening, disconnect "
                  "and connect again.");
    case 2:
    case 5:
    case 3081:
        return tr("This instrument may not support the request; check its firmware.");
    case 8704:
    case 8710:
        return tr("Aim the telescope closer to the reflector and try again.");
    case 8711:
        return tr("Aim so that only one reflector lies in the search range and try again.");
    case 8714:
        return tr("Press Capture to switch the target lock on, then try again.");
    default:
        return tr("Look at the instrument's display for a message and try again.");
    }
}

QString InstrumentErrors::explained(int code, const QString &bare)
{
    const QString m = meaning(code);
    return m.isEmpty() ? bare : QStringLiteral("%1 (%2)").arg(m, bare);
}

QString InstrumentErrors::message(int code, const QString &bare)
{
    const QString a = advice(code);
    return a.isEmpty() ? explained(code, bare) : explained(code, bare) + QStringLiteral(". ") + a;
}
