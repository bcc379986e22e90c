#pragma once
// What the program takes from its command line.

#include <QString>
#include <QStringList>

// The instrument's device name: the first argument after the program path,
// exactly as passed (blanks included); empty when there is none. Further
// arguments are ignored.
QString deviceNameFromArguments(const QStringList &arguments);
