#pragma once

// A list of text lines with name=value access and change notifications: the
// form in which connection, transaction and service parameters are held.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

class TStringList {
public:
    using TNotifyEvent = std::function<void()>;

    TStringList() = default;
    TStringList(const QStringList &Lines) : FLines(Lines) {}
    TStringList(const TStringList &Other) : FLines(Other.FLines) {}
    // Assignment copies the lines (and notifies); the handlers stay.
    TStringList &operator=(const TStringList &Other);
    TStringList &operator=(const QStringList &Lines);

    int Count() const { return int(FLines.size()); }
    const QString &operator[](int Index) const { return FLines[Index]; }
    const QString &Strings(int Index) const { return FLines[Index]; }
    const QStringList &Lines() const { return FLines; }

    void Assign(const QStringList &Lines);
    int Add(const QString &Line);
    void Put(int Index, const QString &Line);
    void Insert(int Index, const QString &Line);
    void Delete(int Index);
    void Clear();

    // The lines joined by line feeds; setting it splits at line breaks.
    QString Text() const;
    void SetText(const QString &Value);

    // Name of a line: the text before its first "="; empty without one.
    QString Names(int Index) const;
    // Value of a line: the text after its first "=".
    QString ValueFromIndex(int Index) const;
    // Index of the first line whose name matches Name ignoring case, or -1.
    int IndexOfName(const QString &Name) const;
    int IndexOf(const QString &Line) const { return int(FLines.indexOf(Line)); }
    QString Values(const QString &Name) const;
    // Replaces the named line in place (as Name=Value, with the caller's
    // Name), appends it when missing, or deletes it when Value is empty.
    void SetValues(const QString &Name, const QString &Value);

    // Called before every change (may throw to refuse it) and after it.
    void SetOnChanging(TNotifyEvent Value) { FOnChanging = std::move(Value); }
    void SetOnChange(TNotifyEvent Value) { FOnChange = std::move(Value); }

    bool operator==(const TStringList &Other) const { return FLines == Other.FLines; }

private:
    void Changing() const;
    void Changed() const;

    QStringList FLines;
    TNotifyEvent FOnChanging;
    TNotifyEvent FOnChange;
};
