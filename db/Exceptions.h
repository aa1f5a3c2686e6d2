#pragma once

// The root of every error the tool raises, and the run-time errors that are
// not the database layer's own. Each class names itself (ClassName) so that
// the last-chance box can say which error ended the program.

#include <QString>

#include <exception>
#include <string>
#include <utility>

class Exception : public std::exception {
public:
    explicit Exception(const QString &Msg);
    ~Exception() override = default;

    const QString &Message() const { return FMessage; }
    void SetMessage(const QString &Value);
    virtual const char *ClassName() const { return "Exception"; }
    const char *what() const noexcept override { return FWhat.c_str(); }
    // The code address where the error was made (for the last-chance box).
    const void *Address() const { return FAddress; }

private:
    QString FMessage;
    std::string FWhat;
    const void *FAddress;
};

// The message of an error as the tool shows it: Message() of the tool's own
// exceptions, what() of any other.
QString MensagemDoErro(const std::exception &E);

#define ABD_EXCEPTION_CLASS(Name, Base)                                                                \
    class Name : public Base {                                                                         \
    public:                                                                                            \
        using Base::Base;                                                                              \
        const char *ClassName() const override { return #Name; }                                      \
    };

// Runs Step and lets nothing it throws out: the best effort of a destructor
// or of a forced close, which must go on whatever one step says.
template <typename F>
void IgnoringErrors(F &&Step) noexcept
{
    try {
        std::forward<F>(Step)();
    } catch (...) {
    }
}

ABD_EXCEPTION_CLASS(EDatabaseError, Exception)
// A stored setting that could not be applied while a component was created.
ABD_EXCEPTION_CLASS(EReadError, Exception)
// Text that is not a valid integer (or another conversion that fails).
ABD_EXCEPTION_CLASS(EConvertError, Exception)
// The operating system refused a request.
ABD_EXCEPTION_CLASS(EOSError, Exception)
