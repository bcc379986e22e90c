#include "entry.h"

QString deviceNameFromArguments(const QStringList &arguments)
{
    return arguments.size() < 2 ? QString() : arguments.at(1);
}
