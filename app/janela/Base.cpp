#include "Base.h"

#include "Mensagens.h"

#include <QAbstractEventDispatcher>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>

// ---------------------------------------------------------------------------
// Error box

void MostrarErro(const QString &Mensagem)
{
    QMessageBox box(QMessageBox::Critical, QCoreApplication::applicationName(), TextoDoErro(Mensagem),
                    QMessageBox::Ok);
    box.setObjectName(QStringLiteral("ErrorBox"));
    box.exec();
}

void MostrarExcecao(const std::exception &E)
{
    MostrarErro(TextoAmigavel(E));
}

void ExecutarTratando(const std::function<void()> &Handler)
{
    try {
        Handler();
    } catch (const std::exception &E) {
        MostrarExcecao(E);
    } catch (...) {
        MostrarErro(QStringLiteral("Erro desconhecido"));
    }
}

TAmpulheta::TAmpulheta()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

TAmpulheta::~TAmpulheta()
{
    QApplication::restoreOverrideCursor();
}

// ---------------------------------------------------------------------------
// TAction

TAction::TAction(QObject *AOwner) : QAction(AOwner) {}

bool TAction::Execute()
{
    if (!FOnExecute)
        return false;
    FOnExecute(this);
    return true;
}

bool TAction::Update()
{
    if (!FOnUpdate)
        return false;
    FOnUpdate(this);
    return true;
}

// ---------------------------------------------------------------------------
// TButton

TButton::TButton(QWidget *AOwner) : QPushButton(AOwner)
{
    // In a QDialog a push button is auto-default: with the focus it makes
    // itself the default button and takes Enter whatever modifier is held.
    // Here the form alone decides which button takes Enter (PreviewKey).
    setAutoDefault(false);
    connect(this, &QPushButton::clicked, this, [this] { Click(); });
}

void TButton::SetAction(TAction *Value)
{
    if (FAction)
        disconnect(FAction, nullptr, this, nullptr);
    FAction = Value;
    if (FAction) {
        connect(FAction, &QAction::changed, this, &TButton::ActionChanged);
        connect(FAction, &QObject::destroyed, this, [this] { FAction = nullptr; });
        ActionChanged();
    }
}

void TButton::ActionChanged()
{
    setText(FAction->text());
    setEnabled(FAction->isEnabled());
    setVisible(FAction->isVisible());
}

void TButton::SetDefault(bool Value)
{
    FDefault = Value;
    setDefault(Value);
}

void TButton::Click()
{
    if (!isEnabled())
        return;
    QPointer<TButton> self(this);
    if (FAction)
        ExecutarTratando([this] { FAction->Execute(); });
    if (!self)
        return;
    if (FModalResult != mrNone) {
        if (auto *form = qobject_cast<TfBase *>(window()))
            form->SetModalResult(FModalResult);
    }
}

// ---------------------------------------------------------------------------
// Application-wide hooks: key preview and idle-time action updates.

class TKeyDispatcher : public QObject {
public:
    bool eventFilter(QObject *Watched, QEvent *Event) override
    {
        if (Event->type() != QEvent::KeyPress || !Watched->isWidgetType())
            return false;
        auto *target = static_cast<QWidget *>(Watched);
        auto *form = qobject_cast<TfBase *>(target->window());
        if (!form)
            return false;
        // A key travels from the focused control up to its parents; the form
        // looks at it once, when it first arrives.
        QWidget *focus = form->focusWidget();
        if (focus ? target != focus : target != form)
            return false;
        return form->PreviewKey(target, static_cast<QKeyEvent *>(Event));
    }
};

namespace {

void InstallHooks()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    auto *dispatcher = new TKeyDispatcher;
    dispatcher->setParent(qApp);
    qApp->installEventFilter(dispatcher);
    if (auto *events = QAbstractEventDispatcher::instance(qApp->thread()))
        QObject::connect(events, &QAbstractEventDispatcher::aboutToBlock, qApp, [] { TfBase::Idle(); });
}

} // namespace

void TfBase::Idle()
{
    static bool running = false;
    if (running)
        return;
    running = true;
    const QWidget *modal = QApplication::activeModalWidget();
    for (QWidget *w : QApplication::topLevelWidgets()) {
        auto *form = qobject_cast<TfBase *>(w);
        // A window behind a modal one takes no input: it counts as disabled.
        if (!form || !form->isVisible() || !form->isEnabled() || (modal && modal != form))
            continue;
        ExecutarTratando([form] { form->UpdateActions(); });
    }
    running = false;
}

// ---------------------------------------------------------------------------
// TfBase

TfBase::TfBase(QWidget *AOwner) : QDialog(AOwner, Qt::Window)
{
    InstallHooks();
    setObjectName(QStringLiteral("fBase"));
    setWindowTitle(QStringLiteral("fBase"));
    setAttribute(Qt::WA_AlwaysShowToolTips);
    QFont font(QStringLiteral("MS Sans Serif"), 8);
    font.setStyleHint(QFont::SansSerif);
    setFont(font);
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
    alBase = new QObject(this);
    alBase->setObjectName(QStringLiteral("alBase"));
    pmBase = new QMenu(this);
    pmBase->setObjectName(QStringLiteral("pmBase"));
    SetClientSize(688, 446);
}

TfBase::~TfBase() = default;

