#pragma once
// The one place where errors reach the user: host::UserError and any other
// std::exception are shown in an error dialog (caption "错误") through the dialog
// presenter; host::SilentAbort is swallowed (its message was shown already).

#include <exception>
#include <utility>

namespace host {

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
