#pragma once
// Helpers of the tour tests.

namespace tour::test {

// The program logs on once per process (modules bind to the connection of the first
// log-on); a test that logs on asks first. ctest runs every test in a process of its own.
inline bool firstLogOnOfProcess()
{
    static bool first = true;
    const bool was = first;
    first = false;
    return was;
}

} // namespace tour::test
