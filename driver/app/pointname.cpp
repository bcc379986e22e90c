#include "pointname.h"

namespace {
bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}
} // namespace

QString nextPointName(const QString &name)
{
    int start = name.size();
    while (start > 0 && isAsciiDigit(name.at(start - 1)))
        --start;
    if (start == name.size())
        return name + QLatin1Char('1');
    // Counting on the digits themselves: no number is too long.
    QString digits = name.mid(start);
    int i = digits.size() - 1;
    while (i >= 0 && digits.at(i) == QLatin1Char('9'))
        digits[i--] = QLatin1Char('0');
    if (i < 0)
        digits.prepend(QLatin1Char('1'));
    else
        digits[i] = QChar(digits.at(i).unicode() + 1);
    return name.left(start) + digits;
}
