#pragma once
// The one place where errors reach the user: host::UserError and any other
// std::exception are shown in an error dialog (caption "错误") through the dialog
// presenter; host::SilentAbort is swallowed (its message was shown already).

#include <QString>
#include <exception>
#include <utility>

namespace host {

// What the user is told about an error, and its technical side (for the log and the
// dialog's folded 详细信息 part). Texts of this system's errors are shown as they are; a
// technical text (English, from a library or the server) is replaced by a Chinese one.
struct ErrorText
{
    QString text;
    QString details;
};
ErrorText describeException(std::exception_ptr e) noexcept;

// Shows the exception `e` as described above. Never throws.
void showException(std::exception_ptr e) noexcept;

// Runs f; an exception escaping it is shown instead of propagating into Qt.
template<class F> void guarded(F &&f) noexcept
{
    try {
        std::forward<F>(f)();
    } catch (...) {
        showException(std::current_exception());
    }
}

} // namespace host