void TfBase::SetClientSize(int Width, int Height)
{
    if (FFixedSize)
        setFixedSize(Width, Height);
    else
        resize(Width, Height);
}

bool TfBase::IsEditBox(const QWidget *Control)
{
    if (!qobject_cast<const QLineEdit *>(Control))
        return false;
    // The line edits inside spin and combo boxes are parts of other controls.
    const QObject *parent = Control->parent();
    return !qobject_cast<const QAbstractSpinBox *>(parent) && !qobject_cast<const QComboBox *>(parent);
}

QWidget *TfBase::NextControl(QWidget *From, bool Forward) const
{
    QWidget *w = From;
    for (;;) {
        w = Forward ? w->nextInFocusChain() : w->previousInFocusChain();
        if (!w || w == From)
            return nullptr;
        if (w != this && w->window() == this && w->isVisibleTo(this) && w->isEnabledTo(this) &&
            (w->focusPolicy() & Qt::TabFocus))
            return w;
    }
}

void TfBase::FormKeyDown(QObject * /*Sender*/, int &Key, Qt::KeyboardModifiers /*Shift*/)
{
    QWidget *focus = focusWidget();
    if (!focus || !IsEditBox(focus))
        return;
    QWidget *next = nullptr;
    if (Key == Qt::Key_Return || Key == Qt::Key_Enter || Key == Qt::Key_Down)
        next = NextControl(focus, true);
    else if (Key == Qt::Key_Up)
        next = NextControl(focus, false);
    if (next)
        next->setFocus(Qt::TabFocusReason);
}

// Enter and Esc are handled here, not by QDialog::keyPressEvent: that one
// sees a key only after the focused control has declined it, takes Enter and
// Esc only with no modifier at all (here Alt does not count), answers Esc
// with reject() instead of pressing the cancel button, and cannot keep a
// focused default button from taking Shift+Enter or Ctrl+Enter.
bool TfBase::PreviewKey(QWidget *Target, QKeyEvent *Event)
{
    const int key = Event->key();
    // Shift and Ctrl keep Enter and Esc from the buttons; Alt does not.
    const bool plain = !(Event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier));
    const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
    if (plain && (enter || key == Qt::Key_Escape)) {
        const auto takes = [](TButton *b) { return b->isVisibleTo(b->window()) && b->isEnabled(); };
        if (enter) {
            if (auto *focused = qobject_cast<QPushButton *>(Target)) {
                if (auto *b = qobject_cast<TButton *>(focused))
                    b->Click();
                else
                    focused->click();
                return true;
            }
        }
        for (TButton *b : findChildren<TButton *>()) {
            if ((enter ? b->Default() : b->Cancel()) && takes(b)) {
                b->Click();
                return true;
            }
        }
    }
    if (FKeyPreview && FOnKeyDown) {
        int k = key;
        FOnKeyDown(this, k, Event->modifiers());
    }
    // A focused push button would take any Enter as a press of its own.
    if (enter && !plain && qobject_cast<QPushButton *>(Target))
        return true;
    return false;
}

void TfBase::UpdateActions()
{
    for (QObject *o : alBase->children()) {
        if (auto *a = qobject_cast<TAction *>(o))
            a->Update();
    }
}

int TfBase::ShowModal()
{
    if (FInModal)
        return mrNone;
    FInModal = true;
    FLoopRuns = false;
    QPointer<TfBase> self(this);
    // Runs once QDialog's loop runs. A result set before that, while the
    // window was being shown, ends the loop now: done() before the loop
    // would hide the window and leave the loop waiting on it for ever.
    QMetaObject::invokeMethod(
        this,
        [this] {
            FLoopRuns = true;
            if (result() != mrNone)
                done(result());
        },
        Qt::QueuedConnection);
    // QDialog's modal loop. An end without a result of ours is a cancel: the
    // close box (QDialog rejects it with 0), a hide, the window's destruction.
    exec();
    if (!self)
        return mrCancel;
    FInModal = false;
    FLoopRuns = false;
    if (result() == mrNone)
        setResult(mrCancel);
    return result();
}

// Inside ShowModal's running loop a result ends it.
void TfBase::SetModalResult(int Value)
{
    if (FInModal && FLoopRuns && Value != mrNone)
        done(Value);
    else
        setResult(Value);
}

void TfBase::showEvent(QShowEvent *Event)
{
    QDialog::showEvent(Event);
    // Centred on the screen, once, whatever QDialog placed: QDialog centres
    // a window that has a parent over that parent, and on some platforms
    // leaves the place to the window system.
    if (!FCentred) {
        FCentred = true;
        if (QScreen *s = screen()) {
            const QRect area = s->availableGeometry();
            const QRect frame = frameGeometry();
            move(area.center() - QPoint(frame.width() / 2, frame.height() / 2));
        }
    }
    if (FActiveControl)
        FActiveControl->setFocus(Qt::ActiveWindowFocusReason);
}

void TfBase::keyPressEvent(QKeyEvent *Event)
{
    // Not QDialog's: PreviewKey has offered Enter and Esc to the buttons
    // already, and QDialog would close the main window on Esc.
    QWidget::keyPressEvent(Event);
}

void TfBase::contextMenuEvent(QContextMenuEvent *Event)
{
    if (!pmBase->actions().isEmpty())
        pmBase->exec(Event->globalPos());
    else
        QDialog::contextMenuEvent(Event);
}
