#include "faults.h"

#include <QStringList>

namespace {

// SplitMix64: small, fast and the same on every platform.
quint64 nextRandom(quint64 *state)
{
    quint64 z = (*state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// Uniform in [0, 1).
double draw(quint64 *state)
{
    return double(nextRandom(state) >> 11) * (1.0 / 9007199254740992.0);
}

} // namespace

QString Fault::effect() const
{
    return hasValue ? kind + QLatin1Char('=') + QString::number(value) : kind;
}

bool FaultPlan::add(const QString &text, QString *error)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    Fault f;
    auto bad = [&](const QString &why) {
        *error = QStringLiteral("bad --fault %1: %2").arg(text, why);
        return false;
    };
    if (parts.size() < 2 || parts.size() > 4)
        return bad(QStringLiteral("expected <rpc|any>:<kind>[=<value>][:<count>][:<percent>%]"));
    bool ok = true;
    f.rpc = parts[0] == QLatin1String("any") ? -1 : parts[0].toInt(&ok);
    if (!ok || (f.rpc < 0 && parts[0] != QLatin1String("any")))
        return bad(QStringLiteral("the request is a procedure number or \"any\""));
    QString kind = parts[1];
    const int eq = kind.indexOf(QLatin1Char('='));
    if (eq >= 0) {
        f.value = kind.mid(eq + 1).toInt(&ok);
        if (!ok || f.value < 0)
            return bad(QStringLiteral("the value is a whole number"));
        f.hasValue = true;
        kind.truncate(eq);
    }
    static const QStringList kinds = {"silent", "garbage", "split", "short", "close", "reset", "error", "delay"};
    if (!kinds.contains(kind))
        return bad(QStringLiteral("unknown kind %1").arg(kind));
    if ((kind == QLatin1String("error") || kind == QLatin1String("delay")) && !f.hasValue)
        return bad(QStringLiteral("%1 needs a value").arg(kind));
    f.kind = kind;
    bool haveCount = false, haveProbability = false;
    for (int i = 2; i < parts.size(); ++i) {
        const QString &p = parts[i];
        if (p.endsWith(QLatin1Char('%')) && !haveProbability) {
            const double percent = p.chopped(1).toDouble(&ok);
            if (!ok || !(percent > 0 && percent <= 100))
                return bad(QStringLiteral("a probability is more than 0% and at most 100%"));
            f.probability = percent / 100.0;
            haveProbability = true;
        } else if (!haveCount) {
            f.count = p.toInt(&ok);
            if (!ok || f.count < 1)
                return bad(QStringLiteral("a count is a whole number of at least 1"));
            haveCount = true;
        } else {
            return bad(QStringLiteral("one count and one probability at most"));
        }
    }
    // Each rule's stream starts apart from the others', from the seed and
    // the rule's place.
    f.stream = m_seed ^ (0xD1B54A32D192ED03ull * quint64(m_rules.size() + 1));
    m_rules.append(f);
    return true;
}

const Fault *FaultPlan::pick(int rpc)
{
    Fault *chosen = nullptr;
    for (Fault &f : m_rules) {
        if (f.rpc != -1 && f.rpc != rpc)
            continue;
        const bool won = f.probability >= 1 || draw(&f.stream) < f.probability;
        if (!chosen && won && f.count != 0)
            chosen = &f;
    }
    if (chosen && chosen->count > 0)
        --chosen->count;
    return chosen;
}
