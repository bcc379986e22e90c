#pragma once
// The name of the next point when no server proposes one.

#include <QString>

// The trailing number (ASCII digits) plus one, keeping its width and any
// number of digits exact: "OFF1" -> "OFF2", "P09" -> "P10", "A99" -> "A100";
// a name without a trailing number gets "1": "K" -> "K1", "" -> "1".
QString nextPointName(const QString &name);
