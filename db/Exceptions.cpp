#include "Exceptions.h"

Exception::Exception(const QString &Msg)
    : FMessage(Msg), FWhat(Msg.toStdString()), FAddress(__builtin_return_address(0))
{
}

void Exception::SetMessage(const QString &Value)
{
    FMessage = Value;
    FWhat = Value.toStdString();
}
