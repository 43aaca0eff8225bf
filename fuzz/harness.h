#pragma once

// What every harness shares: the libFuzzer entry points and a Qt application object made
// once before the first input.
#include <QByteArray>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);

namespace fuzz {

inline QByteArray bytes(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
}

// A broken promise of the code under test (not a refusal of bad input): stop loudly so
// that the fuzzer keeps the input.
[[noreturn]] inline void fault()
{
    std::abort();
}

template<typename App>
void makeApplication()
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char *argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static App app(argc, argv);
}

} // namespace fuzz
