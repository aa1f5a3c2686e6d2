#pragma once

// The base form of every window of the tool, with the small pieces it needs
// from a desktop toolkit that Qt does not give as such: actions with execute
// and idle-time update handlers, buttons bound to actions and carrying a
// modal result, key preview and the handling of Enter and Esc by default and
// cancel buttons. Modal display and its result are QDialog's own.

#include "Mensagens.h"

#include <QAction>
#include <QDialog>
#include <QPushButton>

#include <functional>

class QMenu;
class QEvent;
class QKeyEvent;

// Modal results of a window shown with ShowModal. They are QDialog result
// codes, but Cancel is 2, not QDialog::Rejected (0).
enum : int { mrNone = 0, mrOk = 1, mrCancel = 2 };

// An action with an execute handler (run by Execute, in the caller, its
// errors reaching the caller) and an update handler run whenever the
// application becomes idle.
class TAction : public QAction {
    Q_OBJECT
public:
    using TNotifyEvent = std::function<void(QObject *Sender)>;

    explicit TAction(QObject *AOwner);

    void SetOnExecute(TNotifyEvent Value) { FOnExecute = std::move(Value); }
    void SetOnUpdate(TNotifyEvent Value) { FOnUpdate = std::move(Value); }
    const TNotifyEvent &OnExecute() const { return FOnExecute; }
    const TNotifyEvent &OnUpdate() const { return FOnUpdate; }

    // Runs the execute handler; false when there is none.
    bool Execute();
    // Runs the update handler; false when there is none.
    bool Update();

private:
    TNotifyEvent FOnExecute;
    TNotifyEvent FOnUpdate;
};

// A push button that can follow an action (caption, enabled, visible) and
// carries a modal result that it gives its window when pressed.
class TButton : public QPushButton {
    Q_OBJECT
public:
    explicit TButton(QWidget *AOwner);

    void SetAction(TAction *Value);
    TAction *Action() const { return FAction; }
    int ModalResult() const { return FModalResult; }
    void SetModalResult(int Value) { FModalResult = Value; }
    // The default button takes Enter, the cancel button Esc, in its window.
    bool Default() const { return FDefault; }
    void SetDefault(bool Value);
    bool Cancel() const { return FCancel; }
    void SetCancel(bool Value) { FCancel = Value; }

    // What a mouse click or a key does: run the action, hand the modal result
    // to the window. Errors of the action go to the application's error box.
    void Click();

private:
    void ActionChanged();

    TAction *FAction = nullptr;
    int FModalResult = mrNone;
    bool FDefault = false;
    bool FCancel = false;
};

// A QDialog, so that ShowModal is QDialog's modal loop, but the main window
// is one too: made with the plain window type, it has an ordinary sizeable
// frame, is modal only inside ShowModal and ends the application when closed.
class TfBase : public QDialog {
    Q_OBJECT
public:
    using TKeyEvent = std::function<void(QObject *Sender, int &Key, Qt::KeyboardModifiers Shift)>;

    explicit TfBase(QWidget *AOwner = nullptr);
    ~TfBase() override;

    QObject *alBase;  // the action list: its children are the window's actions
    QMenu *pmBase;    // the window's context menu

    // Key navigation: Enter and Down move the focus to the next control, Up
    // to the previous one, when an edit box has the focus. Never consumes
    // the key.
    void FormKeyDown(QObject *Sender, int &Key, Qt::KeyboardModifiers Shift);

    bool KeyPreview() const { return FKeyPreview; }
    void SetKeyPreview(bool Value) { FKeyPreview = Value; }
    void SetOnKeyDown(TKeyEvent Value) { FOnKeyDown = std::move(Value); }

    // The control that gets the focus when the window is shown.
    void SetActiveControl(QWidget *Value) { FActiveControl = Value; }

    // Shows the window modally (every other window disabled meanwhile) until
    // a modal result is set; returns it. Closing the window gives mrCancel,
    // and so does a window hidden or destroyed without a result.
    int ShowModal();
    int ModalResult() const { return result(); }
    // Inside ShowModal, a result other than mrNone ends it.
    void SetModalResult(int Value);

    // Runs the update handler of every action in alBase.
    void UpdateActions();

    // Sets the client area's size, the way the Parts give it.
    void SetClientSize(int Width, int Height);

    // Whether the widget is one of the single-line edit boxes that the key
    // navigation acts on.
    static bool IsEditBox(const QWidget *Control);

    // Runs the update handlers of every visible and enabled window now; the
    // application does this by itself whenever it becomes idle.
    static void Idle();

protected:
    // A dialog frame: the size set by SetClientSize cannot be changed.
    bool FFixedSize = false;

    void showEvent(QShowEvent *Event) override;
    void keyPressEvent(QKeyEvent *Event) override;
    void contextMenuEvent(QContextMenuEvent *Event) override;

private:
    friend class TKeyDispatcher;
    // Keys of this window's controls, before the focused control sees them.
    // True when the key was taken by a button.
    bool PreviewKey(QWidget *Target, QKeyEvent *Event);
    QWidget *NextControl(QWidget *From, bool Forward) const;

    bool FKeyPreview = false;
    TKeyEvent FOnKeyDown;
    QWidget *FActiveControl = nullptr;
    bool FInModal = false;
    bool FLoopRuns = false;
    bool FCentred = false;
};

// The hourglass while it lives; the cursor as it was afterwards.
class TAmpulheta {
public:
    TAmpulheta();
    ~TAmpulheta();
    TAmpulheta(const TAmpulheta &) = delete;
    TAmpulheta &operator=(const TAmpulheta &) = delete;
};

// The application's error box: TextoDoErro's text (Mensagens.h), caption the
// application title, stop icon, one OK.
void MostrarErro(const QString &Mensagem);
// Shows what an exception says in the application's error box, with a plain
// sentence first for the failures Mensagens.h knows.
void MostrarExcecao(const std::exception &E);
// Runs a handler at an event-loop boundary: what it throws goes to the
// application's error box and no further.
void ExecutarTratando(const std::function<void()> &Handler);
