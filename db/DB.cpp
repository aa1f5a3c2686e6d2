#include "DB.h"

void TCustomConnection::SetConnected(bool Value)
{
    if (Value == GetConnected())
        return;
    if (Value) {
        if (FBeforeConnect)
            FBeforeConnect(this);
        DoConnect();
        SendConnectEvent(true);
        if (FAfterConnect)
            FAfterConnect(this);
    } else {
        RunDisconnect([this] { DoDisconnect(); });
    }
}

void TCustomConnection::RunDisconnect(const std::function<void()> &Detach)
{
    if (FBeforeDisconnect)
        FBeforeDisconnect(this);
    SendConnectEvent(false);
    Detach();
    if (FAfterDisconnect)
        FAfterDisconnect(this);
}

void TCustomConnection::RegisterClient(TDataSet *Client)
{
    if (!FDataSets.contains(Client))
        FDataSets.append(Client);
}

void TCustomConnection::UnRegisterClient(TDataSet *Client)
{
    FDataSets.removeAll(Client);
}

void TCustomConnection::SendConnectEvent(bool Connecting)
{
    const QList<TDataSet *> sets = FDataSets;
    for (TDataSet *d : sets)
        d->ConnectionEvent(Connecting);
}
