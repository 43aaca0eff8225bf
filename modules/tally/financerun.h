#pragma once
// How a finance run ends, in words: the closing message of 单带, 批带, 刷新 and 算费 built
// by pure functions from what happened, so every run says the same things the same way and
// no technical text (an English library message, "silent abort") reaches the clerk.

#include <QString>

#include <exception>

namespace tally {

// Why a line failed, as the clerk reads it, and the cause for the log.
struct LineFailure
{
    QString message; // names the waybill and what failed: "运单[…]的中转费计算失败"
    QString advice;  // what to do next
    QString details; // the technical cause; empty when none
};

// Reads the error that stopped a line: a RunError as it stands; an error whose message
// was shown already (a silent abort), a Chinese user error or anything else named by
// the waybill, with the technical text kept in details only.
LineFailure lineFailureOf(std::exception_ptr error, const QString &bill);

// How a run ended.
struct RunReport
{
    enum class End { Done, Stopped, Failed };
    End end = End::Done;
    bool single = false; // 单带: the current line only
    int done = 0;        // lines done before the end
    int total = 0;       // lines the run was to do
    LineFailure failure; // End::Failed
};

// The closing message; `doneHint` is the window's own ("操作完成!").
QString runEndText(const RunReport &report, const QString &doneHint);

} // namespace tally
