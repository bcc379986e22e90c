#pragma once
// Fault injection: rules that make the instrument misbehave on chosen
// requests, every time, a limited number of times or at random with a given
// probability. The random choices come from a seeded generator, one stream
// per rule, so the same seed and the same requests give the same faults.

#include <QString>
#include <QVector>
#include <QtGlobal>

struct Fault {
    int rpc = -1;             // -1: any request
    QString kind;             // silent garbage split short close reset error delay
    int value = 0;            // error code, delay or time before closing (ms)
    bool hasValue = false;
    int count = -1;           // remaining uses, -1 unlimited
    double probability = 1;   // chance of applying to a matching request
    quint64 stream = 0;       // the rule's own random stream

    // The rule's effect as written: "silent", "error=1292", "delay=4000".
    QString effect() const;
};

class FaultPlan
{
public:
    // Every rule's random stream starts from this seed; set before adding.
    void setSeed(quint64 seed) { m_seed = seed; }

    // Parses "<rpc|any>:<kind>[=<value>][:<count>][:<percent>%]" and adds it
    // after the rules already there. False with a reason on a bad rule.
    bool add(const QString &text, QString *error);

    // The fault for a request of this procedure, or nullptr. Rules are tried
    // in order; the first one that matches the procedure, has uses left and
    // (with a probability) wins its draw applies, and one of its uses is
    // spent. Every rule with a probability that matches the procedure draws
    // once, whether or not a rule before it applied, so each rule's choices
    // depend only on the seed and on how many requests it matched.
    const Fault *pick(int rpc);

    bool isEmpty() const { return m_rules.isEmpty(); }

private:
    QVector<Fault> m_rules;
    quint64 m_seed = 1;
};
