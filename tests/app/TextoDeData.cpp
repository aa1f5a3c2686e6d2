// Prints, as the tool writes them into its panes, a fixed moment and a
// duration's separator, with whatever locale the environment gives: the
// locale tests start it under different LANG and LC_ALL values.
#include "SysUtils.h"

#include <cstdio>

int main()
{
    const QDateTime momento(QDate(2026, 12, 9), QTime(14, 5, 3));
    std::printf("%s|%s\n", DateTimeToStr(momento).toUtf8().constData(),
                QString(FormatSettings().TimeSeparator).toUtf8().constData());
    return 0;
}
