#pragma once

// The data-access framework's base classes: a connection with its connect
// and disconnect events and the list of data sets that use it, and the
// data set base.

#include <QList>
#include <QObject>

#include <functional>

class TCustomConnection;

class TDataSet : public QObject {
    Q_OBJECT
public:
    explicit TDataSet(QObject *AOwner = nullptr) : QObject(AOwner) {}
    virtual bool Active() const { return false; }
    virtual void Close() {}
    // The connection tells its data sets when it connects or disconnects.
    virtual void ConnectionEvent(bool /*Connecting*/) {}
};

class TCustomConnection : public QObject {
    Q_OBJECT
public:
    using TNotifyEvent = std::function<void(QObject *Sender)>;

    explicit TCustomConnection(QObject *AOwner = nullptr) : QObject(AOwner) {}

    void Open() { SetConnected(true); }
    void Close() { SetConnected(false); }
    bool Connected() const { return GetConnected(); }
    void SetConnected(bool Value);

    void SetBeforeConnect(TNotifyEvent Value) { FBeforeConnect = std::move(Value); }
    void SetAfterConnect(TNotifyEvent Value) { FAfterConnect = std::move(Value); }
    void SetBeforeDisconnect(TNotifyEvent Value) { FBeforeDisconnect = std::move(Value); }
    void SetAfterDisconnect(TNotifyEvent Value) { FAfterDisconnect = std::move(Value); }

    int DataSetCount() const { return int(FDataSets.size()); }
    TDataSet *DataSets(int Index) const { return FDataSets[Index]; }
    void RegisterClient(TDataSet *Client);
    void UnRegisterClient(TDataSet *Client);

protected:
    virtual bool GetConnected() const = 0;
    virtual void DoConnect() = 0;
    virtual void DoDisconnect() = 0;
    // A disconnection with its events around Detach: the before event and
    // the data sets told, then Detach, then the after event (not when Detach
    // throws). Closing runs DoDisconnect through it; a connection's own ways
    // of going (forced, dropped) run theirs.
    void RunDisconnect(const std::function<void()> &Detach);

private:
    // Tells every data set of the change.
    void SendConnectEvent(bool Connecting);

    TNotifyEvent FBeforeConnect;
    TNotifyEvent FAfterConnect;
    TNotifyEvent FBeforeDisconnect;
    TNotifyEvent FAfterDisconnect;
    QList<TDataSet *> FDataSets;
};
