#include "Classes.h"

TStringList &TStringList::operator=(const TStringList &Other)
{
    if (this != &Other)
        Assign(Other.FLines);
    return *this;
}

TStringList &TStringList::operator=(const QStringList &Lines)
{
    Assign(Lines);
    return *this;
}

void TStringList::Changing() const
{
    if (FOnChanging)
        FOnChanging();
}

void TStringList::Changed() const
{
    if (FOnChange)
        FOnChange();
}

void TStringList::Assign(const QStringList &Lines)
{
    Changing();
    FLines = Lines;
    Changed();
}

int TStringList::Add(const QString &Line)
{
    Changing();
    FLines.append(Line);
    Changed();
    return Count() - 1;
}

void TStringList::Put(int Index, const QString &Line)
{
    Changing();
    FLines[Index] = Line;
    Changed();
}

void TStringList::Insert(int Index, const QString &Line)
{
    Changing();
    FLines.insert(Index, Line);
    Changed();
}

void TStringList::Delete(int Index)
{
    Changing();
    FLines.removeAt(Index);
    Changed();
}

void TStringList::Clear()
{
    if (FLines.isEmpty())
        return;
    Changing();
    FLines.clear();
    Changed();
}

QString TStringList::Text() const
{
    QString text;
    for (const QString &line : FLines) {
        text += line;
        text += QLatin1Char('\n');
    }
    return text;
}

void TStringList::SetText(const QString &Value)
{
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = Value.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = Value[i];
        if (c == u'\r' || c == u'\n') {
            lines << Value.mid(start, i - start);
            if (c == u'\r' && i + 1 < n && Value[i + 1] == u'\n')
                ++i;
            start = i + 1;
        }
    }
    if (start < n)
        lines << Value.mid(start);
    Assign(lines);
}

QString TStringList::Names(int Index) const
{
    const QString &line = FLines[Index];
    const qsizetype p = line.indexOf(QLatin1Char('='));
    return p < 0 ? QString() : line.left(p);
}

QString TStringList::ValueFromIndex(int Index) const
{
    const QString &line = FLines[Index];
    const qsizetype p = line.indexOf(QLatin1Char('='));
    return p < 0 ? QString() : line.mid(p + 1);
}

int TStringList::IndexOfName(const QString &Name) const
{
    for (int i = 0; i < Count(); ++i) {
        const QString &line = FLines[i];
        const qsizetype p = line.indexOf(QLatin1Char('='));
        if (p >= 0 && QStringView(line).left(p).compare(Name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QString TStringList::Values(const QString &Name) const
{
    const int i = IndexOfName(Name);
    return i < 0 ? QString() : ValueFromIndex(i);
}

void TStringList::SetValues(const QString &Name, const QString &Value)
{
    const int i = IndexOfName(Name);
    if (!Value.isEmpty()) {
        if (i < 0)
            Add(Name + QLatin1Char('=') + Value);
        else
            Put(i, Name + QLatin1Char('=') + Value);
    } else if (i >= 0) {
        Delete(i);
    }
}
