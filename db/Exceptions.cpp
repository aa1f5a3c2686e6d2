#include "Exceptions.h"

Exception::Exception(const QString &Msg)
    : FMessage(Msg), FWhat(Msg.toStdString()), FAddress(__builtin_return_address(0))
{
}

QString MensagemDoErro(const std::exception &E)
{
    if (const auto *e = dynamic_cast<const Exception *>(&E))
        return e->Message();
    return QString::fromLocal8Bit(E.what());
}

void Exception::SetMessage(const QString &Value)
{
    FMessage = Value;
    FWhat = Value.toStdString();
}
